#include "session/runnerlock.h"

#include <QDir>
#include <QFile>
#include <QSysInfo>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
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

// Why the file under the lock's name is not taken: it is not a regular file of the lock's own.
QString notOwnFile(const QString& shown, const struct stat& st)
{
    if (S_ISLNK(st.st_mode))
        return QStringLiteral("%1 is a symbolic link; the lock is never taken through one. Remove it and start "
                              "again.")
            .arg(shown);
    if (!S_ISREG(st.st_mode))
        return QStringLiteral("%1 is not a regular file; the lock is only taken on a file of its own. Remove it "
                              "and start again.")
            .arg(shown);
    return QStringLiteral("%1 has %2 links: it may be a link to another file, which the lock would overwrite, so "
                          "it is not used. Remove it and start again.")
        .arg(shown)
        .arg(qulonglong(st.st_nlink));
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
    path_ = QDir(folder).filePath(fileName());
    const QByteArray encoded = QFile::encodeName(path_);
    const QString shown = QDir::toNativeSeparators(path_);
    // A file removed or replaced between its opening and its lock is opened again, a few times.
    for (int attempt = 0; attempt < 3; ++attempt) {
        // Nothing but a regular file is opened (a device or a pipe is not even opened), never through
        // a symbolic link; and never truncated before the lock is held: the file names the runner
        // that holds it.
        struct stat named {};
        if (::lstat(encoded.constData(), &named) == 0 && !S_ISREG(named.st_mode)) {
            error_ = notOwnFile(shown, named);
            return Result::Failed;
        }
        const int fd = ::open(
            encoded.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0644);
        if (fd < 0) {
            const int error = errno;
            if (error == ELOOP) {
                named.st_mode = S_IFLNK;
                error_ = notOwnFile(shown, named);
            } else {
                error_ = QStringLiteral("%1 cannot be opened: %2").arg(shown, systemError(error));
            }
            return Result::Failed;
        }
        struct stat opened {};
        if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode) || opened.st_nlink != 1) {
            ::close(fd);
            error_ = notOwnFile(shown, opened);
            return Result::Failed;
        }
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        if (::fcntl(fd, F_OFD_SETLK, &lock) != 0) {
            const int error = errno;
            if (error == EAGAIN || error == EACCES) {
                // The holder writes its line right after it takes the lock: give it a moment.
                for (int wait = 0; wait < 20; ++wait) {
                    holder_ = parseRunner(readAll(fd));
                    if (!holder_.program.isEmpty())
                        break;
                    QThread::msleep(10);
                }
                ::close(fd);
                return Result::HeldByOther;
            }
            ::close(fd);
            error_ = QStringLiteral("%1 cannot be locked: %2").arg(shown, systemError(error));
            return Result::Failed;
        }
        // Locked: the name must still lead to this file, and the file have no other name.
        struct stat now {};
        if (::lstat(encoded.constData(), &now) != 0 || now.st_dev != opened.st_dev || now.st_ino != opened.st_ino) {
            ::close(fd);
            continue;
        }
        if (::fstat(fd, &now) != 0 || now.st_nlink != 1) {
            ::close(fd);
            error_ = notOwnFile(shown, now);
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
        encodedPath_ = encoded;
        device_ = quint64(opened.st_dev);
        inode_ = quint64(opened.st_ino);
        return Result::Held;
    }
    error_ = QStringLiteral("%1 was replaced each time it was locked: another program keeps making it").arg(shown);
    return Result::Failed;
}

bool RunnerLock::stillHeld() const
{
    if (fd_ < 0)
        return false;
    struct stat named {};
    return ::lstat(encodedPath_.constData(), &named) == 0 && S_ISREG(named.st_mode)
        && quint64(named.st_dev) == device_ && quint64(named.st_ino) == inode_;
}

QString RunnerLock::lostMessage() const
{
    return QStringLiteral("The lock file %1 was removed or replaced while this program held it: another desk or "
                          "paging service may be running on the data folder now. Sending has stopped.")
        .arg(QDir::toNativeSeparators(path_));
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
