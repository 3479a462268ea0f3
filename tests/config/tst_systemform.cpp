#include "config/inifile.h"
#include "config/modellist.h"
#include "config/systemform.h"
#include "config/systemsettings.h"
#include "store/connection.h"
#include "store/schema.h"
#include "store/table.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kSystem = QStringLiteral("System");

QStringList fileLines()
{
    QFile file(config::pagerIniPath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines
        = QString::fromLatin1(file.readAll()).split(QRegularExpression(QStringLiteral("\r?\n")));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

void writeFile(const QByteArray& content)
{
    QDir().mkpath(QFileInfo(config::pagerIniPath()).absolutePath());
    QFile file(config::pagerIniPath());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

QString saved(const QString& key)
{
    return config::IniFile(config::pagerIniPath()).readString(kSystem, key, QStringLiteral("<missing>"));
}

} // namespace

class tst_SystemForm : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<store::Table> modemsT_;

    // MODEMS.DBF in the data folder with `models` (name, init string) in record order, and the main
    // window's handle on it in the "Modems" tag.
    void makeModems(const QList<QPair<QString, QString>>& models)
    {
        const store::Connection connection(dir_->path());
        store::Create_Modems(connection);
        modemsT_ = std::make_unique<store::Table>();
        store::Index_Modems(*modemsT_, connection);
        modemsT_->open();
        for (const auto& [name, init] : models) {
            modemsT_->append();
            modemsT_->setFieldText(QStringLiteral("MODEMS"), name);
            modemsT_->setFieldText(QStringLiteral("INITSTR"), init);
            modemsT_->post();
        }
        modemsT_->first();
    }

    std::unique_ptr<config::TSystemForm> makeForm()
    {
        if (!modemsT_)
            makeModems({});
        return std::make_unique<config::TSystemForm>(*settings_, *modemsT_, dir_->path());
    }

    static void showActive(QWidget* form)
    {
        form->show();
        form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(form));
    }

    QString currentModel() const { return modemsT_->fieldText(QStringLiteral("MODEMS")); }

    std::unique_ptr<config::SystemSettings> settings_; // made afresh for each test, as at a start

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void typedFieldsAreTheWorkingSettingsUnsaved();
    void init()
    {
        settings_ = std::make_unique<config::SystemSettings>();
        QFile::remove(config::pagerIniPath());
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
    }
    void cleanup()
    {
        modemsT_.reset();
        dir_.reset();
        QDir().rmdir(config::pagerIniPath());
        QFile::remove(config::pagerIniPath());
    }

    void layoutTexts_data();
    void layoutTexts();
    void commands_data();
    void commands();
    void noFileGivesDefaultsAndCloseWritesSevenKeys();
    void readsEveryKey();
    void pulseDialValues_data();
    void pulseDialValues();
    void junkLinesInTheFile();
    void leavingNumberFields_data();
    void leavingNumberFields();
    void enterMovesToTheNextField();
    void upperCaseFields();
    void saveConfigurationKeepsTheWindowOpen();
    void exitAndEveryCloseWriteTheFields();
    void helpAsksForSystemsSetup();
    void debugIsAnnouncedAndNeverSaved();
    void modelListInTagOrderShowsTheCurrentRecord();
    void choosingFromTheListSavesTheModel();
    void leavingTheListSavesTheModel();
    void closingLeavesTheSavedModel_data();
    void closingLeavesTheSavedModel();
    void activationReloadsAndLocatesTheSavedModel();
    void unknownSavedModelLeavesTheRecord();
    void emptyModemsTableSavesEmptyModel();
    void missingModemsTableLeavesTheWindowWorking();
    void unwritableFileIsReportedOnce();
};

void tst_SystemForm::layoutTexts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::newRow("port") << "ComPortLabel"
                          << "Communications Port:";
    QTest::newRow("model") << "ModemModelLabel"
                           << "Modem Model:";
    QTest::newRow("outside line") << "OutsideLineLabel"
                                  << "Outside Line Digit(s):";
    QTest::newRow("retries") << "DeliveryRetriesLabel"
                             << "Delivery Retries:";
    QTest::newRow("delay") << "DirectMesgDelayLabel"
                           << "Numeric Mesg Delay:";
    QTest::newRow("secs") << "SecsLabel"
                          << "Secs";
    QTest::newRow("pulse") << "PulseDial"
                           << "Pulse Dialing?";
    QTest::newRow("debug") << "Debug"
                           << "Debug";
    QTest::newRow("save") << "SaveBtn"
                          << "&Save";
    QTest::newRow("exit") << "ExitBtn"
                          << "E&xit";
}

