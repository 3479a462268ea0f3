// The paging component TPageEngine over the real library, against the carrier simulator: its
// properties, the events it raises and when, the waits after the finished event and in Abort, and
// errors inside the owner's handlers.

#include "pagersimprocess.h"

#include "paging/pageengine.h"
#include "paging/pagestatus.h"

#include <QMetaProperty>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <stdexcept>

using namespace paging;

namespace {
struct Events {
    QStringList order; // "status 30 Opening port", "finished 0 Successful ", ...
    int finished = 0;
    int aborted = 0;
    int initErrors = 0;

    void attach(TPageEngine& e, bool withStatus = true)
    {
        if (withStatus)
            e.OnStatus = [this](TPageEngine* s) {
                order.append(QStringLiteral("status %1 %2").arg(s->statusCode()).arg(s->statusText()));
            };
        e.OnFinished = [this](TPageEngine* s) {
            ++finished;
            order.append(QStringLiteral("finished %1 %2").arg(s->statusCode()).arg(s->statusText()));
        };
        e.OnAbort = [this](TPageEngine* s) {
            ++aborted;
            order.append(QStringLiteral("abort %1 %2").arg(s->statusCode()).arg(s->statusText()));
        };
        e.OnInitError = [this](TPageEngine* s) {
            ++initErrors;
            order.append(QStringLiteral("initerror %1 %2").arg(s->statusCode()).arg(s->statusText()));
        };
    }
};

void setUp(TPageEngine& e, const QString& port, const QString& pager, const QString& message)
{
    e.ComPort = port;
    e.NetworkPhone = QStringLiteral("5551234^pw");
    e.PagerPhone = pager;
    e.MessageToSend = message;
}
} // namespace

class tst_PageEngine : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void propertiesInOrderWithDefaults();
    void deliveredPage();
    void refusedStartRaisesOnlyInitError();
    void unassignedOnStatusStillEndsAtFirstPoll();
    void slowHandlerReadsEveryStatusInOrder();
    void errorsInHandlersAreReported_data();
    void errorsInHandlersAreReported();
    void abortEndsThePage();
    void abortWithoutPageReturnsAtOnce();
    void signalsAccompanyHandlers();
};

void tst_PageEngine::initTestCase()
{
    QVERIFY2(QFile::exists(PagerSimProcess::program()), "build pagersim first");
}

void tst_PageEngine::propertiesInOrderWithDefaults()
{
    TPageEngine e;
    const QMetaObject* mo = e.metaObject();
    QStringList names;
    for (int i = mo->propertyOffset(); i < mo->propertyCount(); ++i)
        names.append(QString::fromLatin1(mo->property(i).name()));
    QCOMPARE(names,
        QStringList({ "BaudRate", "ComPort", "Debugfile", "dial_initstr", "Modem_initstr", "MessageToSend",
            "MessageSize", "NetworkPhone", "PagerPhone", "StatusCode", "StatusText" }));
    QCOMPARE(e.property("BaudRate").toString(), QStringLiteral("300"));
    QCOMPARE(e.property("ComPort").toString(), QStringLiteral("TAPI"));
    QCOMPARE(e.property("MessageToSend").toString(), QStringLiteral("Put Message Here "));
    QCOMPARE(e.property("MessageSize").toInt(), 80);
    for (const char* empty : { "Debugfile", "dial_initstr", "Modem_initstr", "NetworkPhone", "PagerPhone" })
        QVERIFY(e.property(empty).toString().isEmpty());
    QVERIFY(!e.OnAbort && !e.OnFinished && !e.OnInitError && !e.OnStatus);
    QVERIFY(e.setProperty("MessageSize", 120));
    QCOMPARE(e.MessageSize, 120);
}

