// The carrier simulator: its TAP terminal and Hayes modem fed byte strings, its fault list, and the
// built program driven over a pseudo-terminal and TCP as a client would.

#include "exchange.h"
#include "faults.h"
#include "hayesmodem.h"
#include "linecoding.h"
#include "pacer.h"
#include "snppterminal.h"
#include "tapchecksum.h"
#include "tapterminal.h"
#include "transcript.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

using namespace pagersim;

namespace {

constexpr char STX = 0x02, ETX = 0x03, EOT = 0x04, ACK = 0x06, NAK = 0x15, ETB = 0x17, SUB = 0x1A, ESC = 0x1B,
               RS = 0x1E, US = 0x1F;

// The checksum worked out here independently of the simulator's own code.
QByteArray checksumOf(const QByteArray& block)
{
    int sum = 0;
    for (char c : block)
        sum += c & 0x7F;
    sum &= 0xFFF;
    const char text[]
        = { char(0x30 + (sum >> 8)), char(0x30 + ((sum >> 4) & 0xF)), char(0x30 + (sum & 0xF)) };
    return QByteArray(text, 3);
}

QByteArray block(const QByteArray& content, char terminator = ETX)
{
    const QByteArray body = STX + content + terminator;
    return body + checksumOf(body) + '\r';
}

QByteArray page(const QByteArray& id, const QByteArray& text)
{
    return block(id + '\r' + text + '\r');
}

const QByteArray kPrompt = "\r";
const QByteArray kLogin = QByteArray(1, ESC) + "PG1PW\r";
const QByteArray kLoggedIn = QByteArray("110 1.8\r") + ACK + '\r' + ESC + "[p\r";
const QByteArray kAck = QByteArray(1, ACK) + '\r';
const QByteArray kNak = QByteArray(1, NAK) + '\r';
const QByteArray kSent = "211 Page(s) Sent\r" + kAck;
const QByteArray kBye = QByteArray("115\r") + ESC + EOT + '\r';
const QByteArray kRefused = QByteArray() + ESC + EOT + '\r';

QString json(const QJsonObject& object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

FaultPlan planOf(const QStringList& faults)
{
    FaultPlan plan;
    for (const QString& fault : faults) {
        QString error;
        if (!plan.add(fault, &error))
            qFatal("bad fault in test table: %s", qPrintable(error));
    }
    return plan;
}

// A terminal with its output and events captured.
struct TerminalRun {
    explicit TerminalRun(const QStringList& faults, const QString& password = QString())
        : terminal(planOf(faults).forCall(1), password)
    {
        QObject::connect(&terminal, &TapTerminal::output, [this](const QByteArray& b) { output += b; });
        QObject::connect(&terminal, &TapTerminal::event, [this](const QJsonObject& e) { events << json(e); });
        QObject::connect(&terminal, &TapTerminal::dropped, [this] { ++drops; });
        terminal.start();
    }
    TapTerminal terminal;
    QByteArray output;
    QStringList events;
    int drops = 0;
};

QStringList readLines(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
    return lines;
}

// Reads from FD, cut to 7 bits, until EXPECTED has come or TIMEOUTMS passed; returns all that came.
// RAW receives the bytes as they were on the line.
QByteArray readUntil(int fd, const QByteArray& expected, int timeoutMs = 3000, QByteArray* raw = nullptr)
{
    QByteArray got;
    QElapsedTimer clock;
    clock.start();
    while (!got.contains(expected) && clock.elapsed() < timeoutMs) {
        pollfd p { fd, POLLIN, 0 };
        if (::poll(&p, 1, 20) <= 0)
            continue;
        char buffer[512];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        if (raw)
            raw->append(buffer, n);
        got += toSevenBits(QByteArray(buffer, n));
    }
    return got;
}

void writeAll(int fd, const QByteArray& bytes)
{
    QCOMPARE(::write(fd, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
}

// Starts the built simulator with ARGS and returns the lines it printed up to READY.
QStringList startSimulator(QProcess& sim, const QStringList& args)
{
    sim.start(QStringLiteral(PLIMO_BINARY_DIR "/tools/pagersim/pagersim"), args);
    QStringList banner;
    if (!sim.waitForStarted())
        return banner;
    while (!banner.contains(QStringLiteral("READY")) && sim.waitForReadyRead(5000)) {
        while (sim.canReadLine())
            banner << QString::fromLatin1(sim.readLine()).trimmed();
    }
    return banner;
}

int openDevice(const QString& bannerLine)
{
    const QByteArray device = bannerLine.mid(7).toLatin1(); // after "DEVICE "
    const int fd = ::open(device.constData(), O_RDWR | O_NOCTTY);
    if (fd < 0)
        return fd;
    termios mode {};
    ::tcgetattr(fd, &mode);
    ::cfmakeraw(&mode);
    ::tcsetattr(fd, TCSANOW, &mode);
    return fd;
}

quint16 tcpPort(const QString& bannerLine)
{
    return bannerLine.section(u':', 1).toUShort();
}

} // namespace

class tst_PagerSim : public QObject {
    Q_OBJECT

private slots:
    void checksum_data();
    void checksum();
    void parity();
    void pacer();
    void faultList_data();
    void faultList();
    void faultCounts();

    void terminal_data();
    void terminal();
    void terminalGarbage();
    void terminalSlowAck();
    void terminalIdleTimeout();
    void snppServer_data();
    void snppServer();

    void modem_data();
    void modem();
    void modemEscape();
    void modemFaultCountedByAttempt();

    void modemSurvivesNoise();

    void programRefusesBadArguments_data();
    void programRefusesBadArguments();
    void programOverPtyAndTcp();
    void programHangsUpForAClosedDevice();
    void programThrottles();

private:
    QTemporaryDir m_dir;
};

void tst_PagerSim::checksum_data()
{
    QTest::addColumn<QByteArray>("block");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("known vector") << QByteArray("\x02"
                                                "123\rABC\r\x03")
                                  << QByteArray("17;");
    QTest::newRow("nothing") << QByteArray() << QByteArray("000");
    QTest::newRow("parity bit ignored") << QByteArray("\x82"
                                                      "123\rABC\r\x83")
                                        << QByteArray("17;");
    QTest::newRow("low 12 bits only") << QByteArray(40, '\x7F') << QByteArray("3=8"); // 5080 = 0x13D8
}

void tst_PagerSim::checksum()
{
    QFETCH(QByteArray, block);
    QFETCH(QByteArray, expected);
    QCOMPARE(tapChecksum(block), expected);
}

void tst_PagerSim::parity()
{
    QCOMPARE(withEvenParity('A'), '\x41'); // two bits set: parity bit clear
    QCOMPARE(withEvenParity('C'), '\xC3'); // three bits set: parity bit set
    QCOMPARE(withEvenParity('\xC3'), '\xC3');
    QCOMPARE(withEvenParity(QByteArray("\r\x06")), QByteArray("\x8D\x06"));
    QCOMPARE(toSevenBits(QByteArray("\xC1\x8D\x7F")), QByteArray("A\r\x7F"));
}

void tst_PagerSim::pacer()
{
    const Pacer free;
    QVERIFY(!free.isThrottled());
    QVERIFY(free.due() > 1000000);

    Pacer line(50); // 20 ms a character
    QCOMPARE(line.due(), 1);
    line.consume();
    QCOMPARE(line.due(), 0);
    QVERIFY(line.msUntilDue() > 0 && line.msUntilDue() <= 20);
    // Idle for many character times: still one character now, not a burst of saved-up ones.
    QTest::qSleep(100);
    QCOMPARE(line.due(), 1);
    line.consume();
    QCOMPARE(line.due(), 0);
    // Busy: ten characters keep to the schedule, 9 character times.
    QElapsedTimer clock;
    clock.start();
    for (int sent = 0; sent < 10;) {
        if (const int due = line.due()) {
            line.consume(due);
            sent += due;
        } else {
            QTest::qSleep(line.msUntilDue());
        }
    }
    QVERIFY2(clock.elapsed() >= 180 && clock.elapsed() < 260, qPrintable(QString::number(clock.elapsed())));
}

void tst_PagerSim::faultList_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("valid");
    QTest::newRow("busy") << "busy" << true;
    QTest::newRow("busy for 2 calls") << "busy:2" << true;
    QTest::newRow("invalid ids") << "invalid=999,1234" << true;
    QTest::newRow("invalid ids counted") << "invalid=999:1" << true;
    QTest::newRow("nak count") << "nak=2" << true;
    QTest::newRow("slow-ack fraction") << "slow-ack=0.25:3" << true;
    QTest::newRow("snpp faults") << "snpp-421:1" << true;
    QTest::newRow("snpp refused ids") << "snpp-550=9,10" << true;
    QTest::newRow("close") << "close:1" << true;
    QTest::newRow("wctp-fail code") << "wctp-fail=602" << true;
    QTest::newRow("unknown") << "lightning" << false;
    QTest::newRow("wctp-fail below the failure codes") << "wctp-fail=200" << false;
    QTest::newRow("wctp-fail without a code") << "wctp-fail" << false;
    QTest::newRow("argument not wanted") << "busy=3" << false;
    QTest::newRow("nak without number") << "nak" << false;
    QTest::newRow("nak negative") << "nak=-1" << false;
    QTest::newRow("invalid without ids") << "invalid=" << false;
    QTest::newRow("bad count") << "busy:x" << false;
    QTest::newRow("slow-ack words") << "slow-ack=soon" << false;
    QTest::newRow("empty") << "" << false;
}

void tst_PagerSim::faultList()
{
    QFETCH(QString, fault);
    QFETCH(bool, valid);
    FaultPlan plan;
    QString error;
    QCOMPARE(plan.add(fault, &error), valid);
    QCOMPARE(error.isEmpty(), valid);
}

void tst_PagerSim::faultCounts()
{
    const FaultPlan plan = planOf({ "busy:2", "nak=1", "invalid=7,8:1", "slow-ack=0.5" });
    QCOMPARE(plan.forCall(1).dialResult, QByteArray("BUSY"));
    QCOMPARE(plan.forCall(2).dialResult, QByteArray("BUSY"));
    QVERIFY(plan.forCall(3).dialResult.isEmpty());
    QCOMPARE(plan.forCall(9).nakFirstBlocks, 1);
    QCOMPARE(plan.forCall(1).invalidIds, QSet<QString>({ "7", "8" }));
    QVERIFY(plan.forCall(2).invalidIds.isEmpty());
    QCOMPARE(plan.forCall(5).slowAckMs, 500);
}

void tst_PagerSim::terminal_data()
{
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<QString>("password"); // empty: any
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<bool>("drops");

    const QString loginOk = R"({"accepted":true,"event":"login","password":"PW"})";
    const QByteArray opening = kPrompt + kLogin;
    const QByteArray answered = "ID=" + kLoggedIn;

    QTest::newRow("login, then EOT") << QStringList() << "" << opening + EOT + '\r' << answered + kBye
                                     << QStringList { loginOk } << true;
    QTest::newRow("login with the right password")
        << QStringList() << "PW" << opening << answered << QStringList { loginOk } << false;
    QTest::newRow("login with a wrong password")
        << QStringList() << "SECRET" << opening + page("1", "x") << "ID=" + kRefused
        << QStringList { R"({"accepted":false,"event":"login","password":"PW"})" } << true;
    QTest::newRow("badpassword refuses any")
        << QStringList { "badpassword" } << "" << opening << "ID=" + kRefused
        << QStringList { R"({"accepted":false,"event":"login","password":"PW"})" } << true;
    QTest::newRow("other service refused")
        << QStringList() << "" << kPrompt + ESC + "PG3PW\r"
        << "ID=" + kRefused << QStringList { R"({"accepted":false,"event":"login","password":"PW"})" }
        << true;
    QTest::newRow("login without a prompt, CR LF line ends")
        << QStringList() << "" << QByteArray(1, ESC) + "PG1\r\n"
        << kLoggedIn << QStringList { R"({"accepted":true,"event":"login","password":""})" } << false;
    QTest::newRow("LF in place of CR") << QStringList() << "" << QByteArray("\n") + ESC + "PG1PW\n"
                                       << answered << QStringList { loginOk } << false;
    QTest::newRow("CR LF prompts once")
        << QStringList() << "" << QByteArray("\r\n\r\n") << QByteArray("ID=ID=") << QStringList() << false;
    QTest::newRow("ID= at most three times") << QStringList() << "" << QByteArray("\r\r\r\r\r")
                                             << QByteArray("ID=ID=ID=") << QStringList() << false;
    QTest::newRow("ESC EOT at login ends the call")
        << QStringList() << "" << kPrompt + ESC + EOT << QByteArray("ID=") << QStringList() << true;

    QTest::newRow("page accepted") << QStringList() << "" << opening + page("123", "Hello world")
                                   << (answered + kSent)
                                   << QStringList { loginOk,
                                          R"({"event":"page","id":"123","text":"Hello world"})" }
                                   << false;
    QTest::newRow("checksum wrong: NAK, resend accepted")
        << QStringList() << "" << opening + STX + "123\rHi\r" + ETX + "000\r" + page("123", "Hi")
        << answered + kNak + kSent
        << QStringList { loginOk, R"({"block":1,"event":"nak"})",
               R"({"event":"page","id":"123","text":"Hi"})" }
        << false;
    QTest::newRow("checksum short: NAK")
        << QStringList() << "" << opening + STX + "1\rx\r" + ETX + "12\r" << answered + kNak
        << QStringList { loginOk, R"({"block":1,"event":"nak"})" } << false;
    QTest::newRow("checksum followed by LF")
        << QStringList() << "" << opening + page("5", "lf").chopped(1) + '\n'
        << answered + kSent << QStringList { loginOk, R"({"event":"page","id":"5","text":"lf"})" } << false;
    QTest::newRow("SUB escapes decoded")
        << QStringList() << ""
        << opening + page("42", QByteArray("a") + SUB + "M" + SUB + "J" + "b" + SUB + "[" + SUB + "Z")
        << answered + kSent
        << QStringList { loginOk, R"({"event":"page","id":"42","text":"a\r\nb\u001b\u001a"})" } << false;
    QTest::newRow("US continuation joined")
        << QStringList() << "" << opening + block("77\rHello, ", US) + block("wide ", US) + block("world\r")
        << answered + kAck + kAck + kSent
        << QStringList { loginOk, R"({"event":"page","id":"77","text":"Hello, wide world"})" } << false;
    QTest::newRow("SUB escape split by US")
        << QStringList() << "" << opening + block(QByteArray("77\rab") + SUB, US) + block("Mc\r")
        << answered + kAck + kSent << QStringList { loginOk, R"({"event":"page","id":"77","text":"ab\rc"})" }
        << false;
    QTest::newRow("ETB between fields")
        << QStringList() << "" << opening + block("77\r", ETB) + block("text\r") << answered + kAck + kSent
        << QStringList { loginOk, R"({"event":"page","id":"77","text":"text"})" } << false;
    QTest::newRow("two pages, then EOT")
        << QStringList() << "" << opening + page("1", "one") + page("2", "two") + EOT + '\r'
        << answered + kSent + kSent + kBye
        << QStringList { loginOk, R"({"event":"page","id":"1","text":"one"})",
               R"({"event":"page","id":"2","text":"two"})" }
        << true;
    QTest::newRow("invalid ID: RS, next page goes")
        << QStringList { "invalid=999" } << "" << opening + page("999", "no") + page("1", "yes")
        << answered + "511 Invalid pager ID\r" + RS + '\r' + kSent
        << QStringList { loginOk, R"({"event":"refused","id":"999","reason":"invalid id"})",
               R"({"event":"page","id":"1","text":"yes"})" }
        << false;
    QTest::newRow("empty ID: RS") << QStringList() << "" << opening + page("", "who")
                                  << (answered + "511 Invalid pager ID\r" + RS + '\r')
                                  << QStringList { loginOk,
                                         R"({"event":"refused","id":"","reason":"invalid id"})" }
                                  << false;
    QTest::newRow("one field only: RS")
        << QStringList() << "" << opening + block("123\r")
        << answered + "506 Invalid message field\r" + RS + '\r'
        << QStringList { loginOk, R"({"event":"refused","id":"123","reason":"bad fields"})" } << false;
    QTest::newRow("block too long: NAK")
        << QStringList() << "" << opening + page("1", QByteArray(260, 'x')) << answered + kNak
        << QStringList { loginOk, R"({"block":1,"event":"nak"})" } << false;
    QTest::newRow("longest block accepted")
        << QStringList() << "" << opening + page("1", QByteArray(256 - 4 - 5, 'x')) << answered + kSent
        << QStringList { loginOk,
               json({ { "event", "page" }, { "id", "1" }, { "text", QString(247, 'x') } }) }
        << false;
    QTest::newRow("new STX restarts a block")
        << QStringList() << "" << opening + STX + "12\rbrok" + page("12", "whole") << answered + kSent
        << QStringList { loginOk, R"({"event":"page","id":"12","text":"whole"})" } << false;

    QTest::newRow("maxpages=1: second page ends the session")
        << QStringList { "maxpages=1" } << "" << opening + page("1", "one") + page("2", "two")
        << answered + kSent + "112 Maximum pages entered for session\r" + kRefused
        << QStringList { loginOk, R"({"event":"page","id":"1","text":"one"})" } << true;
    QTest::newRow("nak=2: first two blocks NAKed")
        << QStringList { "nak=2" } << "" << opening + page("1", "a") + page("1", "a") + page("1", "a")
        << answered + kNak + kNak + kSent
        << QStringList { loginOk, R"({"block":1,"event":"nak"})", R"({"block":2,"event":"nak"})",
               R"({"event":"page","id":"1","text":"a"})" }
        << false;
    QTest::newRow("nak-always") << QStringList { "nak-always" } << ""
                                << opening + page("1", "a") + page("1", "a") << (answered + kNak + kNak)
                                << QStringList { loginOk, R"({"block":1,"event":"nak"})",
                                       R"({"block":2,"event":"nak"})" }
                                << false;
    QTest::newRow("drop=1: line drops after the first ACK")
        << QStringList { "drop=1" } << "" << opening + page("1", "a") + page("2", "b") << answered + kSent
        << QStringList { loginOk, R"({"event":"page","id":"1","text":"a"})" } << true;
    QTest::newRow("drop=0: line drops after the go-ahead")
        << QStringList { "drop=0" } << "" << opening + page("1", "a") << answered << QStringList { loginOk }
        << true;
    QTest::newRow("no-goahead") << QStringList { "no-goahead" } << "" << opening << "ID=110 1.8\r" + kAck
                                << QStringList { loginOk } << false;
    QTest::newRow("silent-terminal") << QStringList { "silent-terminal" } << "" << opening + page("1", "a")
                                     << QByteArray() << QStringList() << false;
}

void tst_PagerSim::terminal()
{
    QFETCH(QStringList, faults);
    QFETCH(QString, password);
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, output);
    QFETCH(QStringList, events);
    QFETCH(bool, drops);
    const QString expectedPassword = password.isEmpty() ? QString() : password;

    // All at once, then one byte at a time: a block split over reads must parse the same.
    TerminalRun whole(faults, expectedPassword);
    whole.terminal.feed(input);
    QCOMPARE(whole.output, output);
    QCOMPARE(whole.events, events);
    QCOMPARE(whole.drops, drops ? 1 : 0);
    QCOMPARE(whole.terminal.isClosed(), drops);

    TerminalRun bytewise(faults, expectedPassword);
    for (char c : input)
        bytewise.terminal.feed(QByteArrayView(&c, 1));
    QCOMPARE(bytewise.output, output);
    QCOMPARE(bytewise.events, events);
}

void tst_PagerSim::terminalGarbage()
{
    TerminalRun run({ "garbage" });
    run.terminal.feed(kPrompt + kPrompt + kLogin);
    QTRY_VERIFY(run.output.size() > 200);
    QVERIFY(!run.output.contains('='));
    QVERIFY(run.events.isEmpty());
}

void tst_PagerSim::terminalSlowAck()
{
    TerminalRun run({ "slow-ack=0.2" });
    QElapsedTimer clock;
    clock.start();
    run.terminal.feed(kPrompt + kLogin + page("1", "slow") + EOT);
    QVERIFY(run.output.isEmpty());
    QTRY_COMPARE(run.drops, 1);
    QVERIFY(clock.elapsed() >= 200);
    QCOMPARE(run.output, "ID=" + kLoggedIn + kSent + kBye); // order kept though every reply waited
}

void tst_PagerSim::terminalIdleTimeout()
{
    TerminalRun run({});
    run.terminal.setIdleTimeout(100);
    run.terminal.start();
    run.terminal.feed(kPrompt);
    QTRY_COMPARE(run.drops, 1);
    QCOMPARE(run.output, QByteArray("ID=501 Time-out\r") + kRefused);
}

// The SNPP server fed command lines as a client would send them, whole and byte by byte: the codes of
// its replies in order, the pages it records, whether it hangs up. What the library never sends is here.
void tst_PagerSim::snppServer_data()
{
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("codes");
    QTest::addColumn<QStringList>("pages"); // "ID|text"
    QTest::addColumn<bool>("drops");
    QTest::newRow("level 2 group, DATA unstuffed")
        << QStringList() << QByteArray("page 1\r\nPAGE 2 pin\r\nDATA\r\n..a\r\n.\r\nSEND\r\nQUIT\r\n")
        << "220 250 250 354 250 250 221" << QStringList { "1|.a", "2|.a" } << true;
    QTest::newRow("SEND clears the transaction") << QStringList()
        << QByteArray("PAGE 1\nMESS hi\nSEND\nSEND\nMESS x\nSEND\n") << "220 250 250 250 503 250 503"
        << QStringList { "1|hi" } << false;
    QTest::newRow("RESE, a second message, options, HELP")
        << QStringList() << QByteArray("PAGE 1\nMESS a\nMESS b\nRESE\nLEVE 2\nHELP\nSEND\n")
        << "220 250 250 503 250 500 214 250 503" << QStringList() << false;
    QTest::newRow("refused ID and 554") << QStringList { "snpp-550=9", "snpp-554" }
        << QByteArray("PAGE 9\nPAGE 1\nMESS x\nSEND\n") << "220 550 250 250 554" << QStringList() << false;
    QTest::newRow("421 greeting") << QStringList { "snpp-421" } << QByteArray("PAGE 1\n") << "421"
                                  << QStringList() << true;
    QTest::newRow("drop after two 250s") << QStringList { "drop=2" }
        << QByteArray("PAGE 1\nPAGE 2\nPAGE 3\n") << "220 250 250" << QStringList() << true;
    QTest::newRow("overlong line") << QStringList() << QByteArray(2000, 'P') + "\nPAGE 1\n" << "220 500 250"
                                   << QStringList() << false;
}

void tst_PagerSim::snppServer()
{
    QFETCH(QStringList, faults);
    QFETCH(QByteArray, input);
    QFETCH(QString, codes);
    QFETCH(QStringList, pages);
    QFETCH(bool, drops);
    for (const bool bytewise : { false, true }) {
        SnppTerminal server(planOf(faults).forCall(1), QString());
        QByteArray output;
        QStringList recorded;
        int dropped = 0;
        connect(&server, &SnppTerminal::output, [&](const QByteArray& b) { output += b; });
        connect(&server, &SnppTerminal::event, [&](const QJsonObject& e) {
            if (e.value("event").toString() == u"page")
                recorded << e.value("id").toString() + u'|' + e.value("text").toString();
        });
        connect(&server, &SnppTerminal::dropped, [&] { ++dropped; });
        server.start();
        if (bytewise)
            for (char c : input)
                server.feed(QByteArrayView(&c, 1));
        else
            server.feed(input);
        QStringList got;
        for (const QByteArray& line : output.split('\n'))
            if (!line.isEmpty())
                got << QString::fromLatin1(line.left(3));
        QCOMPARE(got.join(u' '), codes);
        QVERIFY(output.endsWith("\r\n"));
        QCOMPARE(recorded, pages);
        QCOMPARE(dropped, drops ? 1 : 0);
    }
}

void tst_PagerSim::modem_data()
{
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<QStringList>("transcript");

    const QByteArray ok = "\r\nOK\r\n";
    const QByteArray error = "\r\nERROR\r\n";
    const auto modem = [](const char* command) {
        return QStringLiteral(R"({"command":"%1","event":"modem"})").arg(command);
    };

    QTest::newRow("init commands") << QStringList()
                                   << QByteArray("ATZ\rAT&F\r\nATE0V1X4\rATS7=60&C1\\N3%C0\r")
                                   << ok + ok + ok + ok
                                   << QStringList { modem("ATZ"), modem("AT&F"), modem("ATE0V1X4"),
                                          modem(R"(ATS7=60&C1\\N3%C0)") };
    QTest::newRow("junk") << QStringList() << QByteArray("HELLO\rATJUNK\rAT&\r") << error + error + error
                          << QStringList { modem("HELLO"), modem("ATJUNK"), modem("AT&") };
    QTest::newRow("empty lines ignored")
        << QStringList() << QByteArray("\r\n\r") << QByteArray() << QStringList();
    QTest::newRow("lower case, noise before AT")
        << QStringList() << QByteArray("+++at\r") << ok << QStringList { modem("+++at") };
    QTest::newRow("echo on") << QStringList() << QByteArray("ATE1\rAT\r") << ok + "AT\r" + ok
                             << QStringList { modem("ATE1"), modem("AT") };
    QTest::newRow("register query") << QStringList() << QByteArray("ATS7=45\rATS7?\r")
                                    << ok + "\r\n045\r\n" + ok
                                    << QStringList { modem("ATS7=45"), modem("ATS7?") };
    QTest::newRow("backspace") << QStringList() << QByteArray("ATX\bZ\r") << ok
                               << QStringList { modem("ATZ") };
    QTest::newRow("dial refuses letters")
        << QStringList() << QByteArray("ATDT555X1234\rATDT555;ATH\rATDT\r") << error + error + error
        << QStringList { modem("ATDT555X1234"), modem("ATDT555;ATH"), modem("ATDT") };
    QTest::newRow("dial connects") << QStringList() << QByteArray("ATDT 555-1234\rATDT5551234\r")
                                   << error + "\r\nCONNECT 9600\r\n"
                                   << QStringList { modem("ATDT 555-1234"), modem("ATDT5551234"),
                                          R"({"call":1,"event":"dial","mode":"tone","number":"5551234"})",
                                          R"({"call":1,"event":"connect","via":"pty"})" };
    QTest::newRow("pulse dial, busy")
        << QStringList { "busy" } << QByteArray("ATDP 9,555 1234\r") << QByteArray("\r\nBUSY\r\n")
        << QStringList { modem("ATDP 9,555 1234"),
               R"({"call":1,"event":"dial","mode":"pulse","number":"9,5551234"})",
               R"({"call":1,"event":"end","pages":0})" };
    QTest::newRow("numeric page in one dial")
        << QStringList() << QByteArray("ATDT5551234,,,,123#;\rATH0\r") << ok + ok
        << QStringList { modem("ATDT5551234,,,,123#;"),
               R"({"call":1,"event":"dial","mode":"tone","number":"5551234"})", modem("ATH0"),
               R"({"call":1,"digits":"123#","event":"numeric","number":"5551234"})",
               R"({"call":1,"event":"hangup"})", R"({"call":1,"event":"end","pages":0})" };
    QTest::newRow("numeric page in two dials")
        << QStringList() << QByteArray("ATDT5551234;\rATDT42*#,;\rATH\r") << ok + ok + ok
        << QStringList { modem("ATDT5551234;"),
               R"({"call":1,"event":"dial","mode":"tone","number":"5551234"})", modem("ATDT42*#,;"),
               modem("ATH"), R"({"call":1,"digits":"42*#","event":"numeric","number":"5551234"})",
               R"({"call":1,"event":"hangup"})", R"({"call":1,"event":"end","pages":0})" };
    QTest::newRow("modem-error") << QStringList { "modem-error" } << QByteArray("ATZ\rAT\rATH0\r")
                                 << error + error + ok
                                 << QStringList { modem("ATZ"), modem("AT"), modem("ATH0") };
    QTest::newRow("modem-silent") << QStringList { "modem-silent" } << QByteArray("ATE1\rATZ\r")
                                  << QByteArray() << QStringList { modem("ATE1"), modem("ATZ") };
    QTest::newRow("call to the terminal ends with NO CARRIER")
        << QStringList() << "ATD555\r\r" + kLogin + page("9", "hi") + EOT + "\rAT\r"
        << "\r\nCONNECT 9600\r\nID=" + kLoggedIn + kSent + kBye + "\r\nNO CARRIER\r\n" + ok
        << QStringList { modem("ATD555"), R"({"call":1,"event":"dial","mode":"tone","number":"555"})",
               R"({"call":1,"event":"connect","via":"pty"})",
               R"({"accepted":true,"call":1,"event":"login","password":"PW"})",
               R"({"call":1,"event":"page","id":"9","text":"hi"})", R"({"call":1,"event":"end","pages":1})",
               modem("AT") };
    QTest::newRow("faults counted by call")
        << QStringList { "nocarrier:1" } << QByteArray("ATD1\rATD2\r")
        << QByteArray("\r\nNO CARRIER\r\n\r\nCONNECT 9600\r\n")
        << QStringList { modem("ATD1"), R"({"call":1,"event":"dial","mode":"tone","number":"1"})",
               R"({"call":1,"event":"end","pages":0})", modem("ATD2"),
               R"({"call":2,"event":"dial","mode":"tone","number":"2"})",
               R"({"call":2,"event":"connect","via":"pty"})" };
}

void tst_PagerSim::modem()
{
    QFETCH(QStringList, faults);
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, output);
    QFETCH(QStringList, transcript);

