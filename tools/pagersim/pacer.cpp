#include "pacer.h"

#include <algorithm>

namespace pagersim {

Pacer::Pacer(int charsPerSecond)
    : m_intervalUs(charsPerSecond > 0 ? 1000000 / charsPerSecond : 0)
{
    m_clock.start();
}

bool Pacer::ready() const { return nowUs() >= m_nextUs; }

int Pacer::msUntilReady() const
{
    const qint64 wait = m_nextUs - nowUs();
    return wait <= 0 ? 0 : static_cast<int>((wait + 999) / 1000);
}

void Pacer::consume() { m_nextUs = std::max(m_nextUs, nowUs()) + m_intervalUs; }

} // namespace pagersim
