#include "ptyline.h"

#include "linecoding.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/inotify.h>
#include <termios.h>
#include <unistd.h>

namespace pagersim {

namespace {

QString systemError(const char* what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno)));
}

} // namespace

PtyLine::PtyLine(QObject* parent)
    : QObject(parent)
{
    m_readResume.setSingleShot(true);
    m_readResume.setTimerType(Qt::PreciseTimer);
    m_writeResume.setSingleShot(true);
    m_writeResume.setTimerType(Qt::PreciseTimer);
    connect(&m_readResume, &QTimer::timeout, this, [this] { m_readNotifier->setEnabled(true); });
    connect(&m_writeResume, &QTimer::timeout, this, &PtyLine::writePending);
}

PtyLine::~PtyLine()
{
    m_readNotifier.reset();
    m_writeNotifier.reset();
    m_watchNotifier.reset();
    if (m_watch >= 0)
        ::close(m_watch);
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
}

void PtyLine::setCharsPerSecond(int cps)
{
    m_readPacer = Pacer(cps);
    m_writePacer = Pacer(cps);
}

bool PtyLine::open(QString* error)
{
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0) {
        *error = systemError("posix_openpt");
        return false;
    }
    if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) {
        *error = systemError("grantpt/unlockpt");
        return false;
    }
    const char* name = ::ptsname(m_master);
    if (!name) {
        *error = systemError("ptsname");
        return false;
    }
    m_path = QString::fromLocal8Bit(name);
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);

    m_slave = ::open(name, O_RDWR | O_NOCTTY);
    if (m_slave < 0) {
        *error = systemError("open pty slave");
        return false;
    }
    // Raw, so the terminal layer neither echoes nor translates what passes; a client sets its own mode
    // on open, and this is the mode it finds.
    termios mode {};
    ::tcgetattr(m_slave, &mode);
    ::cfmakeraw(&mode);
    ::cfsetispeed(&mode, B9600);
    ::cfsetospeed(&mode, B9600);
    ::tcsetattr(m_slave, TCSANOW, &mode);

    m_readNotifier = std::make_unique<QSocketNotifier>(m_master, QSocketNotifier::Read);
    connect(m_readNotifier.get(), &QSocketNotifier::activated, this, &PtyLine::readAvailable);
    m_writeNotifier = std::make_unique<QSocketNotifier>(m_master, QSocketNotifier::Write);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier.get(), &QSocketNotifier::activated, this, [this] {
        m_writeNotifier->setEnabled(false);
        writePending();
    });

    // Opens and closes of the device node after this point are the clients'. Without inotify the
    // simulator still works; it only cannot tell when a client has gone.
    m_watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_watch >= 0 && ::inotify_add_watch(m_watch, name, IN_OPEN | IN_CLOSE) >= 0) {
        m_watchNotifier = std::make_unique<QSocketNotifier>(m_watch, QSocketNotifier::Read);
        connect(m_watchNotifier.get(), &QSocketNotifier::activated, this, &PtyLine::watchEvents);
    }
    return true;
}

void PtyLine::watchEvents()
{
    alignas(inotify_event) char buffer[4096];
    const int before = m_clients;
    for (;;) {
        const ssize_t got = ::read(m_watch, buffer, sizeof buffer);
        if (got <= 0)
            break;
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if (event->mask & IN_OPEN)
                ++m_clients;
            if (event->mask & IN_CLOSE)
                m_clients = std::max(0, m_clients - 1);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    if (before > 0 && m_clients == 0) {
        // Nobody will read what is still queued for the client that left; the next must not get it.
        m_pending.clear();
        m_writeResume.stop();
        m_writeNotifier->setEnabled(false);
        ::tcflush(m_slave, TCIFLUSH);
        emit clientGone();
    }
}

void PtyLine::readAvailable()
{
    QByteArray bytes;
    char buffer[4096];
    for (;;) {
        const int room = std::min<int>(sizeof buffer, m_readPacer.due());
        if (room == 0)
            break;
        const ssize_t got = ::read(m_master, buffer, static_cast<size_t>(room));
        if (got <= 0)
            break;
        bytes.append(buffer, got);
        m_readPacer.consume(static_cast<int>(got));
    }
    if (m_readPacer.isThrottled()) {
        // What is not due yet waits in the device, as it would on the wire.
        m_readNotifier->setEnabled(false);
        m_readResume.start(m_readPacer.msUntilDue());
    }
    if (!bytes.isEmpty())
        emit received(toSevenBits(bytes));
}

void PtyLine::send(const QByteArray& bytes)
{
    if (m_master < 0)
        return;
    m_pending += withEvenParity(bytes);
    if (!m_writeResume.isActive() && !m_writeNotifier->isEnabled())
        writePending();
}

void PtyLine::writePending()
{
    while (!m_pending.isEmpty()) {
        const int due = m_writePacer.due();
        if (due == 0) {
            m_writeResume.start(m_writePacer.msUntilDue());
            return;
        }
        const qsizetype chunk = std::min<qsizetype>(m_pending.size(), due);
        const ssize_t written = ::write(m_master, m_pending.constData(), static_cast<size_t>(chunk));
        if (written <= 0) {
            if (written < 0 && errno == EINTR)
                continue;
            // The client is not reading and the device is full: go on when it has room.
            m_writeNotifier->setEnabled(true);
            return;
        }
        m_pending.remove(0, written);
        m_writePacer.consume(static_cast<int>(written));
    }
}

} // namespace pagersim

#include "moc_ptyline.cpp"
