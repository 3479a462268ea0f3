#include "config/inifile.h"
#include "config/systemsettings.h"
#include "core/desk.h"
#include "core/engineparams.h"
#include "paging/pageengine.h"

#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

class tst_EngineParams : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init() { QFile::remove(config::pagerIniPath()); }

    void retries_data();
    void retries();
    void numericDelay_data();
    void numericDelay();
    void engineProperties_data();
    void engineProperties();
    void workingSettingsReachTheDeskUnsaved();
    void theDeskReadsTheFile();
};

void tst_EngineParams::retries_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value");
    QTest::newRow("0 gives 1") << "0" << 1;
    QTest::newRow("negative gives 1") << "-4" << 1;
    QTest::newRow("1") << "1" << 1;
    QTest::newRow("2") << "2" << 2;
    QTest::newRow("3") << "3" << 3;
    QTest::newRow("7 gives 3") << "7" << 3;
    QTest::newRow("empty: 10, capped") << "" << 3;
    QTest::newRow("ABC: 10, capped") << "ABC" << 3;
    QTest::newRow("2.5 is not whole") << "2.5" << 3;
    QTest::newRow("beyond 32 bits") << "99999999999" << 3;
    QTest::newRow("blanks around") << " 2 " << 2;
}

void tst_EngineParams::retries()
{
    QFETCH(QString, text);
    QFETCH(int, value);
    paging::TPageEngine engine;
    core::EngineSettings settings;
    settings.deliveryRetries = text;
    settings.directMesgDelay = QStringLiteral("10");
    QCOMPARE(core::applyEngineSettings(settings, engine).deliveryRetries, value);
}

void tst_EngineParams::numericDelay_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value");
    QTest::newRow("2 gives 4") << "2" << 4;
    QTest::newRow("0 gives 4") << "0" << 4;
    QTest::newRow("4") << "4" << 4;
    QTest::newRow("empty gives 10") << "" << 10;
    QTest::newRow("ABC gives 10") << "ABC" << 10;
    QTest::newRow("45 has no upper bound") << "45" << 45;
    QTest::newRow("largest") << "2147483647" << 2147483647;
}

void tst_EngineParams::numericDelay()
{
    QFETCH(QString, text);
    QFETCH(int, value);
    paging::TPageEngine engine;
    core::EngineSettings settings;
    settings.deliveryRetries = QStringLiteral("3");
    settings.directMesgDelay = text;
    QCOMPARE(core::applyEngineSettings(settings, engine).directMesgDelay, value);
}

void tst_EngineParams::engineProperties_data()
{
    QTest::addColumn<QString>("comport");
    QTest::addColumn<QString>("modemInit");
    QTest::addColumn<bool>("pulse");
    QTest::addColumn<QString>("initstr");
    QTest::addColumn<QString>("dialPrefix");
    QTest::newRow("init string gets ~") << "COM2"
                                        << "ATZ" << false << "ATZ~"
                                        << "";
    QTest::newRow("empty init string without ~") << "TAPI"
                                                 << "" << false << ""
                                                 << "";
    QTest::newRow("pulse dialling") << "COM1"
                                    << "AT&F" << true << "AT&F~"
                                    << "ATDP";
    QTest::newRow("typed port as is") << "/dev/pts/7"
                                      << "" << true << ""
                                      << "ATDP";
    QTest::newRow("empty port") << ""
                                << "" << false << ""
                                << "";
}

void tst_EngineParams::engineProperties()
{
    QFETCH(QString, comport);
    QFETCH(QString, modemInit);
    QFETCH(bool, pulse);
    QFETCH(QString, initstr);
    QFETCH(QString, dialPrefix);
    paging::TPageEngine engine;
    // Values of a previous page must not survive.
    engine.Modem_initstr = QStringLiteral("OLD~");
    engine.dial_initstr = QStringLiteral("ATDP");
    core::EngineSettings settings;
    settings.comport = comport;
    settings.modemInit = modemInit;
    settings.pulseDial = pulse;
    core::applyEngineSettings(settings, engine);
    QCOMPARE(engine.ComPort, comport);
    QCOMPARE(engine.Modem_initstr, initstr);
    QCOMPARE(engine.dial_initstr, dialPrefix);
    QVERIFY(engine.Debugfile.isEmpty());
}