void tst_SystemForm::layoutTexts()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    auto form = makeForm();
    QCOMPARE(form->windowTitle(), QStringLiteral("System Configuration"));
    QWidget* widget = form->findChild<QWidget*>(name);
    QVERIFY2(widget, qPrintable(name));
    if (auto* label = qobject_cast<QLabel*>(widget))
        QCOMPARE(label->text(), text);
    else
        QCOMPARE(qobject_cast<QAbstractButton*>(widget)->text(), text);
    QVERIFY(form->ModemModel->isHidden() && form->ModemModel->isReadOnly());
    QVERIFY(form->ModemInit->isHidden());
    QStringList ports;
    for (int i = 0; i < form->comport->count(); ++i)
        ports << form->comport->itemText(i);
    QCOMPARE(ports, QStringList({ "TAPI", "COM1", "COM2", "COM3", "COM4" }));
    QVERIFY(form->comport->isEditable());
    QCOMPARE(form->comport->maxVisibleItems(), 4);
}

void tst_SystemForm::commands_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QKeySequence>("key");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("save configuration") << "SaveConfigMenu"
                                        << "&Save Configuration" << QKeySequence("Alt+S") << true;
    QTest::newRow("modem initialization") << "ModemInitMenu"
                                          << "&Modem_Initialization" << QKeySequence("Alt+M") << false;
    QTest::newRow("help") << "HelpMenu"
                          << "&Help" << QKeySequence("Alt+H") << true;
    QTest::newRow("exit") << "ExitMenu"
                          << "E&xit" << QKeySequence("Alt+X") << true;
}

void tst_SystemForm::commands()
{
    QFETCH(QString, name);
    QFETCH(QString, caption);
    QFETCH(QKeySequence, key);
    QFETCH(bool, enabled);
    auto form = makeForm();
    auto* action = form->findChild<QAction*>(name);
    QVERIFY2(action, qPrintable(name));
    QVERIFY(form->MainMenu->actions().contains(action));
    QCOMPARE(action->text(), caption);
    QCOMPARE(QKeySequence::mnemonic(action->text()), key);
    QCOMPARE(action->isEnabled(), enabled);
}

void tst_SystemForm::noFileGivesDefaultsAndCloseWritesSevenKeys()
{
    auto form = makeForm();
    QCOMPARE(form->comport->currentText(), QString());
    QCOMPARE(form->ModemList->currentText(), QString());
    QCOMPARE(form->outsideline->text(), QString());
    QCOMPARE(form->DeliveryRetries->text(), QStringLiteral("3"));
    QCOMPARE(form->DirectMesgDelay->text(), QStringLiteral("10"));
    QVERIFY(!form->PulseDial->isChecked());
    QVERIFY(!form->Debug->isChecked());
    QVERIFY(!QFile::exists(config::pagerIniPath()));

    showActive(form.get());
    form->close();
    QCOMPARE(fileLines(),
        QStringList({ "[System]", "ComPort=", "ModemModel=", "ModemInitString=", "OutsideLine=",
            "DeliveryRetries=3", "DirectMesgDelay=10", "PulseDial=0" }));
}

