#pragma once

#include <QElapsedTimer>

namespace pagersim {

// Holds one direction of a line to a given number of characters a second. Credit does not pile up
// while the line is idle: after a pause the next character goes at once, the one after it a full
// character time later, as on a real serial line.
class Pacer {
public:
    explicit Pacer(int charsPerSecond = 0);

    bool isThrottled() const { return m_intervalUs > 0; }
    bool ready() const;
    // Milliseconds until the next character may go (0 when it may go now).
    int msUntilReady() const;
    // One character went now.
    void consume();

private:
    qint64 nowUs() const { return m_clock.nsecsElapsed() / 1000; }

    QElapsedTimer m_clock;
    qint64 m_intervalUs = 0;
    qint64 m_nextUs = 0;
};

} // namespace pagersim
