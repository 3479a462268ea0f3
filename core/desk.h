#pragma once

#include "config/systemsettings.h"
#include "core/deliverymarks.h"
#include "core/pagenotes.h"
#include "core/pageoutcomes.h"
#include "core/pendingfile.h"
#include "paging/pageengine.h"
#include "store/connection.h"
#include "store/memtable.h"
#include "store/table.h"

#include <QString>
#include <QStringList>
#include <QTime>
#include <memory>
#include <utility>

namespace core {

// What one tick of the delivery timer puts on the main window (steps 1 to 3 of the tick).
struct TickDisplay {
    QString clock; // the clock label, long time format
    bool idle = false; // neither a page nor a scheduled scan is under way
    QString pendingCaption; // set when idle: "Pending Msgs: " + count
    bool pendingAlert = false; // the count is 1 or more (shown in red)
};

// Marks the desk busy while it lives: with a page under way, or with a scheduled scan. Moved, the
// mark goes with it; released (or destroyed), the desk is no longer busy with that work.
class BusyMark {
public:
    BusyMark() = default;
    explicit BusyMark(bool& flag)
        : flag_(&flag)
    {
        flag = true;
    }
    BusyMark(BusyMark&& other) noexcept
        : flag_(std::exchange(other.flag_, nullptr))
    {
    }
    BusyMark& operator=(BusyMark&& other) noexcept
    {
        if (this != &other) {
            release();
            flag_ = std::exchange(other.flag_, nullptr);
        }
        return *this;
    }
    BusyMark(const BusyMark&) = delete;
    BusyMark& operator=(const BusyMark&) = delete;
    ~BusyMark() { release(); }
    void release()
    {
        if (flag_)
            *flag_ = false;
        flag_ = nullptr;
    }
    bool held() const { return flag_ != nullptr; }

private:
    bool* flag_ = nullptr;
};

// The main window's state without the window: the store connection, the eleven table handles,
// the three in-memory tables and the flags that keep the timer, the send command and the scheduled scan
// apart. The window owns one Desk for the whole run.
class Desk {
public:
    // `dataDirectory` is where the tables live (a trailing "/" is added when missing); empty means
    // the default, defaultDataDirectory(). The three in-memory tables are open from here on.
    explicit Desk(const QString& dataDirectory = QString());
    ~Desk();
    Desk(const Desk&) = delete;
    Desk& operator=(const Desk&) = delete;

    // dataDirectoryFor() the program's own folder.
    static QString defaultDataDirectory();
    // Where a desk whose program file lies in `programFolder` keeps its tables, with a trailing "/":
    // that folder itself, or the user's application-data folder (created when missing) for an
    // installed program, whoever runs it, and for a folder that cannot be written.
    static QString dataDirectoryFor(const QString& programFolder);
    // True when `programFolder` is the bin folder of an install prefix that holds the desk's menu
    // entry (PREFIX/share/applications/<desktop-file ID>.desktop): the desk was installed, not
    // run from its build folder. An installed desk also works in its data folder (see main).
    static bool isInstalledProgram(const QString& programFolder);
    // What the operator is told when a desk run from its own folder keeps its tables elsewhere
    // because that folder cannot be written: a text naming both folders. Empty for an installed
    // program (the per-user folder is its place by design) and for a folder that can be written.
    static QString dataFolderNotice(const QString& programFolder);
    QString dataDirectory() const { return dataDirectory_; }
    // True when the tables do not live beside the program (the about box then names their folder).
    bool usesFallbackDataDirectory() const;

    // The creation steps, in order: create missing tables and index files, open the eleven handles
    // (MODEMS, BUSERS, MSGLOG2, SCHEDMS2, GROUPS, QUICKMSG, PAGECOMP, CARRPATH, DLVSTAT, SOURCES,
    // ALERTS, each in its default tag) and check their fields, restore the pending queue from the pending file when it
    // exists, read the scheduled-sending switch, clear the flags. A table that cannot be opened
    // skips the steps after it but the pending queue's, which runs whatever happened to the tables
    // (its pages are only there); its text (the store's own) is returned and kept in startupError().
    // Returns an empty text on success.
    //
    // From then on the pending file follows both queues (PendingFile), unless it could be neither
    // read nor kept aside.
    QString open();
    QString startupError() const { return startupError_; }
    // Faults that do not stop the start, as whole sentences for one box: fields a table lacks or
    // holds too small (what needs them fails when used, everything else works), a pending file
    // that could not be read whole (its complete pages are restored, the file kept as
    // PendMsgs.bad), a settings file that is not a regular file or too large (not read: the
    // defaults hold until the settings are saved, which replaces it).
    QStringList startupFaults() const { return startupFaults_; }
    // The start's one message box: the failure, then the faults, a paragraph each; empty when the
    // start went well.
    QString startupReport() const;
    // Faults found in index files that the start rebuilt from their records (not failures: the
    // steps go on), for the operator to be told.
    QStringList startupNotices() const { return startupNotices_; }
    // All creation steps ran.
    bool isOpen() const { return opened_; }