void tst_SystemForm::readsEveryKey()
{
    writeFile("[system]\r\nPULSEDIAL=1\r\nDirectMesgDelay=45\r\nDeliveryRetries=2\r\nOutsideLine=9W\r\n"
              "ModemInitString=ATZ~AT&F\r\nModemModel=Hayes\r\nComPort=COM3\r\nSendMessages=0\r\n");
    auto form = makeForm();
    QCOMPARE(form->comport->currentText(), QStringLiteral("COM3"));
    QCOMPARE(form->ModemModel->text(), QStringLiteral("Hayes"));
    QCOMPARE(form->ModemInit->text(), QStringLiteral("ATZ~AT&F"));
    QCOMPARE(form->outsideline->text(), QStringLiteral("9W"));
    QCOMPARE(form->DeliveryRetries->text(), QStringLiteral("2"));
    QCOMPARE(form->DirectMesgDelay->text(), QStringLiteral("45"));
    QVERIFY(form->PulseDial->isChecked());

    // Written back where the keys stand; SendMessages belongs to the scheduling window and stays.
    QVERIFY(form->WritePagerIni());
    QCOMPARE(fileLines(),
        QStringList({ "[system]", "PULSEDIAL=1", "DirectMesgDelay=45", "DeliveryRetries=2", "OutsideLine=9W",
            "ModemInitString=ATZ~AT&F", "ModemModel=Hayes", "ComPort=COM3", "SendMessages=0" }));
}

void tst_SystemForm::pulseDialValues_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<bool>("ticked");
    QTest::addColumn<QString>("written");
    QTest::newRow("1") << QByteArray("1") << true << "1";
    QTest::newRow("0") << QByteArray("0") << false << "0";
    QTest::newRow("empty") << QByteArray("") << false << "0";
    QTest::newRow("yes") << QByteArray("yes") << false << "0";
    QTest::newRow("2") << QByteArray("2") << false << "0";
    QTest::newRow("01") << QByteArray("01") << false << "0";
}

void tst_SystemForm::pulseDialValues()
{
    QFETCH(QByteArray, value);
    QFETCH(bool, ticked);
    QFETCH(QString, written);
    writeFile("[System]\nPulseDial=" + value + "\n");
    auto form = makeForm();
    QCOMPARE(form->PulseDial->isChecked(), ticked);
    QVERIFY(form->WritePagerIni());
    QCOMPARE(saved(QStringLiteral("PulseDial")), written);
}

void tst_SystemForm::junkLinesInTheFile()
{
    const QByteArray junk = "garbage before any section\n\x01\x02\xff\xfe binary\n[System\n=no key\n"
                            "[System]\nnot a key line\n  DeliveryRetries  =  2  \n;ComPort=COM9\n"
                            "OutsideLine=\"9\"\n[Other]\nComPort=COM4\n";
    writeFile(junk);
    auto form = makeForm();
    QCOMPARE(form->DeliveryRetries->text(), QStringLiteral("2"));
    QCOMPARE(form->outsideline->text(), QStringLiteral("9"));
    QCOMPARE(form->comport->currentText(), QString()); // a comment and another section's key
    QCOMPARE(form->DirectMesgDelay->text(), QStringLiteral("10"));

    form->comport->setEditText(QStringLiteral("COM2"));
    QVERIFY(form->WritePagerIni());
    QCOMPARE(saved(QStringLiteral("ComPort")), QStringLiteral("COM2"));
    QCOMPARE(config::IniFile(config::pagerIniPath())
                 .readString(QStringLiteral("Other"), QStringLiteral("ComPort")),
        QStringLiteral("COM4"));
    // The junk lines are all still there, byte for byte.
    QFile file(config::pagerIniPath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray after = file.readAll();
    for (const QByteArray& line : junk.split('\n'))
        if (!line.contains("DeliveryRetries") && !line.contains("OutsideLine"))
            QVERIFY2(after.contains(line), line.constData());
}

void tst_SystemForm::leavingNumberFields_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("left");
    QTest::newRow("retries 0") << "DeliveryRetries"
                               << "0"
                               << "3";
    QTest::newRow("retries -2") << "DeliveryRetries"
                                << "-2"
                                << "3";
    QTest::newRow("retries abc stays") << "DeliveryRetries"
                                       << "abc"
                                       << "ABC";
    QTest::newRow("retries empty stays") << "DeliveryRetries"
                                         << ""
                                         << "";
    QTest::newRow("retries 7 stays") << "DeliveryRetries"
                                     << "7"
                                     << "7";
    QTest::newRow("retries 2") << "DeliveryRetries"
                               << "2"
                               << "2";
    QTest::newRow("delay 2") << "DirectMesgDelay"
                             << "2"
                             << "10";
    QTest::newRow("delay abc") << "DirectMesgDelay"
                               << "abc"
                               << "10";
    QTest::newRow("delay empty") << "DirectMesgDelay"
                                 << ""
                                 << "10";
    QTest::newRow("delay 3") << "DirectMesgDelay"
                             << "3"
                             << "10";
    QTest::newRow("delay 4 stays") << "DirectMesgDelay"
                                   << "4"
                                   << "4";
    QTest::newRow("delay 120 stays") << "DirectMesgDelay"
                                     << "120"
                                     << "120";
}

