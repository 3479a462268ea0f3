// The paging library against the carrier simulator, through a real pseudo-terminal and over loopback
// TCP: every status code from a scripted fault, what reaches the terminal, group and long pages,
// cancelling, a busy port and refused starts.

#include "pagerecorder.h"
#include "pagersimprocess.h"

#include "paging/pagestatus.h"
#include "paging/tapconstants.h"

#include <QFile>
#include <QJsonArray>
#include <QTest>

using namespace paging;

namespace {

// Waits we sit out in a test are short; the rest keep the protocol's values.
ProtocolTimings shortTimings()
{
    ProtocolTimings t;
    t.t1LoginCrMs = 300;
    t.t3ReplyMs = 1500;
    t.commandReplyMs = 800;
    t.guardMs = 300;
    t.connectMs = 5000;
    return t;
}

QString statusOf(const QJsonObject& o, const char* key)
{
    return o.value(QLatin1String(key)).toString();
}

} // namespace

class tst_PagingSim : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void statusCodes_data();
    void statusCodes();
    void nextCallWorksAfterAFailure_data();
    void nextCallWorksAfterAFailure();
    void deliveredPageIsExact_data();
    void deliveredPageIsExact();
    void groupOfTenIsOneCall();
    void longMessageGoesAsSevenPages();
    void maxPagesCallsAgain();
    void numericPage_data();
    void numericPage();
    void debugFileHoldsTheDialogue();
    void cancelEndsWithinTwoSeconds_data();
    void cancelEndsWithinTwoSeconds();
    void secondPageOnBusyPortRefused();
    void refusedStart_data();
    void refusedStart();
};

void tst_PagingSim::initTestCase()
{
    QVERIFY2(QFile::exists(PagerSimProcess::program()), "build the pagersim target first");
}

void tst_PagingSim::cleanup()
{
    setProtocolTimings(ProtocolTimings());
}

