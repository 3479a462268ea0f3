#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

namespace core {

struct Page;

// What a queued page carries beside its queue row: the name of its carrier, by which it finds the
// carrier's delivery paths; the number of its message log record; the DLVSTAT rows of its pager IDs
// and, for a group page, the members they belong to; and its attempts so far, the last one's time
// and what it met. A queue row holds none of these, and the pending file's eight fields, which other
// programs read and write, stay as they are: the notes are kept here by the page's fingerprint (what
// it says and to whom) and written into the side file beside the pending file, one line a page:
//
//   FINGERPRINT<TAB>CARRIER<TAB>LOGREC<TAB>ROWS<TAB>ATTEMPTS<TAB>LAST ATTEMPT<TAB>REASON<TAB>MEMBERS
//
// ROWS are record numbers separated by ","; LAST ATTEMPT is "yyyy-MM-ddThh:mm:ss"; MEMBERS are names
// separated by the unit separator (0x1F). A desk that knows only the first three fields reads those.
// Two queued pages that say the same to the same pager have one fingerprint: each has a note of its
// own, and the one queued first is the one met first. A page without a carrier goes through the modem.
class PageNotes {
public:
    // What a page's attempts came to.
    struct Attempts {
        int count = 0;
        QDateTime last;
        QString reason; // the last status text it met
    };

    // Notes a newly queued page: its carrier, log record, outcome rows and members.
    void note(const Page& page);
    // Sets the page's carrier, log record, outcome rows and members from its note (empty when none).
    void fill(Page& page) const;
    // The page's attempts (none when it has no note).
    Attempts attempts(const Page& page) const;
    // One more attempt begun at `when`.
    void attempted(const Page& page, const QDateTime& when);
    // What the last attempt met.
    void setReason(const Page& page, const QString& reason);
    // The page has left both queues (delivered, dropped, deleted): its note goes.
    void forget(const Page& page);
    // The page goes on as `after` (a group page whose taken members left it): its note moves, with
    // the rows and members of `after`.
    void replace(const Page& before, const Page& after);
    bool isEmpty() const { return notes_.isEmpty(); }

    // Adds the notes of the side file's text. Other lines (the delivery marks) are not this class's.
    void read(const QByteArray& sideFileText);
    // Adds the notes of a side file on disk (a missing or unreadable one adds nothing).
    void load(const QString& sideFilePath);
    // The side file's lines for the pages of these fingerprints (one a page: a fingerprint met
    // twice writes two notes when it has them).
    QByteArray textFor(const QList<QByteArray>& fingerprints) const;
    // Forgets the pages no longer queued: a fingerprint keeps as many notes as it is met in
    // `fingerprints`, its latest (the others were delivered, aborted, dropped).
    void keepOnly(const QList<QByteArray>& fingerprints);

private:
    struct Note {
        QString carrier;
        QString logRecord;
        QList<quint32> rows;
        QStringList members;
        Attempts attempts;
    };
    const Note* first(const Page& page) const;
    Note* first(const Page& page);
    QHash<QByteArray, QList<Note>> notes_;
};

} // namespace core
