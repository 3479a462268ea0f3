// plimopagerd run as a service and as one pass, on a real data folder, with the carrier simulator
// on a pseudo-terminal; the desk and a second service refused on a folder it holds; a lock file
// removed under it, or one that is a link.
#include "compose/memberfile.h"
#include "core/desk.h"
#include "store/fieldnames.h"
#include "support/filebytes.h"
#include "support/pendingfile.h"
#include "support/records.h"
#include "tests/paging/pagersimprocess.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <unistd.h>

using namespace testsupport;

namespace {

QString program()
{
    return QStringLiteral(PLIMO_BINARY_DIR "/service/plimopagerd");
}

} // namespace

class tst_PlimoPagerd : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir_;
    QString data_;
    QString ini_;

    void writeSettings(const QString& device)
    {
        QFile ini(ini_);
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write(QStringLiteral("[System]\nComPort=%1\nDeliveryRetries=1\n").arg(device).toUtf8());
    }
    void drop(const QByteArray& text)
    {
        QFile file(data_ + QStringLiteral("/plimomsgs.txt"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text);
    }
    void start(QProcess& p, const QStringList& args)
    {
        p.setProgram(program());
        p.setArguments(QStringList { QStringLiteral("--data"), data_, QStringLiteral("--config"), ini_ } + args);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PLIMOPAGERD_TICK_MS"), QStringLiteral("100"));
        p.setProcessEnvironment(env);
        p.start();
        QVERIFY(p.waitForStarted(5000));
    }
    // One run to its end: the exit status, its standard output in `out`.
    int runOnce(const QStringList& args, QString* out = nullptr, QString* err = nullptr)
    {
        QProcess p;
        start(p, args);
        if (!p.waitForFinished(60000)) {
            p.kill();
            return -1;
        }
        if (out)
            *out = QString::fromUtf8(p.readAllStandardOutput());
        if (err)
            *err = QString::fromUtf8(p.readAllStandardError());
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }
    static bool waitForOutput(QProcess& p, const QString& text, QString* seen)
    {
        QDeadlineTimer deadline(20000);
        while (!seen->contains(text)) {
            if (deadline.hasExpired() || !p.waitForReadyRead(int(deadline.remainingTime())))
                return seen->contains(text);
            *seen += QString::fromUtf8(p.readAllStandardOutput());
        }
        return true;
    }

private slots:
    void init()
    {
        data_ = dir_.filePath(QStringLiteral("data-%1").arg(QTest::currentTestFunction()));
        ini_ = dir_.filePath(QStringLiteral("pager-%1.ini").arg(QTest::currentTestFunction()));
        QVERIFY(QDir().mkpath(data_));
        core::Desk desk(data_);
        QCOMPARE(desk.open(), QString());
        addCarrier(desk, QStringLiteral("Metro"), QStringLiteral("5550101"), QStringLiteral("1200"), 80,
            QStringLiteral("pw"));
        addUser(desk, QStringLiteral("Alice"), QStringLiteral("Metro"), QStringLiteral("1001"));
        desk.SchedMsgT().append();
        desk.SchedMsgT().setFieldText(store::schedmsg::DDate, QDate::currentDate().toString(QStringLiteral("yyyy/MM/dd")));
        desk.SchedMsgT().setFieldText(store::schedmsg::DTime, QStringLiteral("00:00:00"));
        desk.SchedMsgT().setFieldText(store::schedmsg::UserName, QStringLiteral("Alice"));
        desk.SchedMsgT().setFieldText(store::schedmsg::MustSend, QStringLiteral("Y"));
        desk.SchedMsgT().setMemoLines(store::schedmsg::Msg, { QStringLiteral("Scheduled hello") });
        desk.SchedMsgT().post();
        QVERIFY(desk.saveQueues().isEmpty());
    }

    void aPassSendsTheDroppedFileAndTheDueRecord()
    {
        PagerSimProcess sim;
        QVERIFY(sim.start({}));
        writeSettings(sim.device());
        drop("Alice\r\nMetro\r\nDropped hello\r\n");
        QString out;
        QCOMPARE(runOnce({ QStringLiteral("--once") }, &out), 0);
        QStringList texts;
        for (const QJsonObject& page : sim.transcript(QStringLiteral("page")))
            texts << page.value(QStringLiteral("text")).toString();
        texts.sort();
        QCOMPARE(texts, QStringList({ "Dropped hello", "Scheduled hello" }));
        QVERIFY2(out.contains(QStringLiteral("  Sent to Alice: Scheduled hello")), qPrintable(out));
        QVERIFY(!QFile::exists(data_ + QStringLiteral("/plimomsgs.txt")));
        // The scheduled page went through a preparation, which logs it.
        core::Desk desk(data_);
        QCOMPARE(desk.open(), QString());
        QCOMPARE(logCount(desk), 1);
        QCOMPARE(desk.SchedMsgT().isEmpty(), true);
    }

    void aPassOverWctpDoesNotWaitForTheCarriersReport()
    {
        PagerSimProcess sim;
        QVERIFY(sim.start({ QStringLiteral("--wctp"), QStringLiteral("0") }));
        writeSettings(QString()); // no modem at all: the carrier's one path is WCTP
        {
            core::Desk desk(data_);
            QCOMPARE(desk.open(), QString());
            using namespace store::carrpath;
            desk.CarrPathT().append();
            desk.CarrPathT().setFieldText(PagerComp, QStringLiteral("Metro"));
            desk.CarrPathT().setFieldText(PathNo, QStringLiteral("01"));
            desk.CarrPathT().setFieldText(Method, QStringLiteral("WCTP"));
            desk.CarrPathT().setFieldText(Address, sim.wctp());
            desk.CarrPathT().setFieldText(Login, QStringLiteral("desk"));
            desk.CarrPathT().setFieldBool(Enabled, true);
            desk.CarrPathT().post();
        }
        QElapsedTimer took;
        took.start();
        QString out;
        QCOMPARE(runOnce({ QStringLiteral("--once") }, &out), 0);
        // The first question to the carrier would come 30 s after the submit.
        QVERIFY2(took.elapsed() < 20000, qPrintable(out));
        QVERIFY2(out.contains(QStringLiteral("  Sent to Alice via WCTP %1: Scheduled hello").arg(sim.wctp())),
            qPrintable(out));
        QCOMPARE(onDisk(data_, QStringLiteral("DLVSTAT.DBF"), QStringLiteral("BY_TRACK"),
                     { store::dlvstat::LogRec, store::dlvstat::UserName, store::dlvstat::Status }),
            QStringList { "0000000001|Alice|ACCEPTED" });
    }

    void aBusyCarrierKeepsThePagePendingUntilItIsResent()
    {
        {
            PagerSimProcess busy;
            QVERIFY(busy.start({ QStringLiteral("--fault"), QStringLiteral("busy") }));
            writeSettings(busy.device());
            drop("1234\r\nMetro\r\nCall me\r\n");
            QCOMPARE(runOnce({ QStringLiteral("--once") }), 1);
        }
        QString listed;
        QCOMPARE(runOnce({ QStringLiteral("--pending") }, &listed), 0);
        // The pending window's columns: recipient, pager ID, carrier, attempts, last attempt, reason
        // and message; never the terminal's password.
        QVERIFY2(QRegularExpression(QStringLiteral("(^|\n)From File 1234\t1234\tMetro\t2\t"
                                                   "\\d{4}/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d\tLine busy\tCall me\n"))
                     .match(listed)
                     .hasMatch(),
            qPrintable(listed));
        QVERIFY(!listed.contains(QStringLiteral("pw")));

        PagerSimProcess sim;
        QVERIFY(sim.start({}));
        writeSettings(sim.device());
        QCOMPARE(runOnce({ QStringLiteral("--resend-pending"), QStringLiteral("--once") }), 0);
        QVERIFY(sim.waitFor(QStringLiteral("page"), 2));
        QCOMPARE(runOnce({ QStringLiteral("--pending") }, &listed), 0);
        QCOMPARE(listed, QString());
    }

    // A group of five on three carriers (the modem, SNPP, WCTP): a row and a named line for each
    // member. A pass that refused a page says so in its exit status.
    void aGroupOnThreeCarriersIsSaidPerMember()
    {
        PagerSimProcess sim;
        QVERIFY(sim.start({ "--snpp", "0", "--wctp", "0", "--wctp-delivered-ms", "-1" }));
        writeSettings(sim.device());
        {
            core::Desk desk(data_);
            QCOMPARE(desk.open(), QString());
            addCarrier(desk, QStringLiteral("Snpp Co"), QString(), QStringLiteral("1200"), 80, QString());
            addCarrier(desk, QStringLiteral("Wctp Co"), QString(), QStringLiteral("1200"), 80, QString());
            using namespace store::carrpath;
            for (const auto& [carrier, method, address] : { std::tuple { "Snpp Co", "SNPP", sim.snpp() },
                     std::tuple { "Wctp Co", "WCTP", sim.wctp() } }) {
                desk.CarrPathT().append();
                desk.CarrPathT().setFieldText(PagerComp, QString::fromLatin1(carrier));
                desk.CarrPathT().setFieldText(PathNo, QStringLiteral("01"));
                desk.CarrPathT().setFieldText(Method, QString::fromLatin1(method));
                desk.CarrPathT().setFieldText(Address, address);
                desk.CarrPathT().setFieldText(Login, QStringLiteral("desk"));
                desk.CarrPathT().setFieldBool(Enabled, true);
                desk.CarrPathT().post();
            }
            addUser(desk, QStringLiteral("Amos"), QStringLiteral("Metro"), QStringLiteral("1002"));
            addUser(desk, QStringLiteral("Dave"), QStringLiteral("Snpp Co"), QStringLiteral("2001"));
            addUser(desk, QStringLiteral("Dora"), QStringLiteral("Snpp Co"), QStringLiteral("2002"));
            addUser(desk, QStringLiteral("Erin"), QStringLiteral("Wctp Co"), QStringLiteral("3001"));
            addGroup(desk, QStringLiteral("Night Shift"));
            QVERIFY(compose::writeMemberFile(compose::memberFilePath(data_, QStringLiteral("Night Shift")),
                { "Alice", "Amos", "Dave", "Dora", "Erin" })
                        .isEmpty());
            desk.SchedMsgT().first();
            desk.SchedMsgT().edit();
            desk.SchedMsgT().setFieldText(store::schedmsg::UserName, QStringLiteral("Group: Night Shift"));
            desk.SchedMsgT().post();
        }
        QString out;
        const int status = runOnce({ QStringLiteral("--once") }, &out);
        QVERIFY2(status == 0, qPrintable(out));
        for (const char* who : { "Alice", "Amos", "Dave", "Dora", "Erin" })
            QVERIFY2(out.contains(QStringLiteral("  Sent to %1 (Group: Night Shift)").arg(QLatin1String(who))), qPrintable(out));
        QStringList rows = onDisk(data_, QStringLiteral("DLVSTAT.DBF"), QString(),
            { store::dlvstat::UserName, store::dlvstat::Method, store::dlvstat::Status });
        rows.sort();
        QCOMPARE(rows,
            QStringList({ "Alice|MODEM|SENT", "Amos|MODEM|SENT", "Dave|SNPP|SENT", "Dora|SNPP|SENT",
                "Erin|WCTP|ACCEPTED" }));

        drop("1234\r\nNo Such Carrier\r\nLost\r\n");
        QCOMPARE(runOnce({ QStringLiteral("--once") }, &out), 1);
        QVERIFY2(out.contains(QStringLiteral("1 pages of this pass were refused")), qPrintable(out));
    }

    // A mistyped --data is said, and no empty folder is made in its place.
    void aMissingDataFolderIsRefused()
    {
        const QString missing = dir_.filePath(QStringLiteral("no-such-folder"));
        QProcess p;
        p.start(program(), { QStringLiteral("--data"), missing, QStringLiteral("--once") });
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 2);
        QVERIFY(QString::fromUtf8(p.readAllStandardError()).contains(QStringLiteral("does not exist")));
        QVERIFY(!QFileInfo::exists(missing));
    }

    void theFolderHasOneRunnerAndAStopKeepsThePageUnderWay()
    {
        PagerSimProcess sim;
        // A 300-baud line (30 characters a second): the stop comes while the terminal is taking a
        // page.
        QVERIFY(sim.start({ QStringLiteral("--baud"), QStringLiteral("300") }));
        writeSettings(sim.device());
        QProcess service;
        start(service, {});
        QString seen;
        QVERIFY2(waitForOutput(service, QStringLiteral("Paging service on"), &seen), qPrintable(seen));

        // A second service and the desk are refused, naming the first.
        QString err;
        QCOMPARE(runOnce({ QStringLiteral("--once") }, nullptr, &err), 2);
        const QString named = QStringLiteral("plimopagerd (process %1 on ").arg(service.processId());
        QVERIFY2(err.contains(named), qPrintable(err));
        QProcess desk;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PLIMOPAGER_DEMO_DATA"), data_);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        desk.setProcessEnvironment(env);
        desk.setProcessChannelMode(QProcess::MergedChannels);
        desk.start(QStringLiteral(PLIMO_BINARY_DIR "/app/plimopager"), {});
        QVERIFY(desk.waitForStarted(5000));
        QString deskSaid;
        QDeadlineTimer deadline(20000);
        while (!deskSaid.contains(named) && !deadline.hasExpired() && desk.waitForReadyRead(1000))
            deskSaid += QString::fromUtf8(desk.readAll());
        desk.kill(); // its box waits for an operator
        desk.waitForFinished(5000);
        QVERIFY2(deskSaid.contains(named), qPrintable(deskSaid));

        // A page under way when the service is stopped stays pending, marked as one that may have
        // been delivered once its block went to the terminal.
        drop("1234\r\nMetro\r\nCut short " + QByteArray(200, 'x') + "\r\n");
        QVERIFY2(waitForOutput(service, QStringLiteral("Sending message to From File 1234"), &seen), qPrintable(seen));
        // The side file also notes the page's carrier; the mark is a line of its own.
        const auto marked = [this] {
            QFile side(data_ + QStringLiteral("/PendMsgs.maybe"));
            const QList<QByteArray> lines = side.open(QIODevice::ReadOnly) ? side.readAll().split('\n') : QList<QByteArray>();
            return std::any_of(lines.cbegin(), lines.cend(), [](const QByteArray& line) { return line.size() == 40; });
        };
        QTRY_VERIFY_WITH_TIMEOUT(marked(), 10000);
        ::kill(pid_t(service.processId()), SIGTERM);
        QVERIFY(service.waitForFinished(20000));
        QCOMPARE(service.exitStatus(), QProcess::NormalExit);
        QCOMPARE(service.exitCode(), 0);
        QString listed;
        QCOMPARE(runOnce({ QStringLiteral("--pending") }, &listed), 0);
        QVERIFY2(listed.contains(QStringLiteral("Cut short")), qPrintable(listed));
        QVERIFY2(listed.contains(QStringLiteral("\tmay have been delivered\n")), qPrintable(listed));
        // The next start says so in a status line (its pass may page the scheduled record too).
        QString said;
        QVERIFY(runOnce({ QStringLiteral("--once") }, &said) >= 0);
        QVERIFY2(said.contains(QStringLiteral("may have been delivered: the desk stopped while the terminal was taking it")),
            qPrintable(said));
    }

    // The lock file removed under a running service: at its next tick it says so, keeps its pages in
    // PendMsgs.lost-PID (PendMsgs may be another runner's now) and ends with 2. The next start takes
    // them up, but not a page the pending file holds already.
    void aRemovedLockFileEndsTheServiceAndTheNextStartTakesItsPages()
    {
        {
            core::Desk desk(data_);
            QCOMPARE(desk.open(), QString());
            desk.SchedMsgT().deleteRecord();
        }
        PagerSimProcess busy;
        QVERIFY(busy.start({ QStringLiteral("--fault"), QStringLiteral("busy") }));
        writeSettings(busy.device());
        QProcess service;
        start(service, {});
        const qint64 pid = service.processId();
        drop("1234\r\nMetro\r\nCall me\r\n");
        QString seen;
        QVERIFY2(waitForOutput(service, QStringLiteral("kept in Pending Messages"), &seen), qPrintable(seen));
        const QString folder = QFileInfo(data_).canonicalFilePath();
        const QString pendingFile = folder + QStringLiteral("/PendMsgs");
        const QByteArray pending = testsupport::fileBytes(pendingFile);
        QVERIFY(QFile::remove(folder + QStringLiteral("/plimopager.lock")));
        QVERIFY(service.waitForFinished(3000)); // ticks of 100 ms
        QCOMPARE(service.exitCode(), 2);
        seen += QString::fromUtf8(service.readAllStandardOutput());
        const QString lost = folder + QStringLiteral("/PendMsgs.lost-%1").arg(pid);
        QVERIFY2(seen.contains(QStringLiteral("The lock file %1/plimopager.lock was removed or replaced").arg(folder))
                && seen.contains(QStringLiteral("The page queued or pending is kept in %1.").arg(lost)),
            qPrintable(seen));
        QCOMPARE(pendingNames(lost), QStringList { "From File 1234" });
        QCOMPARE(testsupport::fileBytes(pendingFile), pending);

        const QByteArray lostBytes = testsupport::fileBytes(lost);
        const QByteArray lostNotes = testsupport::fileBytes(lost + QStringLiteral(".maybe"));
        QString out;
        QCOMPARE(runOnce({ QStringLiteral("--once") }, &out), 0);
        QVERIFY2(out.contains(QStringLiteral("0 pages taken from PendMsgs.lost-%1 into the pending messages (1 of its "
                                             "pages were in them already)")
                                  .arg(pid)),
            qPrintable(out));
        QVERIFY(!QFile::exists(lost));
        // Lost pages the pending file does not hold come back, with their attempts.
        QVERIFY(QFile::remove(pendingFile));
        for (const auto& [path, bytes] : { std::pair { lost, lostBytes }, std::pair { lost + ".maybe", lostNotes } }) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        }
        QCOMPARE(runOnce({ QStringLiteral("--once") }, &out), 0);
        QVERIFY2(out.contains(QStringLiteral("1 page taken from PendMsgs.lost-%1 into the pending messages").arg(pid)),
            qPrintable(out));
        QString listed;
        QCOMPARE(runOnce({ QStringLiteral("--pending") }, &listed), 0);
        QVERIFY2(listed.startsWith(QStringLiteral("From File 1234\t1234\tMetro\t2\t")) && listed.count(u'\n') == 1,
            qPrintable(listed));
    }

    // A lock file that is a link is refused before anything is written to it: the run cannot go on,
    // and the file the link leads to is as it was.
    void aLockFileThatIsALinkIsRefused_data()
    {
        QTest::addColumn<bool>("hard");
        QTest::addColumn<QString>("said");
        QTest::newRow("hard link") << true << QStringLiteral("plimopager.lock has 2 links");
        QTest::newRow("symbolic link") << false << QStringLiteral("plimopager.lock is a symbolic link");
    }
    void aLockFileThatIsALinkIsRefused()
    {
        QFETCH(bool, hard);
        QFETCH(QString, said);
        const QString target = dir_.filePath(hard ? "hard-target" : "symbolic-target");
        const QString lock = data_ + QStringLiteral("/plimopager.lock");
        QFile file(target);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("precious\n") == 9);
        file.close();
        QFile::remove(lock);
        QVERIFY(hard ? ::link(qPrintable(target), qPrintable(lock)) == 0 : QFile::link(target, lock));
        QString err;
        QCOMPARE(runOnce({ QStringLiteral("--once") }, nullptr, &err), 2);
        QVERIFY2(err.contains(said), qPrintable(err));
        QCOMPARE(testsupport::fileBytes(target), QByteArray("precious\n"));
    }
};

QTEST_GUILESS_MAIN(tst_PlimoPagerd)
#include "tst_plimopagerd.moc"
