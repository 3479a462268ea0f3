#include "serialline.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace paging::serialline {

namespace {
speed_t speedConstant(int baud)
{
    switch (baud) {
    case 110:
        return B110;
    case 300:
        return B300;
    case 600:
        return B600;
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    default:
        return B0;
    }
}
} // namespace

QString devicePath(const QString& portName)
{
    const QString name = portName.trimmed();
    if (name.startsWith(QLatin1Char('/')))
        return name;
    if (name.compare(QLatin1String("TAPI"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("/dev/modem");
    for (int i = 1; i <= 4; ++i)
        if (name.compare(QStringLiteral("COM%1").arg(i), Qt::CaseInsensitive) == 0)
            return QStringLiteral("/dev/ttyS%1").arg(i - 1);
    return {};
}

bool isSupportedBaud(int baud)
{
    return speedConstant(baud) != B0;
}

int open(const QString& device, int baud, QString* error)
{
    const QByteArray path = device.toLocal8Bit();
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno));
        return -1;
    }
    termios tio {};
    if (::tcgetattr(fd, &tio) != 0) {
        if (error)
            *error = QStringLiteral("not a terminal device");
        ::close(fd);
        return -1;
    }
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CREAD | CLOCAL | HUPCL;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    const speed_t speed = speedConstant(baud);
    if (speed != B0) {
        ::cfsetispeed(&tio, speed);
        ::cfsetospeed(&tio, speed);
    }
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno));
        ::close(fd);
        return -1;
    }
    ::ioctl(fd, TIOCEXCL); // one program on the port at a time; a pseudo-terminal may refuse, which is fine
    ::tcflush(fd, TCIOFLUSH);
    return fd;
}

} // namespace paging::serialline
