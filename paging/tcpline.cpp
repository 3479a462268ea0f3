#include "tcpline.h"

#include <QDeadlineTimer>

#include <cerrno>
#include <memory>
#include <mutex>
#include <thread>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace paging::tcpline {

bool parse(const QString& portName, QString* host, quint16* port)
{
    if (!portName.startsWith(QLatin1String("tcp:"), Qt::CaseInsensitive))
        return false;
    const QString rest = portName.mid(4);
    const qsizetype colon = rest.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return false;
    bool ok = false;
    const uint number = rest.mid(colon + 1).toUInt(&ok);
    if (!ok || number == 0 || number > 65535)
        return false;
    QString h = rest.left(colon);
    if (h.startsWith(QLatin1Char('[')) && h.endsWith(QLatin1Char(']')))
        h = h.mid(1, h.size() - 2);
    *host = h;
    *port = quint16(number);
    return true;
}

namespace {

// A name being looked up on a thread of its own: the caller may give up on it (a stop, the deadline)
// while the system's resolver still waits; the thread then frees what it found.
struct Lookup {
    std::mutex mutex;
    addrinfo* found = nullptr;
    int rc = EAI_AGAIN;
    bool done = false;
    bool abandoned = false;
    int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    ~Lookup()
    {
        if (wake >= 0)
            ::close(wake);
    }
};

// The addresses of `host`, within `deadline` and until `cancelFd` turns readable; null with `error`
// said otherwise ("Cancelled" for a cancel).
addrinfo* resolve(const QByteArray& host, const QByteArray& port, const QDeadlineTimer& deadline, int cancelFd,
    QString* error, bool* cancelled)
{
    addrinfo hints {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV | AI_NUMERICHOST;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.constData(), port.constData(), &hints, &found) == 0)
        return found; // an address, no name to look up
    hints.ai_flags = AI_NUMERICSERV;
    auto lookup = std::make_shared<Lookup>();
    std::thread([lookup, host, port, hints] {
        addrinfo* result = nullptr;
        const int rc = ::getaddrinfo(host.constData(), port.constData(), &hints, &result);
        std::lock_guard lock(lookup->mutex);
        if (lookup->abandoned) {
            if (result)
                ::freeaddrinfo(result);
            return;
        }
        lookup->found = result;
        lookup->rc = rc;
        lookup->done = true;
        const quint64 one = 1;
        [[maybe_unused]] const ssize_t w = ::write(lookup->wake, &one, sizeof one);
    }).detach();
    pollfd fds[2] = { { lookup->wake, POLLIN, 0 }, { cancelFd, POLLIN, 0 } };
    while (::poll(fds, 2, int(std::max<qint64>(deadline.remainingTime(), 0))) < 0 && errno == EINTR) {
    }
    std::lock_guard lock(lookup->mutex);
    if (!lookup->done) {
        lookup->abandoned = true;
        *cancelled = fds[1].revents & POLLIN;
        *error = *cancelled ? QStringLiteral("cancelled") : QStringLiteral("the host name was not resolved in time");
        return nullptr;
    }
    if (lookup->rc != 0) {
        *error = lookup->rc == EAI_NONAME || lookup->rc == EAI_NODATA ? QStringLiteral("Host not found")
                                                                        : QString::fromLocal8Bit(gai_strerror(lookup->rc));
        return nullptr;
    }
    return std::exchange(lookup->found, nullptr);
}

} // namespace

int connect(const QString& host, quint16 port, int timeoutMs, int cancelFd, QString* error)
{
    // The name is looked up within the connect's own time, and a stop ends the wait at once.
    const QDeadlineTimer deadline(timeoutMs);
    QString why;
    bool cancelled = false;
    addrinfo* found = resolve(host.toUtf8(), QByteArray::number(port), deadline, cancelFd, &why, &cancelled);
    if (!found) {
        if (error)
            *error = why;
        return -1;
    }
    int result = -1;
    for (addrinfo* ai = found; ai && result < 0; ai = ai->ai_next) {
        const int fd
            = ::socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai->ai_protocol);
        if (fd < 0)
            continue;
        if (::connect(fd, ai->ai_addr, ai->ai_addrlen) != 0 && errno != EINPROGRESS) {
            if (error)
                *error = QString::fromLocal8Bit(std::strerror(errno));
            ::close(fd);
            continue;
        }
        pollfd fds[2] = { { fd, POLLOUT, 0 }, { cancelFd, POLLIN, 0 } };
        const int n = ::poll(fds, 2, int(std::max<qint64>(deadline.remainingTime(), 0)));
        int soError = 0;
        socklen_t len = sizeof soError;
        if (n > 0 && !(fds[1].revents & POLLIN) && (fds[0].revents & POLLOUT)
            && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len) == 0 && soError == 0) {
            const int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            result = fd;
        } else {
            if (error)
                *error
                    = soError ? QString::fromLocal8Bit(std::strerror(soError)) : QStringLiteral("no answer");
            ::close(fd);
        }
        if (n > 0 && (fds[1].revents & POLLIN))
            break;
    }
    ::freeaddrinfo(found);
    return result;
}

} // namespace paging::tcpline
