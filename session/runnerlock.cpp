#include "session/runnerlock.h"

#include <QDir>
#include <QFile>
#include <QSysInfo>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace session {

namespace {

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// The holder's line: "program pid host".
Runner parseRunner(const QByteArray& bytes)
{
    Runner runner;
    const QStringList words = QString::fromUtf8(bytes).trimmed().split(u' ', Qt::SkipEmptyParts);
    if (words.size() >= 3) {
        runner.program = words.at(0);
        runner.pid = words.at(1).toLongLong();
        runner.host = words.mid(2).join(u' ');
    }
    return runner;
}

QByteArray readAll(int fd)
{
    QByteArray bytes;
    char buffer[512];
    for (off_t at = 0;;) {
        const ssize_t n = ::pread(fd, buffer, sizeof buffer, at);
        if (n <= 0 || bytes.size() > 4096)
            break;
        bytes.append(buffer, n);
        at += n;
    }
    return bytes;
}

} // namespace

QString Runner::described() const
{
    if (program.isEmpty())
        return QStringLiteral("another program");
    return QStringLiteral("%1 (process %2 on %3)").arg(program).arg(pid).arg(host);
}

RunnerLock::~RunnerLock()
{
    release();
}

QString RunnerLock::fileName()
{
    return QStringLiteral("plimopager.lock");
}

RunnerLock::Result RunnerLock::acquire(const QString& folder, const QString& program)
{
    release();
    error_.clear();
    holder_ = {};
    const QString path = QDir(folder).filePath(fileName());
    const QByteArray encoded = QFile::encodeName(path);
    // Never truncated before the lock is held: the file names the runner that holds it.
    const int fd = ::open(encoded.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
    if (fd < 0) {
        error_ = QStringLiteral("%1 cannot be opened: %2").arg(QDir::toNativeSeparators(path), systemError(errno));
        return Result::Failed;
    }
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (::fcntl(fd, F_OFD_SETLK, &lock) != 0) {
        const int error = errno;
        if (error == EAGAIN || error == EACCES) {
            // The holder writes its line right after it takes the lock: give it a moment.
            for (int attempt = 0; attempt < 20; ++attempt) {
                holder_ = parseRunner(readAll(fd));
                if (!holder_.program.isEmpty())
                    break;
                QThread::msleep(10);
            }
            ::close(fd);
            return Result::HeldByOther;
        }
        ::close(fd);
        error_ = QStringLiteral("%1 cannot be locked: %2").arg(QDir::toNativeSeparators(path), systemError(error));
        return Result::Failed;
    }
    const QByteArray line = QStringLiteral("%1 %2 %3\n")
                                .arg(program)
                                .arg(::getpid())
                                .arg(QSysInfo::machineHostName())
                                .toUtf8();
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, line.constData(), size_t(line.size()), 0) != line.size()) {
        // The lock is what counts; a holder the file cannot name is still the holder.
    }
    fd_ = fd;
    return Result::Held;
}

QString RunnerLock::heldMessage(const QString& folder) const
{
    return QStringLiteral("The data folder %1 is in use by %2. Only one desk or paging service may run on a "
                          "data folder at a time.")
        .arg(QDir::toNativeSeparators(folder), holder_.described());
}

void RunnerLock::release()
{
    if (fd_ < 0)
        return;
    ::close(fd_); // the lock goes with its open file description
    fd_ = -1;
}

} // namespace session
