// The plot window.
#include "plot2d.h"

#include <cmath>

#include <QAbstractButton>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QBuffer>
#include <QSvgGenerator>
#include <QThread>
#include <strings.h>

#include "image_encoders.h"
#include "image_saving.h"
#include "mem_dc.h"
#include "message_box.h"
#include "platform/file_write.h"
#include "pluginfw/tvk_utils.h"

namespace {

QColor toQColor(PlotColor c)
{
    return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF));
}

// The 16 x 16 images of the tool bar: arrows and magnifiers over double arrows.
QIcon makeIcon(int id)
{
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, 1.2));
    p.setBrush(Qt::black);
    auto arrow = [&p](QPointF tip, QPointF dir) {
        const QPointF side(-dir.y(), dir.x());
        const QPointF base = tip - dir * 5;
        p.drawLine(tip - dir * 11, base);
        p.drawPolygon(QPolygonF({tip, base + side * 3.5, base - side * 3.5}));
    };
    auto magnifier = [&p](const QString& mark) {
        p.setBrush(Qt::white);
        p.drawEllipse(QRectF(1, 1, 9, 9));
        p.setPen(QPen(Qt::black, 2));
        p.drawLine(QPointF(9, 9), QPointF(12, 12));
        p.setPen(QPen(Qt::black, 1.2));
        if (mark == "+" || mark == "-") {
            p.drawLine(QPointF(3.5, 5.5), QPointF(7.5, 5.5));
            if (mark == "+")
                p.drawLine(QPointF(5.5, 3.5), QPointF(5.5, 7.5));
        } else {
            QFont f;
            f.setPixelSize(8);
            f.setBold(true);
            p.setFont(f);
            p.drawText(QRectF(1, 1, 9, 9), Qt::AlignCenter, mark);
        }
        p.setBrush(Qt::black);
    };
    auto doubleArrow = [&p](bool horizontal) {
        p.setPen(QPen(Qt::black, 1));
        if (horizontal) {
            p.drawLine(QPointF(4, 14), QPointF(15, 14));
            p.drawPolygon(QPolygonF({QPointF(3, 14), QPointF(6, 12), QPointF(6, 16)}));
            p.drawPolygon(QPolygonF({QPointF(16, 14), QPointF(13, 12), QPointF(13, 16)}));
        } else {
            p.drawLine(QPointF(14, 1), QPointF(14, 12));
            p.drawPolygon(QPolygonF({QPointF(14, 0), QPointF(12, 3), QPointF(16, 3)}));
            p.drawPolygon(QPolygonF({QPointF(14, 13), QPointF(12, 10), QPointF(16, 10)}));
        }
    };
    switch (id) {
    case Plot2D::PanLeft: arrow({2, 8}, {-1, 0}); break;
    case Plot2D::PanRight: arrow({14, 8}, {1, 0}); break;
    case Plot2D::PanDown: arrow({8, 14}, {0, 1}); break;
    case Plot2D::PanUp: arrow({8, 2}, {0, -1}); break;
    case Plot2D::ZoomInX: magnifier("+"); doubleArrow(true); break;
    case Plot2D::ZoomOutX: magnifier("-"); doubleArrow(true); break;
    case Plot2D::AutoScaleX: magnifier("A"); doubleArrow(true); break;
    case Plot2D::ZoomInY: magnifier("+"); doubleArrow(false); break;
    case Plot2D::ZoomOutY: magnifier("-"); doubleArrow(false); break;
    case Plot2D::AutoScaleY: magnifier("A"); doubleArrow(false); break;
    default: break;
    }
    return QIcon(pm);
}

// Keeps a temporary change of yMax for one drawing.
struct RestoreValue {
    double& ref;
    double saved;
    ~RestoreValue() { ref = saved; }
};

} // namespace

Plot2D::Plot2D(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    createToolbar();
}

Plot2D::~Plot2D() = default;

