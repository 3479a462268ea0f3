// The modem dialogue and the TAP session as state machines over a real byte line (a socket pair),
// with the far end played by a script: what the simulator does not do (prompts inside other text, LF
// line ends, other refusals, endless lines, echo) and the limits (n1, n2, n3, t1, t3, cancel); the port
// names and the settings a serial line is opened with.

#include "paging/line.h"
#include "paging/modemdialogue.h"
#include "paging/pagestatus.h"
#include "paging/serialline.h"
#include "paging/tapframe.h"
#include "paging/tapsession.h"
#include "paging/tcpline.h"

#include <QElapsedTimer>
#include <QTest>

#include <functional>
#include <poll.h>
#include <pty.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace paging;
using namespace paging::tapframe;

namespace {

// The far end: reads what the client sends (parity stripped), answers from a script.
class Peer {
public:
    explicit Peer(int fd)
        : m_fd(fd)
    {
    }
    ~Peer() { ::close(m_fd); }

    // Reads until `pattern` has arrived (true) or `ms` pass (false).
    bool expect(const QByteArray& pattern, int ms = 3000)
    {
        QElapsedTimer clock;
        clock.start();
        while (!m_seen.contains(pattern)) {
            if (clock.elapsed() > ms)
                return false;
            pollfd p { m_fd, POLLIN, 0 };
            if (::poll(&p, 1, 50) <= 0)
                continue;
            char buf[256];
            const ssize_t n = ::read(m_fd, buf, sizeof buf);
            if (n <= 0)
                return false;
            for (ssize_t i = 0; i < n; ++i) {
                m_raw.append(buf[i]);
                m_seen.append(char(buf[i] & 0x7F));
                m_all.append(char(buf[i] & 0x7F));
            }
        }
        m_seen.remove(0, m_seen.indexOf(pattern) + pattern.size());
        return true;
    }
    void send(const QByteArray& bytes)
    {
        [[maybe_unused]] auto w = ::write(m_fd, bytes.constData(), bytes.size());
    }
    QByteArray raw() const { return m_raw; } // as on the wire, parity bits and all
    QByteArray text() const { return m_all; } // the same, 7-bit
    int count(const QByteArray& pattern) const { return int(m_all.count(pattern)); }

private:
    int m_fd;
    QByteArray m_seen;
    QByteArray m_raw;
    QByteArray m_all;
};

ProtocolTimings quick()
{
    ProtocolTimings t;
    t.t1LoginCrMs = 150;
    t.t3ReplyMs = 600;
    t.commandReplyMs = 400;
    t.guardMs = 150;
    return t;
}

struct Pair {
    int client = -1;
    int cancel = -1;
    std::unique_ptr<Line> line;
    std::unique_ptr<Peer> peer;
    std::thread thread;

    Pair()
    {
        int fds[2];
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds);
        cancel = ::eventfd(0, EFD_NONBLOCK);
        line = std::make_unique<Line>(fds[0], cancel, nullptr, true, 0);
        peer = std::make_unique<Peer>(fds[1]);
    }
    ~Pair()
    {
        if (thread.joinable())
            thread.join();
        line.reset();
        peer.reset();
        ::close(cancel);
    }
    void play(std::function<void(Peer&)> script)
    {
        thread = std::thread([this, script] { script(*peer); });
    }
    void cancelNow()
    {
        const quint64 one = 1;
        [[maybe_unused]] auto w = ::write(cancel, &one, sizeof one);
    }
};

const QByteArray goAhead = QByteArray("110 1.8\r") + ACK + "\r" + ESC + "[p\r";

} // namespace

class tst_TapSession : public QObject {
    Q_OBJECT

private slots:
    void loginPrompts_data();
    void loginPrompts();
    void loginGivesUpAfterN1Crs();
    void loginNakAskedAgainThenRefused();
    void blockReplies_data();
    void blockReplies();
    void nakLimitIsN2();
    void endlessLineStaysBounded();
    void parityOnTheWire();
    void cancelEndsAWaitAtOnce();
    void modemResults_data();
    void modemResults();
    void hangUpWithPlusesWhenNoDtr();
    void portNames_data();
    void portNames();
    void serialSettings();
};

