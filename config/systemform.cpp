#include "config/systemform.h"

#include "config/inifile.h"
#include "config/modellist.h"
#include "config/systemsettings.h"
#include "store/connection.h"
#include "store/fieldnames.h"
#include "store/schema.h"
#include "store/storeerror.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFocusEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QVBoxLayout>

namespace config {

namespace {

// An edit whose text is kept in upper case, typed or set.
QLineEdit* upperCaseEdit(const QString& name, QWidget* parent)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    QObject::connect(edit, &QLineEdit::textChanged, edit, [edit](const QString& text) {
        const QString upper = text.toUpper();
        if (upper == text)
            return;
        const int cursor = edit->cursorPosition();
        edit->setText(upper);
        edit->setCursorPosition(cursor);
    });
    return edit;
}

QLabel* fieldLabel(const QString& name, const QString& caption, QWidget* parent)
{
    auto* label = new QLabel(caption, parent);
    label->setObjectName(name);
    return label;
}

void showText(QLineEdit* field, const QString& text)
{
    if (field->text() != text)
        field->setText(text);
}

// A button shows its mnemonic underlined but leaves the key to the menu: the menu's "&Save
// Configuration" and "E&xit" own Alt+S and Alt+X, as the menu's keys come first.
QPushButton* formButton(const QString& name, const QString& caption, QWidget* parent)
{
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setShortcut(QKeySequence());
    button->setAutoDefault(false);
    return button;
}

} // namespace

