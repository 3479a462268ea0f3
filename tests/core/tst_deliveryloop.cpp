#include "core/deliveryloop.h"
#include "core/desk.h"
#include "paging/pageengine.h"
#include "store/storeerror.h"
#include "support/pages.h"
#include "tests/paging/pagersimprocess.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

// The delivery loop on a real desk and the real paging engine, with the carrier simulator on a
// pseudo-terminal as the paging terminal.
using namespace testsupport;

class tst_DeliveryLoop : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void deliveredPageLeavesTheQueue();
    void refusedStartMovesToPendingAtOnce();
    void groupPageWithBadIdsLeavesTheNextPageAlone();
    void deliveredGroupPageLineHidesTheGroupMarker();
    void abortDropsThePageOnly();
    void abortWithoutPageDoesNothing();
    void messageFileWaitsForAnEmptyQueue();
    void scheduledScanOnQuarterMinutes_data();
    void scheduledScanOnQuarterMinutes();
    void faultBeforeTheEngineKeepsThePage();

private:
    struct Rig {
        core::Desk desk;
        core::DeliveryLoop loop;
        QStringList lines;
        explicit Rig(const QString& dir)
            : desk(dir)
            , loop(desk, desk.Engine1())
        {
            QObject::connect(
                &loop, &core::DeliveryLoop::status, &loop, [this](const QString& t) { lines << t; });
        }
    };
    std::unique_ptr<Rig> rig(const QString& port);
    // Ticks until the desk is idle with an empty send queue, or the time runs out.
    bool runUntilDone(Rig& r, int ms = 30000);

    QTemporaryDir dir_;
    QString oldCwd_;
};

void tst_DeliveryLoop::initTestCase()
{
    QVERIFY2(QFile::exists(PagerSimProcess::program()), "build pagersim first");
}

void tst_DeliveryLoop::init()
{
    // The message file is looked for in the current directory.
    oldCwd_ = QDir::currentPath();
    QDir(dir_.path()).removeRecursively();
    QDir().mkpath(dir_.path());
    QDir::setCurrent(dir_.path());
}

void tst_DeliveryLoop::cleanup()
{
    QDir::setCurrent(oldCwd_);
}

std::unique_ptr<tst_DeliveryLoop::Rig> tst_DeliveryLoop::rig(const QString& port)
{
    auto r = std::make_unique<Rig>(dir_.path());
    r->loop.SetEngineParams = [engine = &r->desk.Engine1(), port] { engine->ComPort = port; };
    return r;
}

bool tst_DeliveryLoop::runUntilDone(Rig& r, int ms)
{
    const QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        r.loop.idleTick(QTime(12, 0, 1));
        if (!r.desk.pageInProgress() && r.desk.SendMsgs().isEmpty())
            return true;
        QTest::qWait(50);
    }
    return false;
}

void tst_DeliveryLoop::deliveredPageLeavesTheQueue()
{
    PagerSimProcess sim;
    QVERIFY(sim.start({ "--password", "pw" }));
    auto r = rig(sim.device());
    QSignalSpy shown(&r->loop, &core::DeliveryLoop::sendingShown);
    QSignalSpy progress(&r->loop, &core::DeliveryLoop::sendingProgress);
    QSignalSpy ended(&r->loop, &core::DeliveryLoop::pageEnded);
    TestPage p;
    p.message = QStringLiteral("Server room is on fire, call the duty engineer now please");
    appendPage(r->desk.SendMsgs(), p);
    r->loop.idleTick(QTime(12, 0, 1));
    QVERIFY(r->desk.pageInProgress());
    QCOMPARE(r->lines, QStringList { QStringLiteral("Sending message to Mary Jones") });
    QCOMPARE(r->loop.deliveredName(), QStringLiteral("Mary Jones"));
    r->loop.idleTick(QTime(12, 0, 2)); // a tick during the page starts nothing
    QTRY_VERIFY_WITH_TIMEOUT(!r->desk.pageInProgress(), 20000);
    QVERIFY(r->desk.SendMsgs().isEmpty());
    QVERIFY(r->desk.PendingMsgs().isEmpty());
    QCOMPARE(r->lines.last(), QStringLiteral("Sent to Mary Jones: ") + p.message.left(40));
    QVERIFY(shown.size() >= 2);
    QVERIFY(!progress.isEmpty());
    QCOMPARE(ended.size(), 1);
    const QList<QJsonObject> pages = sim.transcript(QStringLiteral("page"));
    QCOMPARE(pages.size(), 1);
    QCOMPARE(pages.first().value("id").toString(), p.pager);
    QCOMPARE(pages.first().value("text").toString(), p.message);
    QCOMPARE(
        sim.transcript(QStringLiteral("dial")).first().value("number").toString(), QStringLiteral("5551234"));
    QCOMPARE(
        sim.transcript(QStringLiteral("login")).first().value("password").toString(), QStringLiteral("pw"));
}

