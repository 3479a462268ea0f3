#pragma once

#include <QByteArray>
#include <QDeadlineTimer>

namespace paging {

class DebugLog;

// One byte line to a modem or a terminal over a file descriptor (a serial device, a pseudo-terminal,
// a TCP socket). Every wait is poll() on the line and on a cancel descriptor, so CancelPage ends any
// wait at once. Received bytes collect in a bounded buffer that the dialogues consume.
//
// With sevenBitEvenParity, each byte sent carries its even-parity bit in bit 7 and each byte received
// is masked to 7 bits: 7E1 made in software on a port that runs 8N1.
class Line {
public:
    enum class Wait { Data, Timeout, Cancelled, Closed };

    Line(int fd, int cancelFd, DebugLog* log, bool sevenBitEvenParity, int charMs);
    virtual ~Line();
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;

    // All of `bytes`, or Closed / Cancelled.
    Wait write(const QByteArray& bytes);
    // Waits for more bytes (at least one) until `deadline`; appends them to pending().
    Wait fill(const QDeadlineTimer& deadline);
    // Waits until `deadline` or cancel, whatever arrives (kept in pending()): a timed pause.
    Wait pause(int ms);

    QByteArray& pending() { return m_pending; }
    // Everything received and not yet read, and whatever is on its way already (no wait): taken off
    // the line before a command or a block is written, so that no reply to it is one that came
    // before it. Said in the debug log unless it is only line ends.
    QByteArray takeUnread();
    bool closed() const { return m_closed; }

    // A deadline `ms` after the bytes written so far have left at the line's speed.
    QDeadlineTimer afterTransmit(int ms) const;

    // Drops DTR for a moment (hangs a modem up). False where the device has no modem lines.
    virtual bool dropDtr();

    int fd() const { return m_fd; }

    static constexpr qsizetype kMaxPending = 4096;

private:
    int m_fd;
    int m_cancelFd;
    DebugLog* m_log;
    bool m_parity;
    int m_charMs;
    QByteArray m_pending;
    bool m_closed = false;
    bool m_socket = true; // until a send() says otherwise
    qint64 m_transmitEndsMs = 0; // on QDeadlineTimer's clock
};

// The byte with its even-parity bit in bit 7.
char withEvenParity(char c);

} // namespace paging