void tst_PagingSim::statusCodes_data()
{
    QTest::addColumn<QString>("via"); // pty, tcp, or a port name of its own
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<QString>("network");
    QTest::addColumn<QString>("pager");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("shortWaits");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("pages"); // pages the terminal accepted
    QTest::addColumn<QStringList>("groupResults");

    const QStringList none;
    const QString net = QStringLiteral("555-1234^secret");
    QTest::newRow("0 delivered, pty") << "pty" << none << net << "123"
                                      << "hello" << false << 0 << 1 << none;
    QTest::newRow("0 delivered, tcp") << "tcp" << none << net << "123"
                                      << "hello" << false << 0 << 1 << none;
    QTest::newRow("0 after two NAKs") << "pty" << QStringList { "--fault", "nak=2" } << net << "123"
                                      << "hello" << false << 0 << 1 << none;
    QTest::newRow("1 no such device") << "/nonexistent/ttyX" << none << net << "123"
                                      << "hi" << false << 1 << 0 << none;
    QTest::newRow("1 nothing listening") << "tcp:127.0.0.1:1" << none << net << "123"
                                         << "hi" << false << 1 << 0 << none;
    QTest::newRow("1 not a port name") << "LPT1" << none << net << "123"
                                       << "hi" << false << 1 << 0 << none;
    QTest::newRow("2 modem error") << "pty" << QStringList { "--fault", "modem-error" } << net << "123"
                                   << "hi" << false << 2 << 0 << none;
    QTest::newRow("2 modem silent") << "pty" << QStringList { "--fault", "modem-silent" } << net << "123"
                                    << "hi" << true << 2 << 0 << none;
    QTest::newRow("3 nothing to dial") << "pty" << none << "carrier^secret"
                                       << "123"
                                       << "hi" << false << 3 << 0 << none;
    QTest::newRow("3 letters in the number") << "pty" << none << "555-PAGE^secret"
                                             << "123"
                                             << "hi" << false << 3 << 0 << none;
    // "DT" and 39 digits: one character more than the usual Hayes command line holds after "AT".
    QTest::newRow("3 dial command too long") << "pty" << none << QString(39, u'5') + QStringLiteral("^secret")
                                             << "123"
                                             << "hi" << false << 3 << 0 << none;
    QTest::newRow("3 group, nothing to dial")
        << "pty" << none << "carrier^secret"
        << "1^2^"
        << "hi^^" << false << 3 << 0
        << QStringList { "3 GroupRes|1:000Bad dial string", "3 GroupRes|2:000Bad dial string" };
    QTest::newRow("4 bad password") << "pty" << QStringList { "--fault", "badpassword" } << net << "123"
                                    << "hi" << false << 4 << 0 << none;
    QTest::newRow("4 wrong password, tcp") << "tcp" << QStringList { "--password", "other" } << net << "123"
                                           << "hi" << false << 4 << 0 << none;
    QTest::newRow("5 terminal takes no page")
        << "pty" << QStringList { "--fault", "maxpages=0" } << net << "123"
        << "hi" << false << 5 << 0 << none;
    QTest::newRow("6 invalid pager ID") << "pty" << QStringList { "--fault", "invalid=999" } << net << "999"
                                        << "hi" << false << 6 << 0 << none;
    QTest::newRow("18 busy") << "pty" << QStringList { "--fault", "busy" } << net << "123"
                             << "hi" << false << 18 << 0 << none;
    QTest::newRow("19 no carrier") << "pty" << QStringList { "--fault", "nocarrier" } << net << "123"
                                   << "hi" << false << 19 << 0 << none;
    QTest::newRow("20 no answer") << "pty" << QStringList { "--fault", "noanswer" } << net << "123"
                                  << "hi" << false << 20 << 0 << none;
    QTest::newRow("21 no dial tone") << "pty" << QStringList { "--fault", "nodialtone" } << net << "123"
                                     << "hi" << false << 21 << 0 << none;
    QTest::newRow("22 silent terminal")
        << "pty" << QStringList { "--fault", "silent-terminal" } << net << "123"
        << "hi" << true << 22 << 0 << none;
    QTest::newRow("22 silent terminal, tcp")
        << "tcp" << QStringList { "--fault", "silent-terminal" } << net << "123"
        << "hi" << true << 22 << 0 << none;
    QTest::newRow("22 no go-ahead") << "pty" << QStringList { "--fault", "no-goahead" } << net << "123"
                                    << "hi" << true << 22 << 0 << none;
    QTest::newRow("22 garbage") << "pty" << QStringList { "--fault", "garbage" } << net << "123"
                                << "hi" << true << 22 << 0 << none;
    QTest::newRow("23 NAK always") << "pty" << QStringList { "--fault", "nak-always" } << net << "123"
                                   << "hi" << false << 23 << 0 << none;
    QTest::newRow("24 group with a bad ID")
        << "pty" << QStringList { "--fault", "invalid=999" } << net << "1^999^3^"
        << "hi^^" << false << 24 << 2 << QStringList { "6 GroupRes|2:511Invalid pager ID" };
    QTest::newRow("24 group with a bad ID, tcp")
        << "tcp" << QStringList { "--fault", "invalid=7,9" } << net << "7^8^9^"
        << "hi^^" << false << 24 << 1
        << QStringList { "6 GroupRes|1:511Invalid pager ID", "6 GroupRes|3:511Invalid pager ID" };
    QTest::newRow("25 line dropped") << "pty" << QStringList { "--fault", "drop=1" } << net << "123"
                                     << QString(200, QLatin1Char('z')) << false << 25 << 1 << none;
    QTest::newRow("25 line dropped, tcp") << "tcp" << QStringList { "--fault", "drop=0" } << net << "123"
                                          << "hi" << false << 25 << 0 << none;
    QTest::newRow("25 group cut short")
        << "pty" << QStringList { "--fault", "drop=1" } << net << "1^2^3^"
        << "hi^^" << false << 25 << 1
        << QStringList { "25 GroupRes|2:000Connection lost", "25 GroupRes|3:000Connection lost" };
}

