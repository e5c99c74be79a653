// The filter-chain editor's tool window.
#include "chain_edit_dlg.h"

#include <QAction>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "uikit/message_box.h"
#include "uikit/tree_ctrl_ext.h"
#include "pluginfw/value_text.h"

namespace {

// Set once by the plug-in's entry, before any window exists.
const _MgrFuncTable* gTable = nullptr;
std::string gOwner;
int gEventId = 0;

constexpr int kChainRole = Qt::UserRole;      // the chain's id, on every item
constexpr int kMemberRole = Qt::UserRole + 1; // the member's index in its chain; -1 on a chain
constexpr int kFuncRole = Qt::UserRole + 2;   // a member's function id (0 when it is gone)

QString text(const std::string& s)
{
    return QString::fromStdString(s);
}

QString typeText(const chainedit::ParameterRef& p)
{
    const QString name = QString::fromLatin1(typeName(p.type));
    return p.count == 1 ? name : QStringLiteral("%1[%2]").arg(name).arg(p.count);
}

} // namespace

void setChainEditContext(const _MgrFuncTable* table, const char* owner, int eventId)
{
    gTable = table;
    gOwner = owner;
    gEventId = eventId;
}

CChainEditDlg::CChainEditDlg()
{
    setObjectName(QStringLiteral("ChainEditDlg"));
}

CChainEditDlg::~CChainEditDlg() = default;

bool CChainEditDlg::Create()
{
    if (!gTable)
        return false;
    model_ = std::make_unique<chainedit::ChainModel>(gTable, gOwner);
    build();
    refresh();
    layout()->activate(); // size limits settled before the window is placed
    resize(sizeHint().expandedTo(QSize(760, 520)));
    OnInitDialog();
    owner()->loadWindowPos(PlacementForm::MoveAndSize);
    return true;
}