void tst_PageEngine::deliveredPage()
{
    PagerSimProcess sim;
    QVERIFY(sim.start({}));
    TPageEngine e;
    Events ev;
    ev.attach(e);
    setUp(e, sim.device(), QStringLiteral("42"), QStringLiteral("through the component"));
    e.Send();
    QCOMPARE(e.statusCode(), 0);
    QCOMPARE(e.statusText(), QStringLiteral("Opening port"));
    QTRY_COMPARE_WITH_TIMEOUT(ev.finished, 1, 20000);
    QCOMPARE(ev.order.first(), QStringLiteral("status 30 Opening port"));
    QVERIFY(ev.order.contains(QStringLiteral("status 35 Sending page 1 of 1")));
    QCOMPARE(ev.order.at(ev.order.size() - 2), QStringLiteral("status 0 Successful "));
    QCOMPARE(ev.order.last(), QStringLiteral("finished 0 Successful "));
    QCOMPARE(ev.initErrors, 0);
    QVERIFY(sim.waitFor(QStringLiteral("page"), 1));
    QCOMPARE(sim.transcript(QStringLiteral("page")).first().value("text").toString(),
        QStringLiteral("through the component"));
}

void tst_PageEngine::refusedStartRaisesOnlyInitError()
{
    TPageEngine e;
    Events ev;
    ev.attach(e);
    e.ComPort = QStringLiteral("/dev/null");
    e.PagerPhone.clear(); // no pager: refused
    e.Send();
    QCOMPARE(e.statusCode(), int(BadParameters));
    QVERIFY(e.statusText().startsWith(QStringLiteral("Bad parameters")));
    QVERIFY(e.statusText().size() <= 51);
    QTest::qWait(300);
    QCOMPARE(ev.order, QStringList { QStringLiteral("initerror 9 ") + e.statusText() });
}

void tst_PageEngine::unassignedOnStatusStillEndsAtFirstPoll()
{
    PagerSimProcess sim;
    QVERIFY(sim.start({ "--fault", "invalid=2" }));
    TPageEngine e;
    Events ev;
    ev.attach(e, false);
    setUp(e, sim.tcp(), QStringLiteral("1^2^3^4^"), QStringLiteral("group^^"));
    e.Send();
    QVERIFY(sim.waitFor(QStringLiteral("end"), 1, 20000));
    QTest::qWait(200); // the finished event is in the queue now, behind a dozen unread status events
    QElapsedTimer clock;
    clock.start();
    QTRY_COMPARE_WITH_TIMEOUT(ev.finished, 1, 5000);
    QVERIFY2(clock.elapsed() < 1000, "the wait after the finished event sat through stale statuses");
    QCOMPARE(ev.order, QStringList { QStringLiteral("finished 24 Group page: bad pager IDs") });
}

void tst_PageEngine::slowHandlerReadsEveryStatusInOrder()
{
    PagerSimProcess sim;
    QVERIFY(sim.start({ "--fault", "invalid=2,3" }));
    TPageEngine e;
    Events ev;
    ev.attach(e);
    auto record = e.OnStatus;
    bool first = true;
    e.OnStatus = [&](TPageEngine* s) { // the user-interface thread is busy while the page goes on
        if (std::exchange(first, false))
            QThread::msleep(1500);
        record(s);
    };
    setUp(e, sim.tcp(), QStringLiteral("1^2^3^4^"), QStringLiteral("group^^"));
    e.Send();
    QTRY_COMPARE_WITH_TIMEOUT(ev.finished, 1, 20000);
    const QStringList expected { "status 30 Opening port", "status 33 Connected", "status 34 Logging in",
        "status 35 Sending page 1 of 4", "status 35 Sending page 2 of 4",
        "status 6 GroupRes|2:511Invalid pager ID", "status 35 Sending page 3 of 4",
        "status 6 GroupRes|3:511Invalid pager ID", "status 35 Sending page 4 of 4",
        "status 24 Group page: bad pager IDs", "finished 24 Group page: bad pager IDs" };
    QCOMPARE(ev.order, expected);
}

