#include "log_dlg.h"

#include <algorithm>
#include <iterator>

#include <QApplication>
#include <QCloseEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPushButton>
#include <QTableView>
#include <QThread>

#include "app_icon.h"
#include "utils_app.h"

// ---- LogTableModel ----

int LogTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int LogTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : 3;
}

QVariant LogTableModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || static_cast<size_t>(index.row()) >= rows_.size())
        return {};
    const LogRow& row = rows_[static_cast<size_t>(index.row())];
    switch (index.column()) {
    case 0:
        return row.time;
    case 1:
        return row.source;
    case 2:
        return row.message;
    default:
        return {};
    }
}

QVariant LogTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal)
        return QAbstractTableModel::headerData(section, orientation, role);
    static const char* const titles[] = {"Time", "Module", "Message"};
    return section >= 0 && section < 3 ? QString::fromLatin1(titles[section]) : QVariant();
}

void LogTableModel::append(std::deque<LogRow>&& rows)
{
    if (rows.size() > kMaxRows)
        rows.erase(rows.begin(), rows.end() - static_cast<std::ptrdiff_t>(kMaxRows));
    if (rows.empty())
        return;
    const size_t total = rows_.size() + rows.size();
    if (total > kMaxRows) {
        const size_t drop = total - kMaxRows; // never more than the rows already there
        beginRemoveRows(QModelIndex(), 0, static_cast<int>(drop) - 1);
        rows_.erase(rows_.begin(), rows_.begin() + static_cast<std::ptrdiff_t>(drop));
        endRemoveRows();
    }
    const int first = static_cast<int>(rows_.size());
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(rows.size()) - 1);
    std::move(rows.begin(), rows.end(), std::back_inserter(rows_));
    endInsertRows();
}

void LogTableModel::clear()
{
    beginResetModel();
    rows_.clear();
    endResetModel();
}

LogRow LogTableModel::fromItem(const LogItem& item)
{
    // The record comes from another library: read each field only up to its size.
    const std::string time = boundedText(item.timeText);
    const size_t keep = time.size() > 5 ? time.size() - 5 : 0;
    return {QString::fromUtf8(time.data(), static_cast<qsizetype>(keep)),
            QString::fromStdString(boundedText(item.source)), QString::fromStdString(boundedText(item.message))};
}

// ---- CTvkLogDlg ----

CTvkLogDlg::CTvkLogDlg() : CResizeableDlg(nullptr, Qt::Window)
{
    Q_ASSERT(QThread::currentThread() == qApp->thread());
    setWindowTitle(QStringLiteral("Tarvik Log"));
    setWindowIcon(appIcon());
    resize(672, 380);

    list_ = new QTableView(this);
    list_->setObjectName(QStringLiteral("logList"));
    list_->setGeometry(8, 8, 656, 330);
    list_->setModel(&model_);
    list_->setShowGrid(true);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setWordWrap(false);
    list_->verticalHeader()->hide();
    list_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    list_->verticalHeader()->setDefaultSectionSize(list_->fontMetrics().height() + 4);
    list_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    list_->horizontalHeader()->setStretchLastSection(false);
    const int timeText = list_->fontMetrics().horizontalAdvance(QStringLiteral("Wed Dec 09 08:44:41.0123"));
    timeWidth_ = std::max(kTimeWidth, timeText + 12);
    list_->setColumnWidth(0, timeWidth_);
    list_->setColumnWidth(1, kModuleWidth);
    list_->setColumnWidth(2, kMessageWidth);

    clear_ = new QPushButton(QStringLiteral("Clear"), this);
    clear_->setObjectName(QStringLiteral("clearButton"));
    clear_->setAutoDefault(false); // Enter does nothing in this window
    clear_->setGeometry(584, 346, 80, 26);
    connect(clear_, &QPushButton::clicked, this, &CTvkLogDlg::OnClear);

    OnInitDialog();
    timer_.setInterval(500);
    connect(&timer_, &QTimer::timeout, this, &CTvkLogDlg::OnTimer);
    timer_.start();
}

CTvkLogDlg::~CTvkLogDlg()
{
    timer_.stop();
}

void CTvkLogDlg::initLayout()
{
    addDlgItem(list_, ANCHOR_STRETCH_W | ANCHOR_STRETCH_H);
    addDlgItem(clear_, ANCHOR_MOVE_X | ANCHOR_MOVE_Y);
}

void CTvkLogDlg::OnTimer()
{
    Q_ASSERT(QThread::currentThread() == qApp->thread());
    const _IntFuncTable* table = CTvkMgrUtilsApp::instance().intFuncTable();
    if (!table || !table->intPeekLogItem || !table->intPopLogItem)
        return;
    std::deque<LogRow> batch;
    while (const LogItem* item = table->intPeekLogItem()) {
        batch.push_back(LogTableModel::fromItem(*item));
        table->intPopLogItem();
        // Rows that the table would drop at once are not kept even for the moment.
        if (batch.size() > LogTableModel::kMaxRows)
            batch.pop_front();
    }
    model_.append(std::move(batch));
}

void CTvkLogDlg::OnClear()
{
    model_.clear();
}

void CTvkLogDlg::resizeEvent(QResizeEvent* event)
{
    CResizeableDlg::resizeEvent(event);
    if (!isMinimized())
        widenMessageColumn();
}

void CTvkLogDlg::widenMessageColumn()
{
    // The message column fills what the first two leave, taken at their initial widths.
    const int fill = list_->viewport()->width() - timeWidth_ - kModuleWidth;
    list_->setColumnWidth(2, std::max(list_->columnWidth(2), fill));
}

void CTvkLogDlg::closeEvent(QCloseEvent* event)
{
    event->ignore();
    hide();
}

void CTvkLogDlg::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
        event->accept();
        return;
    default:
        CResizeableDlg::keyPressEvent(event);
    }
}