void tst_SystemForm::leavingNumberFields()
{
    QFETCH(QString, field);
    QFETCH(QString, typed);
    QFETCH(QString, left);
    auto form = makeForm();
    showActive(form.get());
    auto* edit = form->findChild<QLineEdit*>(field);
    QVERIFY(edit);
    edit->setFocus();
    QTRY_VERIFY(edit->hasFocus());
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, typed);
    QCOMPARE(edit->text(), typed.toUpper()); // nothing changes while typing
    QTest::keyClick(edit, Qt::Key_Tab);
    QVERIFY(!edit->hasFocus());
    QCOMPARE(edit->text(), left);
}

void tst_SystemForm::enterMovesToTheNextField()
{
    auto form = makeForm();
    showActive(form.get());
    const QList<QWidget*> chain = { form->comport, form->ModemList, form->outsideline, form->PulseDial,
        form->DeliveryRetries, form->DirectMesgDelay, form->Debug, form->SaveBtn };
    chain.first()->setFocus();
    QTRY_VERIFY(chain.first()->hasFocus());
    for (qsizetype i = 1; i < chain.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QVERIFY2(chain[i]->hasFocus(), qPrintable(chain[i]->objectName()));
    }
    // Enter in the delay field leaves it, with its correction.
    form->DirectMesgDelay->setFocus();
    form->DirectMesgDelay->setText(QStringLiteral("1"));
    QTest::keyClick(form->DirectMesgDelay, Qt::Key_Enter, Qt::KeypadModifier);
    QVERIFY(form->Debug->hasFocus());
    QCOMPARE(form->DirectMesgDelay->text(), QStringLiteral("10"));
    QVERIFY(form->isVisible());
}

void tst_SystemForm::upperCaseFields()
{
    auto form = makeForm();
    showActive(form.get());
    form->outsideline->setFocus();
    QTest::keyClicks(form->outsideline, QStringLiteral("9w,"));
    QCOMPARE(form->outsideline->text(), QStringLiteral("9W,"));
    QCOMPARE(form->outsideline->cursorPosition(), 3);
    QVERIFY(form->WritePagerIni());
    QCOMPARE(saved(QStringLiteral("OutsideLine")), QStringLiteral("9W,"));
}

void tst_SystemForm::saveConfigurationKeepsTheWindowOpen()
{
    auto form = makeForm();
    showActive(form.get());
    form->comport->setEditText(QStringLiteral("/dev/pts/4"));
    QTest::keyClick(form.get(), Qt::Key_S, Qt::AltModifier);
    QTRY_COMPARE(saved(QStringLiteral("ComPort")), QStringLiteral("/dev/pts/4"));
    QVERIFY(form->isVisible());
    QCOMPARE(fileLines().size(), 8);
}

void tst_SystemForm::exitAndEveryCloseWriteTheFields()
{
    auto form = makeForm();
    // The Exit button.
    showActive(form.get());
    form->outsideline->setText(QStringLiteral("8"));
    form->ExitBtn->click();
    QVERIFY(!form->isVisible());
    QCOMPARE(saved(QStringLiteral("OutsideLine")), QStringLiteral("8"));
    // Alt+X.
    showActive(form.get());
    form->outsideline->setText(QStringLiteral("7"));
    QTest::keyClick(form.get(), Qt::Key_X, Qt::AltModifier);
    QTRY_VERIFY(!form->isVisible());
    QCOMPARE(saved(QStringLiteral("OutsideLine")), QStringLiteral("7"));
    // "&Save" closes too.
    showActive(form.get());
    form->DirectMesgDelay->setText(QStringLiteral("30"));
    form->SaveBtn->click();
    QVERIFY(!form->isVisible());
    QCOMPARE(saved(QStringLiteral("DirectMesgDelay")), QStringLiteral("30"));
}