void tst_EngineParams::workingSettingsReachTheDeskUnsaved()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    core::Desk desk(dir.path());
    QCOMPARE(desk.open(), QString());
    config::SystemSettings& settings = desk.Settings();
    settings.setComPort(QStringLiteral("COM3"));
    settings.setModemInitString(QStringLiteral("ATZ"));
    settings.setPulseDial(true);
    settings.setDeliveryRetries(QStringLiteral("2"));
    settings.setDirectMesgDelay(QStringLiteral("30"));
    settings.setDebug(true);

    core::SetEngineParams(desk);
    QCOMPARE(desk.Engine1().ComPort, QStringLiteral("COM3"));
    QCOMPARE(desk.Engine1().Modem_initstr, QStringLiteral("ATZ~"));
    QCOMPARE(desk.Engine1().dial_initstr, QStringLiteral("ATDP"));
    QCOMPARE(desk.Engine1().Debugfile, QStringLiteral("debug.txt"));
    QCOMPARE(desk.DeliveryRetriesValue(), 2);
    QCOMPARE(desk.DirectMesgDelayValue(), 30);
    QVERIFY(!QFile::exists(config::pagerIniPath())); // nothing was saved for it

    settings.setDebug(false);
    settings.setPulseDial(false);
    settings.setDeliveryRetries(QStringLiteral("0"));
    core::SetEngineParams(desk);
    QCOMPARE(desk.Engine1().Debugfile, QStringLiteral("debug.txt"));
    QCOMPARE(desk.Engine1().dial_initstr, QString());
    QCOMPARE(desk.DeliveryRetriesValue(), 1);
}

void tst_EngineParams::theDeskReadsTheFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    core::Desk desk(dir.path());
    core::SetEngineParams(desk); // no file: the defaults
    QCOMPARE(desk.Engine1().ComPort, QString());
    QCOMPARE(desk.DeliveryRetriesValue(), 3);
    QCOMPARE(desk.DirectMesgDelayValue(), 10);

    const config::IniFile ini(config::pagerIniPath());
    QVERIFY(ini.writeString(
        QStringLiteral("System"), QStringLiteral("ComPort"), QStringLiteral("tcp:localhost:4000")));
    QVERIFY(
        ini.writeString(QStringLiteral("System"), QStringLiteral("ModemInitString"), QStringLiteral("ATE0")));
    QVERIFY(ini.writeString(QStringLiteral("System"), QStringLiteral("PulseDial"), QStringLiteral("1")));
    QVERIFY(
        ini.writeString(QStringLiteral("System"), QStringLiteral("DeliveryRetries"), QStringLiteral("1")));
    QVERIFY(
        ini.writeString(QStringLiteral("System"), QStringLiteral("DirectMesgDelay"), QStringLiteral("5")));
    core::Desk next(dir.path()); // read when the desk is made (and again when the System window reloads)
    core::SetEngineParams(next);
    QCOMPARE(next.Engine1().ComPort, QStringLiteral("tcp:localhost:4000"));
    QCOMPARE(next.Engine1().Modem_initstr, QStringLiteral("ATE0~"));
    QCOMPARE(next.Engine1().dial_initstr, QStringLiteral("ATDP"));
    QVERIFY(next.Engine1().Debugfile.isEmpty());
    QCOMPARE(next.DeliveryRetriesValue(), 1);
    QCOMPARE(next.DirectMesgDelayValue(), 5);
}

QTEST_MAIN(tst_EngineParams)
#include "tst_engineparams.moc"
