#pragma once

#include <QByteArray>
#include <QSet>
#include <QString>

namespace store {
class TMemTable;
}

namespace core {

struct Page;

// The pages that may have been delivered although they are still queued: the desk stopped (a kill,
// a power cut, a stop of the service) while the call was past the terminal's taking of a block.
// Such a page comes back pending like any other, and the operator is told before resending it.
//
// A page is known by a fingerprint of what it says and to whom (not its retries). The marks are
// kept in a side file beside the pending file, one fingerprint a line, never in the pending file's
// own fields, which other programs read and write; a mark whose page is not in the pending file is
// simply never met.
class DeliveryMarks {
public:
    static QByteArray fingerprint(const Page& page);
    // The side file of a pending file: "PendMsgs.maybe" beside "PendMsgs".
    static QString sideFilePath(const QString& pendingPath);

    void mark(const Page& page) { marks_.insert(fingerprint(page)); }
    void unmark(const Page& page) { marks_.remove(fingerprint(page)); }
    bool contains(const Page& page) const { return marks_.contains(fingerprint(page)); }
    bool isEmpty() const { return marks_.isEmpty(); }

    // The side file's largest size read.
    static constexpr qint64 kSideFileLimit = 4 * 1024 * 1024;
    // The fingerprints of the rows of `queue`, in its order.
    static QList<QByteArray> fingerprints(const store::TMemTable& queue);

    // Takes the marks of the side file's text (its other lines are not marks).
    void read(const QByteArray& sideFileText);
    // Reads the side file (a missing or unreadable one marks nothing).
    void load(const QString& sideFilePath);
    // The marked pages among the rows of `queue`, in its order.
    QList<Page> markedPages(const store::TMemTable& queue) const;
    // The side file's lines for the marked ones among the pages of these fingerprints.
    QByteArray textFor(const QList<QByteArray>& fingerprints) const;

private:
    QSet<QByteArray> marks_;
};

} // namespace core