void Plot2D::createToolbar()
{
    for (int n = 0; n < 10; ++n) {
        const int id = PanLeft + n;
        auto* b = new QPushButton(this);
        b->setObjectName(QStringLiteral("plotButton%1").arg(id));
        b->setIcon(makeIcon(id));
        b->setIconSize(QSize(16, 16));
        b->setFocusPolicy(Qt::TabFocus);
        if (id == AutoScaleX || id == AutoScaleY) {
            b->setCheckable(true);
            b->setChecked(id == AutoScaleX ? autoScaleX : autoScaleY);
        } else {
            b->setFlat(true);
        }
        connect(b, &QAbstractButton::clicked, this, [this, id] { runCommand(id); });
        buttons_[static_cast<size_t>(n)] = b;
    }
    layoutToolbar();
}

QAbstractButton* Plot2D::toolButton(int id) const
{
    if (id < PanLeft || id > AutoScaleY)
        return nullptr;
    return buttons_[static_cast<size_t>(id - PanLeft)];
}

void Plot2D::layoutToolbar()
{
    int x = width() - buttonWidth;
    for (int n = 9; n >= 0; --n) {
        QAbstractButton* b = buttons_[static_cast<size_t>(n)];
        if (buttonMask & (1 << n)) {
            b->setGeometry(x, 0, buttonWidth, toolbarHeight);
            b->raise();
            b->show();
            x -= buttonWidth + 1;
        } else {
            b->hide();
        }
    }
}

void Plot2D::autoScaleChanged(bool xAxis, bool on)
{
    if (QAbstractButton* b = toolButton(xAxis ? AutoScaleX : AutoScaleY)) {
        const QSignalBlocker block(b);
        b->setChecked(on);
    }
}

void Plot2D::redraw()
{
    Q_ASSERT(QThread::currentThread() == thread());
    if (!autoRedraw)
        return;
    const QRect below(0, toolbarHeight, width(), std::max(0, height() - toolbarHeight));
    if (isVisible())
        repaint(below);
    else
        update(below);
}

void Plot2D::runCommand(int id)
{
    bool applied = true;
    int what = -1;
    switch (id) {
    case PanLeft: applied = panHorizontally(-1); what = XRangeChanged; break;
    case PanRight: applied = panHorizontally(1); what = XRangeChanged; break;
    case PanDown: applied = panVertically(-1); what = YRangeChanged; break;
    case PanUp: applied = panVertically(1); what = YRangeChanged; break;
    case ZoomInX: applied = zoomInX(); what = XRangeChanged; break;
    case ZoomOutX: applied = zoomOutX(); what = XRangeChanged; break;
    case ZoomInY: applied = zoomInY(); what = YRangeChanged; break;
    case ZoomOutY: applied = zoomOutY(); what = YRangeChanged; break;
    case AutoScaleX:
        setAutoScaleX(toolButton(AutoScaleX)->isChecked());
        what = XAutoScaleToggled;
        break;
    case AutoScaleY:
        setAutoScaleY(toolButton(AutoScaleY)->isChecked());
        what = YAutoScaleToggled;
        break;
    case StylePoints:
    case StyleHistograms:
    case StyleAutoHistograms:
    case StyleLines:
        defaultStyle = id - StylePoints;
        setSeriesStyle(defaultStyle);
        return;
    case ToggleGrid:
        showGrid = !showGrid;
        redraw();
        return;
    case SaveImage:
        onSaveImage();
        return;
    default:
        return;
    }
    if (applied)
        emit changedByUser(what);
}