void tst_TapSession::loginPrompts_data()
{
    QTest::addColumn<QByteArray>("prompt");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("code");
    QTest::newRow("bare ID=") << QByteArray("ID=") << goAhead << 0;
    QTest::newRow("inside a banner") << QByteArray("\r\nWelcome to the paging service ID=") << goAhead << 0;
    QTest::newRow("LF line ends") << QByteArray("ID=\n") << QByteArray("110 1.8\n\x06\n\x1b[p\n") << 0;
    QTest::newRow("CR LF line ends") << QByteArray("ID=\r\n") << QByteArray("110 1.8\r\n\x06\r\n\x1b[p\r\n")
                                     << 0;
    QTest::newRow("no ACK, only go-ahead") << QByteArray("ID=") << QByteArray("\x1b[p\r") << 0;
    QTest::newRow("refused") << QByteArray("ID=") << QByteArray("\x1b\x04\r") << int(LoginRefused);
    QTest::newRow("no go-ahead") << QByteArray("ID=") << QByteArray("110 1.8\r\x06\r")
                                 << int(TerminalNotResponding);
    QTest::newRow("hangs up") << QByteArray("ID=") << QByteArray("\r\nNO CARRIER\r\n") << int(ConnectionLost);
}

void tst_TapSession::loginPrompts()
{
    QFETCH(QByteArray, prompt);
    QFETCH(QByteArray, reply);
    QFETCH(int, code);
    Pair pair;
    pair.play([&](Peer& p) {
        if (p.expect("\r"))
            p.send(prompt);
        if (p.expect(QByteArray("\x1bPG1sec ret\r")))
            p.send(reply);
    });
    TapSession session(*pair.line, quick());
    QCOMPARE(session.login(QStringLiteral("sec ret")), code);
}

void tst_TapSession::loginGivesUpAfterN1Crs()
{
    Pair pair;
    pair.play([](Peer& p) { p.expect("never", 1500); });
    TapSession session(*pair.line, quick());
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(session.login(QStringLiteral("pw")), int(TerminalNotResponding));
    QVERIFY(clock.elapsed() >= 3 * 150 - 20 && clock.elapsed() < 2500); // n1 CRs, t1 apart
    pair.thread.join();
    QCOMPARE(pair.peer->count("\r"), 3);
}

void tst_TapSession::loginNakAskedAgainThenRefused()
{
    Pair pair;
    pair.play([](Peer& p) {
        p.expect("\r");
        p.send("ID=");
        for (int i = 0; i < 3; ++i)
            if (p.expect("PG1pw\r"))
                p.send(QByteArray(1, NAK) + "\r");
    });
    TapSession session(*pair.line, quick());
    QCOMPARE(session.login(QStringLiteral("pw")), int(LoginRefused));
    pair.thread.join();
    QCOMPARE(pair.peer->count("PG1pw"), 3);
}

void tst_TapSession::blockReplies_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("response");
    QTest::addColumn<int>("failure");
    using O = TapSession::PageOutcome;
    QTest::newRow("ACK") << QByteArray("211 Page(s) Sent\r\x06\r") << int(O::Accepted) << 211 << 0;
    QTest::newRow("ACK after LF") << QByteArray("211 Page(s) Sent\n\x06\n") << int(O::Accepted) << 211 << 0;
    QTest::newRow("RS invalid ID") << QByteArray("511 Invalid pager ID\r\x1e\r") << int(O::Refused) << 511
                                   << 0;
    QTest::newRow("RS other") << QByteArray("506 Invalid message field\r\x1e\r") << int(O::Refused) << 506
                              << 0;
    QTest::newRow("RS without text") << QByteArray("\x1e\r") << int(O::Refused) << 0 << 0;
    QTest::newRow("112 hang up, call again")
        << QByteArray("112 Maximum pages entered\r\x1b\x04\r") << int(O::MaxPages) << 112 << 0;
    QTest::newRow("ESC EOT") << QByteArray("\x1b\x04\r") << int(O::Failed) << 0 << int(ConnectionLost);
    QTest::newRow("no reply") << QByteArray() << int(O::Failed) << 0 << int(ConnectionLost);
    QTest::newRow("carrier lost") << QByteArray("\r\nNO CARRIER\r\n") << int(O::Failed) << 0
                                  << int(ConnectionLost);
}