void tst_DeliveryLoop::refusedStartMovesToPendingAtOnce()
{
    auto r = rig(QStringLiteral("/dev/null"));
    TestPage bad;
    bad.pager.clear(); // the library refuses a page without a pager ID
    bad.name = QStringLiteral("Nobody");
    appendPage(r->desk.SendMsgs(), bad);
    TestPage next;
    next.name = QStringLiteral("Next");
    appendPage(r->desk.SendMsgs(), next);
    r->loop.idleTick(QTime(12, 0, 1));
    QVERIFY(!r->desk.pageInProgress());
    QCOMPARE(pageNames(r->desk.PendingMsgs()), QStringList { QStringLiteral("Nobody") });
    QCOMPARE(pageNames(r->desk.SendMsgs()), QStringList { QStringLiteral("Next") });
    QCOMPARE(r->lines.size(), 1);
    // Named, with what became of it.
    QVERIFY2(r->lines.first().startsWith(QStringLiteral("Nobody: Bad parameters"))
            && r->lines.first().endsWith(QStringLiteral("after 1 attempt; kept in Pending Messages")),
        qPrintable(r->lines.first()));
}

// A group page with a bad ID ends with code 24: the page left the queue at its status already, and
// the end of the page must not move the page behind it to the pending queue.
void tst_DeliveryLoop::groupPageWithBadIdsLeavesTheNextPageAlone()
{
    PagerSimProcess sim;
    QVERIFY(sim.start({ "--fault", "invalid=2" }));
    auto r = rig(sim.device());
    TestPage group;
    group.name = QStringLiteral("Group: Night Shift");
    group.pager = QStringLiteral("1^2^3^");
    group.message = QStringLiteral("Shift starts^^");
    appendPage(r->desk.SendMsgs(), group);
    TestPage next;
    next.name = QStringLiteral("Innocent");
    next.pager = QStringLiteral("77");
    next.retries = 1;
    appendPage(r->desk.SendMsgs(), next);
    r->loop.idleTick(QTime(12, 0, 1));
    QTRY_VERIFY_WITH_TIMEOUT(!r->desk.pageInProgress(), 20000);
    QCOMPARE(pageNames(r->desk.SendMsgs()), QStringList { QStringLiteral("Innocent") });
    QVERIFY(r->desk.PendingMsgs().isEmpty());
    QVERIFY(r->lines.contains(QStringLiteral("Group message included one or more bad pager IDs")));
    // A line for each member, named by its pager ID when the member is not known.
    QVERIFY(r->lines.contains(QStringLiteral("Not sent to 2 (Group: Night Shift): Invalid pager ID (511)")));
    QVERIFY(r->lines.contains(QStringLiteral("Sent to 3 (Group: Night Shift): Shift starts")));
    QCOMPARE(r->loop.deliveredName(), QStringLiteral("Group: Night Shift"));
    QVERIFY(runUntilDone(*r));
    QCOMPARE(sim.transcript(QStringLiteral("page")).last().value("id").toString(), QStringLiteral("77"));
}

void tst_DeliveryLoop::deliveredGroupPageLineHidesTheGroupMarker()
{
    PagerSimProcess sim;
    QVERIFY(sim.start({}));
    auto r = rig(sim.device());
    TestPage group;
    group.name = QStringLiteral("Group: Night Shift");
    group.pager = QStringLiteral("1^2^");
    group.message = QStringLiteral("test^^");
    group.isGroup = true;
    appendPage(r->desk.SendMsgs(), group);
    QVERIFY(runUntilDone(*r));
    QVERIFY2(r->lines.contains(QStringLiteral("Sent to 1 (Group: Night Shift): test"))
            && r->lines.contains(QStringLiteral("Sent to 2 (Group: Night Shift): test")),
        qPrintable(r->lines.join(u'|')));
}

