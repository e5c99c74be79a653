#include "app_icon.h"

#include <QLinearGradient>
#include <QPainter>

namespace {

// A small pixel matrix with a few "hit" pixels, the motif of both pictures.
void drawMatrix(QPainter& p, const QRectF& area, int cells)
{
    const qreal cell = std::min(area.width(), area.height()) / cells;
    for (int y = 0; y < cells; ++y) {
        for (int x = 0; x < cells; ++x) {
            // A fixed pattern: a bright spot near the centre fading outwards, with a few stray hits.
            const int dx = 2 * x - cells + 1;
            const int dy = 2 * y - cells + 1;
            const int r2 = dx * dx + dy * dy;
            const bool stray = ((x * 7 + y * 13) % 11) == 0;
            int level = std::max(0, 255 - r2 * 255 / (cells * cells / 2 + 1));
            if (stray)
                level = std::max(level, 150);
            const QColor colour = QColor::fromHsv(200 - level * 160 / 255, 200, 60 + level * 195 / 255);
            p.fillRect(QRectF(area.left() + x * cell + 1, area.top() + y * cell + 1, cell - 2, cell - 2), colour);
        }
    }
}

} // namespace

QIcon appIcon()
{
    QIcon icon;
    for (const int side : {16, 32, 64}) {
        QPixmap pixmap(side, side);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.setBrush(QColor(20, 40, 70));
        p.setPen(Qt::NoPen);
        p.drawRoundedRect(QRectF(0, 0, side, side), side / 6.0, side / 6.0);
        drawMatrix(p, QRectF(side / 8.0, side / 8.0, side * 0.75, side * 0.75), 4);
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QPixmap splashPicture(const QSize& size)
{
    QPixmap pixmap(size);
    QPainter p(&pixmap);
    QLinearGradient background(0, 0, 0, size.height());
    background.setColorAt(0, QColor(16, 32, 64));
    background.setColorAt(1, QColor(4, 10, 24));
    p.fillRect(pixmap.rect(), background);
    const int side = size.height() * 3 / 4;
    drawMatrix(p, QRectF(size.width() - side - size.height() / 8, size.height() / 8, side, side), 16);
    QFont title = p.font();
    title.setPointSize(22);
    title.setBold(true);
    p.setFont(title);
    p.setPen(Qt::white);
    p.drawText(QRect(16, 0, size.width() - side - 24, size.height()), Qt::AlignVCenter | Qt::AlignLeft | Qt::TextWordWrap,
               QStringLiteral("Tarvik\nLoader"));
    p.end();
    return pixmap;
}
