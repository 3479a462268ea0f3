#include "pathtest.h"

#include "debuglog.h"
#include "line.h"
#include "modemdialogue.h"
#include "pagestatus.h"
#include "pagingapi.h"
#include "serialline.h"
#include "snppsession.h"
#include "tapframe.h"
#include "tapsession.h"
#include "tcpline.h"
#include "wctpclient.h"

#include <QStringList>

#include <functional>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace paging {

namespace {

constexpr int kMaxLines = 40; // of the dialogue shown: a server that sends noise fills no screen
constexpr int kMaxLineChars = 160;

QString controlName(uchar c)
{
    switch (c) {
    case tapframe::STX:
        return QStringLiteral("<STX>");
    case tapframe::ETX:
        return QStringLiteral("<ETX>");
    case tapframe::EOT:
        return QStringLiteral("<EOT>");
    case tapframe::ACK:
        return QStringLiteral("<ACK>");
    case tapframe::NAK:
        return QStringLiteral("<NAK>");
    case tapframe::ESC:
        return QStringLiteral("<ESC>");
    case tapframe::RS:
        return QStringLiteral("<RS>");
    default:
        return QStringLiteral("<%1>").arg(uint(c), 2, 16, QLatin1Char('0')).toUpper();
    }
}

// A password the operator typed is not shown back: the TAP logon (ESC "PG1" + password) and the
// SNPP LOGI keep their words but the password.
QByteArray withoutPassword(const QByteArray& sent)
{
    const QByteArray tapLogon = QByteArray(1, tapframe::ESC) + "PG1";
    if (sent.startsWith(tapLogon))
        return tapLogon + "****\r";
    if (sent.startsWith("LOGI ")) {
        const QList<QByteArray> words = sent.trimmed().split(' ');
        return words.size() > 2 ? "LOGI " + words.at(1) + " ****\r\n" : sent;
    }
    return sent;
}

// The dialogue as lines: each side's bytes in a row joined, cut at CR and LF, other control
// characters by name; a turn that is only a line end shows as "<CR>".
QStringList dialogueLines(const QList<DebugLog::Chunk>& chunks)
{
    QList<DebugLog::Chunk> turns;
    for (const DebugLog::Chunk& chunk : chunks) {
        const QByteArray bytes = chunk.sent ? withoutPassword(chunk.bytes) : chunk.bytes;
        if (!turns.isEmpty() && turns.last().sent == chunk.sent)
            turns.last().bytes += bytes;
        else
            turns.append({ chunk.sent, bytes });
    }
    QStringList lines;
    for (const DebugLog::Chunk& turn : std::as_const(turns)) {
        const QString arrow = turn.sent ? QStringLiteral("-> ") : QStringLiteral("<- ");
        const qsizetype before = lines.size();
        QString line;
        const auto flush = [&] {
            if (!line.isEmpty())
                lines << arrow + line.left(kMaxLineChars);
            line.clear();
        };
        for (const char ch : turn.bytes) {
            const auto c = uchar(ch);
            if (c == '\r' || c == '\n')
                flush();
            else if (c < 0x20 || c == 0x7F)
                line += controlName(c);
            else
                line += QChar::fromLatin1(ch);
        }
        flush();
        if (lines.size() == before)
            lines << arrow + QStringLiteral("<CR>");
    }
    if (lines.size() > kMaxLines) {
        lines = lines.mid(0, kMaxLines);
        lines << QStringLiteral("...");
    }
    return lines;
}

PathTestResult finished(const DebugLog& log, int status, const QString& verdict)
{
    QStringList lines = dialogueLines(log.dialogue());
    lines << verdict;
    return { status == Successful, status, lines.join(u'\n') };
}

QString failed(int status)
{
    return QStringLiteral("Failed: ") + statusText(status) + u'.';
}

bool isCancelled(int cancelFd)
{
    pollfd p { cancelFd, POLLIN, 0 };
    return cancelFd >= 0 && ::poll(&p, 1, 0) > 0;
}

// Connects to ADDRESS, lets `talk` run the protocol on the line (the dialogue kept) and gives its
// status; `success` says what a status 0 means.
PathTestResult overTcp(const DeliveryPath& path, const ProtocolTimings& timings, int cancelFd,
    bool sevenBitEvenParity, const std::function<int(Line&)>& talk, const QString& success)
{
    QString host;
    quint16 port = 0;
    QString error;
    if (!parseHostPort(path.address, &host, &port))
        return { false, BadParameters,
            QStringLiteral("Failed: the address \"%1\" is not host:port.").arg(path.address.trimmed()) };
    const int fd = tcpline::connect(host, port, timings.tcpConnectMs, cancelFd, &error);
    if (fd < 0 && isCancelled(cancelFd))
        return { false, Cancelled, failed(Cancelled) };
    if (fd < 0)
        return { false, ConnectionRefused,
            QStringLiteral("Failed: could not reach %1:%2 (%3).").arg(host).arg(port).arg(error) };
    DebugLog log { QString() };
    log.keepDialogue();
    log.hide(path.password);
    int status = Successful;
    {
        Line line(fd, cancelFd, &log, sevenBitEvenParity, 0);
        status = talk(line);
    }
    return finished(log, status, status ? failed(status) : success);
}

PathTestResult testSnpp(const DeliveryPath& path, const ProtocolTimings& timings, int cancelFd)
{
    const QString login = path.login.trimmed();
    const auto talk = [&](Line& line) {
        SnppSession session(line, timings.snppReplyMs);
        int status = session.greet();
        if (!status && !login.isEmpty())
            status = session.login(login, path.password);
        if (status != TerminalNotResponding && status != ConnectionLost && status != Cancelled)
            session.quit();
        return status;
    };
    return overTcp(path, timings, cancelFd, false, talk,
        login.isEmpty()
            ? QStringLiteral("The server answered; no login was tried (LOGIN is empty). No page was sent.")
            : QStringLiteral("Logged in as %1. No page was sent.").arg(login));
}

PathTestResult testTapIp(const DeliveryPath& path, const ProtocolTimings& timings, int cancelFd)
{
    const auto talk = [&](Line& line) {
        TapSession session(line, timings);
        const int status = session.login(path.password);
        if (!status)
            session.logout();
        return status;
    };
    return overTcp(path, timings, cancelFd, true, talk,
        QStringLiteral("The terminal took the logon and gave its go-ahead; the call was ended with EOT. No "
                       "page was sent."));
}

PathTestResult testModem(const ModemPort& modem, const ProtocolTimings& timings, int cancelFd)
{
    const QString port = modem.port.trimmed();
    const QString device = serialline::devicePath(port);
    if (device.isEmpty())
        return { false, PortNotAvailable,
            QStringLiteral("Failed: the Communications Port \"%1\" is not a modem's port.").arg(port) };
    if (pageUnderWay(port.toUtf8().constData()))
        return { false, PortBusy,
            QStringLiteral("Failed: a page is under way on %1; test again when it has gone.").arg(port) };
    QString error;
    const int baud = std::max(modem.baud, 1);
    const int fd = serialline::open(device, baud, &error);
    if (fd < 0)
        return { false, PortNotAvailable, QStringLiteral("Failed: cannot open %1 (%2).").arg(port, error) };
    DebugLog log { QString() };
    log.keepDialogue();
    ModemDialogue::Result result;
    {
        Line line(fd, cancelFd, &log, true, 10000 / baud); // 10 bits a character
        result = ModemDialogue(line, timings).command("AT", timings.commandReplyMs);
    }
    switch (result) {
    case ModemDialogue::Result::Ok:
        return finished(
            log, Successful, QStringLiteral("The modem on %1 answered OK. Nothing was dialled.").arg(port));
    case ModemDialogue::Result::Cancelled:
        return finished(log, Cancelled, failed(Cancelled));
    case ModemDialogue::Result::Closed:
        return finished(log, PortNotAvailable, QStringLiteral("Failed: %1 closed.").arg(port));
    default:
        return finished(log, ModemNotResponding,
            QStringLiteral("Failed: the modem on %1 did not answer OK to AT.").arg(port));
    }
}

PathTestResult testWctp(const DeliveryPath& path, int cancelFd)
{
    const WctpTarget target { QUrl(path.address.trimmed()), path.login, path.password };
    WctpClient client(target, cancelFd);
    const WctpClient::VersionResult r = client.version(QStringLiteral("PlimoPager32"));
    QStringList lines { QStringLiteral("-> wctp-VersionQuery to %1").arg(target.url.toString()) };
    if (r.status) {
        lines << QStringLiteral("Failed: %1%2.")
                     .arg(statusText(r.status),
                         r.detail.isEmpty() ? QString() : QStringLiteral(": ") + r.detail);
        return { false, r.status, lines.join(u'\n') };
    }
    const wctp::VersionAnswer& a = r.answer;
    if (a.errorCode) {
        lines << QStringLiteral("<- wctp-Failure %1 %2").arg(a.errorCode).arg(a.errorText);
        const int status = wctp::failureStatus(a.errorCode);
        if (status == WctpServerBusy) {
            lines << failed(status);
            return { false, status, lines.join(u'\n') };
        }
        lines << QStringLiteral(
            "The WCTP server answered but gives no version information. No page was sent; "
            "LOGIN and PASSWORD are first checked by a page.");
        return { true, Successful, lines.join(u'\n') };
    }
    lines << QStringLiteral("<- wctp-VersionResponse from \"%1\"%2")
                 .arg(a.responder,
                     a.dtds.isEmpty() ? QString() : QStringLiteral(": ") + a.dtds.join(QStringLiteral(", ")));
    lines << QStringLiteral(
        "The WCTP server answered. No page was sent; LOGIN and PASSWORD are first checked by a page.");
    return { true, Successful, lines.join(u'\n') };
}

} // namespace

PathTestResult testPath(
    const DeliveryPath& path, const ModemPort& modem, const ProtocolTimings& timings, int cancelFd)
{
    QString why;
    if (!checkPath(path, &why))
        return { false, BadParameters, QStringLiteral("Failed: %1.").arg(why) };
    switch (pathMethod(path.method)) {
    case PathMethod::Modem:
        return testModem(modem, timings, cancelFd);
    case PathMethod::TapIp:
        return testTapIp(path, timings, cancelFd);
    case PathMethod::Snpp:
        return testSnpp(path, timings, cancelFd);
    case PathMethod::Wctp:
        return testWctp(path, cancelFd);
    case PathMethod::Invalid:
        break;
    }
    return { false, BadParameters, failed(BadParameters) };
}

PathTestCancel::PathTestCancel()
    : m_fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
}

PathTestCancel::~PathTestCancel()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void PathTestCancel::cancel()
{
    const quint64 one = 1;
    [[maybe_unused]] const ssize_t written = ::write(m_fd, &one, sizeof one);
}

} // namespace paging
