#include "tcpline.h"

#include <QDeadlineTimer>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
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

int connect(const QString& host, quint16 port, int timeoutMs, int cancelFd, QString* error)
{
    addrinfo hints {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const QByteArray h = host.toUtf8();
    const QByteArray p = QByteArray::number(port);
    if (const int rc = ::getaddrinfo(h.constData(), p.constData(), &hints, &found); rc != 0) {
        if (error)
            *error = QString::fromLocal8Bit(gai_strerror(rc));
        return -1;
    }
    const QDeadlineTimer deadline(timeoutMs);
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
