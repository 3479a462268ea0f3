#include "directories/groupsform.h"

#include "compose/memberfile.h"
#include "compose/pagelib.h"
#include "compose/standardboxes.h"
#include "core/desk.h"
#include "directories/celldelegate.h"
#include "directories/windowparts.h"
#include "models/tablemodel.h"
#include "store/fieldnames.h"
#include "store/storeerror.h"

#include <QCloseEvent>
#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QSet>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <utility>

namespace directories {

namespace {

const QString& kGroup = store::groups::Group;
const QString kGroupTag = QStringLiteral("GROUP_UNIQ");
const QString& kUserName = store::busers::UserName;

QStringList listTexts(const QListWidget* list)
{
    QStringList texts;
    texts.reserve(list->count());
    for (int i = 0; i < list->count(); ++i)
        texts << list->item(i)->text();
    return texts;
}

bool listHolds(const QListWidget* list, const QString& text)
{
    for (int i = 0; i < list->count(); ++i) {
        if (list->item(i)->text().compare(text, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

// The lists' alphabetical order: without regard to letter case ("alice bob Carol Zed"); names
// that differ only in case keep one order between them.
bool namesInOrder(const QString& a, const QString& b)
{
    const int folded = a.compare(b, Qt::CaseInsensitive);
    return folded != 0 ? folded < 0 : a < b;
}

void fillSorted(QListWidget* list, QStringList names)
{
    std::sort(names.begin(), names.end(), namesInOrder);
    list->addItems(names);
}

void insertSorted(QListWidget* list, const QString& name)
{
    int row = 0;
    for (int high = list->count(); row < high;) {
        const int middle = (row + high) / 2;
        if (namesInOrder(list->item(middle)->text(), name))
            row = middle + 1;
        else
            high = middle;
    }
    list->insertItem(row, name);
}

} // namespace

TGroupsForm::TGroupsForm(core::Desk& desk, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , desk_(desk)
{
    setWindowTitle(QStringLiteral("Groups"));
    setObjectName(QStringLiteral("GroupsForm"));

    MainMenu = new QMenuBar(this);
    HelpMenu = MainMenu->addAction(QStringLiteral("&Help"));
    ExitMenu = MainMenu->addAction(QStringLiteral("E&xit"));

    GroupName = new QTableWidget(0, 1, this);
    GroupName->setObjectName(QStringLiteral("GroupName"));
    // Headed in words; the heading keeps the field's name for whoever looks the column up.
    auto* heading = new QTableWidgetItem(QStringLiteral("Group Name"));
    heading->setData(models::TableModel::FieldNameRole, kGroup);
    GroupName->setHorizontalHeaderItem(0, heading);
    GroupName->horizontalHeader()->setStretchLastSection(true);
    GroupName->verticalHeader()->setDefaultSectionSize(18);
    GroupName->setSelectionMode(QAbstractItemView::SingleSelection);
    GroupName->setSelectionBehavior(QAbstractItemView::SelectRows);
    // Tab leaves the grid; coming into it (by Tab or a click) loads the lists.
    GroupName->setTabKeyNavigation(false);
    GroupName->setItemDelegate(new CellDelegate(GroupName));
    GroupName->installEventFilter(this);
    // Both lists are kept in alphabetical order by the window itself (see namesInOrder).
    // Every row is one line of one font: a list of thousands lays out by measuring one row.
    UsersList = new QListWidget(this);
    UsersList->setObjectName(QStringLiteral("UsersList"));
    // Named for screen readers after the captions above them.
    GroupName->setAccessibleName(QStringLiteral("Group Names Definition:"));
    UsersList->setAccessibleName(QStringLiteral("Available Users:"));
    UsersList->setUniformItemSizes(true);
    MemberList = new QListWidget(this);
    MemberList->setAccessibleName(QStringLiteral("Group Members:"));
    MemberList->setObjectName(QStringLiteral("MemberList"));
    MemberList->setUniformItemSizes(true);
    MemberList->setToolTip(QStringLiteral("Double Click on Top of Member to Delete"));

    AddMemberBtn = new QPushButton(QStringLiteral("Add &Member    "), this);
    DeleteMemberBtn = new QPushButton(QStringLiteral("D&elete Member"), this);
    SelectGroupBtn = new QPushButton(QStringLiteral("Select Group"), this);
    AddGroupBtn = new QPushButton(QStringLiteral("&Add New Group "), this);
    DeleteGroupBtn = new QPushButton(QStringLiteral("&Delete Group"), this);
    SaveGroupBtn = new QPushButton(QStringLiteral("&Save Group"), this);
    ExitBtn = new QPushButton(QStringLiteral("E&xit"), this);
    // The button shows its key, the menu's "E&xit" owns it (closing without posting).
    ExitBtn->setShortcut(QKeySequence());

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("Group Names Definition:"), this), 0, 0);
    grid->addWidget(new QLabel(QStringLiteral("Available Users:"), this), 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Group Members:"), this), 0, 2);
    grid->addWidget(GroupName, 1, 0);
    grid->addWidget(UsersList, 1, 1);
    grid->addWidget(MemberList, 1, 2);
    auto* memberButtons = new QHBoxLayout;
    memberButtons->addWidget(AddMemberBtn);
    memberButtons->addWidget(DeleteMemberBtn);
    grid->addLayout(memberButtons, 2, 1, 1, 2);
    auto* groupButtons = new QHBoxLayout;
    for (QPushButton* button : { SelectGroupBtn, AddGroupBtn, DeleteGroupBtn, SaveGroupBtn })
        groupButtons->addWidget(button);
    groupButtons->addStretch();
    groupButtons->addWidget(ExitBtn);
    auto* layout = new QVBoxLayout(this);
    layout->setMenuBar(MainMenu);
    layout->addLayout(grid);
    layout->addLayout(groupButtons);
    resize(640, 380);

    connect(HelpMenu, &QAction::triggered, this, [this] { emit helpRequested(QStringLiteral("Groups")); });
    connect(ExitMenu, &QAction::triggered, this, &QWidget::close);
    connect(ExitBtn, &QPushButton::clicked, this, [this] {
        if (postCurrentGroup())
            close();
    });
    connect(AddMemberBtn, &QPushButton::clicked, this, &TGroupsForm::AddGroupMembers);
    connect(UsersList, &QListWidget::itemDoubleClicked, this, [this] {
        AddGroupMembers();
        SaveGroupMembers();
    });
    connect(DeleteMemberBtn, &QPushButton::clicked, this, &TGroupsForm::DeleteMember);
    connect(MemberList, &QListWidget::itemDoubleClicked, this, &TGroupsForm::DeleteMember);
    connect(AddGroupBtn, &QPushButton::clicked, this, &TGroupsForm::AddNewGroup);
    connect(SaveGroupBtn, &QPushButton::clicked, this, &TGroupsForm::SaveGroup);
    connect(DeleteGroupBtn, &QPushButton::clicked, this, &TGroupsForm::DeleteGroup);
    connect(GroupName, &QTableWidget::itemChanged, this, &TGroupsForm::gridEdited);
    connect(GroupName, &QTableWidget::currentCellChanged, this, [this](int row) {
        if (walking_ || row < 0)
            return;
        try {
            goToRow(row);
        } catch (const store::StoreError& e) {
            reportError(e.message());
        }
        ReadUsersList();
    });
    connect(GroupName, &QTableWidget::cellClicked, this, [this] { ReadUsersList(); });

    activate_ = new QTimer(this);
    activate_->setSingleShot(true);
    activate_->setInterval(0);
    connect(activate_, &QTimer::timeout, this, &TGroupsForm::FormActivate);

    // Following the current group, wherever the change comes from.
    follow_ = new QTimer(this);
    follow_->setSingleShot(true);
    follow_->setInterval(0);
    connect(follow_, &QTimer::timeout, this, &TGroupsForm::reloadForCurrentGroup);
    connect(&desk_.GroupsT(), &store::Table::positionChanged, this, &TGroupsForm::followCurrentGroup);
    connect(&desk_.GroupsT(), &store::Table::recordChanged, this, &TGroupsForm::followCurrentGroup);
}

QString TGroupsForm::currentMemberFile() const
{
    return compose::memberFilePath(desk_.dataDirectory(), desk_.GroupsT().fieldText(kGroup));
}

bool TGroupsForm::event(QEvent* event)
{
    // Opening the window both shows it and (where the platform activates windows) makes it
    // active, the latter possibly a while later: the two run one activation.
    switch (event->type()) {
    case QEvent::Show:
        opened_ = true;
        showActivated_ = true;
        activate_->start();
        break;
    case QEvent::WindowActivate:
        if (!std::exchange(showActivated_, false))
            activate_->start();
        break;
    case QEvent::WindowDeactivate:
    case QEvent::Hide:
        showActivated_ = false;
        break;
    default:
        break;
    }
    return QWidget::event(event);
}

bool TGroupsForm::eventFilter(QObject* watched, QEvent* event)
{
    // Entering the grid from another control of the window (not coming back to the window).
    if (watched == GroupName && event->type() == QEvent::FocusIn) {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason && !walking_)
            ReadUsersList();
    }
    return QWidget::eventFilter(watched, event);
}

void TGroupsForm::closeEvent(QCloseEvent* event)
{
    // A name still open in the grid's editor is the operator's last change: the refresh writes it.
    commitOpenEditor(GroupName);
    try {
        desk_.GroupsT().refresh();
    } catch (const store::StoreError& e) {
        reportError(e.message());
    }
    QWidget::closeEvent(event);
    emit closed();
}

void TGroupsForm::reportError(const QString& text)
{
    QMessageBox::critical(this, compose::applicationTitle(), text);
}

void TGroupsForm::FormActivate()
{
    try {
        {
            const QScopedValueRollback walking(walking_, true);
            desk_.BUsersT().refresh();
            desk_.BUsersT().first();
            if (desk_.GroupsT().state() == store::Table::State::Browse) {
                if (desk_.GroupsT().indexName() != kGroupTag)
                    desk_.GroupsT().selectTag(kGroupTag);
                desk_.GroupsT().refresh();
                desk_.GroupsT().first();
            }
        }
        loadGrid();
        ReadUsersList();
    } catch (const store::StoreError& e) {
        reportError(e.message());
    }
}

int TGroupsForm::currentRow()
{
    store::Table& groups = desk_.GroupsT();
    if (groups.isEmpty())
        return -1;
    const uint32_t current = groups.recNo();
    int row = 0;
    for (groups.first(); !groups.eof(); groups.next(), ++row) {
        if (groups.recNo() == current)
            return row;
    }
    return -1;
}

void TGroupsForm::loadGrid()
{
    store::Table& groups = desk_.GroupsT();
    const QScopedValueRollback walking(walking_, true);
    const QSignalBlocker blocker(GroupName);
    const int row = currentRow();
    GroupName->setRowCount(0);
    QStringList names;
    for (groups.first(); !groups.eof(); groups.next())
        names << groups.fieldText(kGroup);
    GroupName->setRowCount(int(names.size()));
    for (int i = 0; i < names.size(); ++i)
        GroupName->setItem(i, 0, new QTableWidgetItem(names.at(i)));
    goToRow(row < 0 ? 0 : row);
    if (row >= 0 || !names.isEmpty())
        GroupName->setCurrentCell(row < 0 ? 0 : row, 0);
}

void TGroupsForm::goToRow(int row)
{
    store::Table& groups = desk_.GroupsT();
    if (groups.state() != store::Table::State::Browse)
        return;
    const QScopedValueRollback walking(walking_, true);
    groups.first();
    for (int i = 0; i < row && !groups.eof(); ++i)
        groups.next();
    if (groups.eof())
        groups.last();
}

void TGroupsForm::gridEdited(QTableWidgetItem* item)
{
    if (walking_)
        return;
    store::Table& groups = desk_.GroupsT();
    try {
        if (groups.state() == store::Table::State::Browse) {
            goToRow(item->row());
            groups.edit();
        }
        // The capital initials go in with the name, so whatever posts it (Save Group, the Exit
        // button, or the refresh of a close or of another window) writes it so.
        groups.setFieldText(kGroup, compose::CapitalizeWords(item->text()));
    } catch (const store::StoreError& e) {
        reportError(e.message());
    }
    ReadUsersList();
}

void TGroupsForm::followCurrentGroup()
{
    if (opened_ && !walking_)
        follow_->start();
}

void TGroupsForm::reloadForCurrentGroup()
{
    // A closed window is loaded afresh when it is next opened (its activation loads the lists).
    if (!isVisible())
        return;
    // The grid shows the record that is current now.
    try {
        if (desk_.GroupsT().state() == store::Table::State::Browse) {
            const QScopedValueRollback walking(walking_, true);
            const int row = currentRow();
            if (row >= 0 && row < GroupName->rowCount() && row != GroupName->currentRow()) {
                const QSignalBlocker blocker(GroupName);
                GroupName->setCurrentCell(row, 0);
            }
        }
    } catch (const store::StoreError& e) {
        reportError(e.message());
        return;
    }
    if (QFile::exists(currentMemberFile()))
        ReadUsersList();
    else
        MemberList->clear();
}

void TGroupsForm::ReadUsersList()
{
    UsersList->clear();
    MemberList->clear();
    if (desk_.GroupsT().isEmpty() && desk_.GroupsT().state() == store::Table::State::Browse)
        return;
    QStringList members;
    QString fault;
    if (!compose::readMemberFile(currentMemberFile(), &members, &fault)) {
        unreadMemberFile_ = fault.isEmpty() ? QString() : currentMemberFile();
        if (!fault.isEmpty() && fault != memberFileFault_)
            emit statusMessage(fault + QStringLiteral(": the group's members are not read."));
        memberFileFault_ = fault;
        return;
    }
    unreadMemberFile_.clear();
    memberFileFault_.clear();
    fillSorted(MemberList, members);
    QSet<QString> taken;
    for (const QString& member : members)
        taken.insert(member.toCaseFolded());
    QStringList available;
    store::Table& users = desk_.BUsersT();
    try {
        // The shared handle goes to the first user (ending a pending edit, as a walk would); the
        // names are read through a handle of the window's own, so that the windows following the
        // shared handle are not told of ten thousand moves.
        users.first();
        if (users.isOpen()) {
            store::Table reader;
            models::openReaderOn(reader, users);
            for (reader.first(); !reader.eof(); reader.next()) {
                const QString name = reader.fieldText(kUserName);
                if (!taken.contains(name.toCaseFolded()))
                    available << name;
            }
        }
    } catch (const store::StoreError& e) {
        reportError(e.message());
    }
    fillSorted(UsersList, available);
}

void TGroupsForm::AddGroupMembers()
{
    if (compose::RemoveBlanks(desk_.GroupsT().fieldText(kGroup)).isEmpty())
        return;
    QListWidgetItem* chosen = UsersList->currentItem();
    if (!chosen || !chosen->isSelected())
        return;
    const QString name = chosen->text();
    if (listHolds(MemberList, name))
        return;
    insertSorted(MemberList, name);
    delete UsersList->takeItem(UsersList->row(chosen));
    SaveGroupMembers();
}

void TGroupsForm::DeleteMember()
{
    QListWidgetItem* chosen = MemberList->currentItem();
    if (!chosen || !chosen->isSelected()) {
        compose::ShowInfo(QStringLiteral("First you must select the member to delete from this group."), this);
        return;
    }
    insertSorted(UsersList, chosen->text());
    delete MemberList->takeItem(MemberList->row(chosen));
    SaveGroupMembers();
}

void TGroupsForm::SaveGroupMembers()
{
    if (!unreadMemberFile_.isEmpty() && unreadMemberFile_ == currentMemberFile()) {
        emit statusMessage(QStringLiteral("Group members are not saved over ") + currentMemberFile()
            + QStringLiteral(", which could not be read."));
        return;
    }
    const QString error = compose::writeMemberFile(currentMemberFile(), listTexts(MemberList));
    if (!error.isEmpty())
        emit statusMessage(QStringLiteral("Group members could not be saved to ") + currentMemberFile()
            + QStringLiteral(": ") + error);
}

void TGroupsForm::AddNewGroup()
{
    store::Table& groups = desk_.GroupsT();
    try {
        if (!postCurrentGroup())
            return;
        const QScopedValueRollback walking(walking_, true);
        groups.append();
    } catch (const store::StoreError& e) {
        reportError(e.message());
        return;
    }
    const QSignalBlocker blocker(GroupName);
    const int row = GroupName->rowCount();
    GroupName->insertRow(row);
    GroupName->setItem(row, 0, new QTableWidgetItem());
    {
        const QScopedValueRollback walking(walking_, true);
        GroupName->setCurrentCell(row, 0);
    }
    MemberList->clear();
    UsersList->clear();
    GroupName->setFocus();
}

bool TGroupsForm::postCurrentGroup()
{
    store::Table& groups = desk_.GroupsT();
    if (groups.state() != store::Table::State::Edit && groups.state() != store::Table::State::Insert)
        return true;
    try {
        groups.setFieldText(kGroup, compose::CapitalizeWords(groups.fieldText(kGroup)));
        groups.post();
        return true;
    } catch (const store::StoreError& e) {
        reportError(e.message());
        return false;
    }
}

void TGroupsForm::SaveGroup()
{
    if (!postCurrentGroup())
        return;
    try {
        const uint32_t saved = desk_.GroupsT().isEmpty() ? 0 : desk_.GroupsT().recNo();
        {
            const QScopedValueRollback walking(walking_, true);
            desk_.GroupsT().refresh();
        }
        if (saved == 0)
            return;
        SaveGroupMembers();
        loadGrid();
        ReadUsersList();
    } catch (const store::StoreError& e) {
        reportError(e.message());
    }
}

void TGroupsForm::DeleteGroup()
{
    store::Table& groups = desk_.GroupsT();
    try {
        if (groups.state() == store::Table::State::Insert) {
            groups.cancel();
        } else {
            if (groups.isEmpty())
                return;
            if (groups.state() == store::Table::State::Edit)
                groups.cancel();
            const QString file = currentMemberFile();
            bool deleted = false;
            {
                const QScopedValueRollback walking(walking_, true);
                deleted = compose::ConfirmDelete(groups, this);
            }
            if (!deleted)
                return;
            QFile::remove(file);
        }
        {
            const QScopedValueRollback walking(walking_, true);
            groups.refresh();
        }
        loadGrid();
        ReadUsersList();
    } catch (const store::StoreError& e) {
        reportError(e.message());
    }
}

} // namespace directories

#include "moc_groupsform.cpp"
