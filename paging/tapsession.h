#pragma once

#include "tapconstants.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QString>

namespace paging {

class Line;

// The client side of a TAP 1.8 transaction on a line that is already connected to the terminal:
// login, one checksummed transaction per page, logout. It acts on the control characters the terminal
// sends (ACK, NAK, RS, ESC EOT, ESC [p), not on the response codes, which are only kept for reports.
class TapSession {
public:
    struct PageOutcome {
        enum Kind { Accepted, Refused, MaxPages, Failed } kind = Failed;
        int response = 0; // the last three-digit response code the terminal sent with its reply, 0 for none
        int failure = 0; // status code when kind == Failed
        bool unclear = false; // a block left and no clear answer came to it: it may have been taken
    };

    // What the terminal sent, one piece at a time.
    enum class Event {
        Ack,
        Nak,
        Rs,
        Disconnect,
        GoAhead,
        IdPrompt,
        Text,
        NoCarrier,
        Timeout,
        Cancelled,
        Closed
    };

    TapSession(Line& line, const ProtocolTimings& timings);

    // 0, or LoginRefused, TerminalNotResponding, ConnectionLost, Cancelled.
    int login(const QString& password);
    PageOutcome sendPage(const QString& pagerId, const QString& text);
    // EOT CR, then the terminal's ESC EOT (or its hang-up) awaited for t3.
    void logout();

    bool carrierLost() const { return m_carrierLost; }
    bool terminalHungUp() const { return m_terminalHungUp; }
    int lastResponse() const { return m_lastResponse; }

    Event next(const QDeadlineTimer& deadline);
    const QByteArray& lastText() const { return m_lastText; }

private:
    Line& m_line;
    ProtocolTimings m_timings;
    QByteArray m_text; // the line being received, bounded
    QByteArray m_lastText;
    int m_lastResponse = 0;
    bool m_carrierLost = false;
    bool m_terminalHungUp = false;
};

} // namespace paging