void tst_SystemForm::helpAsksForSystemsSetup()
{
    auto form = makeForm();
    showActive(form.get());
    QSignalSpy help(form.get(), &config::TSystemForm::helpRequested);
    QTest::keyClick(form.get(), Qt::Key_H, Qt::AltModifier);
    QTRY_COMPARE(help.size(), 1);
    QCOMPARE(help.at(0).at(0).toString(), QStringLiteral("SystemsSetup"));
}

void tst_SystemForm::debugIsAnnouncedAndNeverSaved()
{
    auto form = makeForm();
    QSignalSpy status(form.get(), &config::TSystemForm::statusMessage);
    form->Debug->click();
    QCOMPARE(status.size(), 1);
    QCOMPARE(status.at(0).at(0).toString(), QStringLiteral("In debug mode"));
    form->Debug->click(); // clearing adds nothing
    QCOMPARE(status.size(), 1);
    form->Debug->click();
    QCOMPARE(status.size(), 2);
    QVERIFY(form->WritePagerIni());
    QCOMPARE(fileLines().size(), 8);
    QVERIFY(!fileLines().join(u'\n').contains(QStringLiteral("Debug")));
    form->FormActivate(); // a reload leaves it as it is
    QVERIFY(form->Debug->isChecked());
}

void tst_SystemForm::modelListInTagOrderShowsTheCurrentRecord()
{
    makeModems({ { "Zoom 56K", "ATZ" }, { "Hayes", "AT&F" }, { "USR Sportster", "AT&F1" } });
    auto form = makeForm();
    QStringList models;
    for (int i = 0; i < form->ModemList->count(); ++i)
        models << form->ModemList->itemText(i);
    QCOMPARE(models, QStringList({ "Hayes", "USR Sportster", "Zoom 56K" }));
    QCOMPARE(form->ModemList->currentText(), currentModel());

    // Another window moves the main window's handle: the list follows.
    QVERIFY(modemsT_->locate(QStringLiteral("MODEMS"), QStringLiteral("Zoom 56K")));
    QCOMPARE(form->ModemList->currentText(), QStringLiteral("Zoom 56K"));

    // A model added elsewhere is listed when the list opens.
    modemsT_->append();
    modemsT_->setFieldText(QStringLiteral("MODEMS"), QStringLiteral("Courier"));
    modemsT_->post();
    emit form->ModemList->dropDown();
    QCOMPARE(form->ModemList->itemText(0), QStringLiteral("Courier"));
    QCOMPARE(form->ModemList->count(), 4);
}

void tst_SystemForm::choosingFromTheListSavesTheModel()
{
    makeModems({ { "Zoom 56K", "ATZ" }, { "Hayes", "AT&F" }, { "USR Sportster", "AT&F1" } });
    auto form = makeForm();
    showActive(form.get());
    form->ModemList->setFocus();
    form->ModemList->showPopup();
    QAbstractItemView* view = form->ModemList->view();
    QTRY_VERIFY(view->isVisible());
    view->setCurrentIndex(view->model()->index(1, 0));
    QTest::keyClick(view, Qt::Key_Return);
    QTRY_COMPARE(form->ModemModel->text(), QStringLiteral("USR Sportster"));
    QCOMPARE(currentModel(), QStringLiteral("USR Sportster"));
    QCOMPARE(form->ModemInit->text(), QStringLiteral("AT&F1"));
    QCOMPARE(saved(QStringLiteral("ModemModel")), QStringLiteral("USR Sportster"));
    QCOMPARE(saved(QStringLiteral("ModemInitString")), QStringLiteral("AT&F1"));
    QCOMPARE(saved(QStringLiteral("ComPort")), QStringLiteral("<missing>")); // only the two modem keys

    // No modem record was changed.
    QStringList records;
    for (modemsT_->first(); !modemsT_->eof(); modemsT_->next())
        records << modemsT_->fieldText(QStringLiteral("MODEMS")) + u'='
                + modemsT_->fieldText(QStringLiteral("INITSTR"));
    QCOMPARE(records, QStringList({ "Hayes=AT&F", "USR Sportster=AT&F1", "Zoom 56K=ATZ" }));
}

