#include "tapsession.h"

#include "line.h"
#include "pagestatus.h"
#include "tapframe.h"

namespace paging {

using namespace tapframe;

TapSession::TapSession(Line& line, const ProtocolTimings& timings)
    : m_line(line)
    , m_timings(timings)
{
}

TapSession::Event TapSession::next(const QDeadlineTimer& deadline)
{
    for (;;) {
        QByteArray& pending = m_line.pending();
        while (!pending.isEmpty()) {
            const char c = pending.at(0);
            if (c == ESC) {
                if (pending.size() < 2)
                    break; // the rest of the sequence is still on its way
                if (pending.at(1) == EOT) {
                    pending.remove(0, 2);
                    m_terminalHungUp = true;
                    return Event::Disconnect;
                }
                if (pending.at(1) == '[') {
                    if (pending.size() < 3)
                        break;
                    const bool go = pending.at(2) == 'p';
                    pending.remove(0, go ? 3 : 2);
                    if (go)
                        return Event::GoAhead;
                    continue;
                }
                pending.remove(0, 1);
                continue;
            }
            pending.remove(0, 1);
            switch (c) {
            case ACK:
                return Event::Ack;
            case NAK:
                return Event::Nak;
            case RS:
                return Event::Rs;
            case CR:
            case LF: {
                if (m_text.isEmpty())
                    continue;
                m_lastText = m_text;
                m_text.clear();
                if (m_lastText.size() >= 3 && std::isdigit(uchar(m_lastText[0]))
                    && std::isdigit(uchar(m_lastText[1])) && std::isdigit(uchar(m_lastText[2])))
                    m_lastResponse = m_lastText.left(3).toInt();
                if (m_lastText.trimmed() == "NO CARRIER") { // the modem's word: the call is gone
                    m_carrierLost = true;
                    return Event::NoCarrier;
                }
                return Event::Text;
            }
            default:
                if (uchar(c) < 0x20)
                    continue;
                if (m_text.size() < tap::kMaxLineLength)
                    m_text.append(c);
                else
                    m_text.remove(0, 1).append(c); // an endless line keeps its tail only
                if (m_text.endsWith("ID=")) { // may come with other text and without a line end
                    m_text.clear();
                    return Event::IdPrompt;
                }
            }
        }
        switch (m_line.fill(deadline)) {
        case Line::Wait::Data:
            break;
        case Line::Wait::Timeout:
            return Event::Timeout;
        case Line::Wait::Cancelled:
            return Event::Cancelled;
        case Line::Wait::Closed:
            m_carrierLost = true;
            return Event::Closed;
        }
    }
}

int TapSession::login(const QString& password)
{
    // Ask for the ID prompt: CR every t1, at most n1 times.
    bool prompted = false;
    for (int attempt = 0; attempt < m_timings.n1LoginCrs && !prompted; ++attempt) {
        if (m_line.write(QByteArray(1, CR)) == Line::Wait::Cancelled)
            return Cancelled;
        const QDeadlineTimer deadline = m_line.afterTransmit(m_timings.t1LoginCrMs);
        for (;;) {
            const Event e = next(deadline);
            if (e == Event::IdPrompt) {
                prompted = true;
                break;
            }
            if (e == Event::Timeout)
                break;
            if (e == Event::Cancelled)
                return Cancelled;
            if (e == Event::Closed || e == Event::NoCarrier)
                return ConnectionLost;
            if (e == Event::Disconnect)
                return LoginRefused;
        }
    }
    if (!prompted)
        return TerminalNotResponding;

    QByteArray pw;
    for (char c : toSevenBit(password))
        if (uchar(c) >= 0x20) // the password ends at CR; nothing in it may end it early
            pw.append(c);
    const QByteArray request = QByteArray(1, ESC) + "PG1" + pw + CR;

    for (int attempt = 0; attempt < m_timings.n3LoginAttempts; ++attempt) {
        if (m_line.write(request) == Line::Wait::Cancelled)
            return Cancelled;
        const QDeadlineTimer deadline = m_line.afterTransmit(m_timings.t3ReplyMs);
        bool again = false;
        bool accepted = false;
        while (!again && !accepted) {
            switch (next(deadline)) {
            case Event::Ack:
                accepted = true;
                break;
            case Event::GoAhead:
                return Successful; // a terminal that skips the ACK
            case Event::Nak:
            case Event::IdPrompt:
                again = true;
                break; // asked for the login again
            case Event::Disconnect:
                return LoginRefused;
            case Event::Timeout:
                return TerminalNotResponding;
            case Event::Cancelled:
                return Cancelled;
            case Event::Closed:
            case Event::NoCarrier:
                return ConnectionLost;
            default:
                break; // 110 and other message lines
            }
        }
        if (!accepted)
            continue;
        const QDeadlineTimer goAhead(m_timings.t3ReplyMs);
        for (;;) {
            switch (next(goAhead)) {
            case Event::GoAhead:
                return Successful;
            case Event::Disconnect:
                return LoginRefused;
            case Event::Timeout:
                return TerminalNotResponding;
            case Event::Cancelled:
                return Cancelled;
            case Event::Closed:
            case Event::NoCarrier:
                return ConnectionLost;
            default:
                break;
            }
        }
    }
    return LoginRefused;
}

TapSession::PageOutcome TapSession::sendPage(const QString& pagerId, const QString& text)
{
    PageOutcome outcome;
    const QList<QByteArray> blocks = pageBlocks(pagerId, text);
    for (const QByteArray& block : blocks) {
        int retransmits = 0;
        bool acked = false;
        while (!acked) {
            m_lastResponse = 0;
            // An acknowledgement answers the block just sent: one that came before it (a block
            // acknowledged twice) is not this block's.
            m_line.takeUnread();
            // The block goes at once after the last reply, well inside t4.
            if (m_line.write(block) == Line::Wait::Cancelled) {
                outcome.failure = Cancelled;
                return outcome;
            }
            const QDeadlineTimer deadline = m_line.afterTransmit(m_timings.t3ReplyMs);
            bool resend = false;
            while (!acked && !resend) {
                const Event e = next(deadline);
                outcome.response = m_lastResponse;
                switch (e) {
                case Event::Ack:
                    acked = true;
                    break;
                case Event::Nak:
                    if (++retransmits > m_timings.n2Retransmits) {
                        outcome.failure = TooManyErrors;
                        return outcome;
                    }
                    resend = true;
                    break;
                case Event::Rs:
                    outcome.kind = PageOutcome::Refused;
                    return outcome;
                case Event::Disconnect:
                    if (m_lastResponse == 112) {
                        outcome.kind = PageOutcome::MaxPages;
                        return outcome;
                    }
                    outcome.failure = ConnectionLost;
                    return outcome;
                case Event::Timeout:
                case Event::Closed:
                case Event::NoCarrier:
                    outcome.failure = ConnectionLost;
                    outcome.unclear = true;
                    return outcome;
                case Event::Cancelled:
                    outcome.failure = Cancelled;
                    outcome.unclear = true;
                    return outcome;
                default:
                    break;
                }
            }
        }
    }
    outcome.kind = PageOutcome::Accepted;
    return outcome;
}

void TapSession::logout()
{
    if (m_line.write(QByteArray(1, EOT) + CR) != Line::Wait::Data)
        return;
    const QDeadlineTimer deadline = m_line.afterTransmit(m_timings.t3ReplyMs);
    for (;;) {
        switch (next(deadline)) {
        case Event::Disconnect:
        case Event::Timeout:
        case Event::Cancelled:
        case Event::Closed:
        case Event::NoCarrier:
            return;
        default:
            break;
        }
    }
}

} // namespace paging
