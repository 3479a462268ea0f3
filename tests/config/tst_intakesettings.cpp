// pager.ini's [Intake] section: its defaults (nothing listens), its values, and the values that do
// not read as a port or a size.
#include "config/inifile.h"
#include "config/intakesettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTest>

class tst_IntakeSettings : public QObject {
    Q_OBJECT

    static void write(const QByteArray& lines)
    {
        QDir().mkpath(QFileInfo(config::pagerIniPath()).path());
        QFile ini(config::pagerIniPath());
        QVERIFY(ini.open(QIODevice::WriteOnly));
        QCOMPARE(ini.write(lines), lines.size());
    }

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init() { QFile::remove(config::pagerIniPath()); }
    void cleanup() { QFile::remove(config::pagerIniPath()); }

    void defaultsListenNowhere()
    {
        QString faults;
        const config::IntakeSettings s = config::IntakeSettings::read(&faults);
        QCOMPARE(s.listen, QStringLiteral("127.0.0.1"));
        QCOMPARE(s.snppPort, quint16(0));
        QCOMPARE(s.httpPort, quint16(0));
        QCOMPARE(s.maxBody, qint64(65536));
        QVERIFY(!s.tls());
        QVERIFY(faults.isEmpty());
    }

    void values_data()
    {
        QTest::addColumn<QByteArray>("section");
        QTest::addColumn<int>("snpp");
        QTest::addColumn<int>("http");
        QTest::addColumn<qint64>("maxBody");
        QTest::addColumn<bool>("tls");
        QTest::addColumn<QString>("fault");
        QTest::newRow("set") << QByteArray("[intake]\nsnppport=4444\nHttpPort = 8444\nMaxBody=1000\nTlsCertificate=/c.pem\nTlsKey=/k.pem\n")
                             << 4444 << 8444 << qint64(1000) << true << QString();
        QTest::newRow("a certificate without its key") << QByteArray("[Intake]\nTlsCertificate=/c.pem\n") << 0 << 0 << qint64(65536) << false << QString();
        QTest::newRow("port out of range") << QByteArray("[Intake]\nSnppPort=70000\nHttpPort=80\n") << 0 << 80 << qint64(65536) << false
                                           << QStringLiteral("SnppPort=70000");
        QTest::newRow("port not a number") << QByteArray("[Intake]\nHttpPort=eighty\n") << 0 << 0 << qint64(65536) << false
                                           << QStringLiteral("HttpPort=eighty");
        QTest::newRow("size not a number") << QByteArray("[Intake]\nMaxBody=-5\n") << 0 << 0 << qint64(65536) << false
                                           << QStringLiteral("MaxBody=-5");
    }
    void values()
    {
        QFETCH(QByteArray, section);
        write(section);
        QString faults;
        const config::IntakeSettings s = config::IntakeSettings::read(&faults);
        QTEST(int(s.snppPort), "snpp");
        QTEST(int(s.httpPort), "http");
        QTEST(s.maxBody, "maxBody");
        QTEST(s.tls(), "tls");
        QFETCH(QString, fault);
        QCOMPARE(faults.isEmpty(), fault.isEmpty());
        QVERIFY2(faults.contains(fault), qPrintable(faults));
    }
};

QTEST_GUILESS_MAIN(tst_IntakeSettings)
#include "tst_intakesettings.moc"
