#include "directories/usersform.h"

#include "models/tablemodel.h"
#include "store/fieldnames.h"
#include "store/table.h"

#include <QAction>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QTableView>
#include <QVBoxLayout>

namespace directories {

TUsersForm::TUsersForm(store::Table& users, store::Table& carriers, QWidget* parent)
    : DirectoryForm(QStringLiteral("Pager Users"), QStringLiteral("Users"), parent)
    , BUsersT(users)
    , PagerCompT(carriers)
{
    setObjectName(QStringLiteral("UsersForm"));

    UsersModel = new TableModel(BUsersT, { store::busers::UserName }, this);
    UsersModel->setColumnTitle(0, QStringLiteral("User Name"));
    UsersList = new QTableView(this);
    UsersList->setObjectName(QStringLiteral("UsersList"));
    UsersList->setAccessibleName(QStringLiteral("User Name")); // what it holds: its column
    UsersList->setModel(UsersModel);
    UsersList->setSelectionMode(QAbstractItemView::SingleSelection);
    UsersList->setSelectionBehavior(QAbstractItemView::SelectRows);
    UsersList->horizontalHeader()->setStretchLastSection(true);
    UsersList->verticalHeader()->setDefaultSectionSize(UsersList->fontMetrics().height() + 6);
    // Tab leaves the list for the next field, as in every other control of the window.
    UsersList->setTabKeyNavigation(false);
    UsersList->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed
        | QAbstractItemView::AnyKeyPressed);

    PagerId = new QLineEdit(this);
    PagerId->setObjectName(QStringLiteral("PagerId"));
    PagerId->setMaxLength(12);

    CarriersModel = new TableModel(PagerCompT, { store::pagecomp::PagerComp }, this);
    PagerComp = new QComboBox(this);
    PagerComp->setObjectName(QStringLiteral("PagerComp"));
    PagerComp->setModel(CarriersModel);

    createRecordButtons();

    auto* layout = new QVBoxLayout(this);
    layout->setMenuBar(MainMenu);
    auto* top = new QHBoxLayout;
    top->addWidget(UsersList, 1);
    auto* fields = new QGridLayout;
    auto* idLabel = new QLabel(QStringLiteral("Pager ID:"), this);
    idLabel->setBuddy(PagerId);
    auto* compLabel = new QLabel(QStringLiteral("Pager Service Provider:"), this);
    compLabel->setBuddy(PagerComp);
    fields->addWidget(idLabel, 0, 0);
    fields->addWidget(PagerId, 1, 0);
    fields->addWidget(compLabel, 2, 0);
    fields->addWidget(PagerComp, 3, 0);
    fields->setRowStretch(4, 1);
    auto* exits = new QHBoxLayout;
    exits->addWidget(SaveBtn);
    exits->addWidget(ExitBtn);
    fields->addLayout(exits, 5, 0);
    top->addLayout(fields, 1);
    layout->addLayout(top, 1);

    layout->addLayout(recordButtonGrid(
        { { QStringLiteral("First   Prev"), 2 }, { QStringLiteral("Next  Last"), 2 }, { editCaption(), 4 } }));

    setTabOrder(UsersList, PagerId);
    setTabOrder(PagerId, PagerComp);
    setTabOrder(PagerComp, SaveBtn);
    setTabOrder(SaveBtn, ExitBtn);
    for (QWidget* field : { static_cast<QWidget*>(UsersList), static_cast<QWidget*>(PagerId),
             static_cast<QWidget*>(PagerComp) })
        enterMovesOn(field);
    resize(520, 360);

    // The list and the fields follow the shared handle; the operator's moves go to it.
    connect(UsersModel, &TableModel::currentRowChanged, this, &TUsersForm::scheduleSync);
    connect(UsersList->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
        [this](const QModelIndex& current) {
            if (!showing_ && current.isValid())
                guarded([&] { UsersModel->moveToRow(current.row()); });
        });
    connect(&BUsersT, &store::Table::recordChanged, this, &TUsersForm::scheduleSync);
    connect(&BUsersT, &store::Table::positionChanged, this, &TUsersForm::scheduleSync);
    connect(CarriersModel, &QAbstractItemModel::modelReset, this, &TUsersForm::scheduleSync);
    connect(PagerId, &QLineEdit::textEdited, this, [this](const QString& text) {
        guarded([&] {
            BUsersT.edit();
            BUsersT.setFieldText(store::busers::PagerId, text);
        });
    });
    connect(PagerComp, &QComboBox::activated, this, [this](int index) {
        const QString name = PagerComp->itemText(index);
        guarded([&] {
            BUsersT.edit();
            BUsersT.setFieldText(store::busers::PagerComp, name);
        });
    });

    connectRecordCommands(BUsersT, UsersList);

    syncView();
}

void TUsersForm::syncView()
{
    showCurrentRow(UsersModel->currentRow());
    showRecord();
}

void TUsersForm::FormActivate()
{
    BUsersT.refresh();
    PagerCompT.refresh();
    BUsersT.first();
    UsersList->setFocus();
}

void TUsersForm::showCurrentRow(int row)
{
    const QScopedValueRollback showing(showing_, true);
    if (row >= 0) {
        const QModelIndex index = UsersModel->index(row, 0);
        UsersList->setCurrentIndex(index);
        UsersList->scrollTo(index);
    } else {
        UsersList->setCurrentIndex(QModelIndex());
    }
}

void TUsersForm::showRecord()
{
    if (!BUsersT.isOpen())
        return;
    const bool none = BUsersT.recNo() == 0 && BUsersT.state() != store::Table::State::Insert;
    // A field the table lacks (the start names it) shows empty and cannot be edited.
    const bool hasId = BUsersT.hasField(store::busers::PagerId);
    const bool hasCarrier = BUsersT.hasField(store::busers::PagerComp);
    PagerId->setEnabled(hasId);
    PagerComp->setEnabled(hasCarrier);
    showStoredText(PagerId, none || !hasId ? QString() : BUsersT.fieldText(store::busers::PagerId),
        BUsersT.state() != store::Table::State::Browse);
    // A carrier not in the list shows as an empty value; nothing is corrected.
    const QString carrier = none || !hasCarrier ? QString() : BUsersT.fieldText(store::busers::PagerComp);
    PagerComp->setCurrentIndex(carrier.isEmpty() ? -1 : PagerComp->findText(carrier, Qt::MatchFixedString | Qt::MatchCaseSensitive));
}

} // namespace directories

#include "moc_usersform.cpp"