void CChainEditDlg::build()
{
    auto* top = new QHBoxLayout(this);
    top->setContentsMargins(6, 6, 6, 6);

    tree_ = new CTreeCtrlChains(this);
    tree_->setObjectName(QStringLiteral("chains"));
    tree_->setColumnCount(2);
    tree_->setHeaderLabels({tr("Chain / filter"), tr("Instance")});
    tree_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    tree_->header()->setStretchLastSection(false);
    tree_->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    tree_->setMinimumWidth(320);
    top->addWidget(tree_, 3);

    auto* right = new QVBoxLayout;
    top->addLayout(right, 2);

    auto* chainBox = new QGroupBox(tr("Chain"), this);
    auto* chainGrid = new QGridLayout(chainBox);
    chainGrid->addWidget(new QLabel(tr("Name:"), chainBox), 0, 0);
    name_ = new QLineEdit(chainBox);
    name_->setObjectName(QStringLiteral("name"));
    name_->setMaxLength(MGR_NAME_SIZE - 1);
    chainGrid->addWidget(name_, 0, 1, 1, 2);
    auto* newButton = new QPushButton(tr("New chain"), chainBox);
    newButton->setObjectName(QStringLiteral("newChain"));
    renameButton_ = new QPushButton(tr("Rename"), chainBox);
    renameButton_->setObjectName(QStringLiteral("rename"));
    deleteButton_ = new QPushButton(tr("Delete"), chainBox);
    deleteButton_->setObjectName(QStringLiteral("delete"));
    chainGrid->addWidget(newButton, 1, 0);
    chainGrid->addWidget(renameButton_, 1, 1);
    chainGrid->addWidget(deleteButton_, 1, 2);
    right->addWidget(chainBox);

    auto* filterBox = new QGroupBox(tr("Filters"), this);
    auto* filterGrid = new QGridLayout(filterBox);
    filters_ = new QComboBox(filterBox);
    filters_->setObjectName(QStringLiteral("filters"));
    filterGrid->addWidget(filters_, 0, 0, 1, 2);
    addButton_ = new QPushButton(tr("Add filter"), filterBox);
    addButton_->setObjectName(QStringLiteral("addFilter"));
    filterGrid->addWidget(addButton_, 0, 2);
    removeButton_ = new QPushButton(tr("Remove"), filterBox);
    removeButton_->setObjectName(QStringLiteral("remove"));
    upButton_ = new QPushButton(tr("Move up"), filterBox);
    upButton_->setObjectName(QStringLiteral("moveUp"));
    downButton_ = new QPushButton(tr("Move down"), filterBox);
    downButton_->setObjectName(QStringLiteral("moveDown"));
    filterGrid->addWidget(removeButton_, 1, 0);
    filterGrid->addWidget(upButton_, 1, 1);
    filterGrid->addWidget(downButton_, 1, 2);
    right->addWidget(filterBox);

    auto* instanceBox = new QGroupBox(tr("Instance"), this);
    auto* instanceLayout = new QVBoxLayout(instanceBox);
    auto* instanceRow = new QHBoxLayout;
    instances_ = new QComboBox(instanceBox);
    instances_->setObjectName(QStringLiteral("instances"));
    instanceRow->addWidget(instances_, 1);
    newInstanceButton_ = new QPushButton(tr("New instance"), instanceBox);
    newInstanceButton_->setObjectName(QStringLiteral("newInstance"));
    newInstanceButton_->setToolTip(tr("A new instance of the filter, named as in \"Name:\""));
    instanceRow->addWidget(newInstanceButton_);
    instanceLayout->addLayout(instanceRow);
    parameters_ = new QTableWidget(0, 3, instanceBox);
    parameters_->setObjectName(QStringLiteral("parameters"));
    parameters_->setHorizontalHeaderLabels({tr("Parameter"), tr("Value"), tr("Type")});
    parameters_->verticalHeader()->hide();
    parameters_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    parameters_->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    parameters_->horizontalHeader()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
    parameters_->setSelectionMode(QAbstractItemView::SingleSelection);
    instanceLayout->addWidget(parameters_, 1);
    right->addWidget(instanceBox, 1);

    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("status"));
    status_->setWordWrap(true);
    right->addWidget(status_);

    QMenu* menu = tree_->contextMenu();
    const struct {
        const char* text;
        void (CChainEditDlg::*slot)();
    } commands[] = {
        {"New chain", &CChainEditDlg::newChain},   {"Rename", &CChainEditDlg::renameChain},
        {"Delete chain", &CChainEditDlg::deleteChain}, {"Add filter", &CChainEditDlg::addFilter},
        {"Remove filter", &CChainEditDlg::removeMember}, {"Move up", &CChainEditDlg::moveUp},
        {"Move down", &CChainEditDlg::moveDown},
    };
    for (const auto& c : commands) {
        QAction* action = menu->addAction(tr(c.text));
        action->setObjectName(QString::fromLatin1(c.text));
        connect(action, &QAction::triggered, this, c.slot);
    }

    connect(newButton, &QPushButton::clicked, this, &CChainEditDlg::newChain);
    connect(renameButton_, &QPushButton::clicked, this, &CChainEditDlg::renameChain);
    connect(deleteButton_, &QPushButton::clicked, this, &CChainEditDlg::deleteChain);
    connect(addButton_, &QPushButton::clicked, this, &CChainEditDlg::addFilter);
    connect(removeButton_, &QPushButton::clicked, this, &CChainEditDlg::removeMember);
    connect(upButton_, &QPushButton::clicked, this, &CChainEditDlg::moveUp);
    connect(downButton_, &QPushButton::clicked, this, &CChainEditDlg::moveDown);
    connect(newInstanceButton_, &QPushButton::clicked, this, &CChainEditDlg::newInstance);
    connect(instances_, qOverload<int>(&QComboBox::activated), this, &CChainEditDlg::chooseInstance);
    connect(parameters_, &QTableWidget::itemChanged, this, &CChainEditDlg::parameterEdited);
    connect(tree_, &QTreeWidget::itemSelectionChanged, this, &CChainEditDlg::selectionChanged);
    connect(tree_, &QTreeWidget::currentItemChanged, this, &CChainEditDlg::selectionChanged);
    connect(tree_, &CTreeCtrlChains::aboutToShowMenu, this, &CChainEditDlg::prepareMenu);
    connect(tree_, &CTreeCtrlExt::deleteKeyPressed, this, &CChainEditDlg::deletePressed);
}