void tst_PagingSim::statusCodes()
{
    QFETCH(QString, via);
    QFETCH(QStringList, simArgs);
    QFETCH(QString, network);
    QFETCH(QString, pager);
    QFETCH(QString, message);
    QFETCH(bool, shortWaits);
    QFETCH(int, code);
    QFETCH(int, pages);
    QFETCH(QStringList, groupResults);

    PagerSimProcess sim;
    QVERIFY(sim.start(simArgs));
    if (shortWaits)
        setProtocolTimings(shortTimings());
    const QString port = via == QLatin1String("pty") ? sim.device()
        : via == QLatin1String("tcp")                ? sim.tcp()
                                                     : via;
    PageRecorder rec(port.toUtf8());
    QCOMPARE(rec.start(QStringLiteral("300"), QStringLiteral("ATZ~ATE0V1~"), QString(), network, pager, 80,
                 message),
        0);
    QTRY_VERIFY_WITH_TIMEOUT(rec.finished, 30000);

    QCOMPARE(rec.finalCode, code);
    QCOMPARE(rec.finalReturn, 1);
    QCOMPARE(rec.finalText, statusText(code));
    QVERIFY(!rec.statuses.isEmpty());
    QCOMPARE(rec.statuses.last().first, code); // the final status came as a status event before the end
    QVERIFY(rec.finishedAfterMs < (shortWaits ? 12000 : 20000));
    QStringList reported;
    for (const auto& s : rec.statuses)
        if (s.second.startsWith(QLatin1String("GroupRes")))
            reported.append(QStringLiteral("%1 %2").arg(s.first).arg(s.second));
    QCOMPARE(reported, groupResults);
    if (code == 0) { // every progress step, in order
        QList<int> codes;
        for (const auto& s : rec.statuses)
            codes.append(s.first);
        const QList<int> progress = via == QLatin1String("pty") ? QList<int> { 30, 31, 32, 33, 34, 35, 36, 0 }
                                                                : QList<int> { 30, 33, 34, 35, 0 };
        QCOMPARE(codes, progress);
        const QStringList texts { "Opening port", "Initializing modem", "Dialing", "Connected", "Logging in",
            "Sending page 1 of 1", "Hanging up" };
        for (const auto& s : rec.statuses)
            QVERIFY(s.first == 0 || texts.contains(s.second));
    }
    if (pages > 0)
        QVERIFY(sim.waitFor(QStringLiteral("page"), pages));
    QTest::qWait(100);
    QCOMPARE(
        sim.transcript(QStringLiteral("page")).size(), pages); // nothing counted that was not acknowledged
    if (code == BadDialString)
        QVERIFY(sim.transcript(QStringLiteral("dial")).isEmpty());
    QCOMPARE(rec.finishedCount, 1);
}

void tst_PagingSim::nextCallWorksAfterAFailure_data()
{
    QTest::addColumn<QString>("fault"); // on the first call only
    QTest::addColumn<int>("code");
    QTest::newRow("busy") << "busy:1" << int(LineBusy);
    QTest::newRow("bad password") << "badpassword:1" << int(LoginRefused);
    QTest::newRow("silent terminal") << "silent-terminal:1" << int(TerminalNotResponding);
    QTest::newRow("no go-ahead") << "no-goahead:1" << int(TerminalNotResponding);
    QTest::newRow("garbage") << "garbage:1" << int(TerminalNotResponding);
    QTest::newRow("NAK always") << "nak-always:1" << int(TooManyErrors);
    QTest::newRow("dropped") << "drop=0:1" << int(ConnectionLost);
}

// Whatever went wrong, the modem was put back on hook: the next page on the port goes through.
void tst_PagingSim::nextCallWorksAfterAFailure()
{
    QFETCH(QString, fault);
    QFETCH(int, code);
    PagerSimProcess sim;
    QVERIFY(sim.start({ "--fault", fault }));
    setProtocolTimings(shortTimings());
    PageRecorder first(sim.device().toUtf8());
    QCOMPARE(first.start("300", "ATZ~", {}, "5551234^pw", "1", 80, "first"), 0);
    QTRY_VERIFY_WITH_TIMEOUT(first.finished, 15000);
    QCOMPARE(first.finalCode, code);
    PageRecorder second(first.port);
    QCOMPARE(second.start("300", "ATZ~", {}, "5551234^pw", "2", 80, "second"), 0);
    QTRY_VERIFY_WITH_TIMEOUT(second.finished, 15000);
    QCOMPARE(second.finalCode, 0);
    QVERIFY(sim.waitFor(QStringLiteral("page"), 1));
    QCOMPARE(statusOf(sim.transcript(QStringLiteral("page")).last(), "text"), QStringLiteral("second"));
}

