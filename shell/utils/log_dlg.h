// The log window: a table of the entries that the manager's log queues, drained every 500 ms whether
// the window is shown or not. It keeps the newest 10000 rows; older ones are dropped in one step per
// drain, however many arrive at once.
#pragma once

#include <deque>
#include <vector>

#include <QAbstractTableModel>
#include <QString>
#include <QTimer>

#include "uikit/resizeable_dlg.h"
#include "tvk_mgr.h"

class QPushButton;
class QTableView;

struct LogRow {
    QString time;    // the entry's time text without its last 5 characters (the year)
    QString source;
    QString message;
};

// The rows behind the log table.
class LogTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr size_t kMaxRows = 10000;

    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // Appends rows at the end; when more than kMaxRows would stand, the oldest go first in one removal
    // (and only the newest kMaxRows of rows are inserted).
    void append(std::deque<LogRow>&& rows);
    void clear();
    const LogRow& row(size_t index) const { return rows_[index]; }

    static LogRow fromItem(const LogItem& item);

private:
    std::deque<LogRow> rows_;
};

class CTvkLogDlg : public CResizeableDlg {
    Q_OBJECT
public:
    enum { IDC_LOG_LIST = 2001, IDC_CLEAR = 2002 };
    static constexpr int kTimeWidth = 150; // at least; wider when the font needs it for a whole time text
    static constexpr int kModuleWidth = 100;
    static constexpr int kMessageWidth = 800;

    CTvkLogDlg();
    ~CTvkLogDlg() override;

    // Every timer tick: moves all queued entries of the manager's log into the table.
    void OnTimer();
    void OnClear();

    int initialTimeWidth() const { return timeWidth_; }
    LogTableModel& model() { return model_; }
    QTableView* list() const { return list_; }

protected:
    void initLayout() override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void widenMessageColumn();

    LogTableModel model_;
    QTableView* list_ = nullptr;
    QPushButton* clear_ = nullptr;
    QTimer timer_;
    int timeWidth_ = kTimeWidth;
};
