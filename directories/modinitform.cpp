#include "directories/modinitform.h"

#include "models/tablemodel.h"
#include "store/fieldnames.h"
#include "store/table.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QVBoxLayout>

namespace directories {

TModInitForm::TModInitForm(store::Table& modems, QWidget* parent)
    : DirectoryForm(QStringLiteral("Modem Initialization Strings"), QStringLiteral("SystemsSetup"), parent)
    , ModemsT(modems)
{
    setObjectName(QStringLiteral("ModInitForm"));

    ModelsModel = new TableModel(ModemsT, { store::modems::Modems }, this);
    ModemLookup = new QComboBox(this);
    ModemLookup->setObjectName(QStringLiteral("ModemLookup"));
    ModemLookup->setAccessibleName(QStringLiteral("Lookup Modem Model"));
    ModemLookup->setModel(ModelsModel);

    auto lineEdit = [this](const QString& name, int width) {
        auto* edit = new QLineEdit(this);
        edit->setObjectName(name);
        edit->setMaxLength(width);
        return edit;
    };
    ModemModel = lineEdit(QStringLiteral("ModemModel"), 40);
    InitString = lineEdit(QStringLiteral("InitString"), 80);

    createRecordButtons();

    auto* layout = new QVBoxLayout(this);
    layout->setMenuBar(MainMenu);
    layout->addWidget(new QLabel(QStringLiteral("Lookup Modem Model"), this));
    layout->addWidget(ModemLookup);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Modem Model:"), ModemModel);
    form->addRow(QStringLiteral("Initialization String:"), InitString);
    layout->addLayout(form);
    layout->addLayout(recordButtonGrid({ { QStringLiteral("First   Prev   Next  Last"), 4 }, { editCaption(), 4 } }));
    auto* exits = new QHBoxLayout;
    exits->addStretch();
    exits->addWidget(SaveBtn);
    exits->addWidget(ExitBtn);
    layout->addLayout(exits);
    layout->addStretch();

    setTabOrder(ModemLookup, ModemModel);
    setTabOrder(ModemModel, InitString);
    setTabOrder(InitString, SaveBtn);
    setTabOrder(SaveBtn, ExitBtn);
    for (QWidget* field : { static_cast<QWidget*>(ModemLookup), static_cast<QWidget*>(ModemModel),
             static_cast<QWidget*>(InitString) })
        enterMovesOn(field);
    resize(520, 260);

    bindField(ModemModel, store::modems::Modems);
    bindField(InitString, store::modems::InitStr);

    connect(ModelsModel, &TableModel::currentRowChanged, this, &TModInitForm::scheduleSync);
    connect(ModelsModel, &QAbstractItemModel::modelReset, this, &TModInitForm::scheduleSync);
    connect(ModemLookup, &QComboBox::activated, this, [this](int row) {
        if (!showing_)
            guarded([&] { ModelsModel->moveToRow(row); });
    });
    connect(&ModemsT, &store::Table::recordChanged, this, &TModInitForm::scheduleSync);
    connect(&ModemsT, &store::Table::positionChanged, this, &TModInitForm::scheduleSync);

    connectRecordCommands(ModemsT, ModemLookup->view(), ModemModel);
    syncView();
}

void TModInitForm::FormActivate()
{
    ModemsT.refresh();
    ModemsT.first();
}

void TModInitForm::syncView()
{
    {
        const QScopedValueRollback showing(showing_, true);
        ModemLookup->setCurrentIndex(ModelsModel->currentRow());
    }
    showBoundFields();
}

} // namespace directories

#include "moc_modinitform.cpp"
