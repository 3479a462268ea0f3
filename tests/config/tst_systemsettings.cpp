#include "config/inifile.h"
#include "config/systemsettings.h"

#include <QFile>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

class tst_SystemSettings : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init() { QFile::remove(config::pagerIniPath()); }
    void cleanup() { QFile::remove(config::pagerIniPath()); }

    void noFileGivesTheDefaults();
    void writesTheSevenKeysInOrderAndReadsThemBack();
    void readSignalsOnceAndOnlyOnChange();
    void corrections_data();
    void corrections();
    void scheduledSendingSwitch_data();
    void scheduledSendingSwitch();
};

void tst_SystemSettings::noFileGivesTheDefaults()
{
    config::SystemSettings settings;
    settings.read();
    QCOMPARE(settings.comPort(), QString());
    QCOMPARE(settings.deliveryRetries(), QStringLiteral("3"));
    QCOMPARE(settings.directMesgDelay(), QStringLiteral("10"));
    QVERIFY(!settings.pulseDial());
    QVERIFY(!settings.debug());
    QVERIFY(!QFile::exists(config::pagerIniPath())); // reading never writes
}

void tst_SystemSettings::writesTheSevenKeysInOrderAndReadsThemBack()
{
    config::SystemSettings settings;
    settings.setComPort(QStringLiteral("COM2"));
    settings.setModemModel(QStringLiteral("Hayes"));
    settings.setModemInitString(QStringLiteral("ATZ"));
    settings.setOutsideLine(QStringLiteral("9,"));
    settings.setPulseDial(true);
    settings.setDebug(true); // never saved
    QVERIFY(settings.write());
    QFile file(config::pagerIniPath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(),
        QByteArray("[System]\nComPort=COM2\nModemModel=Hayes\nModemInitString=ATZ\nOutsideLine=9,\n"
                   "DeliveryRetries=3\nDirectMesgDelay=10\nPulseDial=1\n"));
    config::SystemSettings again;
    again.read();
    QCOMPARE(again.modemInitString(), QStringLiteral("ATZ"));
    QVERIFY(again.pulseDial());
    QVERIFY(!again.debug());
}

void tst_SystemSettings::readSignalsOnceAndOnlyOnChange()
{
    const config::IniFile ini(config::pagerIniPath());
    QVERIFY(ini.writeString(config::SystemSettings::Section, QStringLiteral("ComPort"), QStringLiteral("COM1")));
    QVERIFY(ini.writeString(config::SystemSettings::Section, QStringLiteral("PulseDial"), QStringLiteral("1")));
    config::SystemSettings settings;
    QSignalSpy changed(&settings, &config::SystemSettings::changed);
    settings.read();
    QCOMPARE(changed.size(), 1);
    settings.read();
    QCOMPARE(changed.size(), 1);
}

void tst_SystemSettings::corrections_data()
{
    QTest::addColumn<QString>("retries");
    QTest::addColumn<QString>("correctedRetries");
    QTest::addColumn<QString>("delay");
    QTest::addColumn<QString>("correctedDelay");
    QTest::newRow("below the least") << "0" << "3" << "2" << "10";
    QTest::newRow("not a number") << "abc" << "abc" << "abc" << "10";
    QTest::newRow("kept") << "2" << "2" << "4" << "4";
}

void tst_SystemSettings::corrections()
{
    QFETCH(QString, retries);
    QFETCH(QString, delay);
    QTEST(config::SystemSettings::correctedDeliveryRetries(retries), "correctedRetries");
    QTEST(config::SystemSettings::correctedDirectMesgDelay(delay), "correctedDelay");
}

void tst_SystemSettings::scheduledSendingSwitch_data()
{
    QTest::addColumn<QString>("value"); // "<none>": no key
    QTest::addColumn<bool>("on");
    QTest::newRow("no key") << "<none>" << true;
    QTest::newRow("0") << "0" << false;
    QTest::newRow("1") << "1" << true;
    QTest::newRow("anything else") << "no" << true;
}

void tst_SystemSettings::scheduledSendingSwitch()
{
    QFETCH(QString, value);
    if (value != QStringLiteral("<none>"))
        QVERIFY(config::IniFile(config::pagerIniPath())
                    .writeString(config::SystemSettings::Section, config::SystemSettings::SendMessagesKey, value));
    QTEST(config::SystemSettings::scheduledSendingEnabled(), "on");
}

QTEST_GUILESS_MAIN(tst_SystemSettings)
#include "tst_systemsettings.moc"
