#include "line.h"

#include "debuglog.h"

#include <cerrno>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace paging {

char withEvenParity(char c)
{
    auto b = static_cast<unsigned char>(c) & 0x7F;
    const bool odd = __builtin_popcount(b) & 1;
    return char(odd ? (b | 0x80) : b);
}

Line::Line(int fd, int cancelFd, DebugLog* log, bool sevenBitEvenParity, int charMs)
    : m_fd(fd)
    , m_cancelFd(cancelFd)
    , m_log(log)
    , m_parity(sevenBitEvenParity)
    , m_charMs(charMs)
{
}

Line::~Line()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

Line::Wait Line::write(const QByteArray& bytes)
{
    if (m_closed)
        return Wait::Closed;
    QByteArray out = bytes;
    if (m_parity)
        for (char& c : out)
            c = withEvenParity(c);
    if (m_log)
        m_log->sent(bytes);
    const qint64 now = QDeadlineTimer(0).deadline();
    m_transmitEndsMs = std::max(m_transmitEndsMs, now) + qint64(m_charMs) * bytes.size();

    qsizetype done = 0;
    while (done < out.size()) {
        pollfd fds[2] = { { m_fd, POLLOUT, 0 }, { m_cancelFd, POLLIN, 0 } };
        const int n = ::poll(fds, 2, 1000);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            m_closed = true;
            return Wait::Closed;
        }
        if (fds[1].revents & POLLIN)
            return Wait::Cancelled;
        if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) {
            m_closed = true;
            return Wait::Closed;
        }
        if (!(fds[0].revents & POLLOUT))
            continue;
        // On a socket, a peer that has gone away is an error here, not a SIGPIPE that ends the program.
        ssize_t w = m_socket ? ::send(m_fd, out.constData() + done, size_t(out.size() - done), MSG_NOSIGNAL)
                             : ::write(m_fd, out.constData() + done, size_t(out.size() - done));
        if (w < 0 && errno == ENOTSOCK) {
            m_socket = false;
            continue;
        }
        if (w < 0) {
            if (errno == EAGAIN || errno == EINTR)
                continue;
            m_closed = true;
            return Wait::Closed;
        }
        done += w;
    }
    return Wait::Data;
}

Line::Wait Line::fill(const QDeadlineTimer& deadline)
{
    for (;;) {
        if (m_closed)
            return Wait::Closed;
        const qint64 left = deadline.remainingTime();
        if (left == 0)
            return Wait::Timeout;
        pollfd fds[2] = { { m_fd, POLLIN, 0 }, { m_cancelFd, POLLIN, 0 } };
        const int n = ::poll(fds, 2, left < 0 ? -1 : int(std::min<qint64>(left, 60000)));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            m_closed = true;
            return Wait::Closed;
        }
        if (fds[1].revents & POLLIN)
            return Wait::Cancelled;
        if (n == 0)
            continue;
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) {
            char buffer[512];
            const ssize_t r = ::read(m_fd, buffer, sizeof buffer);
            if (r < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            if (r <= 0) {
                // EOF on a socket, EIO on a pseudo-terminal whose other side went away.
                m_closed = true;
                return Wait::Closed;
            }
            QByteArray chunk(buffer, r);
            for (char& c : chunk) // 7-bit text either way: a TCP terminal may send parity bits too
                c = char(c & 0x7F);
            if (m_log)
                m_log->received(chunk);
            m_pending.append(chunk);
            if (m_pending.size() > kMaxPending) // an endless stream keeps only its latest bytes
                m_pending.remove(0, m_pending.size() - kMaxPending);
            return Wait::Data;
        }
    }
}

QByteArray Line::takeUnread()
{
    for (;;) {
        pollfd ready { m_fd, POLLIN, 0 };
        if (m_closed || ::poll(&ready, 1, 0) <= 0 || !(ready.revents & (POLLIN | POLLHUP | POLLERR)))
            break;
        if (fill(QDeadlineTimer(10)) != Wait::Data)
            break;
    }
    const QByteArray unread = std::exchange(m_pending, QByteArray());
    if (m_log && !QByteArray(unread).replace('\r', "").replace('\n', "").isEmpty())
        m_log->note(QStringLiteral("unexpected, not taken as a reply: ") + QString::fromLatin1(DebugLog::readable(unread)));
    return unread;
}

Line::Wait Line::pause(int ms)
{
    const QDeadlineTimer deadline(ms);
    for (;;) {
        const Wait w = fill(deadline);
        if (w != Wait::Data)
            return w == Wait::Timeout ? Wait::Data : w;
    }
}

QDeadlineTimer Line::afterTransmit(int ms) const
{
    const qint64 now = QDeadlineTimer(0).deadline();
    QDeadlineTimer t;
    t.setDeadline(std::max(now, m_transmitEndsMs) + ms);
    return t;
}

bool Line::dropDtr()
{
    int bits = TIOCM_DTR;
    if (::ioctl(m_fd, TIOCMBIC, &bits) != 0)
        return false;
    pause(500); // DTR low long enough for the modem to notice (S25), then up again
    ::ioctl(m_fd, TIOCMBIS, &bits);
    return true;
}

} // namespace paging