QTreeWidgetItem* CChainEditDlg::chainItem(int chainId) const
{
    for (int i = 0; i < tree_->topLevelItemCount(); ++i)
        if (tree_->topLevelItem(i)->data(0, kChainRole).toInt() == chainId)
            return tree_->topLevelItem(i);
    return nullptr;
}

bool CChainEditDlg::target(int* chainId, int* member) const
{
    const std::set<QTreeWidgetItem*> items = tree_->getSelectedItems();
    if (items.size() != 1)
        return false;
    QTreeWidgetItem* item = *items.begin();
    *chainId = item->data(0, kChainRole).toInt();
    *member = item->data(0, kMemberRole).toInt();
    return true;
}

void CChainEditDlg::select(int chainId, int member)
{
    QTreeWidgetItem* item = chainItem(chainId);
    if (item && member >= 0)
        item = member < item->childCount() ? item->child(member) : nullptr;
    tree_->clickItem(item, Qt::NoModifier);
    if (item)
        tree_->scrollToItem(item);
}

void CChainEditDlg::refresh()
{
    int chainId = 0;
    int member = -1;
    const bool had = target(&chainId, &member);
    filling_ = true;
    tree_->clear();
    for (const chainedit::ChainRef& chain : model_->chains()) {
        auto* root = new QTreeWidgetItem(tree_, {text(chain.name)});
        root->setData(0, kChainRole, chain.id);
        root->setData(0, kMemberRole, -1);
        root->setToolTip(0, tr("Chain of the plug-in %1").arg(text(chain.owner)));
        int index = 0;
        for (const chainedit::ChainMemberRef& m : chain.members) {
            const QString name = m.filter.funcId ? text(m.filter.label()) : tr("(filter no longer registered)");
            auto* item = new QTreeWidgetItem(root, {name, text(m.instance.name)});
            item->setData(0, kChainRole, chain.id);
            item->setData(0, kMemberRole, index++);
            item->setData(0, kFuncRole, m.filter.funcId);
        }
    }
    tree_->expandAll();

    const QString filter = filters_->currentText();
    filters_->clear();
    for (const chainedit::FilterRef& f : model_->filters())
        filters_->addItem(text(f.label()), f.funcId);
    if (const int at = filters_->findText(filter); at >= 0)
        filters_->setCurrentIndex(at);
    filling_ = false;
    if (had)
        select(chainId, member);
    showInstance();
    updateCommands();
}

void CChainEditDlg::showInstance()
{
    filling_ = true;
    instances_->clear();
    parameters_->setRowCount(0);
    int chainId = 0;
    int member = -1;
    QTreeWidgetItem* root = target(&chainId, &member) && member >= 0 ? chainItem(chainId) : nullptr;
    const std::vector<chainedit::ChainRef> chains = root ? model_->chains() : std::vector<chainedit::ChainRef>{};
    const chainedit::ChainMemberRef* m = nullptr;
    for (const chainedit::ChainRef& c : chains)
        if (c.id == chainId && member < int(c.members.size()))
            m = &c.members[size_t(member)];
    if (m && m->filter.hasInstances) {
        for (const chainedit::InstanceRef& i : model_->instances(m->filter.funcId))
            instances_->addItem(text(i.name), i.id);
        instances_->setCurrentIndex(instances_->findData(m->instance.id));
        const int id = m->instance.id == int(FILTER_DEFAULT_INSTANCE_ID) ? m->filter.funcId : m->instance.id;
        const std::vector<chainedit::ParameterRef> pars = model_->parameters(id);
        parameters_->setRowCount(int(pars.size()));
        for (const chainedit::ParameterRef& p : pars) {
            auto* name = new QTableWidgetItem(text(p.name));
            name->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            name->setToolTip(text(p.description));
            auto* value = new QTableWidgetItem(text(p.value));
            value->setToolTip(text(p.description));
            value->setData(Qt::UserRole, id);
            auto* type = new QTableWidgetItem(typeText(p));
            type->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            parameters_->setItem(p.index, 0, name);
            parameters_->setItem(p.index, 1, value);
            parameters_->setItem(p.index, 2, type);
        }
    }
    filling_ = false;
}

