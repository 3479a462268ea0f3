// Pages through an SNPP server: the library (StartPage with an "snpp:HOST:PORT" port) against the
// carrier simulator's SNPP server over loopback TCP. What reached the server is read from its
// transcript, what went on the wire from the library's debug file.

#include "pagerecorder.h"
#include "pagersimprocess.h"

#include "paging/debuglog.h"
#include "paging/line.h"
#include "paging/pagestatus.h"
#include "paging/snppsession.h"
#include "paging/tapconstants.h"
#include "paging/tapframe.h"
#include "paging/tcpline.h"

#include <QTcpServer>
#include <QTest>

#include <sys/eventfd.h>
#include <unistd.h>

using namespace paging;

class tst_SnppSession : public QObject {
    Q_OBJECT

private slots:
    void init() { setProtocolTimings(ProtocolTimings()); }
    void cleanupTestCase() { setProtocolTimings(ProtocolTimings()); }
    void pages_data();
    void pages();
    void unresponsiveServerEndsInTime_data();
    void unresponsiveServerEndsInTime();
    void cancelEndsAtOnce();
    void unknownOptionsAreDroppedAndPrecedePage();

private:
    struct Run {
        int code = -1;
        qint64 ms = -1;
        QStringList statuses;
        QByteArray debug;
    };
    static Run page(const QString& address, const QString& network, const QString& pager, int size,
        const QString& message, const QString& dir, int timeoutMs = 20000);
    static QStringList pages(const PagerSimProcess& sim);
};

tst_SnppSession::Run tst_SnppSession::page(const QString& address, const QString& network,
    const QString& pager, int size, const QString& message, const QString& dir, int timeoutMs)
{
    PageRecorder rec(("snpp:" + address).toUtf8());
    const QString debug = dir + QStringLiteral("/debug.txt");
    Run run;
    if (rec.start(QStringLiteral("300"), QString(), QString(), network, pager, size, message, debug) != 0)
        return run;
    if (!QTest::qWaitFor([&] { return rec.finished; }, timeoutMs))
        return run;
    run.code = rec.finalCode;
    run.ms = rec.finishedAfterMs;
    for (const auto& s : rec.statuses)
        run.statuses.append(QString::number(s.first) + u' ' + s.second);
    QFile file(debug);
    if (file.open(QIODevice::ReadOnly))
        run.debug = file.readAll();
    return run;
}

// The pages the server took, as "ID|text".
QStringList tst_SnppSession::pages(const PagerSimProcess& sim)
{
    QStringList out;
    for (const QJsonObject& p : sim.transcript(QStringLiteral("page")))
        out.append(p.value("id").toString() + u'|' + p.value("text").toString());
    return out;
}

