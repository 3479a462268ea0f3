#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <memory>

namespace core {
class Desk;
}

namespace store {
class Table;
}

namespace msglog {

// What became of a logged message's pages, as DLVSTAT says it, in the words the log shows: "Sent",
// "Pending", "Read" and so on (core::statusOfLog: the least advanced of its pages; for a message of
// several pages with how many are in it, "Pending 1/5"), "" when no page of it has a row.
//
// The rows are read through a handle of its own in BY_LOG order (opened on the first question), so
// the desk's handle never moves. The table changes while the log is shown (the desk writes a row
// when a carrier accepts a page and changes it as the carrier reports), and changed() says so: at
// once for a change made through the desk's handle, and at the next check() for one made by any
// other handle, which is seen from the file's size and modification time (one stat, no read).
// While following, check() runs every kCheckMs.
class LogStatus : public QObject {
    Q_OBJECT

public:
    explicit LogStatus(core::Desk& desk, QObject* parent = nullptr);
    ~LogStatus() override;

    // The status of the message in log record `logRecNo`; throws StoreError when DLVSTAT cannot
    // be read.
    QString statusOf(uint32_t logRecNo);
    // A STATUS value in the log's words ("DELIVERED": "Delivered", "PENDING 1/5": "Pending 1/5").
    static QString shownAs(const QString& status);
    // Emits changed() when the table's file changed since the last check.
    void check();
    // Checks on a timer while `on` (while the log is shown).
    void setFollowing(bool on);

    static constexpr int kCheckMs = 1000;

signals:
    // The statuses may have changed: ask again.
    void changed();

private:
    void scheduleChanged();

    core::Desk& desk_;
    std::unique_ptr<store::Table> reader_;
    QTimer checkTimer_;
    QDateTime seenModified_;
    qint64 seenSize_ = -1;
    bool changePending_ = false;
};

} // namespace msglog