QMenu* Plot2D::createContextMenu()
{
    if (!menuFlags)
        return nullptr;
    auto* menu = new QMenu(this);
    const struct {
        int bit;
        int id;
        const char* text;
    } items[] = {
        {MenuPoints, StylePoints, "Points"},
        {MenuHistograms, StyleHistograms, "Histograms"},
        {MenuAutoHistograms, StyleAutoHistograms, "Histograms (auto-width)"},
        {MenuLines, StyleLines, "Lines"},
        {MenuGrid, ToggleGrid, "Show Grid"},
        {MenuSave, SaveImage, "Save image"},
    };
    for (const auto& item : items) {
        if (!(menuFlags & item.bit))
            continue;
        if (item.id == SaveImage)
            menu->addSeparator();
        QAction* a = menu->addAction(QString::fromLatin1(item.text));
        a->setData(item.id);
        if (item.id == StylePoints + defaultStyle || (item.id == ToggleGrid && showGrid)) {
            a->setCheckable(true);
            a->setChecked(true);
        }
        const int id = item.id;
        connect(a, &QAction::triggered, this, [this, id] { runCommand(id); });
    }
    return menu;
}

void Plot2D::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::RightButton)
        return;
    QMenu* menu = createContextMenu();
    if (!menu)
        return;
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPosition().toPoint());
}

void Plot2D::onSaveImage()
{
    QString path;
    if (getSaveImagePath(this, path) != 0)
        return;
    if (saveImage(path.toLocal8Bit().constData(), 400, 300) != 0)
        messageBox(this, QStringLiteral("Saving of image file failed."), QString(), MSGBOX_OK | MSGBOX_ICONERROR);
}

void Plot2D::resizeEvent(QResizeEvent*)
{
    layoutToolbar();
    update();
}

void Plot2D::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QColor background = toQColor(backgroundColor);
    p.fillRect(QRect(0, 0, width(), std::min(height(), toolbarHeight)), background);
    const QRect area(0, toolbarHeight, width(), height() - toolbarHeight);
    if (area.height() <= 0)
        return;
    CStackMemDC dc(&p, area);
    if (dc.isActive())
        render(dc, QRect(0, 0, area.width(), area.height()));
}

void Plot2D::updateFonts(const QPaintDevice* device)
{
    labelFont_ = QFont(QString::fromStdString(fontFace));
    labelFont_.setPointSizeF(fontSize / 10.0);
    smallFont_ = labelFont_;
    smallFont_.setPointSizeF(std::max(1.0, std::trunc(fontSize * smallFontRatio) / 10.0));
    labelMetrics_ = std::make_unique<QFontMetricsF>(labelFont_, const_cast<QPaintDevice*>(device));
    digitWidth = labelMetrics_->horizontalAdvance(QStringLiteral("0000000000")) / 10.0;
    lineHeight = labelMetrics_->height();
}

double Plot2D::labelTextWidth(const std::string& text) const
{
    if (!labelMetrics_)
        return Plot2DModel::labelTextWidth(text);
    return labelMetrics_->horizontalAdvance(QString::fromStdString(text));
}

void Plot2D::render(QPainter& p, const QRect& rect)
{
    updateFonts(p.device());
    p.save();
    p.fillRect(rect, toQColor(backgroundColor));
    PlotRect r = plotArea({rect.left(), rect.top(), rect.left() + rect.width(), rect.top() + rect.height()});
    RestoreValue keep{yMax, yMax};
    if (yMin == yMax)
        yMax += 1;
    if (!(xMin < xMax) || yMin > yMax || !layoutAxes(r)) {
        p.restore();
        return;
    }
    p.setBackgroundMode(Qt::TransparentMode);
    drawAxes(p);
    const PlotRect& pr = plotRect;
    p.setClipRect(QRect(pr.left + 1, pr.top, pr.width() - 1, pr.height()));
    if (pr.height() > 0)
        drawSeries(p);
    p.setClipping(false);
    drawGridOrTicks(p);
    p.restore();
}