void tst_SnppSession::pages_data()
{
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<QString>("network"); // LOGIN^PASSWORD
    QTest::addColumn<QString>("pager");
    QTest::addColumn<int>("size");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("code");
    QTest::addColumn<QStringList>("delivered");
    QTest::addColumn<QStringList>("mustReport"); // statuses, and "wire:" + bytes the debug file must hold

    const QStringList none;
    QTest::newRow("one line goes as MESS")
        << none << "" << "123" << 80 << "Meeting moved to 3 pm" << 0 << QStringList { "123|Meeting moved to 3 pm" }
        << QStringList { "33 Connected", "35 Sending page 1 of 1", "wire:MESS Meeting moved to 3 pm<0D><0A>",
               "wire:QUIT" };
    QTest::newRow("lines and leading dots go as DATA, stuffed")
        << none << "" << "123" << 0 << ".start\r\nmiddle\n.\n..two\n" << 0
        << QStringList { "123|.start\nmiddle\n.\n..two\n" }
        << QStringList { "wire:DATA<0D><0A>", "wire:..start<0D><0A>", "wire:<0D><0A>..<0D><0A>" };
    QTest::newRow("long message split to the page size, the list reset between pages")
        << none << "" << "77" << 10 << "abcdefghijKLMNOPQRSTuv" << 0
        << QStringList { "77|abcdefghij", "77|KLMNOPQRST", "77|uv" }
        << QStringList { "35 Sending page 3 of 3", "wire:RESE" };
    QTest::newRow("group in one session")
        << none << "" << "11^22^33^" << 80 << "Fire drill^^" << 0
        << QStringList { "11|Fire drill", "22|Fire drill", "33|Fire drill" } << QStringList();
    QTest::newRow("login accepted") << QStringList { "--password", "s3cret" } << "desk^s3cret" << "5" << 80
                                    << "hi" << 0 << QStringList { "5|hi" }
                                    << QStringList { "34 Logging in", "wire:LOGI desk ****" };
    QTest::newRow("login refused") << QStringList { "--password", "s3cret" } << "desk^wrong" << "5" << 80
                                   << "hi" << int(LoginRefused) << none << QStringList();
    QTest::newRow("one ID of a group refused")
        << QStringList { "--fault", "snpp-550=22" } << "" << "11^22^33^" << 80 << "Drill^^" << int(GroupBadIds)
        << QStringList { "11|Drill", "33|Drill" } << QStringList { "6 GroupRes|2:550Invalid pager ID" };
    QTest::newRow("single ID refused (550)") << QStringList { "--fault", "snpp-550=9" } << "" << "9" << 80
                                             << "x" << int(SnppPageRefused) << none << QStringList();
    QTest::newRow("421 at the greeting") << QStringList { "--fault", "snpp-421" } << "" << "1^2^" << 80 << "x^^"
                                         << int(SnppUnavailable) << none
                                         << QStringList { "11 GroupRes|1:000SNPP service not available" };
    QTest::newRow("554 at SEND") << QStringList { "--fault", "snpp-554" } << "" << "1" << 80 << "x"
                                 << int(SnppTransactionFailed) << none << QStringList { "wire:QUIT" };
    QTest::newRow("connection dropped after the greeting")
        << QStringList { "--fault", "drop=0" } << "" << "1" << 80 << "x" << int(ConnectionLost) << none
        << QStringList();
    QTest::newRow("nothing listening") << QStringList { "dead" } << "" << "1" << 80 << "x"
                                       << int(ConnectionRefused) << none << QStringList();
}

void tst_SnppSession::pages()
{
    QFETCH(QStringList, simArgs);
    QFETCH(QString, network);
    QFETCH(QString, pager);
    QFETCH(int, size);
    QFETCH(QString, message);
    QFETCH(int, code);
    QFETCH(QStringList, delivered);
    QFETCH(QStringList, mustReport);

    const bool dead = simArgs == QStringList { "dead" };
    PagerSimProcess sim;
    QVERIFY(sim.start(dead ? QStringList { "--snpp", "0" } : QStringList { "--snpp", "0" } + simArgs));
    QString address = sim.snpp();
    if (dead) { // a port that was free a moment ago
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        address = QStringLiteral("127.0.0.1:%1").arg(probe.serverPort());
        probe.close();
    }
    const Run run = page(address, network, pager, size, message, sim.dir());
    QCOMPARE(run.code, code);
    QCOMPARE(isRetryable(code), code == SnppUnavailable || code == SnppTransactionFailed
            || code == ConnectionLost || code == ConnectionRefused);
    if (!dead)
        QVERIFY(sim.waitFor(QStringLiteral("end"), 1));
    QCOMPARE(pages(sim), delivered);
    if (!dead)
        QCOMPARE(sim.transcript(QStringLiteral("connect")).size(), 1); // a group is one session
    for (const QString& must : mustReport) {
        if (must.startsWith(QLatin1String("wire:")))
            QVERIFY2(run.debug.contains(must.mid(5).toLatin1()), qPrintable(must));
        else
            QVERIFY2(run.statuses.contains(must), qPrintable(must + u'\n' + run.statuses.join(u'\n')));
    }
    const QList<QJsonObject> logins = sim.transcript(QStringLiteral("login"));
    QCOMPARE(logins.size(), network.isEmpty() ? 0 : 1);
    if (!logins.isEmpty())
        QCOMPARE(logins.first().value("accepted").toBool(), code == 0);
}

