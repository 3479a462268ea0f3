#pragma once

#include "core/desk.h"
#include "core/page.h"
#include "core/pendingqueue.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTime>

#include <functional>

namespace paging {
class TPageEngine;
}

namespace core {

class Desk;
class DeliveryTracker;

// The delivery loop's work on the desk: the idle part of the one-second tick (start the head page of
// SendMsgs, else take in a dropped message file, else a file of incoming/, else the scheduled scan), the paging engine's status
// and end-of-page events, and "Abort Mesg". It reports through signals so that it needs no window.
//
// The loop remembers the queue row it handed to the engine. The end-of-page steps act on that row
// only: once it has left the send queue (delivered, a group page with bad IDs, aborted), the row
// behind it is left alone.
class DeliveryLoop : public QObject {
    Q_OBJECT

public:
    // Binds the engine's OnStatus and OnFinished to ShowErrorStatus and Engine1Finished.
    DeliveryLoop(Desk& desk, paging::TPageEngine& engine, QObject* parent = nullptr);
    ~DeliveryLoop() override;

    // The name other programs drop a message into, in the current directory.
    static QString messageFileName();

    // Copies the current settings into the engine before each page (the System Configuration
    // window's, through core::SetEngineParams, unless replaced).
    std::function<void()> SetEngineParams;
    // Takes in "plimomsgs.txt" (consumes it, queues at most one page).
    std::function<bool()> ReadPageMsgFromFile;
    // Takes in the first message file of the incoming/ folder (queues at most one file's pages);
    // false when there was none to take.
    std::function<bool()> ReadIncomingFile;
    // The scheduled-message scan, run on seconds 0, 15, 30 and 45 while scheduled sending is on.
    std::function<void()> ScheduledScan;

    // While set, the idle tick starts queued pages only: the message file and the scheduled scan,
    // which read tables, wait (a table another program keeps locked is not waited for at every tick).
    bool tableWorkPaused = false;

    // Follows the messages a WCTP carrier accepted (none: they are not followed).
    DeliveryTracker* tracker = nullptr;
    // The moment of an attempt; the system clock unless replaced.
    std::function<QDateTime()> clock;

    // Steps 4 to 6 of the tick; the caller has shown the clock and the pending count and found the
    // desk idle (no page in progress, no scheduled scan).
    void idleTick(const QTime& now);
    // Hands the head page of SendMsgs to the engine (a refused start moves it to the pending queue).
    void startHeadPage();
    // Acts on the engine's status: progress in the Sending label, a delivered page or a group page
    // with bad IDs leaves the send queue, any other text goes to the status list.
    void ShowErrorStatus();
    void Engine1Finished();
    // "Abort Mesg": drops the page under way (it does not become pending) and cancels it.
    void BitBtn7Click();

    // Cancels the page under way and keeps it first in the send queue, untouched: the way out of a
    // runner that saves its queues (the page is then pending at the next start).
    void cancelKeepingPage();

    // The page handed to the engine last: its UserOrGroupName (empty before the first page), and
    // whether its row is still first in the send queue.
    QString deliveredName() const { return started_.userOrGroupName; }
    const Page& startedPage() const { return started_; }
    bool startedRowQueued() const { return startedRowQueued_; }

signals:
    void status(const QString& text); // one line for the status list (Show_Status)
    void sendingShown(); // make the Sending label visible
    void sendingProgress(const QString& text); // the Sending label's caption
    void sendingHidden();
    void pageEnded(); // the end-of-page steps ran (the window unticks "Send By Pager ID")

private:
    // The paths of the started page's carrier into the engine (none when they cannot be read: the
    // page then goes through the modem).
    void loadPaths();
    // Whom the started page goes to: its recipient, or a group page's members and group.
    QString everyone() const;
    // The page was taken (code 0, or 24 with bad IDs): a line and an outcome for each pager ID.
    void delivered();
    // The line and outcome of each pager ID the terminal took or refused (with `onlyTaken`, those it
    // never reached are left out); returns how many were said.
    int sayDelivered(bool onlyTaken);
    // A failed group page: the members taken or refused leave it and the head row keeps the others.
    // False when none is left (the row is gone).
    bool keepUndelivered();
    // The started page left the pending queue's way after `decision`: retried or kept pending, said
    // with what it met.
    void failed(EndOfPage decision);
    void dropStartedRow();
    // Takes the "may have been delivered" mark off the started page.
    void forgetMark();
    QDateTime now() const { return clock ? clock() : QDateTime::currentDateTime(); }

    Desk& desk_;
    paging::TPageEngine& engine_;
    Page started_;
    // What the paging library reported for group members it did not deliver to, by place (1-based):
    // the terminal's response code and the reason, "511Invalid pager ID".
    QHash<int, QString> groupResults_;
    QString failure_; // the final failure text of the attempt under way
    bool unsure_ = false; // the attempt failed and may have delivered the page
    bool markedAtStart_ = false; // the page was marked "may have been delivered" before this attempt
    BusyMark pageMark_; // held from a page's start to the end of its attempt
    bool startedRowQueued_ = false;
    bool abortedPageFinishing_ = false;
};

} // namespace core