void tst_DeliveryLoop::abortDropsThePageOnly()
{
    PagerSimProcess sim;
    QVERIFY(sim.start({ "--fault", "silent-terminal:1" }));
    auto r = rig(sim.device());
    TestPage first;
    first.name = QStringLiteral("Aborted");
    appendPage(r->desk.SendMsgs(), first);
    TestPage next;
    next.name = QStringLiteral("Next");
    next.pager = QStringLiteral("88");
    appendPage(r->desk.SendMsgs(), next);
    r->loop.idleTick(QTime(12, 0, 1));
    QVERIFY(r->desk.pageInProgress());
    QVERIFY(sim.waitFor(QStringLiteral("connect"), 1, 10000));
    QSignalSpy ended(&r->loop, &core::DeliveryLoop::pageEnded);
    QSignalSpy hidden(&r->loop, &core::DeliveryLoop::sendingHidden);
    r->loop.BitBtn7Click();
    QVERIFY(!r->desk.pageInProgress());
    QCOMPARE(ended.size(), 1);
    QCOMPARE(hidden.size(), 1);
    QCOMPARE(pageNames(r->desk.SendMsgs()), QStringList { QStringLiteral("Next") });
    QTest::qWait(300); // the aborted page's own end arrives now and is not taken for another's
    QCOMPARE(ended.size(), 1);
    QCOMPARE(pageNames(r->desk.SendMsgs()), QStringList { QStringLiteral("Next") });
    QVERIFY(r->desk.PendingMsgs().isEmpty()); // dropped, not pending
    QVERIFY(runUntilDone(*r));
    QVERIFY(r->desk.PendingMsgs().isEmpty());
    QCOMPARE(sim.transcript(QStringLiteral("page")).size(), 1);
    QCOMPARE(sim.transcript(QStringLiteral("page")).first().value("id").toString(), QStringLiteral("88"));
}

void tst_DeliveryLoop::abortWithoutPageDoesNothing()
{
    auto r = rig(QStringLiteral("/dev/null"));
    TestPage p;
    appendPage(r->desk.SendMsgs(), p);
    r->loop.BitBtn7Click();
    QCOMPARE(r->desk.SendMsgs().rowCount(), 1);
    QVERIFY(r->lines.isEmpty());
}

void tst_DeliveryLoop::messageFileWaitsForAnEmptyQueue()
{
    auto r = rig(QStringLiteral("/dev/null"));
    int reads = 0;
    int scans = 0;
    bool taken = true;
    r->loop.ReadPageMsgFromFile = [&reads, &taken] {
        ++reads;
        return taken;
    };
    r->loop.ScheduledScan = [&scans] { ++scans; };
    r->desk.setScheduledSendingEnabled(true);
    QFile file(core::DeliveryLoop::messageFileName());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    {
        const core::BusyMark page = r->desk.markPageInProgress();
        r->loop.idleTick(QTime(12, 0, 0));
        QCOMPARE(reads, 0);
    }
    {
        const core::BusyMark scan = r->desk.markScheduleScan();
        r->loop.idleTick(QTime(12, 0, 0));
        QCOMPARE(reads, 0);
    }
    r->loop.idleTick(QTime(12, 0, 0));
    QCOMPARE(reads, 1);
    QCOMPARE(scans, 0); // no scan while a file waits, even on second 0
    taken = false; // the file was reported as undeletable: the scan goes on
    r->loop.idleTick(QTime(12, 0, 0));
    QCOMPARE(reads, 2);
    QCOMPARE(scans, 1);
    QFile::remove(core::DeliveryLoop::messageFileName());
    r->loop.idleTick(QTime(12, 0, 0));
    QCOMPARE(reads, 2);
    QCOMPARE(scans, 2);
}

void tst_DeliveryLoop::scheduledScanOnQuarterMinutes_data()
{
    QTest::addColumn<int>("second");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<int>("scans");
    for (int s : { 0, 15, 30, 45 })
        QTest::addRow("second %d", s) << s << true << 1;
    for (int s : { 1, 14, 29, 59 })
        QTest::addRow("second %d: none", s) << s << true << 0;
    QTest::newRow("switched off") << 30 << false << 0;
}

void tst_DeliveryLoop::scheduledScanOnQuarterMinutes()
{
    QFETCH(int, second);
    QFETCH(bool, enabled);
    QFETCH(int, scans);
    auto r = rig(QStringLiteral("/dev/null"));
    int ran = 0;
    r->loop.ScheduledScan = [&ran] { ++ran; };
    r->desk.setScheduledSendingEnabled(enabled);
    r->loop.idleTick(QTime(8, 30, second));
    QCOMPARE(ran, scans);
}

void tst_DeliveryLoop::faultBeforeTheEngineKeepsThePage()
{
    PagerSimProcess sim;
    QVERIFY(sim.start({}));
    auto r = rig(sim.device());
    bool fail = true;
    r->loop.SetEngineParams = [&] {
        if (fail)
            throw store::StoreError(QStringLiteral("settings table unreadable"));
        r->desk.Engine1().ComPort = sim.device();
    };
    TestPage p;
    appendPage(r->desk.SendMsgs(), p);
    QVERIFY_THROWS_EXCEPTION(store::StoreError, r->loop.idleTick(QTime(12, 0, 1)));
    QVERIFY(!r->desk.pageInProgress());
    QCOMPARE(r->desk.SendMsgs().rowCount(), 1);
    fail = false;
    QVERIFY(runUntilDone(*r));
    QCOMPARE(sim.transcript(QStringLiteral("page")).size(), 1);
}

QTEST_GUILESS_MAIN(tst_DeliveryLoop)
#include "tst_deliveryloop.moc"
