#pragma once

#include "deliverypath.h"
#include "tapconstants.h"

#include <QString>

namespace paging {

// What a path test found: whether the other side answered and took the login, in its own words.
struct PathTestResult {
    bool ok = false;
    int status = 0; // 0, or the status code of the failure (pagestatus.h)
    // What went each way, a line each ("-> " sent, "<- " received; passwords as "****", control
    // characters by name, "<ACK>"), then a sentence that says what came of it.
    QString answer;
};

// The modem a MODEM path goes through: the desk's Communications Port, at the carrier's speed.
struct ModemPort {
    QString port;
    int baud = 300;
};

// Tries a path as a page would reach the carrier, within the same time limits, and sends no page:
//   MODEM  opens the port and asks the modem "AT" (OK expected); nothing is dialled, and a port a
//          page is using is left alone
//   TAPIP  the TAP logon with PASSWORD up to the terminal's go-ahead, then EOT and its goodbye
//   SNPP   the 220 greeting, LOGI when LOGIN is set, QUIT
//   WCTP   wctp-VersionQuery; WCTP has no login without a message, so LOGIN and PASSWORD are
//          first checked by a page
// Blocks its caller until the end; `cancelFd` turning readable (an eventfd, -1: none) ends it at
// once as Cancelled. Callable from any thread; it owns nothing beyond the call.
PathTestResult testPath(
    const DeliveryPath& path, const ModemPort& modem, const ProtocolTimings& timings, int cancelFd);

// An eventfd to give testPath as `cancelFd`: cancel() ends the test under way, from any thread.
class PathTestCancel {
public:
    PathTestCancel();
    ~PathTestCancel();
    PathTestCancel(const PathTestCancel&) = delete;
    PathTestCancel& operator=(const PathTestCancel&) = delete;

    int fd() const { return m_fd; }
    void cancel();

private:
    int m_fd;
};

} // namespace paging
