// Servers that misbehave: a reply that came before its command is not taken as its answer, and a
// page whose bytes left without a clear answer is neither tried again nor sent through the next path:
// it may have been delivered, and says so.
#include "pagerecorder.h"
#include "paging/pageengine.h"
#include "paging/pagestatus.h"
#include "paging/tapconstants.h"
#include "support/scriptedserver.h"

#include <QTest>

using namespace paging;
using testsupport::ScriptedServer;

namespace {

// One page to `port` through the library, to its end.
struct ServerOutcome {
    int code = -1;
    bool unsure = false;
    QString text;
    qint64 ms = -1;
};
// Waits for the page `rec` started (`started` its start's result) to end.
ServerOutcome ended(PageRecorder& rec, int started)
{
    ServerOutcome out;
    if (started != 0 || !QTest::qWaitFor([&] { return rec.finished; }, 20000))
        return out;
    out.code = rec.finalCode;
    out.text = rec.finalText;
    out.ms = rec.finishedAfterMs;
    out.unsure = paging::mayHaveDelivered(rec.port.constData());
    return out;
}
ServerOutcome page(const QByteArray& port, const QString& network, int size, const QString& message)
{
    PageRecorder rec(port);
    return ended(rec, rec.start(QStringLiteral("1200"), QString(), QString(), network, QStringLiteral("77"), size, message));
}
// One page to the WCTP server of `server`, known to the library as `key`.
ServerOutcome wctpPage(const testsupport::ScriptedServer& server, const QByteArray& key)
{
    PageRecorder rec(key);
    return ended(rec,
        rec.startWctp({ QUrl(QStringLiteral("http://%1/wctp").arg(server.address())), "desk", "pw", 3000 },
            QStringLiteral("77"), 80, QStringLiteral("Hello")));
}

const QByteArray kStx("\x02");

} // namespace

