#pragma once

// One page attempt through a WCTP carrier: every page of the plan goes as its own
// wctp-SubmitClientMessage, and the attempt ends with the last submit's answer. What became of each
// message afterwards (QUEUED, DELIVERED, READ) is asked with WctpClient::query by whoever keeps the
// tracking numbers; the attempt never waits for it.
//
// A group sends one submit per pager ID: a transient client's message names exactly one wctp-Recipient,
// and one submit per ID gives each its own tracking number and its own refusal (an invalid recipient
// spoils only its own place, as a terminal's RS does on a TAP call).

#include "pagerequest.h"
#include "wctpclient.h"

#include <QList>
#include <QString>

#include <functional>

namespace paging {

class DebugLog;

struct WctpTicket {
    int place = 1; // the ID's place in the group, 1-based
    QString pagerId;
    int page = 1; // the page of that ID's message, 1-based
    QString trackingNumber;
};

struct WctpOutcome {
    int code = 0; // the attempt's final status code
    QString detail; // what the server or the connection said, naming the host; empty when delivered
    QList<WctpTicket> tickets; // one per accepted page
    // The failed attempt may have delivered the page: a submit went out and no clear answer came
    // (silence, a close, garbage), or one pager's message was cut short after a page was accepted.
    bool unsure = false;
};

// REPORT receives every status on the way (the same codes and texts as a TAP call: "Sending page N of
// M", "GroupRes|..." for a refused group member). CANCELFD as for WctpClient.
WctpOutcome deliverWctp(const WctpTarget& target, const PagePlan& plan, int cancelFd, DebugLog& log,
    const std::function<void(int code, const QString& text)>& report);

} // namespace paging