void CChainEditDlg::updateCommands()
{
    int chainId = 0;
    int member = -1;
    const bool any = target(&chainId, &member);
    QTreeWidgetItem* root = any ? chainItem(chainId) : nullptr;
    const int members = root ? root->childCount() : 0;
    renameButton_->setEnabled(any);
    deleteButton_->setEnabled(any);
    addButton_->setEnabled(any && filters_->count() > 0);
    removeButton_->setEnabled(any && member >= 0);
    upButton_->setEnabled(any && member > 0);
    downButton_->setEnabled(any && member >= 0 && member + 1 < members);
    instances_->setEnabled(instances_->count() > 0);
    newInstanceButton_->setEnabled(instances_->count() > 0);
    const QList<QAction*> actions = tree_->contextMenu()->actions();
    const bool enabled[] = {true,
                            renameButton_->isEnabled(),
                            deleteButton_->isEnabled(),
                            addButton_->isEnabled(),
                            removeButton_->isEnabled(),
                            upButton_->isEnabled(),
                            downButton_->isEnabled()};
    for (int i = 0; i < actions.size() && i < int(std::size(enabled)); ++i)
        actions[i]->setEnabled(enabled[i]);
}

void CChainEditDlg::say(const QString& message, bool error)
{
    status_->setStyleSheet(error ? QStringLiteral("color: #b00000;") : QString());
    status_->setText(message);
}

void CChainEditDlg::changed(int rc, const std::string& error, int chainId, int member)
{
    if (rc != 0) {
        say(text(error), true);
        refresh();
        return;
    }
    say(QString(), false);
    if (gEventId > 0)
        gTable->mgrSetCBEvent(gEventId, chainId);
    refresh();
    select(chainId, member);
    showInstance();
    updateCommands();
}

void CChainEditDlg::newChain()
{
    const std::string name = name_->text().toStdString();
    int id = 0;
    std::string error;
    const int rc = model_->createChain(name, &id, &error);
    changed(rc, error, id, -1);
}

void CChainEditDlg::renameChain()
{
    int chainId = 0;
    int member = -1;
    if (!target(&chainId, &member))
        return;
    int id = 0;
    std::string error;
    const int rc = model_->renameChain(chainId, name_->text().toStdString(), &id, &error);
    if (rc == 0 && id != chainId && gEventId > 0)
        gTable->mgrSetCBEvent(gEventId, chainId); // the old chain is gone as well
    changed(rc, error, id, -1);
}

void CChainEditDlg::deleteChain()
{
    int chainId = 0;
    int member = -1;
    if (!target(&chainId, &member))
        return;
    QTreeWidgetItem* root = chainItem(chainId);
    const QString name = root ? root->text(0) : QString();
    if (messageBox(this, tr("Delete the filter chain \"%1\"?").arg(name), tr(kToolName),
                   MSGBOX_YESNO | MSGBOX_ICONQUESTION) != MSGBOX_IDYES)
        return;
    std::string error;
    const int rc = model_->removeChain(chainId, &error);
    changed(rc, error, chainId, -1);
}

void CChainEditDlg::addFilter()
{
    int chainId = 0;
    int member = -1;
    if (!target(&chainId, &member) || filters_->currentIndex() < 0)
        return;
    const int position = member >= 0 ? member + 1 : -1; // after the chosen member, else at the end
    std::string error;
    const int rc = model_->addMember(chainId, filters_->currentData().toInt(), position, &error);
    QTreeWidgetItem* root = chainItem(chainId);
    changed(rc, error, chainId, position >= 0 ? position : (root ? root->childCount() : 0));
}