    const QString path
        = m_dir.filePath(QStringLiteral("modem-%1.jsonl").arg(QTest::currentDataTag()).replace(u' ', u'_'));
    QFile::remove(path);
    Transcript log;
    QString error;
    QVERIFY2(log.open(path, &error), qPrintable(error));
    Exchange exchange(&log, planOf(faults));
    HayesModem modem(&exchange);
    QByteArray got;
    connect(&modem, &HayesModem::output, [&](const QByteArray& b) { got += b; });
    modem.feed(input);
    QCOMPARE(got, output);
    QCOMPARE(readLines(path), transcript);
}

void tst_PagerSim::modemEscape()
{
    const QString path = m_dir.filePath(QStringLiteral("escape.jsonl"));
    Transcript log;
    QString error;
    QVERIFY2(log.open(path, &error), qPrintable(error));
    Exchange exchange(&log, {});
    HayesModem modem(&exchange);
    modem.setEscapeGuard(50);
    QByteArray got;
    connect(&modem, &HayesModem::output, [&](const QByteArray& b) { got += b; });
    QSignalSpy ended(&exchange, &Exchange::callEnded);

    modem.feed("ATDT5551234\r");
    QVERIFY(modem.isOnline());
    modem.feed("+++x"); // not an escape: a character followed the pluses
    QTest::qWait(120);
    QVERIFY(modem.isOnline());
    modem.feed("+++");
    QTRY_VERIFY(!modem.isOnline());
    QCOMPARE(ended.count(), 1);
    QVERIFY(got.endsWith("\r\nOK\r\n"));
    got.clear();
    modem.feed("ATH0\r");
    QCOMPARE(got, QByteArray("\r\nOK\r\n"));
    const QStringList lines = readLines(path);
    QVERIFY(lines.contains(R"({"call":1,"event":"hangup"})"));
    QCOMPARE(lines.count(R"({"call":1,"event":"end","pages":0})"), 1);
}