TSystemForm::TSystemForm(
    SystemSettings& settings, store::Table& modemsT, const QString& dataDirectory, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , settings_(settings)
    , modemsT_(modemsT)
{
    setObjectName(QStringLiteral("SystemForm"));
    setWindowTitle(QStringLiteral("System Configuration"));

    comport = new QComboBox(this);
    comport->setObjectName(QStringLiteral("comport"));
    comport->setEditable(true);
    comport->setInsertPolicy(QComboBox::NoInsert);
    comport->addItems({ QStringLiteral("TAPI"), QStringLiteral("COM1"), QStringLiteral("COM2"),
        QStringLiteral("COM3"), QStringLiteral("COM4") });
    comport->setMaxVisibleItems(4);
    comport->setEditText(QString());

    ModemList = new ModelList(this);
    ModemList->setObjectName(QStringLiteral("ModemList"));
    ModemList->setMinimumContentsLength(28);
    ModemList->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);

    ModemModel = new QLineEdit(this);
    ModemModel->setObjectName(QStringLiteral("ModemModel"));
    ModemModel->setReadOnly(true);
    ModemModel->hide();
    ModemInit = new QLineEdit(this);
    ModemInit->setObjectName(QStringLiteral("ModemInit"));
    ModemInit->hide();

    outsideline = upperCaseEdit(QStringLiteral("outsideline"), this);
    PulseDial = new QCheckBox(QStringLiteral("Pulse Dialing?"), this);
    PulseDial->setObjectName(QStringLiteral("PulseDial"));
    DeliveryRetries = upperCaseEdit(QStringLiteral("DeliveryRetries"), this);
    DirectMesgDelay = upperCaseEdit(QStringLiteral("DirectMesgDelay"), this);
    Debug = new QCheckBox(QStringLiteral("Debug"), this);
    Debug->setObjectName(QStringLiteral("Debug"));

    SaveBtn = formButton(QStringLiteral("SaveBtn"), QStringLiteral("&Save"), this);
    ExitBtn = formButton(QStringLiteral("ExitBtn"), QStringLiteral("E&xit"), this);

    for (QLineEdit* shortField : { outsideline, DeliveryRetries, DirectMesgDelay })
        shortField->setFixedWidth(60);
    comport->setMinimumContentsLength(10);

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(8);
    int row = 0;
    auto addRow = [&](const QString& name, const QString& caption, QWidget* field, QWidget* after = nullptr) {
        QLabel* label = fieldLabel(name, caption, this);
        label->setBuddy(field);
        grid->addWidget(label, row, 0, Qt::AlignRight | Qt::AlignVCenter);
        if (after) {
            auto* line = new QHBoxLayout;
            line->addWidget(field);
            line->addWidget(after);
            line->addStretch();
            grid->addLayout(line, row, 1);
        } else {
            grid->addWidget(field, row, 1, Qt::AlignLeft);
        }
        ++row;
    };
    addRow(QStringLiteral("ComPortLabel"), QStringLiteral("Communications Port:"), comport);
    addRow(QStringLiteral("ModemModelLabel"), QStringLiteral("Modem Model:"), ModemList);
    addRow(QStringLiteral("OutsideLineLabel"), QStringLiteral("Outside Line Digit(s):"), outsideline);
    grid->addWidget(PulseDial, row++, 1);
    addRow(QStringLiteral("DeliveryRetriesLabel"), QStringLiteral("Delivery Retries:"), DeliveryRetries);
    addRow(QStringLiteral("DirectMesgDelayLabel"), QStringLiteral("Numeric Mesg Delay:"), DirectMesgDelay,
        fieldLabel(QStringLiteral("SecsLabel"), QStringLiteral("Secs"), this));
    grid->addWidget(Debug, row++, 1);
    grid->setColumnStretch(1, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(SaveBtn);
    buttons->addSpacing(12);
    buttons->addWidget(ExitBtn);
    buttons->addStretch();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 10, 12, 10);
    layout->setSpacing(12);
    buildMenu();
    layout->setMenuBar(MainMenu);
    layout->addLayout(grid);
    layout->addStretch();
    layout->addLayout(buttons);

    // Tab and Enter order: the fields from the top, then the buttons.
    const QList<QWidget*> chain = { comport, ModemList, outsideline, PulseDial, DeliveryRetries,
        DirectMesgDelay, Debug, SaveBtn, ExitBtn };
    for (qsizetype i = 1; i < chain.size(); ++i)
        setTabOrder(chain[i - 1], chain[i]);
    for (QWidget* field : chain)
        field->installEventFilter(this);

    connect(SaveBtn, &QPushButton::clicked, this, &TSystemForm::SaveBtnClick);
    connect(ExitBtn, &QPushButton::clicked, this, &TSystemForm::ExitClick);
    connect(ModemList, &QComboBox::activated, this, &TSystemForm::ModemListChange);
    connect(ModemList, &ModelList::dropDown, this, &TSystemForm::ReadModelList);
    // Acted on once the choice has been made current (the list closes before it reports the choice).
    connect(ModemList, &ModelList::closeUp, this, &TSystemForm::ModemListCloseUp, Qt::QueuedConnection);
    connect(Debug, &QCheckBox::toggled, this, [this](bool ticked) {
        if (ticked)
            emit statusMessage(QStringLiteral("In debug mode"));
    });
    bindSettings();
    connect(&modemsT_, &store::Table::positionChanged, this, &TSystemForm::showCurrentModel);
    connect(&modemsT_, &store::Table::recordChanged, this, &TSystemForm::showCurrentModel);

    // Creation: the window's own handle on the models, then the settings. (The Modem Initialization
    // window is made on its first use.)
    ModemsLookup.setObjectName(QStringLiteral("ModemsLookup"));
    try {
        const store::Connection connection(dataDirectory);
        ModemsLookup.setConnection(connection);
        ModemsLookup.setTableName(store::modemsSchema().openedAs);
        ModemsLookup.setIndexName(QStringLiteral("Modems"));
        ModemsLookup.open();
    } catch (const store::StoreError& e) {
        lookupError_ = e.message();
    }
    ReadModelList();
    ReadPagerIni();
    showCurrentModel();

    setFixedSize(sizeHint().expandedTo(QSize(380, 0)));
}

TSystemForm::~TSystemForm() = default;