void CChainEditDlg::removeMember()
{
    int chainId = 0;
    int member = -1;
    if (!target(&chainId, &member) || member < 0)
        return;
    std::string error;
    const int rc = model_->removeMember(chainId, member, &error);
    changed(rc, error, chainId, -1);
}

void CChainEditDlg::moveBy(int delta)
{
    int chainId = 0;
    int member = -1;
    if (!target(&chainId, &member) || member < 0)
        return;
    QTreeWidgetItem* root = chainItem(chainId);
    const int to = member + delta;
    if (!root || to < 0 || to >= root->childCount())
        return;
    std::string error;
    const int rc = model_->moveMember(chainId, member, delta, &error);
    changed(rc, error, chainId, to);
}

void CChainEditDlg::moveUp()
{
    moveBy(-1);
}

void CChainEditDlg::moveDown()
{
    moveBy(1);
}

QTreeWidgetItem* CChainEditDlg::memberItem(int chainId, int member) const
{
    QTreeWidgetItem* root = chainItem(chainId);
    return root && member >= 0 && member < root->childCount() ? root->child(member) : nullptr;
}

void CChainEditDlg::chooseInstance(int index)
{
    int chainId = 0;
    int member = -1;
    if (filling_ || index < 0 || !target(&chainId, &member))
        return;
    QTreeWidgetItem* item = memberItem(chainId, member);
    if (!item || item->text(1) == instances_->itemText(index))
        return;
    int id = instances_->itemData(index).toInt();
    if (id == int(FILTER_DEFAULT_INSTANCE_ID))
        id = item->data(0, kFuncRole).toInt(); // the filter's own id stands for its default instance
    std::string error;
    const int rc = model_->setMemberInstance(chainId, member, id, &error);
    changed(rc, error, chainId, member);
}

void CChainEditDlg::newInstance()
{
    int chainId = 0;
    int member = -1;
    QTreeWidgetItem* item = target(&chainId, &member) ? memberItem(chainId, member) : nullptr;
    if (!item)
        return;
    int id = 0;
    std::string error;
    int rc = model_->createInstance(item->data(0, kFuncRole).toInt(), name_->text().toStdString(), &id, &error);
    if (rc == 0)
        rc = model_->setMemberInstance(chainId, member, id, &error);
    changed(rc, error, chainId, member);
}

void CChainEditDlg::parameterEdited(QTableWidgetItem* item)
{
    if (filling_ || !item || item->column() != 1)
        return;
    const int id = item->data(Qt::UserRole).toInt();
    const int row = item->row();
    const QString name = parameters_->item(row, 0) ? parameters_->item(row, 0)->text() : QString();
    std::string error;
    const int rc = model_->setParameter(id, row, item->text().toStdString(), &error);
    if (rc != 0)
        say(text(error), true);
    else
        say(tr("%1 is set.").arg(name), false);
    // The value as the filter holds it now: the old one after a refusal, the filter's own form otherwise.
    for (const chainedit::ParameterRef& p : model_->parameters(id))
        if (p.index == row) {
            filling_ = true;
            item->setText(text(p.value));
            filling_ = false;
        }
}

void CChainEditDlg::selectionChanged()
{
    if (filling_)
        return;
    int chainId = 0;
    int member = -1;
    if (target(&chainId, &member) && member < 0) {
        if (QTreeWidgetItem* root = chainItem(chainId))
            name_->setText(root->text(0));
    }
    showInstance();
    updateCommands();
}

void CChainEditDlg::prepareMenu(QTreeWidgetItem*)
{
    updateCommands();
}

void CChainEditDlg::deletePressed()
{
    int chainId = 0;
    int member = -1;
    if (!target(&chainId, &member))
        return;
    if (member >= 0)
        removeMember();
    else
        deleteChain();
}