void tst_PagingSim::deliveredPageIsExact_data()
{
    QTest::addColumn<QString>("via");
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("received");
    QTest::newRow("plain, pty") << "pty"
                                << "4711"
                                << "Meet me at 5 in room 12"
                                << "Meet me at 5 in room 12";
    QTest::newRow("plain, tcp") << "tcp"
                                << "4711"
                                << "Meet me at 5 in room 12"
                                << "Meet me at 5 in room 12";
    const QString controls
        = QStringLiteral("line 1\r\nline 2\x1b[p\x02\x03\x04\x17\x1a\x1f\x1e\x06\x15 end\t!");
    QTest::newRow("control characters, pty") << "pty"
                                             << "55" << controls << controls;
    QTest::newRow("control characters, tcp") << "tcp"
                                             << "55" << controls << controls;
    QTest::newRow("8-bit text") << "pty"
                                << "9" << QString::fromUtf8("Grüße – 5 €") << "Gru?e - 5 ?";
    QTest::newRow("250 escaped characters")
        << "tcp"
        << "1" << QString(125, QLatin1Char('\r')) + "x" << QString(125, QLatin1Char('\r')) + "x";
}

void tst_PagingSim::deliveredPageIsExact()
{
    QFETCH(QString, via);
    QFETCH(QString, id);
    QFETCH(QString, message);
    QFETCH(QString, received);
    PagerSimProcess sim;
    QVERIFY(sim.start({}));
    PageRecorder rec((via == QLatin1String("pty") ? sim.device() : sim.tcp()).toUtf8());
    QCOMPARE(rec.start("1200", {}, {}, "5551234^pw", id, 0, message), 0);
    QTRY_VERIFY_WITH_TIMEOUT(rec.finished, 20000);
    QCOMPARE(rec.finalCode, 0);
    QVERIFY(sim.waitFor(QStringLiteral("page"), 1));
    const QList<QJsonObject> pages = sim.transcript(QStringLiteral("page"));
    QCOMPARE(pages.size(), 1);
    QCOMPARE(statusOf(pages.first(), "id"), id);
    QCOMPARE(statusOf(pages.first(), "text"), received);
    QCOMPARE(sim.transcript(QStringLiteral("nak")).size(), 0); // the framing held: no block was refused
}

void tst_PagingSim::groupOfTenIsOneCall()
{
    PagerSimProcess sim;
    QVERIFY(sim.start({}));
    QStringList ids;
    for (int i = 0; i < 10; ++i)
        ids.append(QString::number(1000 + i));
    PageRecorder rec(sim.device().toUtf8());
    QCOMPARE(rec.start("300", {}, {}, "5551234^pw", ids.join(QLatin1Char('^')) + QLatin1Char('^'), 80,
                 "Fire drill at 3^^"),
        0);
    QTRY_VERIFY_WITH_TIMEOUT(rec.finished, 20000);
    QCOMPARE(rec.finalCode, 0);
    QVERIFY(sim.waitFor(QStringLiteral("end"), 1));
    QCOMPARE(sim.transcript(QStringLiteral("connect")).size(), 1);
    QCOMPARE(sim.transcript(QStringLiteral("dial")).size(), 1);
    const QList<QJsonObject> pages = sim.transcript(QStringLiteral("page"));
    QCOMPARE(pages.size(), 10);
    for (int i = 0; i < 10; ++i) {
        QCOMPARE(statusOf(pages.at(i), "id"), ids.at(i));
        QCOMPARE(statusOf(pages.at(i), "text"), QStringLiteral("Fire drill at 3"));
    }
    QVERIFY(rec.texts().contains(QStringLiteral("Sending page 10 of 10")));
}

void tst_PagingSim::longMessageGoesAsSevenPages()
{
    PagerSimProcess sim;
    QVERIFY(sim.start({}));
    QString message;
    for (int i = 0; i < 500; ++i)
        message.append(QChar(u'A' + i % 26));
    PageRecorder rec(sim.tcp().toUtf8());
    QCOMPARE(rec.start("300", {}, {}, "5551234^pw", "321", 80, message), 0);
    QTRY_VERIFY_WITH_TIMEOUT(rec.finished, 20000);
    QCOMPARE(rec.finalCode, 0);
    QVERIFY(sim.waitFor(QStringLiteral("end"), 1));
    QCOMPARE(sim.transcript(QStringLiteral("connect")).size(), 1);
    const QList<QJsonObject> pages = sim.transcript(QStringLiteral("page"));
    QCOMPARE(pages.size(), 7);
    QString joined;
    for (const QJsonObject& p : pages) {
        QCOMPARE(statusOf(p, "id"), QStringLiteral("321"));
        QVERIFY(statusOf(p, "text").size() <= 80);
        joined += statusOf(p, "text");
    }
    QCOMPARE(joined, message);
}