void tst_SystemForm::leavingTheListSavesTheModel()
{
    makeModems({ { "Hayes", "AT&F" }, { "Zoom 56K", "ATZ" } });
    auto form = makeForm();
    showActive(form.get());
    form->ModemList->setFocus();
    QTRY_VERIFY(form->ModemList->hasFocus());
    QCOMPARE(form->ModemList->currentText(), QStringLiteral("Hayes"));
    QTest::keyClick(form->ModemList, Qt::Key_Down); // chooses without opening the list
    QCOMPARE(currentModel(), QStringLiteral("Zoom 56K"));
    QCOMPARE(saved(QStringLiteral("ModemModel")), QStringLiteral("<missing>"));
    QTest::keyClick(form->ModemList, Qt::Key_Tab);
    QCOMPARE(form->ModemModel->text(), QStringLiteral("Zoom 56K"));
    QCOMPARE(saved(QStringLiteral("ModemModel")), QStringLiteral("Zoom 56K"));
    QCOMPARE(saved(QStringLiteral("ModemInitString")), QStringLiteral("ATZ"));
}

void tst_SystemForm::closingLeavesTheSavedModel_data()
{
    QTest::addColumn<QString>("focus");
    QTest::newRow("from the model list") << "ModemList";
    QTest::newRow("from the port field") << "comport";
}

// Closing the window is none of the moments that copy the current modem record: the saved model
// stays, even when the focus was in the model list.
void tst_SystemForm::closingLeavesTheSavedModel()
{
    QFETCH(QString, focus);
    makeModems({ { "Hayes", "AT&F" }, { "Zoom 56K", "ATZ" } });
    writeFile("[System]\nModemModel=Gone Modem\nModemInitString=ATX\n");
    auto form = makeForm();
    showActive(form.get());
    QCOMPARE(currentModel(), QStringLiteral("Hayes"));
    auto* field = form->findChild<QWidget*>(focus);
    field->setFocus();
    QTRY_VERIFY(field->hasFocus());
    QTest::keyClick(field, Qt::Key_X, Qt::AltModifier);
    QVERIFY(!form->isVisible());
    QCoreApplication::processEvents(); // what the close may have queued
    QCOMPARE(form->ModemModel->text(), QStringLiteral("Gone Modem"));
    QCOMPARE(saved(QStringLiteral("ModemModel")), QStringLiteral("Gone Modem"));
    QCOMPARE(saved(QStringLiteral("ModemInitString")), QStringLiteral("ATX"));
}

void tst_SystemForm::activationReloadsAndLocatesTheSavedModel()
{
    makeModems({ { "Hayes", "AT&F" }, { "Zoom 56K", "ATZ" } });
    writeFile("[System]\nModemModel=Zoom 56K\nModemInitString=ATZ\nOutsideLine=9\n");
    auto form = makeForm();
    QCOMPARE(currentModel(), QStringLiteral("Hayes")); // creation does not move the handle
    showActive(form.get());
    QCOMPARE(currentModel(), QStringLiteral("Zoom 56K"));
    QCOMPARE(form->ModemList->currentText(), QStringLiteral("Zoom 56K"));

    // An unsaved change is dropped when the operator comes back from another window.
    form->outsideline->setText(QStringLiteral("8"));
    QWidget other;
    other.show();
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    QVERIFY(modemsT_->locate(QStringLiteral("MODEMS"), QStringLiteral("Hayes")));
    form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(form.get()));
    QCOMPARE(form->outsideline->text(), QStringLiteral("9"));
    QCOMPARE(currentModel(), QStringLiteral("Zoom 56K"));
}

void tst_SystemForm::unknownSavedModelLeavesTheRecord()
{
    makeModems({ { "Hayes", "AT&F" }, { "Zoom 56K", "ATZ" } });
    writeFile("[System]\nModemModel=Gone Modem\nModemInitString=ATX\n");
    QVERIFY(modemsT_->locate(QStringLiteral("MODEMS"), QStringLiteral("Zoom 56K")));
    auto form = makeForm();
    form->FormActivate();
    QCOMPARE(currentModel(), QStringLiteral("Zoom 56K"));
    QCOMPARE(form->ModemModel->text(), QStringLiteral("Gone Modem"));
    QCOMPARE(form->ModemList->currentText(), QStringLiteral("Zoom 56K"));
    form->SaveBtnClick();
    QCOMPARE(saved(QStringLiteral("ModemModel")), QStringLiteral("Zoom 56K"));
    QCOMPARE(saved(QStringLiteral("ModemInitString")), QStringLiteral("ATZ"));
}

