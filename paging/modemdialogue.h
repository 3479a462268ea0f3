#pragma once

#include "tapconstants.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QList>
#include <QString>

namespace paging {

class Line;

// The Hayes command dialogue: commands ended by CR, each awaited until the modem's verbal (or numeric)
// result code. Echoed commands, blank lines and unsolicited lines (RING) are skipped; lines are bounded.
class ModemDialogue {
public:
    enum class Result {
        Ok,
        Connect,
        Busy,
        NoCarrier,
        NoAnswer,
        NoDialTone,
        Error,
        Timeout,
        Cancelled,
        Closed
    };

    ModemDialogue(Line& line, const ProtocolTimings& timings);

    // Sends `command` + CR and waits for its result, `timeoutMs` after the command has left the port.
    Result command(const QByteArray& command, int timeoutMs);

    // The init string split at "~", each command answered "OK" before the next; "AT" alone when the
    // string holds no command. 0 or the status code of the failure.
    int initialize(const QString& initString);

    // Sends a complete dial command and maps its result: 0 for CONNECT (or for OK when `expectOk`,
    // a dial that stays in command mode), else the status code.
    int dial(const QByteArray& dialCommand, int timeoutMs, bool expectOk);

    // Back on hook. `online`: the modem is in data mode (a TAP call); `carrierLost`: it already said
    // NO CARRIER. DTR is dropped where the port has it, else "+++" with guard times and "ATH0".
    void hangUp(bool online, bool carrierLost);
    // The same within kCancelEscapeMs + kCancelReplyMs, for a cancelled page: no guard before "+++".
    void hangUpQuickly(bool online);

    // The init string's commands: split at "~", blanks trimmed, control characters dropped.
    static QList<QByteArray> initCommands(const QString& initString);
    static Result classify(const QByteArray& line, bool* isResult);

private:
    Result awaitResult(const QDeadlineTimer& deadline);

    Line& m_line;
    ProtocolTimings m_timings;
};

int dialStatus(ModemDialogue::Result result, bool expectOk);

} // namespace paging
