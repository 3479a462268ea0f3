#include "pacer.h"

#include <limits>

namespace pagersim {

Pacer::Pacer(int charsPerSecond)
    : m_intervalUs(charsPerSecond > 0 ? 1000000 / charsPerSecond : 0)
{
    m_clock.start();
}

int Pacer::due() const
{
    if (!isThrottled())
        return std::numeric_limits<int>::max();
    const qint64 lag = nowUs() - m_nextUs;
    if (lag < 0)
        return 0;
    if (lag > m_intervalUs)
        return 1; // the line was idle: start a new schedule
    return 1 + static_cast<int>(lag / m_intervalUs);
}

int Pacer::msUntilDue() const
{
    const qint64 wait = m_nextUs - nowUs();
    return wait <= 0 ? 0 : static_cast<int>((wait + 999) / 1000);
}

void Pacer::consume(int count)
{
    if (!isThrottled())
        return;
    const qint64 now = nowUs();
    if (now - m_nextUs > m_intervalUs)
        m_nextUs = now;
    m_nextUs += count * m_intervalUs;
}

} // namespace pagersim
