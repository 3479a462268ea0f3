#pragma once

#include <QString>

namespace paging {

// Status codes the library reports; the desk reads only their meanings (0 delivered, 10-12, 18-22 and
// 25 retryable, 24 group with bad IDs, 30 and up progress, the rest failures). 10 to 13 come from
// SNPP deliveries only.
enum StatusCode : int {
    Successful = 0,
    PortNotAvailable = 1,
    ModemNotResponding = 2,
    BadDialString = 3,
    LoginRefused = 4,
    PageRejected = 5,
    InvalidPagerId = 6,
    Cancelled = 7,
    PortBusy = 8,
    BadParameters = 9,
    ConnectionRefused = 10, // the SNPP server could not be reached
    SnppUnavailable = 11, // 421: the server is not taking pages now
    SnppTransactionFailed = 12, // 554 or another temporary failure of a send
    SnppPageRefused = 13, // 550: the page (or a single pager's ID) refused for good
    LineBusy = 18,
    NoCarrier = 19,
    NoAnswer = 20,
    NoDialTone = 21,
    TerminalNotResponding = 22,
    TooManyErrors = 23,
    GroupBadIds = 24,
    ConnectionLost = 25,
    OpeningPort = 30,
    InitializingModem = 31,
    Dialing = 32,
    Connected = 33,
    LoggingIn = 34,
    SendingPage = 35,
    HangingUp = 36,
};

// The fixed text of a code ("Successful " keeps its trailing blank). "Sending page N of M" is built
// by sendingPageText().
QString statusText(int code);
QString sendingPageText(int page, int total);

// A refused group member: "GroupRes|<place>:<3-digit response><reason>".
QString groupResultText(int place, int response, const QString& reason);

constexpr bool isRetryable(int code)
{
    return (code >= 10 && code <= 12) || (code >= 18 && code <= 22) || code == 25;
}

} // namespace paging
