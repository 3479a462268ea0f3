#pragma once

#include "compose/pageforms.h"
#include "core/page.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

namespace core {
class Desk;
}

namespace compose {

class Composition;

// What the preparations report through and ask of the desk around them. Each may be left unset.
struct DeskServices {
    std::function<void(const QString&)> showStatus; // the status list (Show_Status)
    std::function<void(const QString&)> showInfo; // an information box with OK, waited for
    std::function<void(const QString&)> showError; // the application's standard error box
    std::function<void()> restoreWindow; // the send command brings the main window back from minimised
    std::function<void()> focusMessage; // the message editor takes the keyboard focus
};

// What the preparation of one recipient came to (MessagePreparation::prepareReported).
struct PreparedPages {
    // The pages queued, each with its DLVSTAT rows (0 where a row could not be written).
    QList<core::Page> pages;
    // The REFUSED rows of pages it could not queue (a bad pager ID, a carrier not found).
    QList<quint32> refusedRows;
    // The message log record of its pages (core::logRecordKey), empty when not logged.
    QString logRecord;
    // What it said, in order: status lines, and the texts it would otherwise have shown in a box.
    QStringList said;
};

// The send command and the preparations that turn the composed message, or a dropped message file,
// into pages at the end of the desk's send queue. They read the working settings from the desk
// (desk.Settings()) and the message, the ticks and the switches from the Composition.
class MessagePreparation {
public:
    MessagePreparation(core::Desk& desk, Composition& composition, DeskServices services = {});

    Composition& composition() { return composition_; }

    // The "&Send Mesg" command: the composed message to the ticked recipients, or, while "Send By
    // Pager ID" is ticked, to the pager ID typed last.
    void SendBtnClick();
    // "By Pager ID": the send command's guards, then the composed message to `pagerId` on
    // `carrier` (empty: the carriers table's current record). "Send By Pager ID" is ticked only when
    // the page was queued. Returns whether it was.
    bool sendByPagerId(const QString& pagerId, const QString& carrier);
    // Walks the recipient list and prepares every ticked item with `editorText`, unticking each.
    void PrepareAllMessages(const QString& editorText);
    // One recipient item, a user name or "Group: " + a group name, with `editorText` (lines
    // separated by LF). The operator's ticks and editor are not touched.
    void prepareRecipient(const QString& item, const QString& editorText);
    // The same for a page another program asked for, reporting what became of it: no box is shown
    // (what one would say goes to the status list and into the answer).
    PreparedPages prepareReported(const QString& item, const QString& text);
    // One user of the directory, by name.
    void PrepareOneMessage(const QString& name, const QString& editorText);
    // One "Group: " item of the recipient list.
    void PrepareGroupMessage(const QString& item, const QString& editorText);
    // One page to a typed pager ID on a carrier (empty: the carriers table's current record).
    // Returns whether it was queued.
    bool PrepareByPagerMessage(const QString& editorText, const QString& pagerId, const QString& carrier);
    // Takes "plimomsgs.txt" in the current directory, when there is one, and queues at most one
    // page from it. The file is deleted once its page is queued, or once it was said not to hold a
    // page (not a regular file, too large, a NUL byte, fewer than three lines, no such carrier); a
    // page that cannot be queued for a table fault leaves it for a later tick, the fault said once.
    // Called by the delivery loop when it is idle and the send queue is empty. False when there was
    // nothing to take: no file, a folder of that name, or a file already said to wait or to be
    // undeletable, unchanged.
    bool ReadPageMsgFromFile();
    // Takes the first file of the incoming/ folder in name order that holds a message, by the rules
    // of the message file, and queues its page; names beginning with "." or ending in ".tmp" are
    // files still being written and are passed over. An incoming file may leave its carrier line
    // blank (the user's own carrier) and name a user by pager ID, or a group ("Group: " + its name;
    // its members go through their own carriers). The file is renamed to a hidden name before it is
    // read, and removed once its page is queued and the pending file is written and synced: a page
    // goes at most once, and a file that cannot be renamed is said once and not paged. Called by
    // the delivery loop when it is idle, the send queue empty and no plimomsgs.txt waits. False
    // when there was nothing to take.
    bool takeIncomingFile();
    // For incoming files: the recipient list item a first line names (a user's name or pager ID, a
    // group), or an empty text (the line is then a pager ID). Unset: a user's exact name only.
    std::function<QString(const QString& typed)> findRecipient;

    // The message file's name, relative to the current directory.
    static QString messageFileName();
    // The folder of the data folder from which other programs' message files are taken.
    static QString incomingFolderName() { return QStringLiteral("incoming"); }
    // The largest message file read; a larger one is deleted unread.
    static constexpr qint64 kMessageFileReadLimit = 4 * 1024 * 1024;

private:
    // The send command's guards: false (and said) while a page or the scheduled scan is under way.
    bool mayPrepare() const;
    void status(const QString& text) const;
    void info(const QString& text) const;
    void error(const QString& text) const;
    // Returns the record's key for the delivery status (core::logRecordKey), or an empty text when
    // the log could not be written.
    QString appendLogRecord(const QString& userName, const QString& editorText);
    // Queues a prepared page (its rows written into it), and reports it while a preparation is
    // reported.
    void queue(core::Page& page);
    // A page refused before it could be queued: its REFUSED row, reported likewise.
    void refuse(const QString& userName, const QString& pagerId, const QString& logRecord);

    // A message file being taken in: plimomsgs.txt, or one file of the incoming/ folder.
    struct MessageFile {
        QString path; // where it is read and removed (for an incoming file, its hidden name)
        QString shown; // how the status lines name it
        QString identity; // its device, inode, size and modification time
        bool incoming = false;
    };
    enum class Intake {
        Done, // something at this tick: a page queued, the file consumed, or a fault said the first time
        Left, // nothing new: left where it is (a folder, a file that cannot be removed), said before
        Waits, // its page could not be queued for a table or pending-file fault: tried again later
    };
    // The shared reader of message files: reads `file`, queues its page, consumes it.
    Intake takeMessageFile(const MessageFile& file);
    // The page of an incoming file that names a group: its members' pages through the group
    // preparation.
    Intake takeGroupFile(const MessageFile& file, const QString& item, const QString& message);
    // An incoming file's `pages`, the last of the send queue: the pending file is written and
    // synced, then the file removed and the pages said. A write that fails takes them back and the
    // file waits under its own name again.
    Intake keepIncomingPages(
        const MessageFile& file, const QList<core::Page>& pages, const QString& recipient, const QString& text);
    // An incoming file back under its own name (it waits for a later tick).
    void releaseIncoming(const MessageFile& file);
    // Removes the message file and says `text`; a file that cannot be removed is said once.
    Intake consume(const MessageFile& file, const QString& text);
    // Says `text` of the message file once; false when it was said already.
    bool sayOnce(const MessageFile& file, const QString& text);

    core::Desk& desk_;
    Composition& composition_;
    DeskServices c_;

    // The message file last said (its device, inode, size and modification time, and what was said
    // of it): said once, not at every tick, and it does not hold the tick up.
    QString reportedFile_;
    // The same for the incoming/ folder, by file identity (the folder's own faults under an empty
    // one); files that have left it are forgotten at each look.
    QHash<QString, QString> incomingSaid_;
    // An incoming file's pages could not be kept in the pending file: until a write succeeds no
    // further file is taken (each attempt would leave a refused outcome row behind).
    bool incomingPendingFault_ = false;
    // Where a reported preparation gathers what it did; null otherwise.
    PreparedPages* reported_ = nullptr;
};

} // namespace compose
