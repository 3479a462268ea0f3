#pragma once

#include <QString>

namespace paging {

// Status codes the library reports; the desk reads only their meanings (0 delivered, those for which
// isRetryable() holds retryable, 24 group with bad IDs, 30 and up progress, the rest failures).
// 10 to 13 come from SNPP deliveries only; 14-17 and 26-28 are the failures of a page sent to a WCTP
// server over HTTP(S): what a wctp-Failure's errorCode becomes is wctpFailureStatus() in wctpmessage.h.
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
    TlsFailure = 14, // the server's certificate does not verify, or no TLS session: not retryable
    HttpError = 15, // an HTTP answer other than 200 that is no server trouble (3xx, 4xx): not retryable
    WctpRefused = 16, // wctp-Failure refusing the message (300-599 but 401-403): not retryable
    WctpServerBusy = 17, // wctp-Failure of the server's own (600 and up): try later
    LineBusy = 18,
    NoCarrier = 19,
    NoAnswer = 20,
    NoDialTone = 21,
    TerminalNotResponding = 22,
    TooManyErrors = 23,
    GroupBadIds = 24,
    ConnectionLost = 25,
    ServerUnavailable = 26, // connection refused, host not found, HTTP 5xx: retryable
    ServerNotResponding = 27, // no whole answer within the deadline: retryable
    BadServerAnswer = 28, // an answer that is not a WCTP document: retryable
    OpeningPort = 30,
    InitializingModem = 31,
    Dialing = 32,
    Connected = 33,
    LoggingIn = 34,
    SendingPage = 35,
    HangingUp = 36,
    // A path of the carrier failed and the next is tried: pathFailedText() says which and why.
    PathFailed = 37,
};

// The fixed text of a code ("Successful " keeps its trailing blank). "Sending page N of M" is built
// by sendingPageText().
QString statusText(int code);
QString sendingPageText(int page, int total);
// "Path 01 WCTP http://host/wctp failed: Server unavailable: Connection refused; trying path 02".
QString pathFailedText(const QString& number, const QString& path, const QString& failure, const QString& next);

// A refused group member: "GroupRes|<place>:<3-digit response><reason>".
QString groupResultText(int place, int response, const QString& reason);

constexpr bool isRetryable(int code)
{
    return (code >= 10 && code <= 12) || code == 17 || (code >= 18 && code <= 22) || code == 25
        || (code >= 26 && code <= 28);
}

} // namespace paging
