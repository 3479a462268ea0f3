#pragma once

#include <QDateTime>
#include <QHash>
#include <QString>

#include <deque>

namespace intake {

// The pages each source started in the last minute, a sliding window: a source at its RATEMIN
// waits until its oldest start of the minute is a minute old.
class RateLimit {
public:
    // 0 when `source` may start a page at `now` with `perMinute` a minute (0 or less is read as 60);
    // otherwise the whole seconds until it may (at least 1).
    int retryAfter(const QString& source, int perMinute, const QDateTime& now);
    // A page of `source` started at `now`.
    void count(const QString& source, const QDateTime& now);
    // Takes back a start counted at `now` (its page was not queued after all).
    void uncount(const QString& source, const QDateTime& now);

private:
    // Drops the starts of `source` a minute old or older at `now`.
    std::deque<qint64>& window(const QString& source, qint64 now);

    QHash<QString, std::deque<qint64>> starts_; // milliseconds since the epoch, oldest first
};

} // namespace intake