class tst_HostileServers : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        ProtocolTimings t;
        t.snppReplyMs = 800;
        t.t3ReplyMs = 800;
        setProtocolTimings(t);
    }
    void cleanupTestCase() { setProtocolTimings(ProtocolTimings()); }

    // A second greeting does not answer PAGE, nor the MESS answer SEND: a 554 to SEND is a refusal.
    void snppAReplyBeforeItsCommandIsNotItsAnswer()
    {
        ScriptedServer server("220 a\r\n220 b\r\n",
            { { "PAGE", "250 ok\r\n" }, { "MESS", "250 ok\r\n" }, { "SEND", "554 refused\r\n" },
                { "QUIT", "221 bye\r\n" } });
        const ServerOutcome out
            = page("snpp:" + server.address().toLatin1(), QString(), 80, QStringLiteral("Hello"));
        QCOMPARE(out.code, int(SnppTransactionFailed));
        QVERIFY(!out.unsure); // the server said it did not take it
    }

    // A terminal that acknowledges the first block twice and refuses the second: the second block is
    // refused, not taken.
    void tapAnAcknowledgementAnswersOnlyItsBlock()
    {
        ScriptedServer server("ID=\r",
            { { "\x1bPG1", "\x06\r\x1b[p\r" }, { kStx, "\x06\r\x06\r" }, { kStx, "\x1e\r" },
                { "\x04", "\x1b\x04\r" } });
        const ServerOutcome out = page("tcp:" + server.address().toLatin1(), QStringLiteral("^pw"), 10,
            QStringLiteral("0123456789ABCDE"));
        QCOMPARE(out.code, int(PageRejected));
    }

    // A server that will not page now is named by its own greeting.
    void snppAGreetingRefusalIsNamed()
    {
        ScriptedServer server("500 go away\r\n", {});
        const ServerOutcome out
            = page("snpp:" + server.address().toLatin1(), QString(), 80, QStringLiteral("Hello"));
        QCOMPARE(out.code, int(SnppUnavailable));
        QCOMPARE(out.text, QStringLiteral("SNPP service not available: greeting \"500 go away\""));
    }

    // A server nobody runs, or a name that does not resolve, is said as such.
    void snppAServerNotReachedSaysWhy()
    {
        QTcpServer probe; // a port that was free a moment ago
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        const QByteArray port = "snpp:127.0.0.1:" + QByteArray::number(probe.serverPort());
        probe.close();
        const ServerOutcome out = page(port, QString(), 80, QStringLiteral("Hello"));
        QCOMPARE(out.code, int(ConnectionRefused));
        QCOMPARE(out.text, QStringLiteral("Server not reached: Connection refused"));
    }

    // After SEND, silence: the page may have gone; it is not reported as a plain failure to retry.
    void snppSilenceAfterSendMayHaveDelivered()
    {
        ScriptedServer server("220 hi\r\n", { { "PAGE", "250 ok\r\n" }, { "MESS", "250 ok\r\n" } });
        const ServerOutcome out
            = page("snpp:" + server.address().toLatin1(), QString(), 80, QStringLiteral("Hello"));
        QCOMPARE(out.code, int(TerminalNotResponding));
        QVERIFY(out.unsure);
        // Silence before SEND (the greeting never came) is a plain failure.
        ScriptedServer mute("", {});
        const ServerOutcome before
            = page("snpp:" + mute.address().toLatin1(), QString(), 80, QStringLiteral("Hello"));
        QCOMPARE(before.code, int(TerminalNotResponding));
        QVERIFY(!before.unsure);
    }

    // A WCTP server that reads the submit and closes, or answers a megabyte: may have delivered; the
    // large answer is refused as it arrives.
    void wctpUnclearAnswersMayHaveDelivered()
    {
        ScriptedServer closing("", { { "</wctp-Operation>", "close" } }, true);
        // Posted once: a connection that closes before the answer is never a reason to post again.
        const ServerOutcome closed = wctpPage(closing, "wctp-close");
        QVERIFY2(closed.code == ConnectionLost, qPrintable(closed.text));
        QVERIFY(closed.unsure);
        QTest::qWait(100);
        QCOMPARE(closing.connections, 1);

        const QByteArray huge = "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\n\r\n" + QByteArray(1024 * 1024, 'x');
        ScriptedServer talkative("", { { "</wctp-Operation>", huge } }, true);
        const ServerOutcome big = wctpPage(talkative, "wctp-big");
        QCOMPARE(big.code, int(BadServerAnswer));
        QVERIFY2(big.text.contains(QStringLiteral("larger than")), qPrintable(big.text));
        QVERIFY(big.ms < 10000);
        QVERIFY(big.unsure);
    }

    // No failover once a SEND went out unanswered: the second carrier never hears of the page.
    void noFailoverAfterAnUnclearSend()
    {
        ScriptedServer first("220 hi\r\n", { { "PAGE", "250 ok\r\n" }, { "MESS", "250 ok\r\n" } });
        ScriptedServer second("220 hi\r\n",
            { { "PAGE", "250 ok\r\n" }, { "MESS", "250 ok\r\n" }, { "SEND", "250 sent\r\n" }, { "QUIT", "221 bye\r\n" } });
        TPageEngine engine;
        engine.ComPort = QStringLiteral("IP PATHS");
        engine.PagerPhone = QStringLiteral("77");
        engine.MessageToSend = QStringLiteral("Hello");
        engine.Paths = { { QStringLiteral("SNPP"), first.address(), {}, {}, 0, QStringLiteral("01") },
            { QStringLiteral("SNPP"), second.address(), {}, {}, 0, QStringLiteral("02") } };
        bool finished = false;
        engine.OnFinished = [&finished](TPageEngine*) { finished = true; };
        engine.Send();
        QCOMPARE(engine.statusCode(), 0);
        QVERIFY(QTest::qWaitFor([&] { return finished; }, 20000));
        QCOMPARE(engine.statusCode(), int(TerminalNotResponding));
        QVERIFY(engine.mayHaveBeenDelivered());
        QCOMPARE(second.connections, 0);
    }
};

QTEST_GUILESS_MAIN(tst_HostileServers)
#include "tst_hostileservers.moc"
