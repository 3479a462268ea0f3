#pragma once

#include <QString>
#include <QStringList>

namespace store {
class TMemTable;
}

namespace core {

// Field names of a page, the record of the send queue `SendMsgs` and the pending queue `PendingMsgs`.
namespace page {
inline constexpr char NetworkPhone[] = "NetworkPhone"; // carrier dial string
inline constexpr char PagerPhone[] = "PagerPhone"; // pager ID, or the IDs of a group page
inline constexpr char BaudRate[] = "BaudRate"; // carrier line speed as text
inline constexpr char MessageSize[] = "MessageSize"; // characters per page, or the numeric delay
inline constexpr char MessageToSend[] = "MessageToSend"; // the message text
inline constexpr char IsGroup[] = "IsGroup"; // built from a group
inline constexpr char UserOrGroupName[] = "UserOrGroupName"; // shown in status lines and the pending window
inline constexpr char Retries[] = "Retries"; // remaining attempts for retryable failures
} // namespace page

// The one field of `TempUser`, the recipient lookup table.
inline constexpr char TempUserName[] = "username";

// The pending-queue file, opened by bare name in the current directory. Its name is "PendMsgs." with
// a trailing dot; the original platform's file system drops a trailing dot, so the file on disk has
// no extension. On Linux the dot would stay part of the name, so the name is written without it.
inline constexpr char PendingQueueFileName[] = "PendMsgs";

// The largest pending-queue file read (some 60,000 pages).
inline constexpr qint64 PendingQueueFileLimit = 64 * 1024 * 1024;

// Definition items ("Name;type;size;required") of the queue tables.
QStringList sendQueueFields(); // the eight page fields in send-queue order
QStringList pendingQueueFields(); // the same fields with Retries first
QStringList tempUserFields();

// Defines and opens the three in-memory tables, empty.
void createQueueTables(store::TMemTable& sendMsgs, store::TMemTable& pendingMsgs, store::TMemTable& tempUser);

// The seven fields a move between the queues copies (all but IsGroup).
const QStringList& movedPageFields();

// Moves the current page of `from` to the end of `to`: seven fields are copied by name (IsGroup is
// not; it stays unset in the new row), the new row is posted, then the source row is deleted, so
// the following page of `from` becomes current. On an empty `from`: "Cannot perform this
// operation on an empty dataset", and neither table changes.
void movePage(store::TMemTable& from, store::TMemTable& to);

// A message as a whole sentence: ends in a full stop unless it already ends a sentence.
QString sentence(const QString& text);

// Where a pending-queue file that could not be read whole is kept: "PendMsgs.bad" beside it (its
// name and ".bad" for another file in the pending layout).
QString badPendingQueuePath(const QString& path);

// Restores the pending queue at start: closes the table, loads the file and opens the table again,
// with the table's own definitions (rows are taken over by field name, whatever the file's field
// order). A missing file is normal and leaves the queue empty.
//
// A file that cannot be read whole (not a regular file, larger than PendingQueueFileLimit,
// malformed, truncated, lacking a page field) gives the loader's text as whole sentences, which the
// caller shows in a message box; the queue then holds the complete pages that came
// before the fault, and the original file is moved aside to "PendMsgs.bad" (replacing an older
// one), so that saving the queue at Exit cannot destroy what it held. `keptAs`, when given, receives
// the path of that copy ("" when the file was read whole, or when it could not be kept).
// Returns "" when the file was read whole or was missing.
QString loadPendingQueue(store::TMemTable& pendingMsgs, const QString& path, QString* keptAs = nullptr);

// Writes the pending queue at Exit, atomically (a temporary file renamed over the old one), so an
// interrupted save leaves the previous file whole. Throws store::StoreError on failure.
void savePendingQueue(store::TMemTable& pendingMsgs, const QString& path);

} // namespace core