void tst_TapSession::blockReplies()
{
    QFETCH(QByteArray, reply);
    QFETCH(int, kind);
    QFETCH(int, response);
    QFETCH(int, failure);
    Pair pair;
    pair.play([&](Peer& p) {
        if (p.expect(QByteArray("\x03")) && p.expect("\r"))
            p.send(reply);
    });
    TapSession session(*pair.line, quick());
    QElapsedTimer clock;
    clock.start();
    const TapSession::PageOutcome o = session.sendPage(QStringLiteral("123"), QStringLiteral("text"));
    QCOMPARE(int(o.kind), kind);
    QCOMPARE(o.response, response);
    QCOMPARE(o.failure, failure);
    QVERIFY(clock.elapsed() < 600 + 1500); // t3, and some slack for a loaded machine
}

void tst_TapSession::nakLimitIsN2()
{
    Pair pair;
    pair.play([](Peer& p) {
        for (int i = 0; i < 4; ++i)
            if (p.expect("\x03") && p.expect("\r"))
                p.send("\x15\r");
    });
    TapSession session(*pair.line, quick());
    const TapSession::PageOutcome o = session.sendPage(QStringLiteral("1"), QStringLiteral("again"));
    QCOMPARE(o.failure, int(TooManyErrors));
    pair.thread.join();
    QCOMPARE(pair.peer->count(QByteArray(1, char(STX))), 1 + 3); // the block and n2 retransmissions
}

void tst_TapSession::endlessLineStaysBounded()
{
    Pair pair;
    std::atomic<bool> stop = false;
    pair.play([&](Peer& p) {
        p.expect("\r");
        const QByteArray junk(1000, 'x');
        while (!stop)
            p.send(junk); // never a line end, never ID=
    });
    TapSession session(*pair.line, quick());
    QCOMPARE(session.login(QStringLiteral("pw")), int(TerminalNotResponding));
    QVERIFY(pair.line->pending().size() <= Line::kMaxPending);
    stop = true;
}

void tst_TapSession::parityOnTheWire()
{
    Pair pair;
    pair.play([](Peer& p) { p.expect("\r"); });
    // 'C' (0x43) has an odd number of bits: it goes with bit 7 set; 'A' (0x41) even: as it is.
    QCOMPARE(pair.line->write("CA\r"), Line::Wait::Data);
    pair.thread.join();
    QCOMPARE(pair.peer->raw(), QByteArray("\xC3\x41\x8D"));
    // Received bytes lose bit 7 whatever it held.
    pair.peer->send("\xC9\x44=");
    QCOMPARE(pair.line->fill(QDeadlineTimer(1000)), Line::Wait::Data);
    QTRY_COMPARE(pair.line->pending().size(), 3);
    while (pair.line->pending().size() < 3)
        pair.line->fill(QDeadlineTimer(100));
    QCOMPARE(pair.line->pending(), QByteArray("ID="));
}

void tst_TapSession::cancelEndsAWaitAtOnce()
{
    Pair pair;
    ProtocolTimings slow; // the protocol's own 10 s reply wait
    TapSession session(*pair.line, slow);
    std::thread canceller([&] {
        QThread::msleep(200);
        pair.cancelNow();
    });
    QElapsedTimer clock;
    clock.start();
    const TapSession::PageOutcome o = session.sendPage(QStringLiteral("1"), QStringLiteral("x"));
    canceller.join();
    QCOMPARE(o.failure, int(Cancelled));
    QVERIFY(clock.elapsed() < 1000);
}

void tst_TapSession::modemResults_data()
{
    QTest::addColumn<QByteArray>("reply"); // to every command
    QTest::addColumn<int>("init");
    QTest::newRow("OK") << QByteArray("\r\nOK\r\n") << 0;
    QTest::newRow("echo, then OK") << QByteArray("ATZ\r\r\nOK\r\n") << 0;
    QTest::newRow("RING first") << QByteArray("\r\nRING\r\n\r\nOK\r\n") << 0;
    QTest::newRow("numeric codes") << QByteArray("0\r") << 0;
    QTest::newRow("late NO CARRIER, then OK") << QByteArray("\r\nNO CARRIER\r\n\r\nOK\r\n") << 0;
    QTest::newRow("ERROR") << QByteArray("\r\nERROR\r\n") << int(ModemNotResponding);
    QTest::newRow("silence") << QByteArray() << int(ModemNotResponding);
    QTest::newRow("endless junk") << QByteArray(3000, 'j') << int(ModemNotResponding);
}

