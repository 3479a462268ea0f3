// A carrier reached over IP: the session hands a page its carrier's enabled paths, fails over, names
// the path that took it, writes the carrier's tracking numbers into DLVSTAT and follows them until
// the carrier reports; a page keeps its carrier (and its log record) through the pending file and a
// restart.
#include "core/deliverytracker.h"
#include "core/pendingqueue.h"
#include "paging/pagersimprocess.h"
#include "store/fieldnames.h"
#include "support/datafolder.h"
#include "support/records.h"
#include "support/sessionrun.h"

#include <QFile>
#include <QRegularExpression>
#include <QTest>

using namespace testsupport;

class tst_CarriersOverIp : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<DataFolder> dir_;

    // Metro: first an SNPP server nobody runs, then `wctpUrl`; a TAP path that is switched off.
    void seed(const QString& wctpUrl)
    {
        core::Desk desk(dir_->path());
        QVERIFY(desk.open().isEmpty());
        addCarrier(desk, QStringLiteral("Metro"), QStringLiteral("5550101"), QStringLiteral("1200"), 80, QString());
        addUser(desk, QStringLiteral("Bob"), QStringLiteral("Metro"), QStringLiteral("1002"));
        addPath(desk, QStringLiteral("Metro"), QStringLiteral("01"), QStringLiteral("SNPP"), QStringLiteral("127.0.0.1:1"));
        addPath(desk, QStringLiteral("Metro"), QStringLiteral("02"), QStringLiteral("WCTP"), wctpUrl);
        addPath(desk, QStringLiteral("Metro"), QStringLiteral("03"), QStringLiteral("TAPIP"), QStringLiteral("127.0.0.1:2"), QString(),
            false);
    }

    static std::unique_ptr<SessionRun> run(const QString& folder)
    {
        auto r = std::make_unique<SessionRun>(folder);
        r->deskSession.clock = [] { return QDateTime::currentDateTime(); };
        r->deskSession.tracker().setIntervals(500, 100);
        r->deskSession.setTickInterval(50);
        r->deskSession.start();
        return r;
    }

    QStringList status() const
    {
        return onDisk(dir_->path(), QStringLiteral("DLVSTAT.DBF"), QStringLiteral("BY_TRACK"),
            { store::dlvstat::LogRec, store::dlvstat::PagerId, store::dlvstat::UserName, store::dlvstat::Method,
                store::dlvstat::Tracking, store::dlvstat::Status });
    }

