#include "ptyline.h"

#include "linecoding.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace pagersim {

namespace {

QString systemError(const char* what) { return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno))); }

} // namespace

PtyLine::PtyLine(QObject* parent)
    : QObject(parent)
{
    m_readResume.setSingleShot(true);
    m_writeResume.setSingleShot(true);
    connect(&m_readResume, &QTimer::timeout, this, [this] { m_readNotifier->setEnabled(true); });
    connect(&m_writeResume, &QTimer::timeout, this, &PtyLine::writePending);
}

PtyLine::~PtyLine()
{
    m_readNotifier.reset();
    m_writeNotifier.reset();
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
    return true;
}

void PtyLine::readAvailable()
{
    if (m_readPacer.isThrottled()) {
        // One character per character time; the rest waits in the device, as it would on the wire.
        m_readNotifier->setEnabled(false);
        if (m_readPacer.ready()) {
            char c;
            const ssize_t got = ::read(m_master, &c, 1);
            if (got == 1) {
                m_readPacer.consume();
                emit received(toSevenBits(QByteArray(1, c)));
            }
        }
        m_readResume.start(m_readPacer.msUntilReady());
        return;
    }
    QByteArray bytes;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(m_master, buffer, sizeof buffer);
        if (got <= 0)
            break;
        bytes.append(buffer, got);
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
        if (m_writePacer.isThrottled() && !m_writePacer.ready()) {
            m_writeResume.start(m_writePacer.msUntilReady());
            return;
        }
        const qsizetype chunk = m_writePacer.isThrottled() ? 1 : m_pending.size();
        const ssize_t written = ::write(m_master, m_pending.constData(), static_cast<size_t>(chunk));
        if (written <= 0) {
            if (written < 0 && errno == EINTR)
                continue;
            // The client is not reading and the device is full: go on when it has room.
            m_writeNotifier->setEnabled(true);
            return;
        }
        m_pending.remove(0, written);
        if (m_writePacer.isThrottled())
            m_writePacer.consume();
    }
}

} // namespace pagersim