void tst_PageEngine::errorsInHandlersAreReported_data()
{
    QTest::addColumn<QString>("which");
    QTest::newRow("OnStatus") << "status";
    QTest::newRow("OnFinished") << "finished";
    QTest::newRow("OnInitError") << "initerror";
}

void tst_PageEngine::errorsInHandlersAreReported()
{
    QFETCH(QString, which);
    PagerSimProcess sim;
    QVERIFY(sim.start({}));
    QStringList reported;
    const auto previous = TPageEngine::setErrorReporter([&](const QString& m) { reported.append(m); });
    TPageEngine e;
    int finished = 0;
    e.OnStatus = [&](TPageEngine*) {
        if (which == QLatin1String("status"))
            throw std::runtime_error("status handler failed");
    };
    e.OnFinished = [&](TPageEngine*) {
        ++finished;
        if (which == QLatin1String("finished"))
            throw 42;
    };
    e.OnInitError = [&](TPageEngine*) { throw std::runtime_error("init handler failed"); };
    setUp(e, sim.device(), which == QLatin1String("initerror") ? QString() : QStringLiteral("5"),
        QStringLiteral("x"));
    e.Send();
    if (which != QLatin1String("initerror"))
        QTRY_COMPARE_WITH_TIMEOUT(finished, 1, 20000);
    TPageEngine::setErrorReporter(previous);
    QVERIFY(!reported.isEmpty());
    if (which == QLatin1String("status")) {
        QVERIFY(reported.size() >= 5); // every status event, and the page still went through
        QCOMPARE(reported.first(), QStringLiteral("OnStatus: status handler failed"));
        QCOMPARE(e.statusCode(), 0);
    } else if (which == QLatin1String("finished")) {
        QCOMPARE(reported, QStringList { QStringLiteral("OnFinished: unknown error") });
    } else {
        QCOMPARE(reported, QStringList { QStringLiteral("OnInitError: init handler failed") });
    }
}

void tst_PageEngine::abortEndsThePage()
{
    PagerSimProcess sim;
    QVERIFY(sim.start({ "--fault", "slow-ack=8" }));
    TPageEngine e;
    Events ev;
    ev.attach(e);
    setUp(e, sim.device(), QStringLiteral("5"), QStringLiteral("never"));
    e.Send();
    QTRY_VERIFY_WITH_TIMEOUT(ev.order.contains(QStringLiteral("status 34 Logging in")), 10000);
    QElapsedTimer clock;
    clock.start();
    e.Abort();
    QVERIFY(clock.elapsed() < 2500);
    QCOMPARE(ev.aborted, 1);
    QCOMPARE(ev.order.last(), QStringLiteral("abort 7 Cancelled"));
    QTRY_COMPARE_WITH_TIMEOUT(ev.finished, 1, 3000); // the library's own end still arrives
}

void tst_PageEngine::abortWithoutPageReturnsAtOnce()
{
    TPageEngine e;
    Events ev;
    ev.attach(e);
    e.ComPort = QStringLiteral("COM4");
    QElapsedTimer clock;
    clock.start();
    e.Abort();
    QVERIFY(clock.elapsed() < 500);
    QCOMPARE(ev.aborted, 1);
}

void tst_PageEngine::signalsAccompanyHandlers()
{
    PagerSimProcess sim;
    QVERIFY(sim.start({}));
    TPageEngine e;
    QSignalSpy status(&e, &TPageEngine::statusChanged);
    QSignalSpy finished(&e, &TPageEngine::finished);
    setUp(e, sim.tcp(), QStringLiteral("7"), QStringLiteral("signals only"));
    e.Send();
    QVERIFY(finished.wait(20000));
    QVERIFY(status.count() >= 4);
    QCOMPARE(e.statusCode(), 0);
    QCOMPARE(e.statusText(), QStringLiteral("Successful "));
}

QTEST_GUILESS_MAIN(tst_PageEngine)
#include "tst_pageengine.moc"