void tst_TapSession::modemResults()
{
    QFETCH(QByteArray, reply);
    QFETCH(int, init);
    Pair pair;
    pair.play([&](Peer& p) {
        for (int i = 0; i < 2; ++i)
            if (p.expect("\r", 1500))
                p.send(reply);
    });
    ModemDialogue modem(*pair.line, quick());
    QCOMPARE(modem.initialize(QStringLiteral("ATZ~ATE0~")), init);
}

void tst_TapSession::hangUpWithPlusesWhenNoDtr()
{
    Pair pair; // a socket has no DTR
    pair.play([](Peer& p) {
        if (p.expect("+++"))
            p.send("\r\nOK\r\n");
        if (p.expect("ATH0\r"))
            p.send("\r\nOK\r\n");
    });
    ModemDialogue modem(*pair.line, quick());
    modem.hangUp(true, false);
    pair.thread.join();
    QVERIFY(pair.peer->text().contains("+++"));
    QVERIFY(pair.peer->text().contains("ATH0\r"));
}

void tst_TapSession::portNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("device"); // empty: not a serial port
    QTest::addColumn<QString>("tcp"); // "host port", empty: not a TCP port
    QTest::newRow("COM1") << "COM1"
                          << "/dev/ttyS0"
                          << "";
    QTest::newRow("com4") << "com4"
                          << "/dev/ttyS3"
                          << "";
    QTest::newRow("TAPI") << "TAPI"
                          << "/dev/modem"
                          << "";
    QTest::newRow("device path") << "/dev/pts/7"
                                 << "/dev/pts/7"
                                 << "";
    QTest::newRow("COM5") << "COM5"
                          << ""
                          << "";
    QTest::newRow("tcp") << "tcp:127.0.0.1:2000"
                         << ""
                         << "127.0.0.1 2000";
    QTest::newRow("tcp IPv6") << "tcp:[::1]:18001"
                              << ""
                              << "::1 18001";
    QTest::newRow("tcp no port") << "tcp:localhost"
                                 << ""
                                 << "";
    QTest::newRow("tcp port 0") << "tcp:localhost:0"
                                << ""
                                << "";
    QTest::newRow("tcp port too big") << "tcp:localhost:70000"
                                      << ""
                                      << "";
}

void tst_TapSession::portNames()
{
    QFETCH(QString, name);
    QFETCH(QString, device);
    QFETCH(QString, tcp);
    QCOMPARE(serialline::devicePath(name), device);
    QString host;
    quint16 port = 0;
    QCOMPARE(tcpline::parse(name, &host, &port), !tcp.isEmpty());
    if (!tcp.isEmpty())
        QCOMPARE(QStringLiteral("%1 %2").arg(host).arg(port), tcp);
}

void tst_TapSession::serialSettings()
{
    int master = -1;
    int slave = -1;
    char name[128] = {};
    QCOMPARE(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    ::close(slave);
    QString error;
    const int fd = serialline::open(QString::fromLatin1(name), 300, &error);
    QVERIFY2(fd >= 0, qPrintable(error));
    termios tio {};
    QCOMPARE(::tcgetattr(fd, &tio), 0);
    QCOMPARE(tio.c_cflag & CSIZE, tcflag_t(CS8)); // 8N1 on the port: parity is made in software
    QCOMPARE(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), tcflag_t(0));
    QVERIFY(tio.c_cflag & HUPCL); // closing the port hangs the modem up
    QCOMPARE(::cfgetospeed(&tio), speed_t(B300));
    QCOMPARE(tio.c_lflag & (ICANON | ECHO | ISIG), tcflag_t(0));
    QCOMPARE(tio.c_iflag & (IXON | ICRNL), tcflag_t(0));
    ::close(fd);
    ::close(master);
    QCOMPARE(serialline::open(QStringLiteral("/nonexistent/tty"), 300, &error), -1);
    QVERIFY(!error.isEmpty());
    QCOMPARE(serialline::open(QStringLiteral("/dev/null"), 300, &error), -1); // not a terminal
}

QTEST_GUILESS_MAIN(tst_TapSession)
#include "tst_tapsession.moc"
