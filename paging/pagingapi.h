#pragma once

#include <QEvent>

class QObject;

// The paging library's entry points. Strings are zero-terminated UTF-8. A page runs on a worker thread
// of its own; it posts a status event (type QEvent::User + statusMessageId) to `window` whenever its
// status changes and one finished event (QEvent::User + finishedMessageId) when it has ended, the
// final status being ready before that. The port name identifies the page in the other calls.

namespace paging {
constexpr int kResultBufferSize = 52; // a refused start's text: at most 51 characters and the zero
constexpr int kStatusTextSize = 301; // GetPageStatus's text: at most 300 characters and the zero
constexpr QEvent::Type eventType(int messageId)
{
    return QEvent::Type(QEvent::User + messageId);
}
} // namespace paging

// 0: the page is under way. Otherwise the page did not start and the value is the failure code
// (8 port busy, 9 bad parameters); `resultBuffer` (kResultBufferSize bytes) receives a text either way.
int StartPage(const char* comPort, const char* baudRate, const char* modemInitString,
    const char* dialInitString, const char* networkPhone, const char* pagerPhone, const char* messageSize,
    const char* message, const char* debugFile, char* resultBuffer, QObject* window, int statusMessageId,
    int finishedMessageId);

// The page's status: code and text (kStatusTextSize bytes). Each call made from a status event reads
// the status that event announced. Returns 1 when the page has ended and this is its final status
// (also when no page was started on that port), 0 while it is still under way.
int GetPageStatus(const char* comPort, int* code, char* text);

// Stops the page on that port; the worker hangs up and ends with code 7 within two seconds.
int CancelPage(const char* comPort);

#include "deliverypath.h"
#include "pagerequest.h"
#include "wctpdelivery.h"

namespace paging {
// A page through a WCTP carrier (see wctpdelivery.h): the arguments of StartPage that still mean
// something, and the server. KEY names the page for GetPageStatus and CancelPage as a port name does
// (one page at a time under one key). Returns as StartPage does.
int startWctpPage(const char* key, const WctpTarget& target, const char* pagerPhone, const char* messageSize,
    const char* message, const char* debugFile, char* resultBuffer, QObject* window, int statusMessageId,
    int finishedMessageId);
// A page through PATHS, tried in order within one attempt (see deliverypath.h). REQUEST.comPort names
// the page and is the MODEM path's port. Every path is checked before anything connects: a bad one
// refuses the start with 9 ("Bad parameters: path N: ..."). Returns as StartPage does.
int startPathsPage(const PageRequest& request, const QList<DeliveryPath>& paths, char* resultBuffer,
    QObject* window, int statusMessageId, int finishedMessageId);
// The path that delivered the page under KEY (describe()), once it has; after a failure, the path
// the attempt ended on (a group's members taken before it went that way); empty before.
QString deliveredVia(const char* key);
// The tracking numbers of the WCTP page under KEY (once it has finished; empty for a TAP page).
QList<WctpTicket> wctpTickets(const char* key);
// After the page has finished with a failure: true when the bytes that deliver it had left and no
// clear answer came (silence, a close, garbage), or part of it was taken before the failure: the page
// may have been delivered, and must not be sent again by itself.
bool mayHaveDelivered(const char* key);
// No more events to `window` from any page (called before the receiver goes away).
void detachReceiver(QObject* window);
// Whether a page is under way on that port (started and not yet ended).
bool pageUnderWay(const char* comPort);
// Waits until the page on that port has ended (tests and tools); false after `timeoutMs`.
bool waitForPage(const char* comPort, int timeoutMs);
} // namespace paging