void Plot2D::drawAxes(QPainter& p)
{
    if (!showXAxis && !showYAxis)
        return;
    const PlotRect& r = plotRect;
    p.setPen(QPen(toQColor(axisColor), axisWidth));
    p.setFont(labelFont_);
    const int big = 1 << 16;
    const int lh = static_cast<int>(lineHeight);
    auto exponent = [&](int x, int y, double scale) {
        p.setFont(labelFont_);
        const QString ten = QStringLiteral("10");
        p.drawText(QRect(x, y, big, lh), Qt::AlignLeft | Qt::AlignTop, ten);
        const int right = x + QFontMetrics(labelFont_, p.device()).horizontalAdvance(ten);
        p.setFont(smallFont_);
        p.drawText(QRect(right, y - lh / 2, big, lh), Qt::AlignLeft | Qt::AlignTop,
                   QString::number(labelExponent(scale)));
        p.setFont(labelFont_);
    };
    if (showXAxis) {
        p.drawLine(r.left, r.bottom, r.right, r.bottom);
        if ((showXLabels || showGrid) && xTickStep > 0) {
            const int top = r.bottom + static_cast<int>(labelGapY * lineHeight);
            for (double t : xTicks()) {
                double x;
                if (!mapX(t, x))
                    continue;
                p.drawText(QRect(int(x) - big / 2, top, big, lh), Qt::AlignHCenter | Qt::AlignTop,
                           QString::fromStdString(tickLabel(t, xLabelScale)));
            }
            if (xLabelScale != 1)
                exponent(r.right + static_cast<int>(xLabelExtra * digitWidth / 2),
                         r.bottom + static_cast<int>(yLabelExtra * lineHeight / 2), xLabelScale);
        }
    }
    if (showYAxis) {
        p.drawLine(r.left, r.bottom, r.left, r.top);
        if ((showYLabels || showGrid) && yTickStep > 0) {
            const int right = r.left - static_cast<int>(labelGapX * digitWidth);
            for (double t : yTicks()) {
                double y;
                if (!mapY(t, y))
                    continue;
                p.drawText(QRect(right - big, int(y) - static_cast<int>(0.5 * lineHeight), big, lh),
                           Qt::AlignRight | Qt::AlignTop, QString::fromStdString(tickLabel(t, yLabelScale)));
            }
            if (yLabelScale != 1)
                exponent(r.left + static_cast<int>(xLabelExtra * digitWidth / 2),
                         r.top - static_cast<int>(yLabelExtra * lineHeight), yLabelScale);
        }
    }
}

void Plot2D::drawSeries(QPainter& p)
{
    double zeroY = 0;
    mapY(0, zeroY);
    for (const auto& g : graphs) {
        if (!g->visible)
            continue;
        for (const auto& s : g->series) {
            if (s->points.empty())
                continue;
            const QColor color = toQColor(s->color);
            const int size = std::max(1, s->size);
            switch (s->style) {
            case Plot2DSeries::Points:
                for (const Plot2DPoint& pt : s->points) {
                    double x, y;
                    if (mapX(pt.x, x) && mapY(pt.y, y))
                        p.fillRect(QRectF(x - size / 2, y - size / 2, size, size), color);
                }
                break;
            case Plot2DSeries::Histogram:
                for (const Plot2DPoint& pt : s->points) {
                    double x, y;
                    if (mapX(pt.x, x) && mapY(pt.y, y))
                        p.fillRect(QRectF(QPointF(x - size / 2, std::min(y, zeroY)),
                                          QPointF(x - size / 2 + size, std::max(y, zeroY))),
                                   color);
                }
                break;
            case Plot2DSeries::AutoWidthHistogram:
                for (size_t i = 1; i < s->points.size(); ++i) {
                    double x0, x1, y;
                    if (!mapX(s->points[i - 1].x, x0) || !mapX(s->points[i].x, x1) || !mapY(s->points[i - 1].y, y))
                        continue;
                    const double w = std::max<double>(size, std::fabs(x1 - x0) - 1);
                    // A bar of a bin inside the x range stays inside the plot: the bins at its ends (the
                    // counts at the lowest and the highest level) would otherwise lie on the axis or be cut
                    // off at the right edge.
                    const double from = s->points[i - 1].x;
                    if (from >= xMin && from < xMax) {
                        const PlotRect& pr = plotRect;
                        x0 = std::max<double>(pr.left + 1, std::min<double>(x0, pr.right - w));
                    }
                    // A bin that holds anything keeps at least one pixel of height beside a far larger one.
                    double top = std::min(y, zeroY), bottom = std::max(y, zeroY);
                    if (s->points[i - 1].y > 0 && bottom - top < 1)
                        top = bottom - 1; // up from the zero line
                    else if (s->points[i - 1].y < 0 && bottom - top < 1)
                        bottom = top + 1;
                    p.fillRect(QRectF(QPointF(x0, top), QPointF(x0 + w, bottom)), color);
                }
                break;
            default: { // lines
                QPolygonF line;
                line.reserve(static_cast<qsizetype>(s->points.size()));
                for (const Plot2DPoint& pt : s->points) {
                    double x, y;
                    if (mapX(pt.x, x) && mapY(pt.y, y))
                        line.append(QPointF(x, y));
                }
                p.setPen(QPen(color, size, Qt::SolidLine));
                p.drawPolyline(line);
                break;
            }
            }
        }
    }
}

