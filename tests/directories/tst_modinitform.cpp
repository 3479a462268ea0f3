// The "Modem Initialization Strings" window, opened from the System Configuration window, on a real
// data folder and a real pager.ini, driven through its widgets offscreen.

#include "app/mainform.h"
#include "app/systemsetup.h"
#include "config/inifile.h"
#include "config/modellist.h"
#include "config/systemform.h"
#include "directories/modinitform.h"
#include "support/datafolder.h"
#include "support/records.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>

using directories::TModInitForm;

namespace {

void addModem(core::Desk& desk, const QString& model, const QString& init)
{
    desk.ModemsT().append();
    desk.ModemsT().setFieldText(store::modems::Modems, model);
    desk.ModemsT().setFieldText(store::modems::InitStr, init);
    desk.ModemsT().post();
}

QString savedInit()
{
    return config::IniFile(config::pagerIniPath())
        .readString(QStringLiteral("System"), config::SystemSettings::ModemInitStringKey, QString());
}

} // namespace

class tst_ModInitForm : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<testsupport::DataFolder> dir_;
    std::unique_ptr<TMainForm> main_;
    config::TSystemForm* system_ = nullptr;
    TModInitForm* form_ = nullptr;

    QStringList modemsOnDisk()
    {
        return testsupport::onDisk(dir_->path(), QStringLiteral("MODEMS.DBF"), QStringLiteral("Modems"),
            { store::modems::Modems, store::modems::InitStr });
    }
    // Models Beta and Alpha, Beta saved as the System window's choice; the modem window open.
    void openWindow()
    {
        const config::IniFile ini(config::pagerIniPath());
        QVERIFY(ini.writeString(QStringLiteral("System"), config::SystemSettings::ModemModelKey, QStringLiteral("Beta")));
        QVERIFY(ini.writeString(QStringLiteral("System"), config::SystemSettings::ModemInitStringKey, QStringLiteral("ATZ~")));
        main_ = std::make_unique<TMainForm>(dir_->path());
        addModem(main_->desk(), QStringLiteral("Beta"), QStringLiteral("ATZ~"));
        addModem(main_->desk(), QStringLiteral("Alpha"), QStringLiteral("AT&F~"));
        system_ = CreateSystemForm(*main_);
        form_ = main_->findChild<TModInitForm*>();
        QVERIFY(form_);
        main_->show();
        main_->SetupMenu->trigger();
        QTRY_COMPARE(QApplication::activeWindow(), system_);
        QVERIFY(system_->ModemInitMenu->isEnabled());
        system_->ModemInitMenu->trigger();
        QTRY_COMPARE(QApplication::activeWindow(), form_);
    }

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init()
    {
        QFile::remove(config::pagerIniPath());
        dir_ = std::make_unique<testsupport::DataFolder>();
        QVERIFY(dir_->isValid());
    }
    void cleanup()
    {
        main_.reset();
        dir_.reset();
        QFile::remove(config::pagerIniPath());
    }

    // The finder makes a model current without changing it; a string changed here reaches the
    // setting only through the System window's Save.
    void changedStringReachesTheSettingOnlyThroughSystemSave()
    {
        openWindow();
        if (QTest::currentTestFailed())
            return;
        QTRY_COMPARE(form_->ModemModel->text(), QStringLiteral("Alpha")); // the first in "Modems" order
        QCOMPARE(form_->ModemLookup->count(), 2);
        form_->ModemLookup->setCurrentIndex(1);
        emit form_->ModemLookup->activated(1);
        QTRY_COMPARE(form_->InitString->text(), QStringLiteral("ATZ~"));

        form_->InitString->setFocus();
        form_->InitString->selectAll();
        QTest::keyClicks(form_->InitString, QStringLiteral("ATE0~"));
        QTest::keyClick(form_, Qt::Key_S, Qt::AltModifier);
        QVERIFY(!form_->isVisible());
        QCOMPARE(modemsOnDisk(), QStringList({ "Alpha|AT&F~", "Beta|ATE0~" }));
        QCOMPARE(savedInit(), QStringLiteral("ATZ~"));

        main_->SetupMenu->trigger();
        QTRY_COMPARE(QApplication::activeWindow(), system_);
        QTRY_COMPARE(system_->ModemList->currentText(), QStringLiteral("Beta"));
        system_->SaveBtn->click();
        QCOMPARE(savedInit(), QStringLiteral("ATE0~"));
    }

    // Alt+A, the two fields typed, Enter moving between them, Save: the new model is written and the
    // System window lists it.
    void addedModelIsWrittenAndListed()
    {
        openWindow();
        if (QTest::currentTestFailed())
            return;
        QTest::keyClick(form_, Qt::Key_A, Qt::AltModifier);
        form_->ModemModel->setFocus();
        QTest::keyClicks(form_->ModemModel, QStringLiteral("US Robotics "));
        QTest::qWait(20);
        QTest::keyClicks(form_->ModemModel, QStringLiteral("Sportster"));
        QTest::keyClick(form_->ModemModel, Qt::Key_Return);
        QCOMPARE(QApplication::focusWidget(), form_->InitString);
        QTest::keyClicks(form_->InitString, QStringLiteral("ATX4~"));
        QTest::mouseClick(form_->SaveBtn, Qt::LeftButton);
        QVERIFY(!form_->isVisible());
        QCOMPARE(modemsOnDisk(), QStringList({ "Alpha|AT&F~", "Beta|ATZ~", "US Robotics Sportster|ATX4~" }));
        main_->SetupMenu->trigger();
        QTRY_COMPARE(QApplication::activeWindow(), system_);
        QTRY_COMPARE(system_->ModemList->count(), 3);
    }
};

QTEST_MAIN(tst_ModInitForm)
#include "tst_modinitform.moc"
