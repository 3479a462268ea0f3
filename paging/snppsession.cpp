#include "snppsession.h"

#include "line.h"
#include "pagestatus.h"
#include "tapconstants.h"
#include "tapframe.h"

namespace paging {

namespace {

bool isReplyLine(const QByteArray& line)
{
    return line.size() >= 3 && std::isdigit(uchar(line[0])) && std::isdigit(uchar(line[1]))
        && std::isdigit(uchar(line[2])) && (line.size() == 3 || line[3] == ' ' || line[3] == '-');
}

bool isPositive(const SnppSession::Reply& r)
{
    return !r.failure && r.code >= 200 && r.code < 300;
}

// "Command not implemented" and "not implemented at this level": an optional command the server lacks.
bool isUnsupported(const SnppSession::Reply& r)
{
    return !r.failure && (r.code == 500 || r.code == 502);
}

// A reply that ends the session rather than refusing one command: no reply at all, 421, or 530 ("log in
// first", from a server that pages only for a known login).
bool endsSession(const SnppSession::Reply& r)
{
    return r.failure || r.code == 421 || r.code == 530;
}

// A word of a command (pager ID, login): printable characters only, no blank to split it.
QByteArray word(const QString& text)
{
    QByteArray out;
    for (char c : SnppSession::toWire(text))
        if (uchar(c) > 0x20)
            out.append(c);
    return out;
}

} // namespace

SnppSession::SnppSession(Line& line, int replyMs)
    : m_line(line)
    , m_replyMs(replyMs)
{
}

bool SnppSession::closed() const
{
    return m_line.closed();
}

QByteArray SnppSession::toWire(const QString& text)
{
    QByteArray in = tapframe::toSevenBit(text);
    in.replace("\r\n", "\n");
    QByteArray out;
    out.reserve(in.size());
    for (char c : in) {
        if (c == '\r' || c == '\n')
            out.append('\n');
        else
            out.append(uchar(c) < 0x20 || uchar(c) == 0x7F ? ' ' : c);
    }
    return out;
}

bool SnppSession::fitsOneLine(const QByteArray& text)
{
    return !text.isEmpty() && !text.contains('\n') && 5 + text.size() + 2 <= snpp::kMaxCommandLine;
}

QList<QByteArray> SnppSession::dataLines(const QByteArray& text)
{
    QList<QByteArray> out;
    constexpr int width = snpp::kMaxDataLine - 1; // room for the stuffed dot
    for (const QByteArray& line : text.split('\n')) {
        qsizetype at = 0;
        do {
            QByteArray piece = line.mid(at, width);
            if (piece.startsWith('.'))
                piece.prepend('.'); // a lone "." would end the message
            out.append(piece);
            at += width;
        } while (at < line.size());
    }
    return out;
}

int SnppSession::failureOf(const Reply& r, int otherwise)
{
    if (r.failure)
        return r.failure;
    if (r.code == 421)
        return SnppUnavailable;
    if (r.code == 530)
        return LoginRefused;
    if (r.code == 550)
        return SnppPageRefused;
    if (r.code == 554 || (r.code >= 400 && r.code < 500))
        return SnppTransactionFailed;
    return otherwise;
}

bool SnppSession::takeLine(QByteArray* line)
{
    QByteArray& pending = m_line.pending();
    for (;;) {
        const qsizetype end = pending.indexOf('\n');
        if (end < 0) {
            if (pending.size() > snpp::kMaxReplyLine) { // no reply is that long: noise
                pending.clear();
                m_skipping = true;
            }
            return false;
        }
        QByteArray text = pending.left(end);
        pending.remove(0, end + 1);
        if (std::exchange(m_skipping, false))
            continue; // the tail of an overlong line
        if (text.endsWith('\r'))
            text.chop(1);
        *line = text;
        return true;
    }
}

SnppSession::Reply SnppSession::awaitReply(int ms)
{
    const QDeadlineTimer deadline = m_line.afterTransmit(ms);
    Reply reply;
    for (;;) {
        QByteArray text;
        while (takeLine(&text)) {
            if (!isReplyLine(text))
                continue;
            if (text.size() > 3 && text[3] == '-')
                continue; // a continuation line: the reply is its last line
            reply.code = text.left(3).toInt();
            if (reply.code == 214)
                continue; // help text, not an answer
            reply.text = text.mid(4);
            return reply;
        }
        switch (m_line.fill(deadline)) {
        case Line::Wait::Data:
            break;
        case Line::Wait::Timeout:
            reply.failure = TerminalNotResponding;
            return reply;
        case Line::Wait::Cancelled:
            reply.failure = Cancelled;
            return reply;
        case Line::Wait::Closed:
            reply.failure = ConnectionLost;
            return reply;
        }
    }
}

SnppSession::Reply SnppSession::command(const QByteArray& line)
{
    // A reply is only what comes after the command: a second greeting or an answer to nothing stays
    // unread.
    m_line.takeUnread();
    m_skipping = false;
    switch (m_line.write(line + "\r\n")) {
    case Line::Wait::Data:
        return awaitReply(m_replyMs);
    case Line::Wait::Cancelled:
        return { 0, Cancelled, {} };
    default:
        return { 0, ConnectionLost, {} };
    }
}

int SnppSession::greet()
{
    const Reply r = awaitReply(m_replyMs);
    if (r.code)
        m_greeting = QByteArray::number(r.code) + ' ' + r.text.left(80);
    if (isPositive(r))
        return Successful;
    return r.failure ? r.failure : int(SnppUnavailable);
}

int SnppSession::login(const QString& loginId, const QString& password)
{
    QByteArray line = "LOGI " + word(loginId);
    if (const QByteArray pw = word(password); !pw.isEmpty())
        line += ' ' + pw;
    const Reply r = command(line);
    if (isPositive(r) || isUnsupported(r)) {
        m_login = loginId;
        m_password = password;
        return Successful;
    }
    if (r.failure || r.code == 421)
        return failureOf(r, LoginRefused);
    return LoginRefused;
}

SnppSession::PageOutcome SnppSession::page(const QString& pagerId)
{
    PageOutcome outcome;
    for (const QByteArray& option : std::as_const(m_options)) {
        const QByteArray name = option.left(4).toUpper();
        if (m_unsupported.contains(name))
            continue;
        const Reply r = command(option);
        if (isUnsupported(r))
            m_unsupported.insert(name);
        else if (endsSession(r)) {
            outcome.failure = failureOf(r, SnppTransactionFailed);
            return outcome;
        } // an option refused otherwise: the page goes without it
    }
    const QByteArray id = word(pagerId);
    if (id.isEmpty())
        return outcome; // nothing that could name a pager: refused without asking
    const Reply r = command("PAGE " + id);
    outcome.response = r.code;
    if (isPositive(r))
        outcome.accepted = true;
    else if (endsSession(r) || r.code == 554 || (r.code >= 400 && r.code < 500))
        outcome.failure = failureOf(r, SnppTransactionFailed);
    return outcome; // any other refusal is this pager's alone
}

int SnppSession::message(const QString& text)
{
    const QByteArray wire = toWire(text);
    if (fitsOneLine(wire)) {
        const Reply r = command("MESS " + wire);
        return isPositive(r) ? int(Successful) : failureOf(r, SnppPageRefused);
    }
    Reply r = command("DATA");
    if (r.code != 354)
        return failureOf(r, SnppPageRefused);
    QByteArray block;
    for (const QByteArray& line : dataLines(wire))
        block += line + "\r\n";
    block += ".\r\n";
    if (const Line::Wait w = m_line.write(block); w != Line::Wait::Data)
        return w == Line::Wait::Cancelled ? int(Cancelled) : int(ConnectionLost);
    r = awaitReply(m_replyMs);
    return isPositive(r) ? int(Successful) : failureOf(r, SnppPageRefused);
}

int SnppSession::send()
{
    const Reply r = command("SEND");
    return isPositive(r) ? int(Successful) : failureOf(r, SnppPageRefused);
}

int SnppSession::reset()
{
    const Reply r = command("RESE");
    if (!isPositive(r))
        return failureOf(r, SnppTransactionFailed);
    // RESE puts the session back as freshly opened; some servers take that to include the login.
    return m_login.isNull() ? int(Successful) : login(m_login, m_password);
}

void SnppSession::quit()
{
    if (m_line.closed() || m_line.write("QUIT\r\n") != Line::Wait::Data)
        return;
    awaitReply(std::min(m_replyMs, snpp::kQuitReplyMs)); // 221, or the server just closes
}

} // namespace paging