void TSystemForm::bindSettings()
{
    showSettings();
    connect(&settings_, &SystemSettings::changed, this, &TSystemForm::showSettings);
    connect(comport, &QComboBox::editTextChanged, &settings_, &SystemSettings::setComPort);
    // The field's text as it stands once its own handlers ran (an upper-case field has changed it
    // again by then), never the text the signal carried.
    const std::pair<QLineEdit*, void (SystemSettings::*)(const QString&)> edits[] = {
        { ModemModel, &SystemSettings::setModemModel },
        { ModemInit, &SystemSettings::setModemInitString },
        { outsideline, &SystemSettings::setOutsideLine },
        { DeliveryRetries, &SystemSettings::setDeliveryRetries },
        { DirectMesgDelay, &SystemSettings::setDirectMesgDelay },
    };
    for (const auto& [field, set] : edits)
        connect(field, &QLineEdit::textChanged, &settings_, [this, field, set] { (settings_.*set)(field->text()); });
    connect(PulseDial, &QCheckBox::toggled, &settings_, &SystemSettings::setPulseDial);
    connect(Debug, &QCheckBox::toggled, &settings_, &SystemSettings::setDebug);
}

void TSystemForm::showSettings()
{
    if (comport->currentText() != settings_.comPort())
        comport->setEditText(settings_.comPort());
    showText(ModemModel, settings_.modemModel());
    showText(ModemInit, settings_.modemInitString());
    showText(outsideline, settings_.outsideLine());
    showText(DeliveryRetries, settings_.deliveryRetries());
    showText(DirectMesgDelay, settings_.directMesgDelay());
    PulseDial->setChecked(settings_.pulseDial());
    Debug->setChecked(settings_.debug());
}

void TSystemForm::buildMenu()
{
    MainMenu = new QMenuBar(this);
    MainMenu->setObjectName(QStringLiteral("MainMenu"));
    auto command = [this](const QString& name, const QString& caption) {
        QAction* action = MainMenu->addAction(caption);
        action->setObjectName(name);
        return action;
    };
    SaveConfigMenu = command(QStringLiteral("SaveConfigMenu"), QStringLiteral("&Save Configuration"));
    ModemInitMenu = command(QStringLiteral("ModemInitMenu"), QStringLiteral("&Modem_Initialization"));
    HelpMenu = command(QStringLiteral("HelpMenu"), QStringLiteral("&Help"));
    ExitMenu = command(QStringLiteral("ExitMenu"), QStringLiteral("E&xit"));
    // The Modem Initialization Strings window lives above this library: the program connects it.
    ModemInitMenu->setEnabled(false);

    connect(SaveConfigMenu, &QAction::triggered, this, &TSystemForm::SaveConfigClick);
    connect(HelpMenu, &QAction::triggered, this, &TSystemForm::HelpClick);
    connect(ExitMenu, &QAction::triggered, this, &TSystemForm::ExitClick);
}

void TSystemForm::ReadPagerIni()
{
    settings_.read();
}

bool TSystemForm::WritePagerIni()
{
    return reportUnwritten(settings_.write());
}

bool TSystemForm::SaveModemModel()
{
    return reportUnwritten(settings_.saveModemModel());
}

void TSystemForm::ReadModelList()
{
    QStringList models;
    if (ModemsLookup.isOpen()) {
        try {
            ModemsLookup.refresh();
            for (ModemsLookup.first(); !ModemsLookup.eof(); ModemsLookup.next())
                models << ModemsLookup.fieldText(store::modems::Modems);
        } catch (const store::StoreError& e) {
            reportError(e.message());
        }
    }
    QStringList shown;
    for (int i = 0; i < ModemList->count(); ++i)
        shown << ModemList->itemText(i);
    if (shown == models)
        return;
    {
        const QScopedValueRollback filling(fillingModels_, true);
        ModemList->clear();
        ModemList->addItems(models);
    }
    showCurrentModel();
}