    // The recipient list's items: every USERNAME of BUSERS in its tag order, then "Group: " + every
    // GROUP of GROUPS. Empty while those tables are not open.
    QStringList recipientNames();
    // Re-reads the users and groups tables (other windows or programs may have changed them).
    void refreshDirectory();

    // The older single-choice lookups: the chosen user's pager ID and carrier, read with the users
    // handle on that user. `carrier` is empty when no carrier of that name exists; returns false
    // when the user is not found.
    struct ChosenUser {
        QString pagerId;
        QString carrier;
    };
    bool lookupUser(const QString& userName, ChosenUser* chosen);
    // Empties the lookups' one-field table (a blank row when it has none).
    void clearTempUser();

    // Steps 1 to 3 of the one-second tick.
    TickDisplay tick(const QTime& now) const;

    // The way out, for every close of the main window: the pending file is written (atomically)
    // with the pending pages followed by the pages still waiting in SendMsgs, and only once that
    // has succeeded do those pages move to PendingMsgs. Done once: later calls return at once.
    // Returns an empty text, or the failure's text; both queues are then as they were, and the
    // call may be repeated.
    QString saveQueues();
    bool queuesSaved() const { return queuesSaved_; }
    // The data folder is no longer this desk's (its lock file was removed or replaced, so another
    // runner may own the pending file now): from here on the queues are kept in the file of lost
    // pages at `path` (core/lostpages.h), never in the pending file, and written there at once when
    // they hold pages. saveQueues() writes there too. Returns an empty text, or the failure's text.
    QString keepQueuesAside(const QString& path);
    // The lines for the files of lost pages that open() took into the pending queue ("3 pages taken
    // from PendMsgs.lost-4711 into the pending messages").
    QStringList lostPagesTaken() const { return lostPagesTaken_; }

    // The pending file: "PendMsgs." names it; as on the system the desk came from, the trailing dot
    // is not part of the name on disk. It resolves against the current directory.
    static QString pendingFileName();
    // Rewrites the pending file whenever a queue changes, once open() has restored the queue.
    PendingFile& pendingFile() { return *pendingFile_; }
    // The queued pages that may have been delivered (restored with the pending file, kept beside it).
    DeliveryMarks& deliveryMarks() { return deliveryMarks_; }
    const DeliveryMarks& deliveryMarks() const { return deliveryMarks_; }
    // The carrier and log record of each queued page (restored with the pending file, kept beside it).
    PageNotes& pageNotes() { return pageNotes_; }
    // Puts a prepared page at the end of SendMsgs: its outcome rows written (WAITING), its carrier,
    // log record, rows and members noted. Returns the page as queued, its rows in it.
    Page queuePage(Page page);
    // What became of each page, in DLVSTAT.
    PageOutcomes& outcomes() { return outcomes_; }
    // The pending pages as they stood when the queue was restored at start (their rows then set to
    // PENDING, or UNSURE for those that may have been delivered).
    int restoredPendingCount() const { return restoredPending_; }

