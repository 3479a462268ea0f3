#pragma once

#include "pagerequest.h"
#include "tapconstants.h"

#include <QString>

#include <functional>

namespace paging {

class DebugLog;

// Where and as whom an SNPP page goes. An empty login sends no LOGI.
struct SnppTarget {
    QString host;
    quint16 port = 0;
    QString login;
    QString password;
};

// "snpp:HOST:PORT" (the port name that sends through an SNPP server) split; false for other names.
bool parseSnppPort(const QString& portName, QString* host, quint16* port);

using StatusSink = std::function<void(int code, const QString& text)>;

// One page request through an SNPP server: connects (within tcpConnectMs; a server that cannot be
// reached is ConnectionRefused), runs the session and reports progress and group results to `report`
// as a TAP delivery does. Returns the final status code. `cancelFd` readable ends it at once
// (Cancelled). Callable from any worker thread; it owns nothing beyond the call. `unsure`, when set,
// hears whether a failed attempt may have delivered the page: a SEND that went out without a reply
// (silence, a close, a cancel), or a message of several pages to one pager cut short after a SEND.
int deliverSnpp(const PagePlan& plan, const SnppTarget& target, const ProtocolTimings& timings,
    int cancelFd, DebugLog& log, const StatusSink& report, const std::function<void(bool)>& unsure = {},
    QString* detail = nullptr);

} // namespace paging