void TSystemForm::showCurrentModel()
{
    if (fillingModels_)
        return;
    QString model;
    try {
        if (modemsT_.isOpen() && !modemsT_.isEmpty())
            model = modemsT_.fieldText(store::modems::Modems);
    } catch (const store::StoreError&) {
        // The list then shows no model; the failure is reported where the handle is used.
    }
    ModemList->setCurrentIndex(model.isEmpty() ? -1 : ModemList->findText(model, Qt::MatchExactly));
}

void TSystemForm::ModemListChange(int index)
{
    if (index < 0)
        return;
    try {
        if (modemsT_.isOpen())
            modemsT_.locate(store::modems::Modems, ModemList->itemText(index));
    } catch (const store::StoreError& e) {
        reportError(e.message());
    }
    showCurrentModel();
}

void TSystemForm::copyCurrentModel()
{
    QString model;
    QString init;
    try {
        if (modemsT_.isOpen() && !modemsT_.isEmpty()) {
            model = modemsT_.fieldText(store::modems::Modems);
            init = modemsT_.fieldText(store::modems::InitStr);
        }
    } catch (const store::StoreError& e) {
        reportError(e.message());
        return; // the saved model stays as it was
    }
    settings_.setModemModel(model);
    settings_.setModemInitString(init);
}

void TSystemForm::ModemListCloseUp()
{
    copyCurrentModel();
    SaveModemModel();
}

void TSystemForm::DeliveryRetriesExit()
{
    settings_.setDeliveryRetries(SystemSettings::correctedDeliveryRetries(settings_.deliveryRetries()));
}

void TSystemForm::DirectMesgDelayExit()
{
    settings_.setDirectMesgDelay(SystemSettings::correctedDirectMesgDelay(settings_.directMesgDelay()));
}

void TSystemForm::SaveBtnClick()
{
    copyCurrentModel();
    SaveModemModel();
    close(); // the close writes the whole file
}

void TSystemForm::SaveConfigClick()
{
    WritePagerIni();
}

void TSystemForm::ExitClick()
{
    close();
}

void TSystemForm::HelpClick()
{
    emit helpRequested(QStringLiteral("SystemsSetup"));
}

void TSystemForm::FormActivate()
{
    failedSinceActivation_ = false;
    ReadPagerIni();
    ReadModelList();
    const QString saved = settings_.modemModel();
    try {
        if (modemsT_.isOpen())
            modemsT_.locate(store::modems::Modems, saved);
    } catch (const store::StoreError& e) {
        reportError(e.message());
    }
    showCurrentModel();
    // A clean reload: a failure that comes back later is reported again.
    if (!failedSinceActivation_)
        lastReported_.clear();
}

void TSystemForm::reportError(const QString& text)
{
    failedSinceActivation_ = true;
    if (text == lastReported_)
        return;
    lastReported_ = text;
    emit errorReported(text);
}

bool TSystemForm::reportUnwritten(bool written)
{
    if (!written)
        reportError(QStringLiteral("The settings could not be saved to %1.").arg(pagerIniPath()));
    return written;
}

void TSystemForm::closeEvent(QCloseEvent* event)
{
    WritePagerIni();
    event->accept();
}

void TSystemForm::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        FormActivate();
}

bool TSystemForm::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        // Enter moves on to the next field (on the buttons it presses them, as ever).
        if (enter && (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier && watched != SaveBtn
            && watched != ExitBtn) {
            focusNextChild();
            return true;
        }
    } else if (event->type() == QEvent::FocusOut) {
        // Leaving a field for another one of this window (not a window change or an open list).
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
            if (watched == DeliveryRetries)
                DeliveryRetriesExit();
            else if (watched == DirectMesgDelay)
                DirectMesgDelayExit();
            else if (watched == ModemList)
                ModemListCloseUp();
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace config

#include "moc_systemform.cpp"