    // The store connection, the eleven table handles (the windows work on them: a window and the
    // desk's logic share one current record of a table) and the three in-memory tables. CarrPathT
    // holds the carriers' delivery paths (in BY_CARRIER order), DlvStatT the pages' delivery status
    // (in BY_TRACK order), SourcesT the programs that page through the desk (BY_SOURCE) and AlertsT
    // the alerts they raised (BY_KEY).
    store::Connection& Plimo32() { return plimo32_; }
    store::Table& BUsersT() { return busersT_; }
    store::Table& PagerCompT() { return pagerCompT_; }
    store::Table& GroupsT() { return groupsT_; }
    store::Table& QuickMsgT() { return quickMsgT_; }
    store::Table& ModemsT() { return modemsT_; }
    store::Table& MsgLogT() { return msgLogT_; }
    store::Table& SchedMsgT() { return schedMsgT_; }
    store::Table& CarrPathT() { return carrPathT_; }
    store::Table& DlvStatT() { return dlvStatT_; }
    store::Table& SourcesT() { return sourcesT_; }
    store::Table& AlertsT() { return alertsT_; }
    store::TMemTable& SendMsgs() { return sendMsgs_; }
    const store::TMemTable& SendMsgs() const { return sendMsgs_; }
    store::TMemTable& PendingMsgs() { return pendingMsgs_; }
    const store::TMemTable& PendingMsgs() const { return pendingMsgs_; }
    store::TMemTable& TempUser() { return tempUser_; }

    // The working settings (pager.ini's "System" keys, read when the desk is made), which the System
    // Configuration window edits and the engine parameters and preparations read.
    config::SystemSettings& Settings() { return settings_; }

    // The paging component: one page at a time, its per-run settings refreshed by SetEngineParams.
    paging::TPageEngine& Engine1() { return engine1_; }
    // Written by SetEngineParams, read by the preparations into new queue rows: the Retries of every
    // row (1 to 3) and the MessageSize of rows for numeric carriers (4 or more seconds).
    int32_t DeliveryRetriesValue() const { return deliveryRetriesValue_; }
    int32_t DirectMesgDelayValue() const { return directMesgDelayValue_; }
    void setEngineValues(int32_t deliveryRetries, int32_t directMesgDelay)
    {
        deliveryRetriesValue_ = deliveryRetries;
        directMesgDelayValue_ = directMesgDelay;
    }

    // A page is under way (from its start to the end of its attempt), or the scheduled scan runs:
    // the send command, the tick and the scan keep out of each other's way, also while a message box
    // runs its own event loop. Each is set by holding its mark.
    bool pageInProgress() const { return pageInProgress_; }
    bool scheduleScanActive() const { return scheduleScanActive_; }
    [[nodiscard]] BusyMark markPageInProgress() { return BusyMark(pageInProgress_); }
    [[nodiscard]] BusyMark markScheduleScan() { return BusyMark(scheduleScanActive_); }

    // The scheduled-sending switch, read by the creation steps (off when they stop early); the
    // scheduling window's switch changes it.
    bool ScheduledSendingEnabled() const { return scheduledSendingEnabled_; }
    void setScheduledSendingEnabled(bool on) { scheduledSendingEnabled_ = on; }

private:
    void restorePendingQueue();
    // Takes the pages of the files of lost pages beside the pending file into the pending queue;
    // a file goes once the pending file holding its pages is written.
    void takeLostPages();

    store::Connection plimo32_;
    store::Table busersT_;
    store::Table pagerCompT_;
    store::Table groupsT_;
    store::Table quickMsgT_;
    store::Table modemsT_;
    store::Table msgLogT_;
    store::Table schedMsgT_;
    store::Table carrPathT_;
    store::Table dlvStatT_;
    store::Table sourcesT_;
    store::Table alertsT_;
    store::TMemTable sendMsgs_;
    store::TMemTable pendingMsgs_;
    store::TMemTable tempUser_;
    config::SystemSettings settings_;
    paging::TPageEngine engine1_;
    int32_t deliveryRetriesValue_ = 3;
    int32_t directMesgDelayValue_ = 10;
    bool scheduledSendingEnabled_ = false;

    bool pageInProgress_ = false;
    bool scheduleScanActive_ = false;

    QString dataDirectory_;
    QString startupError_;
    QStringList startupNotices_;
    bool opened_ = false;
    QStringList startupFaults_;
    bool pendingRestored_ = false; // the creation step that loads the pending file ran
    bool pendingWritable_ = true; // false: the file could be neither read whole nor kept aside
    bool queuesSaved_ = false;
    DeliveryMarks deliveryMarks_;
    PageNotes pageNotes_;
    PageOutcomes outcomes_ { dlvStatT_ };
    int restoredPending_ = 0;
    QStringList lostPagesTaken_;
    bool keptAside_ = false; // keepQueuesAside() ran
    std::unique_ptr<PendingFile> pendingFile_;
};

} // namespace core