void tst_PagingSim::maxPagesCallsAgain()
{
    PagerSimProcess sim;
    QVERIFY(sim.start({ "--fault", "maxpages=2" }));
    PageRecorder rec(sim.device().toUtf8());
    QCOMPARE(rec.start("300", {}, {}, "5551234^pw", "1^2^3^4^5^", 80, "hello^^"), 0);
    QTRY_VERIFY_WITH_TIMEOUT(rec.finished, 30000);
    QCOMPARE(rec.finalCode, 0);
    QVERIFY(sim.waitFor(QStringLiteral("end"), 3));
    QCOMPARE(sim.transcript(QStringLiteral("dial")).size(), 3); // 2 + 2 + 1 pages
    QStringList ids;
    for (const QJsonObject& p : sim.transcript(QStringLiteral("page")))
        ids.append(statusOf(p, "id"));
    QCOMPARE(ids, QStringList({ "1", "2", "3", "4", "5" }));
}

void tst_PagingSim::numericPage_data()
{
    QTest::addColumn<int>("seconds");
    QTest::addColumn<QString>("s8");
    QTest::addColumn<QString>("dial");
    QTest::newRow("4 s") << 4 << "ATS8=1"
                         << "ATDP5551234,,,,12*3#,;";
    QTest::newRow("30 s in 10 commas") << 30 << "ATS8=3"
                                       << "ATDP5551234,,,,,,,,,,12*3#,;";
    QTest::newRow("no wait: one pause all the same") << 0 << "ATS8=1"
                                                     << "ATDP5551234,12*3#,;";
}

void tst_PagingSim::numericPage()
{
    QFETCH(int, seconds);
    QFETCH(QString, s8);
    QFETCH(QString, dial);
    PagerSimProcess sim;
    QVERIFY(sim.start({}));
    PageRecorder rec(sim.device().toUtf8());
    QCOMPARE(rec.start("B300", "ATZ~", "ATDP", "#,", "555-1234", seconds, "call 12*3"), 0);
    QTRY_VERIFY_WITH_TIMEOUT(rec.finished, 20000);
    QCOMPARE(rec.finalCode, 0);
    QVERIFY(sim.waitFor(QStringLiteral("numeric"), 1));
    const QJsonObject n = sim.transcript(QStringLiteral("numeric")).first();
    QCOMPARE(statusOf(n, "number"), QStringLiteral("5551234"));
    QCOMPARE(statusOf(n, "digits"), QStringLiteral("12*3#"));
    QCOMPARE(statusOf(sim.transcript(QStringLiteral("dial")).first(), "mode"), QStringLiteral("pulse"));
    QStringList commands;
    for (const QJsonObject& m : sim.transcript(QStringLiteral("modem")))
        commands.append(statusOf(m, "command"));
    QCOMPARE(commands, QStringList({ "ATZ", s8, dial, "ATH0" }));
}

void tst_PagingSim::debugFileHoldsTheDialogue()
{
    PagerSimProcess sim;
    QVERIFY(sim.start({}));
    const QString debug = sim.dir() + QStringLiteral("/debug.txt");
    PageRecorder rec(sim.device().toUtf8());
    QCOMPARE(rec.start("300", "ATZ~", {}, "5551234^pw", "77", 80, "logged", debug), 0);
    QTRY_VERIFY_WITH_TIMEOUT(rec.finished, 20000);
    QCOMPARE(rec.finalCode, 0);
    QFile file(debug);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray log = file.readAll();
    QVERIFY(log.contains("-> ATZ<0D>"));
    QVERIFY(log.contains("<- "));
    QVERIFY(log.contains("-> <1B>PG1****<0D>")); // the password is not written
    QVERIFY(!log.contains("PG1pw"));
    QCOMPARE(file.permissions() & (QFileDevice::ReadOther | QFileDevice::ReadGroup), QFileDevice::Permissions());
    QVERIFY(log.contains("<02>77<0D>logged<0D><03>"));
    QVERIFY(log.contains("<06>"));
    const QList<QByteArray> lines = log.trimmed().split('\n');
    for (const QByteArray& line : lines) // "yyyy-MM-dd hh:mm:ss.zzz" stamps
        QVERIFY2(line.size() > 24 && line.at(4) == '-' && line.at(13) == ':' && line.at(19) == '.',
            line.constData());
}