private slots:
    void init()
    {
        dir_ = std::make_unique<DataFolder>();
        QVERIFY(dir_->isValid());
    }
    void cleanup() { dir_.reset(); }

    void aPageFailsOverAndIsFollowedUntilDelivered()
    {
        PagerSimProcess sim;
        QVERIFY(sim.start({ "--wctp", "0", "--wctp-delivered-ms", "400", "--wctp-read-ms", "-1",
            "--wctp-poll-minutes", "0" }));
        seed(sim.wctp());
        auto r = run(dir_->path());
        QVERIFY(r->openError.isEmpty());
        r->composition.setMessageLog(true);
        r->deskSession.sendToRecipient(QStringLiteral("Bob"), QStringLiteral("Hello over IP"));

        const QString sent = QStringLiteral("Sent to Bob via WCTP %1: Hello over IP").arg(sim.wctp());
        QTRY_VERIFY_WITH_TIMEOUT(r->statusLines.contains(sent), 10000);
        // The broken first path is said although the second delivered.
        QVERIFY2(!r->statusLines.filter(QRegularExpression(
                                            "^Path 01 SNPP 127.0.0.1:1 failed for Bob: .+; trying path 02$"))
                      .isEmpty(),
            qPrintable(r->statusLines.join(u'\n')));
        QCOMPARE(sim.transcript(QStringLiteral("page")).size(), 1);
        const QString logRecord = QStringLiteral("0000000001");
        QCOMPARE(status(), QStringList { logRecord + "|1002|Bob|WCTP|W000001|ACCEPTED" });

        // Queried until the carrier says it was delivered; then no more.
        QTRY_VERIFY_WITH_TIMEOUT(r->statusLines.constFirst().startsWith(QStringLiteral("Delivered to Bob at ")), 10000);
        QCOMPARE(status(), QStringList { logRecord + "|1002|Bob|WCTP|W000001|DELIVERED" });
        QCOMPARE(r->deskSession.tracker().followedCount(), 0);
        const qsizetype queries = sim.transcript(QStringLiteral("query")).size();
        QTest::qWait(400);
        QCOMPARE(sim.transcript(QStringLiteral("query")).size(), queries);
    }

    void aPathThatDoesNotParseRefusesTheStart()
    {
        PagerSimProcess sim;
        QVERIFY(sim.start({ "--wctp", "0" }));
        seed(sim.wctp());
        {
            core::Desk desk(dir_->path());
            QVERIFY(desk.open().isEmpty());
            addPath(desk, QStringLiteral("Metro"), QStringLiteral("04"), QStringLiteral("WCTP"), QStringLiteral("ftp://127.0.0.1/wctp"));
        }
        auto r = run(dir_->path());
        r->deskSession.sendToRecipient(QStringLiteral("Bob"), QStringLiteral("Never tried"));
        QTRY_COMPARE_WITH_TIMEOUT(r->desk().PendingMsgs().rowCount(), 1, 5000);
        QVERIFY2(r->statusLines.constFirst().startsWith(QStringLiteral("Bob: Bad parameters: path 04: ")),
            qPrintable(r->statusLines.join(u'|')));
        QVERIFY(sim.transcript().isEmpty());
    }

    void aPendingPageKeepsItsCarrierAndTrackingOutlivesTheDesk()
    {
        PagerSimProcess busy;
        QVERIFY(busy.start({ "--wctp", "0", "--fault", "wctp-fail=603" }));
        seed(busy.wctp());
        {
            auto r = run(dir_->path());
            r->deskSession.sendToRecipient(QStringLiteral("Bob"), QStringLiteral("Try later"));
            // Every attempt meets a busy server: the page ends pending.
            QTRY_COMPARE_WITH_TIMEOUT(r->desk().PendingMsgs().rowCount(), 1, 15000);
            QVERIFY(r->deskSession.saveQueues().isEmpty());
        }
        // The pending file keeps its eight fields; the carrier is beside it.
        QFile side(dir_->filePath(QStringLiteral("PendMsgs.maybe")));
        QVERIFY(side.open(QIODevice::ReadOnly));
        QVERIFY(side.readAll().contains("\tMetro\t"));

        // The carrier's server is back, at another address.
        PagerSimProcess sim;
        QVERIFY(sim.start({ "--wctp", "0", "--wctp-delivered-ms", "-1", "--wctp-poll-minutes", "0" }));
        {
            core::Desk desk(dir_->path());
            QVERIFY(desk.open().isEmpty());
            desk.CarrPathT().refresh();
            QVERIFY(desk.CarrPathT().locate(store::carrpath::Method, QStringLiteral("WCTP")));
            desk.CarrPathT().edit();
            desk.CarrPathT().setFieldText(store::carrpath::Address, sim.wctp());
            desk.CarrPathT().post();
        }
        {
            auto r = run(dir_->path());
            QCOMPARE(r->desk().PendingMsgs().rowCount(), 1);
            QCOMPARE(r->deskSession.startupLines(),
                QStringList { QStringLiteral("1 page is pending from before: Pending Msgs to see it") });
            QCOMPARE(status(), QStringList { "|1002|Bob|||PENDING" });
            r->desk().PendingMsgs().first();
            QVERIFY(core::resendPendingPage(r->desk().PendingMsgs(), r->desk().SendMsgs()));
            QTRY_VERIFY_WITH_TIMEOUT(
                r->statusLines.contains(QStringLiteral("Sent to Bob via WCTP %1: Try later").arg(sim.wctp())), 10000);
            QTRY_VERIFY_WITH_TIMEOUT(r->statusLines.contains(QStringLiteral("Queued at the carrier for Bob")), 10000);
        }
        QCOMPARE(status(), QStringList { "|1002|Bob|WCTP|W000001|QUEUED" });
        // A desk started again takes up the number still open.
        auto r = run(dir_->path());
        QCOMPARE(r->deskSession.tracker().followedCount(), 1);
    }
};

QTEST_GUILESS_MAIN(tst_CarriersOverIp)
#include "tst_carriersoverip.moc"
