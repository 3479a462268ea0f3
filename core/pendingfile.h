#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

namespace store {
class TMemTable;
}

namespace core {

class DeliveryMarks;
class PageNotes;

// What the rewrites of one pending file learn of its rows, so that a row written before costs a
// lookup and not a conversion: the file's row image made of a queue row's image (one table each, as
// their layouts differ), and the fingerprint of a file's row image. A row image is all a row holds
// (the queues have no blobs), so a row met again converts to what it converted to before.
struct PendingRowCache {
    QHash<QByteArray, QByteArray> fromPending;
    QHash<QByteArray, QByteArray> fromSend;
    QHash<QByteArray, QByteArray> prints;
};

// Writes the pending file whole: the pending rows, then the pages still waiting in the send queue,
// all in the pending queue's layout, atomically (a temporary file renamed over the old one). The
// next start loads every one of them into the pending queue, so a page waiting to be sent comes
// back for the operator and is not sent again by itself. Neither table's current row moves.
// Throws store::StoreError on failure.
// With `marks`, the pages that may have been delivered are named in its side file beside it; with
// `notes`, the notes of its pages (carrier, log record), and once the file is written the notes of
// pages no longer in it are forgotten. With `cache`, rows met before are taken from it, and it keeps
// the rows of this file only.
void writePendingFile(const store::TMemTable& pendingMsgs, const store::TMemTable& sendMsgs, const QString& path,
    const DeliveryMarks* marks = nullptr, PageNotes* notes = nullptr, PendingRowCache* cache = nullptr);

// Keeps the pending file current while the desk runs, so that a kill or a power cut loses no page:
// every change of either queue (a row added, removed or changed, a reload) asks for one rewrite,
// made once control is back in the event loop, so the two halves of a move between the queues
// cost one write and never leave the page out of the file.
//
// Nothing is written before follow() (the start decides first whether the file may be written:
// a file it could not read and could not keep aside is never overwritten).
class PendingFile : public QObject {
    Q_OBJECT

public:
    PendingFile(store::TMemTable& pendingMsgs, store::TMemTable& sendMsgs, const QString& path,
        QObject* parent = nullptr);

    // The marks written beside the file (none unless set).
    void setMarks(const DeliveryMarks* marks) { marks_ = marks; }
    // The page notes written beside the file (and forgotten once their pages have left the queues).
    void setNotes(PageNotes* notes) { notes_ = notes; }
    // The file written from now on (the pending file until then); its side file goes with it.
    void setPath(const QString& path) { path_ = path; }
    QString path() const { return path_; }
    // A change the queues do not see (a mark set or taken off): the file is written again.
    void touch() { changed(); }

    // From now on every change is written; until stop(), called once the queues are saved for the
    // way out.
    void follow();
    void stop();
    bool following() const { return following_; }
    // Writes now (a rewrite asked for and not yet made is then not needed). Returns an empty text,
    // or the failure's text.
    QString writeNow();
    // After a failed write the file is tried again at the next change, and at the latest after this
    // long (a minute unless set otherwise).
    void setRetryInterval(int milliseconds) { retry_.setInterval(milliseconds); }

signals:
    // A rewrite failed; sent once for each new failure text (again after a write that succeeded).
    void writeFailed(const QString& text);

private:
    void changed();
    void writeIfAsked();

    store::TMemTable& pendingMsgs_;
    store::TMemTable& sendMsgs_;
    QString path_;
    bool following_ = false;
    bool asked_ = false; // a write is owed
    bool queued_ = false; // a write waits for the event loop
    QString lastFailure_;
    QTimer retry_;
    const DeliveryMarks* marks_ = nullptr;
    PageNotes* notes_ = nullptr;
    PendingRowCache cache_;
};

} // namespace core