void tst_SnppSession::unresponsiveServerEndsInTime_data()
{
    QTest::addColumn<QStringList>("simArgs");
    QTest::newRow("never answers") << QStringList { "--fault", "silent-terminal" };
    QTest::newRow("noise without a reply") << QStringList { "--fault", "garbage" };
    QTest::newRow("drips the greeting") << QStringList { "--baud", "40" }; // 4 characters a second
    QTest::newRow("every reply late") << QStringList { "--fault", "slow-ack=3" };
}

// Each reply has snppReplyMs, the greeting included: however the server stalls, the attempt ends in
// about that time as a retryable failure.
void tst_SnppSession::unresponsiveServerEndsInTime()
{
    QFETCH(QStringList, simArgs);
    ProtocolTimings t;
    t.snppReplyMs = 1000;
    setProtocolTimings(t);
    PagerSimProcess sim;
    QVERIFY(sim.start(QStringList { "--snpp", "0" } + simArgs));
    const Run run = page(sim.snpp(), QString(), QStringLiteral("1"), 80, QStringLiteral("x"), sim.dir());
    QCOMPARE(run.code, int(TerminalNotResponding));
    QVERIFY(isRetryable(run.code));
    QVERIFY2(run.ms >= 900 && run.ms < 2500, qPrintable(QString::number(run.ms)));
    QVERIFY(sim.transcript(QStringLiteral("page")).isEmpty());
}

void tst_SnppSession::cancelEndsAtOnce()
{
    PagerSimProcess sim; // default timings: 30 s for the greeting that never comes
    QVERIFY(sim.start({ "--snpp", "0", "--fault", "silent-terminal" }));
    const QByteArray port = "snpp:" + sim.snpp().toUtf8();
    PageRecorder rec(port);
    QCOMPARE(rec.start("300", "", "", "", "1", 80, "x"), 0);
    QTest::qWait(300);
    QElapsedTimer clock;
    clock.start();
    CancelPage(port.constData());
    QVERIFY(QTest::qWaitFor([&] { return rec.finished; }, 2000));
    QVERIFY2(clock.elapsed() < 500, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(rec.finalCode, int(Cancelled));
    QVERIFY(sim.waitFor(QStringLiteral("hangup"), 1)); // the connection was closed, not left open
}

// The session's own calls: level 2 options go before each PAGE; one the server answers 500 is not
// sent again.
void tst_SnppSession::unknownOptionsAreDroppedAndPrecedePage()
{
    PagerSimProcess sim;
    QVERIFY(sim.start({ "--snpp", "0" }));
    const QString host = sim.snpp().section(u':', 0, 0);
    const quint16 port = quint16(sim.snpp().section(u':', 1).toUInt());
    const int cancelFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    const QString debugPath = sim.dir() + QStringLiteral("/session.txt");
    DebugLog log(debugPath);
    QString error;
    const int fd = tcpline::connect(host, port, 3000, cancelFd, &error);
    QVERIFY2(fd >= 0, qPrintable(error));
    {
        Line line(fd, cancelFd, &log, false, 0);
        SnppSession session(line, 3000);
        session.setOptions({ "LEVE 3", "ALER 1" });
        QCOMPARE(session.greet(), 0);
        QVERIFY(session.page(QStringLiteral("41")).accepted);
        QVERIFY(session.page(QStringLiteral("42")).accepted);
        QCOMPARE(session.message(QStringLiteral("two at once")), 0);
        QCOMPARE(session.send(), 0);
        session.quit();
    }
    ::close(cancelFd);
    QVERIFY(sim.waitFor(QStringLiteral("end"), 1));
    QCOMPARE(pages(sim), (QStringList { "41|two at once", "42|two at once" }));
    QFile file(debugPath);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray wire = file.readAll();
    QCOMPARE(wire.count("LEVE 3"), 1);
    QCOMPARE(wire.count("ALER 1"), 1);
    QVERIFY(wire.indexOf("ALER 1") < wire.indexOf("PAGE 41"));
}

QTEST_GUILESS_MAIN(tst_SnppSession)
#include "tst_snppsession.moc"
