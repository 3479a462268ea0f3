#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

namespace core {

struct Page;

// What a queued page carries beside its queue row: the name of its carrier, by which it finds the
// carrier's delivery paths, and the number of its message log record, by which its delivery status
// is found from the log. A queue row holds neither, and the pending file's eight fields, which other
// programs read and write, stay as they are: the notes are kept here by the page's fingerprint (what
// it says and to whom) and written into the side file beside the pending file, one
// "FINGERPRINT<TAB>CARRIER<TAB>LOGREC" line a page. A page without a carrier goes through the modem.
class PageNotes {
public:
    // Remembers the page's carrier and log record (both empty: forgets the page).
    void note(const Page& page);
    // Sets the page's carrier and log record from its note (empty when none).
    void fill(Page& page) const;
    bool isEmpty() const { return notes_.isEmpty(); }

    // Adds the notes of the side file's text; a page already known keeps its note. Other lines (the
    // delivery marks) are not this class's.
    void read(const QByteArray& sideFileText);
    // Adds the notes of a side file on disk (a missing or unreadable one adds nothing).
    void load(const QString& sideFilePath);
    // The side file's lines for the noted ones among the pages of these fingerprints.
    QByteArray textFor(const QList<QByteArray>& fingerprints) const;
    // Forgets every page but those of these fingerprints (the others were delivered, aborted, dropped).
    void keepOnly(const QList<QByteArray>& fingerprints);

private:
    struct Note {
        QString carrier;
        QString logRecord;
    };
    QHash<QByteArray, Note> notes_;
};

} // namespace core
