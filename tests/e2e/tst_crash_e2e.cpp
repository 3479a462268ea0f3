// The desk as a real process, killed: the program binary runs offscreen on a data folder of its own,
// with the carrier simulator failing every call, and is ended with SIGKILL. What was undelivered
// must be on disk and come back at the next start.

#include "app/mainform.h"
#include "core/queues.h"
#include "store/memtable.h"
#include "support/records.h"
#include "tests/paging/pagersimprocess.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

class tst_CrashE2E : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void failedPageSurvivesAKill();

private:
    static void drop(const QString& folder, const QByteArray& bytes)
    {
        QFile file(QDir(folder).filePath(QStringLiteral("plimomsgs.txt")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
};

void tst_CrashE2E::failedPageSurvivesAKill()
{
    const QString program = QStringLiteral(PLIMO_BINARY_DIR "/app/plimopager");
    QVERIFY2(QFile::exists(program), "build plimopager first");
    PagerSimProcess sim;
    QVERIFY(sim.start({ "--fault", "busy" }));

    QTemporaryDir root;
    const QString data = root.filePath(QStringLiteral("data"));
    const QString work = root.filePath(QStringLiteral("work"));
    const QString config = root.filePath(QStringLiteral("config"));
    for (const QString& folder : { data, work, config + QStringLiteral("/PlimoPager32") })
        QVERIFY(QDir().mkpath(folder));
    {
        QFile ini(config + QStringLiteral("/PlimoPager32/pager.ini"));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write(("[System]\nComPort=" + sim.device() + "\n").toUtf8());
    }
    {
        core::Desk desk(data);
        QCOMPARE(desk.open(), QString());
        testsupport::addCarrier(desk, QStringLiteral("Metro Paging"), QStringLiteral("555-0101"),
            QStringLiteral("1200"), 80, QStringLiteral("pw"));
    }

    QProcess desk;
    desk.setProgram(program);
    desk.setWorkingDirectory(work);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("PLIMOPAGER_DEMO_DATA"), data);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
    env.insert(QStringLiteral("HOME"), root.path());
    desk.setProcessEnvironment(env);
    desk.setProcessChannelMode(QProcess::ForwardedChannels);
    drop(work, "555-0199\nMetro Paging\nCrash test\n");
    desk.start();
    QVERIFY(desk.waitForStarted(5000));

    // The page is taken, tried twice (its fixed retries from a message file) and given up.
    QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(work + QStringLiteral("/plimomsgs.txt")), 15000);
    QVERIFY(sim.waitFor(QStringLiteral("dial"), 2, 20000));
    // A second file is read only once the send queue is empty: the page has gone to the pending
    // queue by then.
    drop(work, "x\nNo Such Carrier\nnothing\n");
    QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(work + QStringLiteral("/plimomsgs.txt")), 15000);
    desk.kill();
    QVERIFY(desk.waitForFinished(5000));
    QCOMPARE(desk.exitStatus(), QProcess::CrashExit);

    store::TMemTable onDisk;
    onDisk.loadFromFile(work + QStringLiteral("/PendMsgs"));
    QCOMPARE(onDisk.rowCount(), 1);
    onDisk.first();
    QCOMPARE(onDisk.fieldText(QStringLiteral("UserOrGroupName")), QStringLiteral("From File 555-0199"));

    // The next start shows it pending, and does not send it by itself.
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(work));
    {
        TMainForm next(data);
        QCOMPARE(next.desk().startupReport(), QString());
        QCOMPARE(next.desk().SendMsgs().rowCount(), 0);
        next.Timer1Timer();
        QCOMPARE(next.pendingButton->text(), QStringLiteral("Pe&nding Msgs: 1"));
    }
    QDir::setCurrent(previous);
    QCOMPARE(sim.transcript(QStringLiteral("dial")).size(), 2);
}

QTEST_MAIN(tst_CrashE2E)
#include "tst_crash_e2e.moc"
