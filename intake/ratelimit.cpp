#include "intake/ratelimit.h"

#include <algorithm>

namespace intake {

namespace {

constexpr qint64 kMinuteMs = 60 * 1000;
constexpr int kDefaultPerMinute = 60;

} // namespace

std::deque<qint64>& RateLimit::window(const QString& source, qint64 now)
{
    std::deque<qint64>& starts = starts_[source.toLower()];
    // A clock set back leaves no start in the future.
    while (!starts.empty() && (starts.front() <= now - kMinuteMs || starts.front() > now))
        starts.pop_front();
    return starts;
}

int RateLimit::retryAfter(const QString& source, int perMinute, const QDateTime& now)
{
    const qint64 ms = now.toMSecsSinceEpoch();
    const std::deque<qint64>& starts = window(source, ms);
    const size_t limit = size_t(perMinute > 0 ? perMinute : kDefaultPerMinute);
    if (starts.size() < limit)
        return 0;
    // Free once the start that would leave the window has left it.
    const qint64 freeAt = starts.at(starts.size() - limit) + kMinuteMs;
    return int(std::max<qint64>(1, (freeAt - ms + 999) / 1000));
}

void RateLimit::count(const QString& source, const QDateTime& now)
{
    const qint64 ms = now.toMSecsSinceEpoch();
    window(source, ms).push_back(ms);
}

void RateLimit::uncount(const QString& source, const QDateTime& now)
{
    std::deque<qint64>& starts = starts_[source.toLower()];
    const auto it = std::find(starts.rbegin(), starts.rend(), now.toMSecsSinceEpoch());
    if (it != starts.rend())
        starts.erase(std::next(it).base());
}

} // namespace intake
