#pragma once

#include "compose/composition.h"
#include "core/desk.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class QTimer;

namespace compose {
class MessagePreparation;
}
namespace core {
class DeliveryLoop;
class DeliveryTracker;
}
namespace schedule {
class ScheduledScan;
}
namespace intake {
class Gate;
class Listeners;
class SessionGate;
}

namespace session {

class RunnerLock;

// The desk's runtime, with or without a window: the Desk (tables, queues, working settings, paging
// component), the operator's Composition, the preparations, the delivery loop with the message-file
// intake and the scheduled scan, on one clock and one tick. The main window binds to it and shows
// what it says; plimopagerd runs it alone.
//
// Every way into a page is one call here that takes the text and the recipient as values: the
// scheduled scan and a resend from the log never read or write the operator's editor.
class DeskSession : public QObject {
    Q_OBJECT

public:
    // The tables of `dataDirectory` (empty: the default data folder); nothing is opened yet.
    explicit DeskSession(const QString& dataDirectory = QString(), QObject* parent = nullptr);
    ~DeskSession() override;

    // The creation steps (core::Desk::open), then the recipient list filled. Returns an empty
    // text, or the failure that stopped the steps.
    QString open();

    core::Desk& desk() { return *desk_; }
    // Where the listeners hand what other programs send (pages, alerts, questions about them):
    // made by open(), whatever became of the tables (a gate on a desk that did not open answers
    // that it cannot queue). Called on the session's thread only.
    intake::Gate& gate();
    // The network listeners of pager.ini's [Intake] section, handing what they receive to gate():
    // open() starts them once the tables are open (each said in a status line) unless
    // startsListeners was cleared before; they stop when the folder's lock is lost and when the
    // session goes. Made by open().
    intake::Listeners& listeners();
    bool startsListeners = true;
    // Follows the messages WCTP carriers accepted (DLVSTAT); open() takes up those still followed
    // when the desk last stopped.
    core::DeliveryTracker& tracker() { return *tracker_; }
    compose::Composition& composition() { return *composition_; }

    // The moment the tick and the scheduled scan read; the system clock unless replaced.
    std::function<QDateTime()> clock;
    // The tick: once a second unless set otherwise (tests shorten it). start() runs it; nothing is
    // sent before.
    void setTickInterval(int milliseconds);
    // The timer behind the tick ("Timer1").
    QTimer* timer() const { return timer_; }
    int tickInterval() const;
    void start();
    void stop();
    bool isRunning() const;
    // The folder's lock, checked at every tick from now on. Once its file is removed or replaced
    // (another runner may own the folder now), the tick sends nothing more and the timer stops; the
    // queues are kept in a file of lost pages beside the pending file (PendMsgs.lost-PID), never in
    // the pending file, and the loss is said (a status line, then lockLost()).
    void watchLock(const RunnerLock* lock) { lock_ = lock; }
    bool hasLostLock() const { return lockLost_; }
    // Where the queues are kept since the lock was lost; empty before.
    QString lostPagesPath() const { return lostPagesPath_; }
    // One tick now: the clock and pending count said, then, when idle, the head page started, or a
    // message file taken, or a file of incoming/, or on the quarter minutes the scheduled scan. A
    // fault is said through error() and the ticks go on.
    void tick();

    // "&Send Mesg": the composed message to the ticked recipients (or to the typed pager ID while
    // "Send By Pager ID" is ticked).
    void sendComposed();
    // "By Pager ID": the composed message to `pagerId` on `carrier` (empty: the carriers table's
    // current record). Returns whether a page was queued; only then is "Send By Pager ID" ticked.
    bool sendByPagerId(const QString& pagerId, const QString& carrier);
    // `text` to one recipient item (a user name, or "Group: " + a group name), as an ordinary
    // preparation: pages queued, a log record when "Message &Log" is on. The operator's editor
    // and ticks are left alone. The scheduled scan and a resend from the log come in here.
    void sendToRecipient(const QString& recipient, const QString& text);
    // Takes a dropped message file now (false: none to take).
    bool takeMessageFile();
    // One scheduled scan now, whatever the second; true when it sent a record.
    bool runScheduledScan();
    // "Abort Mesg": the page under way is dropped and cancelled.
    void abortPage();
    // Cancels the page under way and keeps it: it stays first in the send queue, to be saved with
    // it (a stop of the service).
    void cancelPageKeepingIt();
    // Saves the queues for the way out (core::Desk::saveQueues).
    QString saveQueues();

    // One line for the status list from any part of the desk: the paging library's result texts are
    // rewritten as the operator reads them ("Successful " becomes "Sent to ..."), then statusLine().
    void report(const QString& text);

    // The status lines open() said (a window made after it shows them).
    QStringList startupLines() const { return startupLines_; }

    // The page under way or last started, its name empty before the first.
    QString pageName() const;
    bool pageInProgress() const { return desk_->pageInProgress(); }

    // What a status line quotes of a delivered page ("Sent to Group ... at 2: " + its first
    // line): the window sets the first line of its editor as displayed when that is the page's
    // text; by default the page's own text.
    std::function<QString(const QString& pageText)> shownFirstLine;

signals:
    // One line for the status list, rewritten as the operator reads it, without its time.
    void statusLine(const QString& text);
    // Every tick: the clock's text.
    void clockShown(const QString& text);
    // Every idle tick: "Pending Msgs: " + the count, and whether pages wait.
    void pendingShown(const QString& caption, bool alert);
    void sendingShown();
    void sendingProgress(const QString& text);
    void sendingHidden();
    // A box the operator must answer (missing input), and a fault for the standard error box.
    void infoRequested(const QString& text);
    void errorRaised(const QString& text);
    // The send command brings the window back from minimised, and the editor takes the focus.
    void restoreRequested();
    void focusMessageRequested();
    // The end-of-page steps ran.
    void pageEnded();
    // The folder's lock file was removed or replaced: `text` says so and where the queues are kept.
    void lockLost(const QString& text);

private:
    void reportFault(const std::exception_ptr& fault);
    // The tick's check of the folder's lock; false once it is lost.
    bool lockStillHeld();

    std::unique_ptr<core::Desk> desk_;
    std::unique_ptr<core::DeliveryTracker> tracker_;
    compose::Composition* composition_;
    std::unique_ptr<compose::MessagePreparation> preparation_;
    core::DeliveryLoop* delivery_;
    std::unique_ptr<schedule::ScheduledScan> scan_;
    std::unique_ptr<intake::SessionGate> gate_;
    std::unique_ptr<intake::Listeners> listeners_;
    QTimer* timer_;
    // A table another program kept locked: the tick's table work rests until then.
    QDateTime tablesRestUntil_;
    QString lastLockFault_;
    QStringList startupLines_;
    const RunnerLock* lock_ = nullptr;
    bool lockLost_ = false;
    QString lostPagesPath_;
    static constexpr int kTableRestMs = 30 * 1000;
};

} // namespace session
