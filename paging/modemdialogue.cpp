#include "modemdialogue.h"

#include "line.h"
#include "pagestatus.h"

#include <QList>

namespace paging {

ModemDialogue::ModemDialogue(Line& line, const ProtocolTimings& timings)
    : m_line(line)
    , m_timings(timings)
{
}

namespace {
// Whether a command line holds a basic D (dial) or A (answer) command: an init string from a table
// may set the modem up but never place or take a call. "&D2", "\\N3", "%C0" and register values
// ("S7=60") are extended or numeric and pass.
bool dialsOrAnswers(const QByteArray& command)
{
    const QByteArray c = command.toUpper();
    for (qsizetype i = c.startsWith("AT") ? 2 : 0; i < c.size(); ++i) {
        const char ch = c.at(i);
        const char next = i + 1 < c.size() ? c.at(i + 1) : '\0';
        if (ch == '&' || ch == '\\' || ch == '%' || ch == '+' || ch == '#' || ch == '*') {
            ++i; // an extended command: its letter is not a basic command
        } else if (ch == 'S') { // Sn=v or Sn?
            while (i + 1 < c.size()
                && (std::isdigit(uchar(c.at(i + 1))) || c.at(i + 1) == '=' || c.at(i + 1) == '?'))
                ++i;
        } else if (ch == 'A' && next == 'T') {
            ++i; // another "AT" prefix on the same line
        } else if (ch == 'D' || ch == 'A') {
            return true;
        }
    }
    return false;
}
} // namespace

QList<QByteArray> ModemDialogue::initCommands(const QString& initString)
{
    QList<QByteArray> commands;
    for (const QString& piece : initString.split(QLatin1Char('~'))) {
        QByteArray command;
        for (QChar c : piece)
            if (c.unicode() >= 0x20 && c.unicode() < 0x7F)
                command.append(char(c.unicode()));
        command = command.trimmed();
        if (!command.isEmpty() && !dialsOrAnswers(command))
            commands.append(command);
    }
    return commands;
}

ModemDialogue::Result ModemDialogue::classify(const QByteArray& rawLine, bool* isResult)
{
    const QByteArray line = rawLine.trimmed().toUpper();
    *isResult = true;
    if (line == "OK" || line == "0")
        return Result::Ok;
    if (line.startsWith("CONNECT") || line == "1")
        return Result::Connect;
    if (line == "BUSY" || line == "7")
        return Result::Busy;
    if (line == "NO CARRIER" || line == "3")
        return Result::NoCarrier;
    if (line == "NO ANSWER" || line == "8")
        return Result::NoAnswer;
    if (line == "NO DIALTONE" || line == "NO DIAL TONE" || line == "6")
        return Result::NoDialTone;
    if (line == "ERROR" || line == "4")
        return Result::Error;
    *isResult = false;
    return Result::Error;
}

ModemDialogue::Result ModemDialogue::awaitResult(const QDeadlineTimer& deadline)
{
    QByteArray current;
    bool overlong = false;
    for (;;) {
        QByteArray& pending = m_line.pending();
        qsizetype i = 0;
        for (; i < pending.size(); ++i) {
            const char c = pending.at(i);
            if (c == '\r' || c == '\n') {
                bool isResult = false;
                const Result r = overlong ? Result::Error : classify(current, &isResult);
                current.clear();
                overlong = false;
                if (isResult) {
                    pending.remove(0, i + 1);
                    return r;
                }
            } else if (current.size() < tap::kMaxLineLength) {
                current.append(c);
            } else {
                overlong = true; // a line no modem sends: skipped whole
            }
        }
        pending.clear();
        switch (m_line.fill(deadline)) {
        case Line::Wait::Data:
            break;
        case Line::Wait::Timeout:
            return Result::Timeout;
        case Line::Wait::Cancelled:
            return Result::Cancelled;
        case Line::Wait::Closed:
            return Result::Closed;
        }
        // bytes already scanned are gone; a partial line is kept in `current`
    }
}

ModemDialogue::Result ModemDialogue::command(const QByteArray& cmd, int timeoutMs)
{
    m_line.pending().clear(); // what came before belongs to no command
    switch (m_line.write(cmd + '\r')) {
    case Line::Wait::Cancelled:
        return Result::Cancelled;
    case Line::Wait::Closed:
        return Result::Closed;
    default:
        break;
    }
    const QDeadlineTimer deadline = m_line.afterTransmit(timeoutMs);
    const bool dial = cmd.toUpper().startsWith("ATD");
    for (;;) {
        const Result r = awaitResult(deadline);
        if (r != Result::NoCarrier || dial)
            return r;
        // A call that ended a moment ago is announced unasked; it is not this command's answer.
    }
}

int ModemDialogue::initialize(const QString& initString)
{
    QList<QByteArray> commands = initCommands(initString);
    if (commands.isEmpty())
        commands.append("AT");
    for (const QByteArray& cmd : commands) {
        switch (command(cmd, m_timings.commandReplyMs)) {
        case Result::Ok:
            break;
        case Result::Cancelled:
            return Cancelled;
        default:
            return ModemNotResponding;
        }
    }
    return Successful;
}

int dialStatus(ModemDialogue::Result result, bool expectOk)
{
    using R = ModemDialogue::Result;
    switch (result) {
    case R::Connect:
        return expectOk ? NoCarrier : Successful;
    case R::Ok:
        return expectOk ? Successful : NoCarrier;
    case R::Busy:
        return LineBusy;
    case R::NoCarrier:
        return NoCarrier;
    case R::NoAnswer:
        return NoAnswer;
    case R::Timeout:
        return NoAnswer;
    case R::NoDialTone:
        return NoDialTone;
    case R::Error:
        return BadDialString;
    case R::Cancelled:
        return Cancelled;
    case R::Closed:
        return ConnectionLost;
    }
    return NoCarrier;
}

int ModemDialogue::dial(const QByteArray& dialCommand, int timeoutMs, bool expectOk)
{
    const Result r = command(dialCommand, timeoutMs);
    if (r == Result::Timeout) // still dialling or waiting: any character ends that, ATH0 puts it on hook
        command("ATH0", m_timings.commandReplyMs);
    return dialStatus(r, expectOk);
}

void ModemDialogue::hangUp(bool online, bool carrierLost)
{
    if (m_line.closed())
        return;
    if (online && !carrierLost) {
        if (m_line.dropDtr())
            return;
        // The terminal may be hanging up itself: its modem's NO CARRIER doubles as the guard time.
        bool isResult = false;
        const QDeadlineTimer guard(m_timings.guardMs);
        bool lost = false;
        while (!lost) {
            const qsizetype end = m_line.pending().indexOf('\r', 0);
            if (end >= 0) {
                const QByteArray text = m_line.pending().left(end);
                m_line.pending().remove(0, end + 1);
                lost = classify(text, &isResult) == Result::NoCarrier && isResult;
                continue;
            }
            if (m_line.fill(guard) != Line::Wait::Data)
                break;
        }
        if (lost || m_line.closed())
            return;
        m_line.pending().clear();
        if (m_line.write("+++") != Line::Wait::Data)
            return;
        const QDeadlineTimer escaped = m_line.afterTransmit(m_timings.guardMs + m_timings.commandReplyMs);
        const Result r = awaitResult(escaped);
        if (r == Result::Cancelled || r == Result::Closed)
            return;
        if (r == Result::NoCarrier)
            return;
    }
    command("ATH0", m_timings.commandReplyMs);
}

} // namespace paging

namespace paging {

void ModemDialogue::hangUpQuickly(bool online)
{
    m_line.pending().clear();
    if (online) {
        if (m_line.write("+++") != Line::Wait::Data)
            return;
        const Result r = awaitResult(m_line.afterTransmit(modem::kCancelEscapeMs));
        if (r == Result::Closed || r == Result::NoCarrier)
            return;
    }
    command("ATH0", modem::kCancelReplyMs);
}

} // namespace paging
