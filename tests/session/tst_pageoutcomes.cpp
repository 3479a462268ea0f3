// What became of each page, on every path: a carrier reached only over IP needs no number to dial,
// every page has its row in DLVSTAT from its queueing on, each status line names the person (and
// the group), a page kept pending says so and why, and a refused one is recorded.
#include "compose/memberfile.h"
#include "core/deliverystatus.h"
#include "core/deliverytracker.h"
#include "core/page.h"
#include "core/pendinglist.h"
#include "core/pendingqueue.h"
#include "paging/pagersimprocess.h"
#include "paging/tapconstants.h"
#include "store/fieldnames.h"
#include "support/datafolder.h"
#include "support/records.h"
#include "support/scriptedserver.h"
#include "support/sessionrun.h"

#include <QFile>
#include <QProcess>
#include <QTest>

using namespace testsupport;

class tst_PageOutcomes : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<DataFolder> dir_;

    // "Land" dials the simulator's modem; "Snpp Co" and "Wctp Co" have no number, one path each.
    void seed(const PagerSimProcess& sim, int retries = 1)
    {
        QVERIFY(DataFolder::writeSimulatorSettings(sim.device(), QString(), retries));
        core::Desk desk(dir_->path());
        QVERIFY(desk.open().isEmpty());
        addCarrier(desk, QStringLiteral("Land"), QStringLiteral("5550101"), QStringLiteral("1200"), 80, QString());
        addCarrier(desk, QStringLiteral("Snpp Co"), QString(), QStringLiteral("1200"), 80, QString());
        addCarrier(desk, QStringLiteral("Wctp Co"), QString(), QStringLiteral("1200"), 80, QString());
        addPath(desk, QStringLiteral("Snpp Co"), QStringLiteral("01"), QStringLiteral("SNPP"), sim.snpp(), QStringLiteral("Sekr3tPW"));
        addPath(desk, QStringLiteral("Wctp Co"), QStringLiteral("01"), QStringLiteral("WCTP"), sim.wctp(), QStringLiteral("Sekr3tPW"));
        addUser(desk, QStringLiteral("Alice"), QStringLiteral("Land"), QStringLiteral("1001"));
        addUser(desk, QStringLiteral("Amos"), QStringLiteral("Land"), QStringLiteral("1002"));
        addUser(desk, QStringLiteral("Dave"), QStringLiteral("Snpp Co"), QStringLiteral("2001"));
        addUser(desk, QStringLiteral("Dora"), QStringLiteral("Snpp Co"), QStringLiteral("2002"));
        addUser(desk, QStringLiteral("Erin"), QStringLiteral("Wctp Co"), QStringLiteral("3001"));
        addUser(desk, QStringLiteral("Lost"), QStringLiteral("Gone Co"), QStringLiteral("4001"));
        addGroup(desk, QStringLiteral("Night Shift"));
        QVERIFY(compose::writeMemberFile(compose::memberFilePath(dir_->path(), QStringLiteral("Night Shift")),
            { "Alice", "Amos", "Dave", "Dora", "Erin" })
                    .isEmpty());
    }

    // The SNPP path of "Snpp Co" to `address`.
    void setSnppAddress(const QString& address)
    {
        core::Desk desk(dir_->path());
        QVERIFY(desk.open().isEmpty());
        desk.CarrPathT().refresh();
        QVERIFY(desk.CarrPathT().locate(store::carrpath::Method, QStringLiteral("SNPP")));
        desk.CarrPathT().edit();
        desk.CarrPathT().setFieldText(store::carrpath::Address, address);
        desk.CarrPathT().post();
    }

    std::unique_ptr<SessionRun> run()
    {
        auto r = std::make_unique<SessionRun>(dir_->path());
        r->deskSession.clock = [] { return QDateTime::currentDateTime(); };
        r->deskSession.setTickInterval(50);
        r->composition.setMessageLog(true);
        r->deskSession.start();
        return r;
    }

    // USERNAME|PAGER_ID|METHOD|STATUS of every row, in record order, read from disk.
    QStringList outcomes() const
    {
        using namespace store::dlvstat;
        return onDisk(dir_->path(), QStringLiteral("DLVSTAT.DBF"), QString(), { UserName, PagerId, Method, Status });
    }

    static bool idle(SessionRun& r) { return !r.desk().pageInProgress() && r.desk().SendMsgs().isEmpty(); }