void tst_SystemForm::emptyModemsTableSavesEmptyModel()
{
    writeFile("[System]\nModemModel=Hayes\nModemInitString=AT&F\n");
    auto form = makeForm();
    QCOMPARE(form->ModemList->count(), 0);
    form->FormActivate();
    form->SaveBtnClick();
    QCOMPARE(saved(QStringLiteral("ModemModel")), QString());
    QCOMPARE(saved(QStringLiteral("ModemInitString")), QString());
}

void tst_SystemForm::missingModemsTableLeavesTheWindowWorking()
{
    store::Table closed; // the main window's handle, never opened (its start-up failed)
    config::TSystemForm form(*settings_, closed, dir_->path());
    QVERIFY(!form.lookupError().isEmpty());
    QCOMPARE(form.ModemList->count(), 0);
    form.FormActivate();
    form.ModemListCloseUp();
    form.outsideline->setText(QStringLiteral("9"));
    form.SaveBtnClick();
    QCOMPARE(saved(QStringLiteral("OutsideLine")), QStringLiteral("9"));
    QCOMPARE(saved(QStringLiteral("ModemModel")), QString());
}

void tst_SystemForm::unwritableFileIsReportedOnce()
{
    // Something that is not a file stands where pager.ini goes.
    QVERIFY(QDir().mkpath(config::pagerIniPath()));
    makeModems({ { "Hayes", "AT&F" } });
    auto form = makeForm();
    QSignalSpy errors(form.get(), &config::TSystemForm::errorReported);
    showActive(form.get());
    QCOMPARE(errors.size(), 0); // reading finds no file and gives the defaults
    form->outsideline->setText(QStringLiteral("9"));
    QVERIFY(!form->WritePagerIni());
    QCOMPARE(errors.size(), 1);
    QVERIFY(errors.at(0).at(0).toString().contains(config::pagerIniPath()));
    form->ModemListCloseUp(); // the same failure again: not a second box
    form->close();
    QCOMPARE(errors.size(), 1);
    QCOMPARE(form->outsideline->text(), QStringLiteral("9")); // nothing typed is lost

    // Shown again, the next failing close is reported again.
    showActive(form.get());
    form->close();
    QCOMPARE(errors.size(), 2);
}

void tst_SystemForm::typedFieldsAreTheWorkingSettingsUnsaved()
{
    auto form = makeForm();
    showActive(form.get());
    QSignalSpy changed(settings_.get(), &config::SystemSettings::changed);
    form->comport->setFocus();
    form->comport->lineEdit()->selectAll();
    QTest::keyClicks(form->comport, QStringLiteral("com3"));
    form->outsideline->setFocus();
    QTest::keyClicks(form->outsideline, QStringLiteral("9w"));
    form->DeliveryRetries->setFocus();
    form->DeliveryRetries->selectAll();
    QTest::keyClicks(form->DeliveryRetries, QStringLiteral("0"));
    QTest::keyClick(form->DeliveryRetries, Qt::Key_Tab); // leaving it corrects it
    QTest::keyClick(form->Debug, Qt::Key_Space);
    QCOMPARE(settings_->comPort(), QStringLiteral("COM3")); // the list's item, completed
    QCOMPARE(settings_->outsideLine(), QStringLiteral("9W"));
    QCOMPARE(settings_->deliveryRetries(), QStringLiteral("3"));
    QVERIFY(settings_->debug());
    QVERIFY(!changed.isEmpty());
    QVERIFY(!QFile::exists(config::pagerIniPath())); // nothing was saved for it

    // A change of the settings is what the window shows.
    settings_->setDirectMesgDelay(QStringLiteral("30"));
    QCOMPARE(form->DirectMesgDelay->text(), QStringLiteral("30"));
}

QTEST_MAIN(tst_SystemForm)
#include "tst_systemform.moc"