void tst_PagingSim::cancelEndsWithinTwoSeconds_data()
{
    QTest::addColumn<QString>("via");
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<bool>("nextDelivered"); // the call was hung up: the next page on the port goes through
    QTest::newRow("slow terminal, pty") << "pty" << QStringList { "--fault", "slow-ack=8:1" } << true;
    QTest::newRow("slow terminal, tcp") << "tcp" << QStringList { "--fault", "slow-ack=8:1" } << true;
    QTest::newRow("silent modem") << "pty" << QStringList { "--fault", "modem-silent" } << false;
}

void tst_PagingSim::cancelEndsWithinTwoSeconds()
{
    QFETCH(QString, via);
    QFETCH(QStringList, simArgs);
    QFETCH(bool, nextDelivered);
    PagerSimProcess sim;
    QVERIFY(sim.start(simArgs));
    PageRecorder rec((via == QLatin1String("pty") ? sim.device() : sim.tcp()).toUtf8());
    QCOMPARE(rec.start("300", "ATZ~", {}, "5551234^pw", "1", 80, "never"), 0);
    QTest::qWait(700);
    QVERIFY(!rec.finished);
    QElapsedTimer clock;
    clock.start();
    CancelPage(rec.port.constData());
    QTRY_VERIFY_WITH_TIMEOUT(rec.finished, 2000);
    QVERIFY(clock.elapsed() < 2000);
    QCOMPARE(rec.finalCode, int(Cancelled));
    QCOMPARE(rec.finalText, QStringLiteral("Cancelled"));
    QCOMPARE(sim.transcript(QStringLiteral("page")).size(), 0);
    if (!nextDelivered)
        return;
    PageRecorder next(rec.port);
    QCOMPARE(next.start("300", "ATZ~", {}, "5551234^pw", "2", 80, "after the cancel"), 0);
    QTRY_VERIFY_WITH_TIMEOUT(next.finished, 20000);
    QCOMPARE(next.finalCode, 0);
    QVERIFY(sim.waitFor(QStringLiteral("page"), 1));
}

void tst_PagingSim::secondPageOnBusyPortRefused()
{
    PagerSimProcess sim;
    QVERIFY(sim.start({ "--fault", "slow-ack=1" }));
    PageRecorder first(sim.device().toUtf8());
    QCOMPARE(first.start("300", {}, {}, "5551234^pw", "1", 80, "first"), 0);
    PageRecorder second(sim.device().toUtf8());
    QByteArray result;
    QCOMPARE(second.start("300", {}, {}, "5551234^pw", "2", 80, "second", {}, &result), int(PortBusy));
    QCOMPARE(QByteArray(result.constData()), QByteArray("Port busy"));
    QTRY_VERIFY_WITH_TIMEOUT(first.finished, 20000);
    QCOMPARE(first.finalCode, 0);
    QVERIFY(second.statuses.isEmpty() && !second.finished); // a refused start posts nothing
    // Once the first has ended the port takes the next page.
    QCOMPARE(second.start("300", {}, {}, "5551234^pw", "2", 80, "second"), 0);
    QTRY_VERIFY_WITH_TIMEOUT(second.finished, 20000);
    QCOMPARE(second.finalCode, 0);
}

void tst_PagingSim::refusedStart_data()
{
    QTest::addColumn<QString>("baud");
    QTest::addColumn<QString>("pager");
    QTest::addColumn<int>("code");
    QTest::newRow("no pager ID") << "300"
                                 << "" << int(BadParameters);
    QTest::newRow("empty group member") << "300"
                                        << "1^^2^" << int(BadParameters);
    QTest::newRow("unknown speed") << "12345"
                                   << "1" << int(BadParameters);
}

void tst_PagingSim::refusedStart()
{
    QFETCH(QString, baud);
    QFETCH(QString, pager);
    QFETCH(int, code);
    PageRecorder rec("/dev/null");
    QByteArray result;
    QCOMPARE(rec.start(baud, {}, {}, "555^pw", pager, 80, QString(300, QLatin1Char('m')), {}, &result), code);
    const qsizetype zero = result.indexOf('\0');
    QVERIFY(zero > 0 && zero <= 51); // zero-terminated, at most 51 characters
    QVERIFY(QString::fromUtf8(result.left(zero)).startsWith(statusText(code)));
    QTest::qWait(200);
    QVERIFY(rec.statuses.isEmpty());
    QVERIFY(!rec.finished);
}

QTEST_GUILESS_MAIN(tst_PagingSim)
#include "tst_pagingsim.moc"
