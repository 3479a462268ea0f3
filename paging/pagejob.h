#pragma once

#include "deliverypath.h"
#include "pagerequest.h"
#include "tapconstants.h"
#include "wctpdelivery.h"

#include <QEvent>
#include <QMutex>
#include <QString>

#include <deque>
#include <memory>
#include <optional>
#include <thread>

class QObject;

namespace paging {

class DebugLog;
class Line;
class ModemDialogue;

struct StatusSnapshot {
    quint64 seq = 0;
    int code = OpeningPortCode;
    QString text;
    bool delivered = false; // its status event has been handled (or dropped) by the receiver

    static constexpr int OpeningPortCode = 30;
};

// What a page's worker shares with the callers of GetPageStatus. Every status change is kept until
// its status event has been handled, so a reader called from that event reads that very status even
// when the worker has moved on (a "GroupRes" report is never overwritten before it is read).
class JobState {
public:
    JobState(QObject* receiver, int statusType, int finishedType);

    void report(int code, const QString& text); // new status, one status event
    void finish(int code, const QString& text); // final status, status event, then the finished event
    // 1 when the page has ended and this is its final status, else 0.
    int read(int* code, QString* text);
    bool finished() const;
    void detach(QObject* receiver);
    void markDelivered(quint64 seq);
    // A WCTP page's tracking numbers, one per accepted page; set before the page finishes.
    QList<WctpTicket> tickets() const;
    void setTickets(const QList<WctpTicket>& tickets);
    // The path that delivered the page (describe()); empty until one has, and for a page without paths.
    QString deliveredVia() const;
    void setDeliveredVia(const QString& via);
    // The page may have been delivered although the attempt failed (see mayHaveDelivered()).
    bool unsure() const;
    void setUnsure(bool unsure);

private:
    void post(int type, quint64 seq);

    mutable QMutex m_mutex;
    QObject* m_receiver;
    int m_statusType;
    int m_finishedType;
    std::deque<StatusSnapshot> m_unread;
    StatusSnapshot m_latest;
    quint64 m_nextSeq = 1;
    bool m_finished = false;
    QList<WctpTicket> m_tickets;
    QString m_deliveredVia;
    bool m_unsure = false;
    std::weak_ptr<JobState> m_self;
    friend class PageJob;
};

// A path of the page and the page as planned for it (its own characters per page).
struct PathPlan {
    DeliveryPath path;
    PagePlan plan;
};

// One page on its own thread: open the port, dial, deliver, hang up, report. With a WCTP target the
// pages go to that server instead (no port, no modem), and the attempt ends with the submits' answers.
// With paths, the attempt goes through them in order until one delivers or fails for good.
class PageJob {
public:
    PageJob(const PageRequest& request, const PagePlan& plan, QObject* receiver, int statusType,
        int finishedType);
    ~PageJob(); // cancels and joins

    void setWctp(const WctpTarget& target) { m_wctp = target; } // before start()
    void setPaths(const QList<PathPlan>& paths) { m_paths = paths; } // before start(); checked already
    void start();
    void cancel();
    void join();
    std::shared_ptr<JobState> state() const { return m_state; }

private:
    void run();
    int deliver(DebugLog& log);
    int deliverPaths(DebugLog& log);
    int deliverPath(const PathPlan& path, DebugLog& log);
    int deliverWctp(DebugLog& log);
    int openLine(DebugLog& log, std::unique_ptr<Line>* line);
    int deliverAlphanumeric(DebugLog& log);
    int deliverNumeric(DebugLog& log);
    int callTerminal(DebugLog& log, std::unique_ptr<Line>* line, bool tcp);
    void hangUp(Line& line, bool tcp, bool carrierLost);
    void hangUpAfterCancel(Line& line, bool online);

    PageRequest m_request;
    PagePlan m_plan;
    ProtocolTimings m_timings;
    std::shared_ptr<JobState> m_state;
    std::optional<WctpTarget> m_wctp;
    QList<PathPlan> m_paths;
    QString m_finalDetail; // said after the final code's text when the failure has more to tell
    int m_cancelFd = -1;
    std::thread m_thread;
};

} // namespace paging
