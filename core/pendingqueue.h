#pragma once

namespace store {
class TMemTable;
}

namespace core {

class Desk;

// Failures worth another attempt while a page has retries left: line busy, no carrier, no answer,
// no dial tone, terminal not responding, connection lost.
bool isRetryableCode(int statusCode);

// The end-of-page decision for the head page of `sendMsgs`, from the paging engine's final status
// code. Codes 0 and below and 30 and above leave both queues alone. A retryable code with more than
// one retry left uses one retry (the page stays first and is started again on the next tick); any
// other failure moves the head page to `pendingMsgs`. Does nothing on an empty send queue.
// A page that may have been delivered although its attempt failed (`mayHaveDelivered`) is never
// tried again by itself, whatever its code and retries: it moves to the pending queue.
enum class EndOfPage { Left, Retried, MovedToPending };
// Returns what it did: Left (the queues alone), Retried or MovedToPending.
EndOfPage PendingMessages(
    store::TMemTable& sendMsgs, store::TMemTable& pendingMsgs, int statusCode, bool mayHaveDelivered = false);

// The "Pending Messages" window's two commands on the current pending row. Resending appends a copy
// of its seven fields (Retries kept) to the end of `sendMsgs` and deletes it from the pending queue;
// deleting drops it. Both do nothing when the pending queue is empty and return whether a row went.
bool resendPendingPage(store::TMemTable& pendingMsgs, store::TMemTable& sendMsgs);
bool deletePendingPage(store::TMemTable& pendingMsgs);

// The same commands on the desk's queues, for the pending row `row`, keeping what the desk knows of
// the page with it: a page sent again goes on in its outcome rows (RESENT), a deleted one ends
// there (FAILED) and its notes go. Each returns whether a page went.
bool resendPending(Desk& desk, int row);
// Every pending page back to the send queue, in their order; returns how many.
int resendAllPending(Desk& desk);
bool deletePending(Desk& desk, int row);

} // namespace core
