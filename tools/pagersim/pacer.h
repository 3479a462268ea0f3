#pragma once

#include <QElapsedTimer>

namespace pagersim {

// Holds one direction of a line to a given number of characters a second. While the line is busy the
// characters keep to their exact schedule even when timers wake late (a late wake-up lets the
// characters that fell due go together); credit does not pile up while the line is idle, so after a
// pause the next character goes at once and the one after it a full character time later, as on a
// real serial line.
class Pacer {
public:
    explicit Pacer(int charsPerSecond = 0);

    bool isThrottled() const { return m_intervalUs > 0; }
    // Characters that may go now: 0 while the next one is not due, at most 2 when a timer woke late;
    // unlimited without a speed.
    int due() const;
    // Milliseconds until the next character is due (0 when it is due now).
    int msUntilDue() const;
    // COUNT characters went now.
    void consume(int count = 1);

private:
    qint64 nowUs() const { return m_clock.nsecsElapsed() / 1000; }

    QElapsedTimer m_clock;
    qint64 m_intervalUs = 0;
    qint64 m_nextUs = 0;
};

} // namespace pagersim
