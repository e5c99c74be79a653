#include "item_listing_dlg.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QTableWidget>
#include <QThread>
#include <QTreeWidget>

#include "app_icon.h"
#include "tvk_mgr_view.h"

CItemListingDlg::CItemListingDlg() : CResizeableDlg(nullptr, Qt::Window)
{
    Q_ASSERT(QThread::currentThread() == qApp->thread());
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Managed Items"));
    setWindowIcon(appIcon());
    resize(600, 360);
    for (const CategoryDesc& desc : itemCategories())
        for (const ItemColumn& column : desc.columns)
            widths_[static_cast<size_t>(desc.category)].push_back(column.width);

    tree_ = new QTreeWidget(this);
    tree_->setObjectName(QStringLiteral("pluginTree"));
    tree_->setGeometry(8, 8, 180, 344);
    tree_->setHeaderHidden(true);
    tree_->setColumnCount(1);
    // The column is as wide as its longest text: a narrow tree scrolls instead of cutting the texts.
    tree_->header()->setStretchLastSection(false);
    tree_->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    tree_->setSortingEnabled(true);
    tree_->sortByColumn(0, Qt::AscendingOrder);

    list_ = new QTableWidget(this);
    list_->setObjectName(QStringLiteral("itemList"));
    list_->setGeometry(196, 8, 396, 344);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->verticalHeader()->hide();
    list_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    list_->verticalHeader()->setDefaultSectionSize(list_->fontMetrics().height() + 4);
    list_->setWordWrap(false);
    list_->horizontalHeader()->setStretchLastSection(false);

    connect(tree_, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current, QTreeWidgetItem* previous) {
                OnSelChanging(previous);
                OnSelChanged(current);
            });

    OnInitDialog();
    fillTree();
}

CItemListingDlg::~CItemListingDlg()
{
    CTvkMgrUtilsApp::instance().itemListingClosed(this);
}

void CItemListingDlg::initLayout()
{
    // A vertical splitter between the tree and the list, bounded by the tree's left and the list's right.
    Splitter* splitter = addSplitter(QRect(188, 8, 8, 344), true, 33);
    if (splitter) {
        splitter->minBound = windowBound(tree_, 0);
        splitter->maxBound = windowBound(list_, 2);
    }
    DlgItemLayout* tree = addDlgItem(tree_, 33);
    DlgItemLayout* list = addDlgItem(list_, 50);
    if (splitter && tree && list) {
        tree->anchors.push_back({splitter, SPLIT_STRETCH_W});
        list->anchors.push_back({splitter, SPLIT_MOVE_X | SPLIT_STRETCH_W});
    }
}

void CItemListingDlg::fillTree()
{
    Q_ASSERT(QThread::currentThread() == qApp->thread());
    tree_->clear();
    const _IntFuncTable* table = CTvkMgrUtilsApp::instance().intFuncTable();
    if (!table || !table->intGetFirstPlugin || !table->intGetNextPlugin)
        return;
    int id = 0;
    PluginInfo* plugin = nullptr;
    for (int rc = table->intGetFirstPlugin(&id, &plugin); rc == 0 && plugin;
         rc = table->intGetNextPlugin(&id, &plugin)) {
        const QString name = QString::fromStdString(pluginView(plugin)->pluginName());
        auto* root = new QTreeWidgetItem(tree_, QStringList(name));
        for (const CategoryDesc& desc : itemCategories())
            new QTreeWidgetItem(root, QStringList(QString::fromLatin1(desc.text)));
        plugin = nullptr;
    }
}

void CItemListingDlg::OnSelChanging(QTreeWidgetItem* leaving)
{
    if (!leaving)
        return;
    const CategoryDesc* desc = findCategory(leaving->text(0));
    if (!desc)
        return;
    std::vector<int>& widths = widths_[static_cast<size_t>(desc->category)];
    for (int c = 0; c < list_->columnCount() && static_cast<size_t>(c) < widths.size(); ++c)
        widths[static_cast<size_t>(c)] = list_->columnWidth(c);
}

void CItemListingDlg::OnSelChanged(QTreeWidgetItem* item)
{
    list_->clear();
    list_->setRowCount(0);
    list_->setColumnCount(0);
    if (!item || !item->parent())
        return;
    const CategoryDesc* desc = findCategory(item->text(0));
    if (!desc)
        return;

    const std::vector<int>& widths = widths_[static_cast<size_t>(desc->category)];
    list_->setColumnCount(static_cast<int>(desc->columns.size()));
    QStringList titles;
    for (const ItemColumn& column : desc->columns)
        titles.push_back(QString::fromLatin1(column.title));
    list_->setHorizontalHeaderLabels(titles);
    for (size_t c = 0; c < desc->columns.size(); ++c) {
        list_->setColumnWidth(static_cast<int>(c), widths[c]);
        const Qt::Alignment align = (desc->columns[c].rightAligned ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter;
        list_->horizontalHeaderItem(static_cast<int>(c))->setTextAlignment(align);
    }

    const _IntFuncTable* table = CTvkMgrUtilsApp::instance().intFuncTable();
    if (!table || !table->intFindPlugin)
        return;
    PluginInfo* plugin = nullptr;
    const QByteArray name = item->parent()->text(0).toUtf8();
    if (table->intFindPlugin(name.constData(), &plugin) != 0 || !plugin)
        return;
    const std::vector<QStringList> rows =
        categoryRows(*pluginView(plugin), desc->category, CTvkMgrUtilsApp::instance().chainInfoFunc());
    list_->setRowCount(static_cast<int>(rows.size()));
    for (size_t r = 0; r < rows.size(); ++r) {
        for (int c = 0; c < rows[r].size() && c < list_->columnCount(); ++c) {
            auto* cell = new QTableWidgetItem(rows[r][c]);
            if (desc->columns[static_cast<size_t>(c)].rightAligned)
                cell->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            list_->setItem(static_cast<int>(r), c, cell);
        }
    }
}

void CItemListingDlg::keyPressEvent(QKeyEvent* event)
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