void Plot2D::drawGridOrTicks(QPainter& p)
{
    const PlotRect& r = plotRect;
    if (showGrid) {
        p.setPen(QPen(QColor(128, 128, 128), 1, Qt::DotLine));
        for (double t : xTicks()) {
            double x;
            if (mapX(t, x))
                p.drawLine(QPointF(x, r.bottom), QPointF(x, r.top));
        }
        for (double t : yTicks()) {
            double y;
            if (mapY(t, y))
                p.drawLine(QPointF(r.left, y), QPointF(r.right, y));
        }
        return;
    }
    p.setPen(QPen(toQColor(axisColor), axisWidth));
    const int len = static_cast<int>(tickLength * lineHeight + 0.5);
    if (showXLabels)
        for (double t : xTicks()) {
            double x;
            if (mapX(t, x))
                p.drawLine(QPointF(x, r.bottom), QPointF(x, r.bottom - len));
        }
    if (showYLabels)
        for (double t : yTicks()) {
            double y;
            if (mapY(t, y))
                p.drawLine(QPointF(r.left, y), QPointF(r.left + len, y));
        }
}

// ---- export ----

int Plot2D::saveImage(const char* path, int width, int height)
{
    if (hasImageEncoder(path) != 0) {
        const char* ext = getFileExtension(path);
        if (ext && strcasecmp(ext, "svg") == 0)
            return saveEmf(path, width, height);
        if (ext && strcasecmp(ext, "emf") == 0)
            return -2; // no metafile writer: refused rather than written as text
        return saveText(path);
    }
    if (width <= 0 || height <= 0 || width > 16384 || height > 16384)
        return -2;
    CMemDC dc(nullptr, QRect(0, 0, width, height));
    if (!dc.isActive())
        return -1;
    render(dc, QRect(0, 0, width, height));
    dc.end();
    return saveBitmapFile(path, dc.image());
}

int Plot2D::saveEmf(const char* path, int width, int height)
{
    if (width <= 0 || height <= 0 || width > 16384 || height > 16384)
        return -2;
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QSvgGenerator svg;
    svg.setOutputDevice(&buffer);
    svg.setSize(QSize(width, height));
    svg.setViewBox(QRect(0, 0, width, height));
    svg.setTitle(QStringLiteral("Plot"));
    QPainter p;
    if (!p.begin(&svg))
        return -1;
    render(p, QRect(0, 0, width, height));
    p.end();
    return plat::replaceFile(path ? path : "", bytes.constData(), static_cast<size_t>(bytes.size())) == 0 ? 0 : -1;
}