void tst_PagerSim::modemFaultCountedByAttempt()
{
    // A client that meets a broken modem never dials; closing the line ends its attempt, and a fault
    // for one call must then be over.
    const QString path = m_dir.filePath(QStringLiteral("attempts.jsonl"));
    Transcript log;
    QString error;
    QVERIFY2(log.open(path, &error), qPrintable(error));
    Exchange exchange(&log, planOf({ "modem-error:1" }));
    HayesModem modem(&exchange);
    QByteArray got;
    connect(&modem, &HayesModem::output, [&](const QByteArray& b) { got += b; });
    modem.feed("ATZ\r");
    QCOMPARE(got, QByteArray("\r\nERROR\r\n"));
    modem.dropLine();
    QCOMPARE(exchange.endedCalls(), 1);
    got.clear();
    modem.feed("ATZ\r");
    QCOMPARE(got, QByteArray("\r\nOK\r\n"));
    modem.dropLine(); // an attempt the modem served is not a call
    QCOMPARE(exchange.endedCalls(), 1);
    QVERIFY(readLines(path).contains(R"({"call":1,"event":"end","pages":0})"));
}

void tst_PagerSim::modemSurvivesNoise()
{
    // Line noise in every mode, with dials mixed in so the terminal gets its share: nothing may crash
    // and every transcript line must stay one JSON object.
    const QString path = m_dir.filePath(QStringLiteral("noise.jsonl"));
    Transcript log;
    QString error;
    QVERIFY2(log.open(path, &error), qPrintable(error));
    Exchange exchange(&log, planOf({ "nak=1:3", "invalid=1", "maxpages=2:5" }));
    HayesModem modem(&exchange);
    QRandomGenerator random(20261208);
    for (int round = 0; round < 200; ++round) {
        QByteArray noise(random.bounded(1, 200), Qt::Uninitialized);
        for (char& c : noise)
            c = char(random.bounded(0, 128));
        if (round % 10 == 0) {
            noise.replace(EOT, '.');
            noise = "\rATDT555\r\r" + kLogin + noise + page("1", noise.left(20)) + page("2", noise.right(20));
        }
        modem.feed(noise);
        if (round % 25 == 24)
            modem.dropLine();
    }
    const QStringList lines = readLines(path);
    QVERIFY(lines.size() > 20);
    QVERIFY(!lines.filter(QStringLiteral(R"("event":"page")")).isEmpty());
    for (const QString& line : lines) {
        QJsonParseError parsed;
        QVERIFY2(QJsonDocument::fromJson(line.toUtf8(), &parsed).isObject(), qPrintable(line));
    }
}

