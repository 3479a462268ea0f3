#pragma once

#include <QDate>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <memory>

namespace store {
class Table;
}

namespace msglog {

// What a find in the log looks for. An empty part matches every record; at least one part is
// needed for a find.
struct LogFindCriteria {
    QString user; // the whole USERNAME as logged (a user, or "Group: " and the group)
    QString text; // found anywhere in MSG, without regard to case
    QDate day;    // DDATE; an invalid date is any day

    bool isEmpty() const { return user.isEmpty() && text.isEmpty() && !day.isValid(); }
};

// Finds the next or the previous log record that meets the criteria, from a given record in the
// log's BY_DATE order (the order the window shows), without ever holding the event loop for long:
// the records are examined in steps of at most stepRecords() records and stepBudgetMs()
// milliseconds, each step started by a zero timer, so a find through a million records leaves the
// window responsive and can be stopped at any step.
//
// A user is found through the BY_NAME tag (USERNAME+DDATE): a seek to the user's first key (or to
// the day's, when a day is given) and a walk of that user's records only. Within one user,
// USERNAME+DDATE orders the records by day and then by record number, exactly as BY_DATE does,
// so the next match there is the next match in the window. A day without a user seeks the day in
// BY_DATE; a text alone is a walk of BY_DATE from the start record.
//
// A find from a record wraps round the log's ends: past the last (first) record of the log, or of
// the user's records, it goes on from the first (last) up to the start record, saying so by
// wrappedRound() first; the start record itself is found last, when it is the only match. A find
// within a day stops at the day's ends.
//
// The records are read through a handle of its own on the log file, opened on the first find, so
// the shared handle the window stands on is neither moved nor ends its pending edit. The outcome
// is one signal: found() with the record number, notFound(), or failed() with the store's message;
// cancel() ends a find with none of them.
class LogFind : public QObject {
    Q_OBJECT

public:
    enum class Direction { Forward, Backward };

    // Finds in the file of `log` (its folder and table name; it may be closed until a find starts).
    explicit LogFind(const store::Table& log, QObject* parent = nullptr);
    ~LogFind() override;

    // Starts a find after (Forward) or before (Backward) record `fromRecNo` in BY_DATE order, or
    // from the first (last) record when `fromRecNo` is 0 or no longer shown. A find already under
    // way is cancelled first. Empty criteria fail at once.
    void start(const LogFindCriteria& criteria, Direction direction, uint32_t fromRecNo);
    void cancel();
    bool isRunning() const { return running_; }

    // Records examined per step at most, and the time a step may take.
    void setStepRecords(int records) { stepRecords_ = records < 1 ? 1 : records; }
    int stepRecords() const { return stepRecords_; }
    void setStepBudgetMs(int ms) { stepBudgetMs_ = ms < 1 ? 1 : ms; }
    int stepBudgetMs() const { return stepBudgetMs_; }
    // Steps taken by the current (or last) find.
    int stepsTaken() const { return steps_; }

    static constexpr int kStepRecords = 4000;
    static constexpr int kStepBudgetMs = 20;

signals:
    // Part of the way to the end of the range examined, 0 to 100; after each step but the last.
    void progress(int percent);
    void found(uint32_t recNo);
    void notFound();
    // The walk passed the range's end (Forward) or its start (Backward) and goes on from the other.
    void wrappedRound();
    void failed(const QString& text);

private:
    void openReader();
    void place(uint32_t fromRecNo);
    // Past the end, on to the range's other end; false when there is nothing to wrap to.
    bool wrapRound();
    bool outside() const;
    // After a wrap: the walk has come back past the start record's place.
    bool pastStart() const;
    void step();
    void finish();
    QByteArray currentKey() const;
    bool pastRange(const QByteArray& key) const;
    int percentDone();

    const store::Table& log_;
    std::unique_ptr<store::Table> reader_;
    QTimer stepTimer_;
    LogFindCriteria criteria_;
    Direction direction_ = Direction::Forward;
    bool byName_ = false;
    QByteArray low_;  // the first key of the range; empty: from the first record
    QByteArray high_; // the first key after the range; empty: to the last record
    uint32_t startRecNo_ = 0; // the start record, 0 when the walk starts at an end of the range
    QString startDay_;        // its DDATE
    QByteArray startKey_; // its place in the range's order (user and day, or day)
    bool wrapped_ = false; // the walk went round the range's end
    uint32_t startEntry_ = 0;
    uint32_t endEntry_ = 0;
    int usernameWidth_ = 30;
    int ddateWidth_ = 10;
    int stepRecords_ = kStepRecords;
    int stepBudgetMs_ = kStepBudgetMs;
    int steps_ = 0;
    bool running_ = false;
};

} // namespace msglog
