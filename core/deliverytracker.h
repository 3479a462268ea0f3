#pragma once

#include "core/deliverystatus.h"
#include "paging/deliverypath.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QThread>
#include <QTimer>

#include <functional>
#include <map>
#include <set>

namespace paging {
struct WctpTicket;
}

namespace core {

class Desk;
struct Page;

// Follows the messages a WCTP carrier accepted until the carrier reports them delivered, read or
// failed, or 30 minutes have passed: each tracking number is asked after (wctp-ClientQuery) at the
// interval the server asks, one query at a time on a thread of the tracker's own, so the delivery
// loop and the window never wait for a carrier. Each change is written into DLVSTAT and said as a
// status line ("Delivered to Bob, read at 10:42").
class DeliveryTracker : public QObject {
    Q_OBJECT

public:
    explicit DeliveryTracker(Desk& desk, QObject* parent = nullptr);
    // Cancels a query under way and waits for its thread.
    ~DeliveryTracker() override;

    // The moment of a change (CHANGED) and of the give-up; the system clock unless replaced.
    std::function<QDateTime()> clock;
    // The wait before the first query and between queries when the server names no interval
    // (30 s and 60 s unless set otherwise).
    void setIntervals(int firstMs, int defaultMs);

    // A page's ACCEPTED row (written by the delivery loop) for the pager ID the carrier took through
    // the WCTP `path`, followed by its tracking number; `whom` names the person in status lines
    // ("Erin (Group: Night Shift)").
    void accepted(const StatusRow& row, const paging::DeliveryPath& path, const QString& whom);
    // Follows again the rows of DLVSTAT still waiting for news that changed within the last 30 minutes
    // (a start after a stop), with the credentials of the carrier path at their address; the newest
    // kMaxRestored of them.
    void restore();
    // The tracking numbers followed.
    int followedCount() const { return int(followed_.size()); }
    static constexpr int kMaxRestored = 1000;

signals:
    void status(const QString& text);

private:
    struct Followed {
        StatusRow row;
        paging::DeliveryPath path;
        QDateTime giveUpAt;
        QDateTime nextQuery;
        QString whom;
        quint64 id = 0; // which of the followed an answer is for: two carriers may give one number
        // When it is next due: its next query, or its give-up should that come first.
        QDateTime due() const { return std::min(nextQuery, giveUpAt); }
    };
    QDateTime now() const { return clock ? clock() : QDateTime::currentDateTime(); }
    void follow(const StatusRow& row, const paging::DeliveryPath& path, const QDateTime& acceptedAt, const QString& whom);
    void plan();
    void queryNext();
    void answered(quint64 id, int code, int state, const QDateTime& when, const QString& errorText, int nextPollSeconds);
    void record(Followed& item, const QString& value, const QString& line);
    void recordFault(const QString& text);

    Desk& desk_;
    // The followed by id, and their ids in the order they fall due (the one being asked is in
    // followed_ only): the next to ask is the first of due_.
    std::map<quint64, Followed> followed_;
    std::set<std::pair<QDateTime, quint64>> due_;
    QTimer timer_;
    QThread thread_;
    QObject* worker_ = nullptr; // lives in thread_: the queries run there
    int cancelFd_ = -1;
    bool querying_ = false;
    int firstMs_ = 30 * 1000;
    int defaultMs_ = 60 * 1000;
    QString lastFault_;
    quint64 nextId_ = 1;
};

} // namespace core