void tst_PagerSim::programRefusesBadArguments_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("unknown fault") << QStringList { "--fault", "lightning" };
    QTest::newRow("fault argument") << QStringList { "--fault", "nak=many" };
    QTest::newRow("baud not a number") << QStringList { "--baud", "fast" };
    QTest::newRow("no calls") << QStringList { "--calls", "0" };
    QTest::newRow("port out of range") << QStringList { "--tcp", "70000" };
    QTest::newRow("transcript in no folder") << QStringList { "--transcript", "/nonexistent/folder/t.jsonl" };
    QTest::newRow("stray argument") << QStringList { "extra" };
}

void tst_PagerSim::programRefusesBadArguments()
{
    QFETCH(QStringList, args);
    QProcess sim;
    sim.start(QStringLiteral(PLIMO_BINARY_DIR "/tools/pagersim/pagersim"), args);
    QVERIFY(sim.waitForFinished(5000));
    QCOMPARE(sim.exitCode(), 2);
    QVERIFY(sim.readAllStandardOutput().isEmpty()); // no READY for a client to act on
    QVERIFY(sim.readAllStandardError().startsWith("pagersim: "));
}

void tst_PagerSim::programOverPtyAndTcp()
{
    const QString path = m_dir.filePath(QStringLiteral("program.jsonl"));
    QProcess sim;
    const QStringList banner = startSimulator(
        sim, { "--tcp", "0", "--transcript", path, "--password", "PW", "--calls", "2", "--quiet" });
    QCOMPARE(banner.size(), 3);
    QVERIFY(banner[0].startsWith("DEVICE /dev/pts/"));
    QVERIFY(banner[1].startsWith("TCP 127.0.0.1:"));
    QCOMPARE(banner[2], QStringLiteral("READY"));

    // Call 1 on the pseudo-terminal: modem, dial, TAP login, one page, EOT.
    const int fd = openDevice(banner[0]);
    QVERIFY(fd >= 0);

    writeAll(fd, "ATZ\r");
    QByteArray raw;
    QVERIFY(readUntil(fd, "OK\r\n", 3000, &raw).contains("\r\nOK\r\n"));
    QCOMPARE(raw, QByteArray("\x8D\x0A\xCF\x4B\x8D\x0A")); // even parity on every byte sent
    writeAll(fd, "ATDT5551234\r");
    QVERIFY(readUntil(fd, "CONNECT 9600\r\n").contains("CONNECT 9600"));
    writeAll(fd, "\r");
    QVERIFY(readUntil(fd, "ID=").contains("ID="));
    writeAll(fd, kLogin);
    QVERIFY(readUntil(fd, QByteArray(1, ESC) + "[p\r").contains(kLoggedIn));
    writeAll(fd, withEvenParity(page("123", "Fire drill at 10"))); // a client's parity bits are ignored
    QVERIFY(readUntil(fd, kSent).contains(kSent));
    writeAll(fd, QByteArray(1, EOT) + '\r');
    QVERIFY(readUntil(fd, "NO CARRIER\r\n").contains(kBye + "\r\nNO CARRIER\r\n"));
    ::close(fd);

    // Call 2 on TCP: straight to the terminal.
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, tcpPort(banner[1]));
    QVERIFY(socket.waitForConnected(3000));
    QByteArray reply;
    const auto await = [&](const QByteArray& expected) {
        while (!reply.contains(expected) && socket.waitForReadyRead(3000))
            reply += toSevenBits(socket.readAll());
        return reply.contains(expected);
    };
    socket.write("\r");
    QVERIFY(await("ID="));
    socket.write(kLogin + page("77", "over tcp") + EOT + '\r');
    QVERIFY(await(kBye));
    QCOMPARE(reply, "ID=" + kLoggedIn + kSent + kBye);
    QVERIFY(socket.state() == QAbstractSocket::UnconnectedState || socket.waitForDisconnected(3000));

    QVERIFY(sim.waitForFinished(5000));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 0);

    const QStringList events = readLines(path).filter(QStringLiteral(R"("call")"));
    QCOMPARE(events,
        QStringList({ R"({"call":1,"event":"dial","mode":"tone","number":"5551234"})",
            R"({"call":1,"event":"connect","via":"pty"})",
            R"({"accepted":true,"call":1,"event":"login","password":"PW"})",
            R"({"call":1,"event":"page","id":"123","text":"Fire drill at 10"})",
            R"({"call":1,"event":"end","pages":1})", R"({"call":2,"event":"connect","via":"tcp"})",
            R"({"accepted":true,"call":2,"event":"login","password":"PW"})",
            R"({"call":2,"event":"page","id":"77","text":"over tcp"})",
            R"({"call":2,"event":"end","pages":1})" }));
}