private slots:
    void init()
    {
        // A server that goes silent is given up in a second.
        paging::ProtocolTimings timings;
        timings.snppReplyMs = 1000;
        paging::setProtocolTimings(timings);
        dir_ = std::make_unique<DataFolder>();
        QVERIFY(dir_->isValid());
    }
    void cleanup()
    {
        dir_.reset();
        paging::setProtocolTimings(paging::ProtocolTimings());
    }

    // A user whose carrier has no number but an SNPP or a WCTP path is paged by the send command,
    // by a message file and by a scheduled record, each page with its row.
    void carriersOverIpNeedNoNumber()
    {
        PagerSimProcess sim;
        QVERIFY(sim.start({ "--snpp", "0", "--wctp", "0", "--wctp-delivered-ms", "-1" }));
        seed(sim);
        {
            core::Desk desk(dir_->path());
            QVERIFY(desk.open().isEmpty());
            desk.SchedMsgT().append();
            desk.SchedMsgT().setFieldText(
                store::schedmsg::DDate, QDate::currentDate().toString(QStringLiteral("yyyy/MM/dd")));
            desk.SchedMsgT().setFieldText(store::schedmsg::DTime, QStringLiteral("00:00:00"));
            desk.SchedMsgT().setFieldText(store::schedmsg::UserName, QStringLiteral("Erin"));
            desk.SchedMsgT().setFieldText(store::schedmsg::MustSend, QStringLiteral("Y"));
            desk.SchedMsgT().setMemoLines(store::schedmsg::Msg, { QStringLiteral("Scheduled") });
            desk.SchedMsgT().post();
        }
        auto r = run();
        r->composition.setText(QStringLiteral("Typed"));
        r->composition.tick(QStringLiteral("Dave"));
        r->composition.tick(QStringLiteral("Erin"));
        r->deskSession.sendComposed();
        QTRY_VERIFY_WITH_TIMEOUT(idle(*r), 15000);
        QFile file(dir_->filePath(QStringLiteral("plimomsgs.txt")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("Dave\r\nSnpp Co\r\nFrom a file\r\n");
        file.close();
        QTRY_VERIFY_WITH_TIMEOUT(!file.exists() && idle(*r), 15000);
        // Now, unless the tick's own scan on a quarter minute took it first.
        r->deskSession.runScheduledScan();
        auto scheduledSent = [&r] {
            r->desk().SchedMsgT().refresh();
            return r->desk().SchedMsgT().isEmpty() && idle(*r);
        };
        QTRY_VERIFY_WITH_TIMEOUT(scheduledSent(), 20000);

        const QString snpp = QStringLiteral(" via SNPP ") + sim.snpp();
        const QString wctp = QStringLiteral(" via WCTP ") + sim.wctp();
        for (const QString& line : { "Sent to Dave" + snpp + ": Typed", "Sent to Erin" + wctp + ": Typed",
                 "Sent to From File 2001" + snpp + ": From a file", "Sent to Erin" + wctp + ": Scheduled" })
            QVERIFY2(r->statusLines.contains(line), qPrintable(line + u'\n' + r->statusLines.join(u'\n')));
        // The tick's own scan may take the scheduled record before the file: in either order.
        QStringList rows = outcomes();
        rows.sort();
        QCOMPARE(rows,
            QStringList({ "Dave|2001|SNPP|SENT", "Erin|3001|WCTP|ACCEPTED", "Erin|3001|WCTP|ACCEPTED",
                "From File 2001|2001|SNPP|SENT" }));
        QCOMPARE(sim.transcript(QStringLiteral("page")).size(), 4);
        QVERIFY(r->desk().PendingMsgs().isEmpty());
    }

    // A group of five on three carriers: a row and a line for each member, with the path that took
    // the page; the log's record sums them up.
    void aGroupIsSaidPerPerson()
    {
        PagerSimProcess sim;
        QVERIFY(sim.start({ "--snpp", "0", "--wctp", "0", "--wctp-delivered-ms", "-1" }));
        seed(sim);
        auto r = run();
        r->deskSession.tracker().setIntervals(100, 100);
        r->deskSession.sendToRecipient(QStringLiteral("Group: Night Shift"), QStringLiteral("Water main break"));
        QTRY_VERIFY_WITH_TIMEOUT(idle(*r), 20000);

        const QString group = QStringLiteral(" (Group: Night Shift)");
        const QString modem = QStringLiteral(": Water main break");
        for (const QString& line : { "Sent to Alice" + group + modem, "Sent to Amos" + group + modem,
                 "Sent to Dave" + group + " via SNPP " + sim.snpp() + modem,
                 "Sent to Dora" + group + " via SNPP " + sim.snpp() + modem,
                 "Sent to Erin" + group + " via WCTP " + sim.wctp() + modem })
            QVERIFY2(r->statusLines.contains(line), qPrintable(line + u'\n' + r->statusLines.join(u'\n')));
        QStringList rows = outcomes();
        rows.sort();
        QCOMPARE(rows,
            QStringList({ "Alice|1001|MODEM|SENT", "Amos|1002|MODEM|SENT", "Dave|2001|SNPP|SENT", "Dora|2002|SNPP|SENT",
                "Erin|3001|WCTP|ACCEPTED" }));
        QCOMPARE(core::statusOfLog(r->desk().DlvStatT(), core::logRecordKey(1)), QStringLiteral("SENT 5/5"));
        // The carrier's news name the person too.
        QTRY_VERIFY_WITH_TIMEOUT(
            r->statusLines.contains(QStringLiteral("Queued at the carrier for Erin (Group: Night Shift)")), 5000);
    }

    // A busy line: retried, then kept pending and said so; the pending list tells the attempts and
    // the reason; sent again from there once the carrier answers.
    void aBusyCarrierEndsPendingThenResendAllSends()
    {
        PagerSimProcess sim;
        QVERIFY(sim.start({ "--snpp", "0", "--wctp", "0", "--fault", "busy:2" }));
        seed(sim, 2);
        auto r = run();
        r->deskSession.sendToRecipient(QStringLiteral("Alice"), QStringLiteral("Call in"));
        QTRY_VERIFY_WITH_TIMEOUT(idle(*r), 20000);
        QVERIFY2(r->statusLines.contains(QStringLiteral("Alice: Line busy; trying again")),
            qPrintable(r->statusLines.join(u'\n')));
        QCOMPARE(r->statusLines.constFirst(), QStringLiteral("Alice: Line busy after 2 attempts; kept in Pending Messages"));
        QCOMPARE(outcomes(), QStringList { "Alice|1001||PENDING" });
        const QList<core::PendingEntry> pending = core::pendingEntries(
            r->desk().PendingMsgs(), r->desk().pageNotes(), r->desk().deliveryMarks(), std::nullopt);
        QCOMPARE(pending.size(), 1);
        QCOMPARE(pending.first().attempts, 2);
        QVERIFY(pending.first().lastAttempt.isValid());
        QCOMPARE(pending.first().reason, QStringLiteral("Line busy"));
        QCOMPARE(pending.first().carrier, QStringLiteral("Land"));
        // A carrier deleted meanwhile is said: a resend goes through the modem.
        const auto gone = core::pendingEntries(r->desk().PendingMsgs(), r->desk().pageNotes(),
            r->desk().deliveryMarks(), QSet<QString> { QStringLiteral("Snpp Co") });
        QVERIFY2(gone.first().reason.startsWith(QStringLiteral("Carrier Land no longer exists")),
            qPrintable(gone.first().reason));

        QCOMPARE(core::resendAllPending(r->desk()), 1);
        QCOMPARE(outcomes(), QStringList { "Alice|1001||RESENT" });
        QTRY_VERIFY_WITH_TIMEOUT(idle(*r), 20000);
        QCOMPARE(outcomes(), QStringList { "Alice|1001|MODEM|SENT" });
        QVERIFY(r->statusLines.constFirst().startsWith(QStringLiteral("Sent to Alice: Call in")));
    }

    // Refused at its preparation (no such carrier, no number for a carrier that dials): said as
    // before and recorded, logged or not.
    void aRefusedPageIsRecorded()
    {
        PagerSimProcess sim;
        QVERIFY(sim.start({ "--snpp", "0", "--wctp", "0" }));
        seed(sim);
        {
            core::Desk desk(dir_->path());
            QVERIFY(desk.open().isEmpty());
            addCarrier(desk, QStringLiteral("Mute"), QStringLiteral("5"), QStringLiteral("1200"), 80, QString());
            addUser(desk, QStringLiteral("Mia"), QStringLiteral("Mute"), QStringLiteral("5001"));
            // A "^" would make one user's page a page to two pagers; a line break in a name another
            // program wrote would forge a status line.
            addUser(desk, QStringLiteral("Twin"), QStringLiteral("Land"), QStringLiteral("6001^6002"));
            addUser(desk, QStringLiteral("Mal\nlory"), QStringLiteral("Gone Co"), QStringLiteral("7001"));
        }
        auto r = run();
        r->deskSession.sendToRecipient(QStringLiteral("Lost"), QStringLiteral("Hello"));
        r->deskSession.sendToRecipient(QStringLiteral("Mia"), QStringLiteral("Hello"));
        r->deskSession.sendToRecipient(QStringLiteral("Twin"), QStringLiteral("Hello"));
        r->deskSession.sendToRecipient(QStringLiteral("Mal\nlory"), QStringLiteral("Hello"));
        QCOMPARE(r->statusLines.mid(0, 4),
            QStringList({ "Bad Carrier Phone number for Mal?lory", "Bad Pager ID for Twin",
                "Bad Carrier Phone number for Mia", "Bad Carrier Phone number for Lost" }));
        QCOMPARE(outcomes().mid(0, 3),
            QStringList({ "Lost|4001||REFUSED", "Mia|5001||REFUSED", "Twin|6001^6002||REFUSED" }));
        QCOMPARE(r->desk().outcomes().refusedCount(), 4);
        // Mia's message was logged before her carrier's number was checked: its record says so.
        QCOMPARE(core::statusOfLog(r->desk().DlvStatT(), core::logRecordKey(1)), QStringLiteral("REFUSED"));
        QVERIFY(r->desk().SendMsgs().isEmpty());
    }

    // A SEND that went out without a reply: the page is kept pending, marked as one that may have
    // been delivered, never tried again by itself; the mark stays through a resend that fails
    // plainly and goes once the page is sent.
    void anUnclearPageIsKeptMarkedUntilSent()
    {
        PagerSimProcess sim;
        QVERIFY(sim.start({ "--snpp", "0", "--wctp", "0" }));
        ScriptedServer silent(
            "220 hi\r\n", { { "LOGI", "250 ok\r\n" }, { "PAGE", "250 ok\r\n" }, { "MESS", "250 ok\r\n" } });
        seed(sim, 3);
        setSnppAddress(silent.address());
        auto r = run();
        r->deskSession.sendToRecipient(QStringLiteral("Dave"), QStringLiteral("Once only"));
        QTRY_VERIFY_WITH_TIMEOUT(idle(*r), 40000);
        QVERIFY2(silent.connections == 1, qPrintable(r->statusLines.join(u'\n'))); // not retried
        QVERIFY2(r->statusLines.constFirst().endsWith(
                     QStringLiteral("after 1 attempt; kept in Pending Messages: it may have been delivered")),
            qPrintable(r->statusLines.constFirst()));
        QCOMPARE(outcomes(), QStringList { "Dave|2001||UNSURE" });

        // Sent again to a server nobody runs: a plain failure, the mark stays.
        setSnppAddress(QStringLiteral("127.0.0.1:1"));
        QCOMPARE(core::resendAllPending(r->desk()), 1);
        QTRY_VERIFY_WITH_TIMEOUT(idle(*r), 20000);
        QCOMPARE(outcomes(), QStringList { "Dave|2001||UNSURE" });
        QCOMPARE(r->desk().deliveryMarks().markedPages(r->desk().PendingMsgs()).size(), 1);

        setSnppAddress(sim.snpp());
        QCOMPARE(core::resendAllPending(r->desk()), 1);
        QTRY_VERIFY_WITH_TIMEOUT(idle(*r), 20000);
        QCOMPARE(outcomes(), QStringList { "Dave|2001|SNPP|SENT" });
        QVERIFY(r->desk().deliveryMarks().isEmpty());
    }

    // A group's members taken before a failure leave its page: only the others stay pending.
    void aGroupKeepsOnlyItsMembersNotTaken()
    {
        PagerSimProcess sim;
        QVERIFY(sim.start({ "--snpp", "0", "--wctp", "0" }));
        const QByteArray accepted = "<?xml version=\"1.0\"?><wctp-Operation wctpVersion=\"wctp-dtd-v1r3\">"
                                    "<wctp-SubmitClientResponse><wctp-ClientSuccess successCode=\"200\" "
                                    "trackingNumber=\"T1\">ok</wctp-ClientSuccess></wctp-SubmitClientResponse>"
                                    "</wctp-Operation>";
        ScriptedServer wctp("",
            { { "</wctp-Operation>",
                  "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: "
                      + QByteArray::number(accepted.size()) + "\r\n\r\n" + accepted },
                { "</wctp-Operation>", "HTTP/1.1 500 Trouble\r\nContent-Length: 0\r\n\r\n" } },
            true);
        seed(sim);
        {
            core::Desk desk(dir_->path());
            QVERIFY(desk.open().isEmpty());
            desk.CarrPathT().refresh();
            QVERIFY(desk.CarrPathT().locate(store::carrpath::Method, QStringLiteral("WCTP")));
            desk.CarrPathT().edit();
            desk.CarrPathT().setFieldText(store::carrpath::Address, QStringLiteral("http://%1/wctp").arg(wctp.address()));
            desk.CarrPathT().post();
            addUser(desk, QStringLiteral("Eve"), QStringLiteral("Wctp Co"), QStringLiteral("3002"));
            addGroup(desk, QStringLiteral("Pair"));
            QVERIFY(compose::writeMemberFile(compose::memberFilePath(dir_->path(), QStringLiteral("Pair")),
                { "Erin", "Eve" })
                        .isEmpty());
        }
        auto r = run();
        r->deskSession.sendToRecipient(QStringLiteral("Group: Pair"), QStringLiteral("Half way"));
        QTRY_VERIFY_WITH_TIMEOUT(idle(*r), 20000);
        QVERIFY2(r->statusLines.contains(
                     QStringLiteral("Sent to Erin (Group: Pair) via WCTP http://%1/wctp: Half way").arg(wctp.address())),
            qPrintable(r->statusLines.join(u'\n')));
        QCOMPARE(outcomes(), QStringList({ "Erin|3001|WCTP|ACCEPTED", "Eve|3002||PENDING" }));
        QCOMPARE(r->desk().PendingMsgs().rowCount(), 1);
        QCOMPARE(core::pageAt(r->desk().PendingMsgs(), 0).pagerPhone, QStringLiteral("3002^"));
        const auto pending = core::pendingEntries(
            r->desk().PendingMsgs(), r->desk().pageNotes(), r->desk().deliveryMarks(), std::nullopt);
        QCOMPARE(pending.first().pagerId, QStringLiteral("3002"));
        QVERIFY(pending.first().reason.startsWith(QStringLiteral("Server unavailable")));
    }

    // Two carriers that give the same tracking number: each row is followed and updated on its own,
    // without a storm of questions.
    void oneTrackingNumberAtTwoCarriers()
    {
        PagerSimProcess sim;
        QVERIFY(sim.start({ "--snpp", "0", "--wctp", "0", "--wctp-delivered-ms", "300", "--wctp-read-ms", "-1",
            "--wctp-poll-minutes", "0" }));
        PagerSimProcess other;
        QVERIFY(other.start({ "--wctp", "0", "--wctp-delivered-ms", "300", "--wctp-read-ms", "-1",
            "--wctp-poll-minutes", "0" }));
        seed(sim);
        {
            core::Desk desk(dir_->path());
            QVERIFY(desk.open().isEmpty());
            addCarrier(desk, QStringLiteral("Other Co"), QString(), QStringLiteral("1200"), 80, QString());
            addPath(desk, QStringLiteral("Other Co"), QStringLiteral("01"), QStringLiteral("WCTP"), other.wctp(), QStringLiteral("Sekr3tPW"));
            addUser(desk, QStringLiteral("Eve"), QStringLiteral("Other Co"), QStringLiteral("3002"));
        }
        auto r = run();
        r->deskSession.tracker().setIntervals(200, 200);
        r->deskSession.sendToRecipient(QStringLiteral("Erin"), QStringLiteral("One"));
        r->deskSession.sendToRecipient(QStringLiteral("Eve"), QStringLiteral("Two"));
        QTRY_COMPARE_WITH_TIMEOUT(outcomes(), QStringList({ "Erin|3001|WCTP|DELIVERED", "Eve|3002|WCTP|DELIVERED" }), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(r->deskSession.tracker().followedCount(), 0, 5000);
        QVERIFY(sim.transcript(QStringLiteral("query")).size() <= 5);
        QVERIFY(other.transcript(QStringLiteral("query")).size() <= 5);
    }

    // A tracking number too long for its field is kept whole beside the table: followed by a desk
    // started again, and found by the carrier's address and number.
    void aLongTrackingNumberIsKeptWhole()
    {
        const QString prefix(60, u'L');
        PagerSimProcess sim;
        QVERIFY(sim.start({ "--snpp", "0", "--wctp", "0", "--wctp-delivered-ms", "-1", "--wctp-poll-minutes", "0",
            "--wctp-tracking-prefix", prefix }));
        seed(sim);
        const QString number = prefix + QStringLiteral("W000001");
        {
            auto r = run();
            r->deskSession.tracker().setIntervals(100, 100);
            r->deskSession.sendToRecipient(QStringLiteral("Erin"), QStringLiteral("One"));
            QTRY_COMPARE_WITH_TIMEOUT(outcomes(), QStringList({ "Erin|3001|WCTP|QUEUED" }), 10000);
        }
        using namespace store::dlvstat;
        QCOMPARE(onDisk(dir_->path(), QStringLiteral("DLVSTAT.DBF"), QString(), { Tracking }),
            QStringList({ core::trackingKey(number) }));
        for (const QJsonObject& query : sim.transcript(QStringLiteral("query")))
            QCOMPARE(query.value(QStringLiteral("tracking")).toString(), number);
        auto r = run();
        QCOMPARE(r->deskSession.tracker().followedCount(), 1);
        const QList<core::StatusRow> open = core::openRows(r->desk().DlvStatT(), QDateTime::currentDateTime().addSecs(-60));
        QCOMPARE(open.size(), 1);
        QCOMPARE(open.first().tracking, number);
        QVERIFY(core::setStatus(r->desk().DlvStatT(), sim.wctp(), number, core::kRead, QDateTime::currentDateTime()));
        QVERIFY(!core::setStatus(r->desk().DlvStatT(), QStringLiteral("http://elsewhere/wctp"), number, core::kFailed,
            QDateTime::currentDateTime()));
        QCOMPARE(outcomes(), QStringList({ "Erin|3001|WCTP|READ" }));
        QCOMPARE(core::statusRowAt(r->desk().DlvStatT(), 1).tracking, number);
    }

    // DLVSTAT removed while the desk has it open: made anew and said, the next page's row in it.
    void aRemovedStatusTableIsMadeAnew()
    {
        PagerSimProcess sim;
        QVERIFY(sim.start({ "--snpp", "0", "--wctp", "0" }));
        seed(sim);
        auto r = run();
        r->deskSession.sendToRecipient(QStringLiteral("Dave"), QStringLiteral("First"));
        QTRY_VERIFY_WITH_TIMEOUT(idle(*r), 20000);
        QVERIFY(QFile::remove(dir_->filePath(QStringLiteral("DLVSTAT.DBF"))));
        r->deskSession.sendToRecipient(QStringLiteral("Dora"), QStringLiteral("Second"));
        QTRY_VERIFY_WITH_TIMEOUT(idle(*r), 20000);
        QCOMPARE(r->statusLines.filter(QStringLiteral("DLVSTAT.DBF was removed while the desk had it open")).size(), 1);
        QCOMPARE(outcomes(), QStringList({ "Dora|2002|SNPP|SENT" }));
    }

    // Another program keeps DLVSTAT locked: the pages go all the same, the missing outcome said once.
    void aLockedStatusTableDoesNotHoldPagesUp()
    {
        PagerSimProcess sim;
        QVERIFY(sim.start({ "--snpp", "0", "--wctp", "0" }));
        seed(sim);
        auto r = run();
        QProcess holder;
        holder.start(QStringLiteral("python3"),
            { QStringLiteral("-c"),
                QStringLiteral("import fcntl, sys, time\n"
                               "f = open(sys.argv[1], 'r+b')\n"
                               "fcntl.lockf(f, fcntl.LOCK_EX)\n"
                               "print('locked', flush=True)\n"
                               "time.sleep(60)\n"),
                dir_->filePath(QStringLiteral("DLVSTAT.DBF")) });
        QVERIFY(holder.waitForReadyRead(10000));
        r->deskSession.sendToRecipient(QStringLiteral("Dave"), QStringLiteral("First"));
        r->deskSession.sendToRecipient(QStringLiteral("Dora"), QStringLiteral("Second"));
        QTRY_VERIFY_WITH_TIMEOUT(idle(*r), 20000);
        holder.kill();
        holder.waitForFinished();
        QCOMPARE(sim.transcript(QStringLiteral("page")).size(), 2);
        QCOMPARE(r->statusLines.filter(QStringLiteral("The delivery status could not be saved")).size(), 1);
        QVERIFY(r->statusLines.contains(QStringLiteral("Sent to Dora via SNPP %1: Second").arg(sim.snpp())));
    }
};

QTEST_GUILESS_MAIN(tst_PageOutcomes)
#include "tst_pageoutcomes.moc"
