#include "directories/pagercompform.h"

#include "core/carrierpaths.h"
#include "core/desk.h"
#include "models/tablemodel.h"
#include "store/fieldnames.h"
#include "store/table.h"

#include <QAction>
#include <QFormLayout>
#include <QGridLayout>
#include <QHeaderView>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QTableView>
#include <QVBoxLayout>

namespace directories {

TPagerCompForm::TPagerCompForm(core::Desk& desk, QWidget* parent)
    : DirectoryForm(QStringLiteral("Paging Carriers Information"), QStringLiteral("PagerCompany"), parent)
    , desk_(desk)
    , PagerCompT(desk.PagerCompT())
{
    setObjectName(QStringLiteral("PagerCompForm"));

    CarriersModel = new TableModel(PagerCompT,
        { store::pagecomp::PagerComp, store::pagecomp::HostTel, store::pagecomp::HostSpeed,
            store::pagecomp::HostChars, store::pagecomp::HostPassword },
        this);
    CarriersList = new QTableView(this);
    CarriersList->setObjectName(QStringLiteral("CarriersList"));
    CarriersList->setAccessibleName(QStringLiteral("Paging Carrier Name:"));
    CarriersList->setModel(CarriersModel);
    CarriersList->setSelectionMode(QAbstractItemView::SingleSelection);
    CarriersList->setSelectionBehavior(QAbstractItemView::SelectRows);
    CarriersList->verticalHeader()->setDefaultSectionSize(CarriersList->fontMetrics().height() + 6);
    // Tab leaves the list for the next field, as in every other control of the window.
    CarriersList->setTabKeyNavigation(false);
    CarriersList->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed
        | QAbstractItemView::AnyKeyPressed);
    CarriersList->setColumnWidth(0, 160);

    auto lineEdit = [this](const QString& name, int width) {
        auto* edit = new QLineEdit(this);
        edit->setObjectName(name);
        edit->setMaxLength(width);
        return edit;
    };
    HostTel = lineEdit(QStringLiteral("HostTel"), 14);
    HostSpeed = lineEdit(QStringLiteral("HostSpeed"), 5);
    HostChars = lineEdit(QStringLiteral("HostChars"), 3);
    HostChars->setValidator(new QIntValidator(0, 999, HostChars)); // a whole number only
    HostPassw = lineEdit(QStringLiteral("HostPassw"), 10);

    createRecordButtons();

    auto* layout = new QVBoxLayout(this);
    layout->setMenuBar(MainMenu);
    layout->addWidget(new QLabel(QStringLiteral("Paging Carrier Name:"), this));
    layout->addWidget(CarriersList, 1);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Host Tel. Number:"), HostTel);
    form->addRow(QStringLiteral("Host Speed:"), HostSpeed);
    form->addRow(QStringLiteral("Max # characters:"), HostChars);
    form->addRow(QStringLiteral("Password:"), HostPassw);
    auto* middle = new QHBoxLayout;
    middle->addLayout(form, 1);
    auto* exits = new QVBoxLayout;
    exits->addStretch();
    exits->addWidget(SaveBtn);
    exits->addWidget(ExitBtn);
    middle->addLayout(exits);
    layout->addLayout(middle);
    layout->addLayout(recordButtonGrid({ { QStringLiteral("First    Prev   Next   Last"), 4 }, { editCaption(), 4 } }));

    setTabOrder(CarriersList, HostTel);
    setTabOrder(HostTel, HostSpeed);
    setTabOrder(HostSpeed, HostChars);
    setTabOrder(HostChars, HostPassw);
    setTabOrder(HostPassw, SaveBtn);
    setTabOrder(SaveBtn, ExitBtn);
    for (QWidget* field : { static_cast<QWidget*>(CarriersList), static_cast<QWidget*>(HostTel),
             static_cast<QWidget*>(HostSpeed), static_cast<QWidget*>(HostChars), static_cast<QWidget*>(HostPassw) })
        enterMovesOn(field);
    resize(600, 420);

    bindField(HostTel, store::pagecomp::HostTel);
    bindField(HostSpeed, store::pagecomp::HostSpeed);
    bindField(HostChars, store::pagecomp::HostChars);
    bindField(HostPassw, store::pagecomp::HostPassword);

    connect(CarriersModel, &TableModel::currentRowChanged, this, &TPagerCompForm::scheduleSync);
    connect(CarriersList->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
        [this](const QModelIndex& current) {
            if (!showing_ && current.isValid())
                guarded([&] { CarriersModel->moveToRow(current.row()); });
        });
    connect(&PagerCompT, &store::Table::recordChanged, this, &TPagerCompForm::scheduleSync);
    connect(&PagerCompT, &store::Table::positionChanged, this, &TPagerCompForm::scheduleSync);

    connect(&PagerCompT, &store::Table::stateChanged, this, &TPagerCompForm::carrierStateChanged);

    connectRecordCommands(PagerCompT, CarriersList);
    syncView();
}

QString TPagerCompForm::storedName() const
{
    return editing_ ? editedFrom_ : PagerCompT.fieldText(store::pagecomp::PagerComp);
}

// An edit begins on the stored record, so the name is read then; when it ends the record shows
// what was written (or, cancelled, what was there), and a changed name takes the paths along.
// However the edit ends (Save, a move, Enter in the grid, a refresh by another window), it ends
// here.
void TPagerCompForm::carrierStateChanged()
{
    const store::Table::State state = PagerCompT.state();
    if (state == store::Table::State::Edit) {
        editedFrom_ = PagerCompT.fieldText(store::pagecomp::PagerComp);
        editing_ = true;
        return;
    }
    if (!editing_ || state != store::Table::State::Browse)
        return;
    editing_ = false;
    const QString now = PagerCompT.fieldText(store::pagecomp::PagerComp);
    if (now != editedFrom_)
        guarded([&] { core::renameCarrierPaths(desk_, editedFrom_, now); });
}

void TPagerCompForm::aboutToDelete()
{
    // A new record not yet written has no paths, even when it repeats a carrier's name.
    deletingStored_ = PagerCompT.state() != store::Table::State::Insert && PagerCompT.recNo() != 0;
    deleting_ = deletingStored_ ? storedName() : QString();
}

void TPagerCompForm::recordDeleted()
{
    if (deletingStored_)
        core::deleteCarrierPaths(desk_, deleting_);
    deletingStored_ = false;
}

void TPagerCompForm::syncView()
{
    const int row = CarriersModel->currentRow();
    {
        const QScopedValueRollback showing(showing_, true);
        const int column = qMax(0, CarriersList->currentIndex().column());
        CarriersList->setCurrentIndex(row >= 0 ? CarriersModel->index(row, column) : QModelIndex());
    }
    showBoundFields();
}

void TPagerCompForm::FormActivate()
{
    PagerCompT.refresh();
    PagerCompT.first();
}

} // namespace directories