void tst_PagerSim::programHangsUpForAClosedDevice()
{
    const QString path = m_dir.filePath(QStringLiteral("closed.jsonl"));
    QProcess sim;
    const QStringList banner = startSimulator(sim, { "--transcript", path, "--quiet" });
    QCOMPARE(banner.size(), 2);
    int fd = openDevice(banner[0]);
    QVERIFY(fd >= 0);
    writeAll(fd, "ATDT5551234\r");
    QTest::qWait(200); // CONNECT comes and is never read
    ::close(fd);
    QTRY_VERIFY(readLines(path).contains(R"({"call":1,"event":"end","pages":0})"));
    QVERIFY(readLines(path).contains(R"({"call":1,"event":"hangup"})"));

    // The next client finds the modem in command mode and nothing left over from the last one.
    fd = openDevice(banner[0]);
    QVERIFY(fd >= 0);
    writeAll(fd, "AT\r");
    QCOMPARE(readUntil(fd, "OK\r\n"), QByteArray("\r\nOK\r\n"));
    ::close(fd);
    sim.terminate();
    QVERIFY(sim.waitForFinished(5000));
    QCOMPARE(sim.exitCode(), 0);
}

void tst_PagerSim::programThrottles()
{
    // 300 baud is 30 characters a second each way, on both lines.
    QProcess sim;
    const QStringList banner = startSimulator(sim, { "--tcp", "0", "--baud", "300", "--quiet" });
    QCOMPARE(banner.size(), 3);

    // The 6 characters of the dial are read 5 character times apart and the 15 of "\r\nCONNECT 300\r\n"
    // written 14 apart: at least 19 x 33 ms.
    const int fd = openDevice(banner[0]);
    QVERIFY(fd >= 0);
    QElapsedTimer clock;
    clock.start();
    writeAll(fd, "ATDT1\r");
    QCOMPARE(readUntil(fd, "300\r\n"), QByteArray("\r\nCONNECT 300\r\n"));
    qint64 elapsed = clock.elapsed();
    QVERIFY2(elapsed >= 600 && elapsed < 2000, qPrintable(QString::number(elapsed)));
    ::close(fd);

    // TCP: the login line (5 characters) and its 14-character reply.
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, tcpPort(banner[1]));
    QVERIFY(socket.waitForConnected(3000));
    QByteArray reply;
    socket.write("\r");
    while (!reply.contains("ID=") && socket.waitForReadyRead(3000))
        reply += toSevenBits(socket.readAll());
    clock.restart();
    socket.write(QByteArray(1, ESC) + "PG1\r");
    reply.clear();
    while (!reply.contains(QByteArray(1, ESC) + "[p\r") && socket.waitForReadyRead(3000))
        reply += toSevenBits(socket.readAll());
    elapsed = clock.elapsed();
    QCOMPARE(reply, kLoggedIn);
    QVERIFY2(elapsed >= 500 && elapsed < 2000, qPrintable(QString::number(elapsed)));
    sim.terminate();
    QVERIFY(sim.waitForFinished(5000));
    QCOMPARE(sim.exitCode(), 0);
}

QTEST_GUILESS_MAIN(tst_PagerSim)
#include "tst_pagersim.moc"
