#include "store/filelock.h"

#include "store/storeerror.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>

namespace store {

namespace {

bool apply(int fd, uint64_t offset, uint64_t length, short type, int command)
{
    struct flock fl = {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = off_t(offset);
    fl.l_len = off_t(length);
    fl.l_pid = 0; // required for OFD locks
    for (;;) {
        if (::fcntl(fd, command, &fl) == 0)
            return true;
        if (errno != EINTR)
            return false;
    }
}

} // namespace

bool FileLock::lock(int fd, uint64_t offset, uint64_t length, Mode mode)
{
    return apply(fd, offset, length, mode == Mode::Write ? F_WRLCK : F_RDLCK, F_OFD_SETLKW);
}

void FileLock::unlock(int fd, uint64_t offset, uint64_t length)
{
    apply(fd, offset, length, F_UNLCK, F_OFD_SETLK);
}

void lockRange(int fd, int64_t start, int64_t length, bool write, const QString& fileName)
{
    if (!FileLock::lock(
            fd, uint64_t(start), uint64_t(length), write ? FileLock::Mode::Write : FileLock::Mode::Read))
        throw StoreError(
            QStringLiteral("Cannot lock %1: %2").arg(fileName, QString::fromLocal8Bit(std::strerror(errno))));
}

void unlockRange(int fd, int64_t start, int64_t length)
{
    FileLock::unlock(fd, uint64_t(start), uint64_t(length));
}

RangeLock::RangeLock(int fd, int64_t start, int64_t length, const QString& fileName)
    : fd_(fd)
    , start_(start)
    , length_(length)
{
    if (fd_ >= 0)
        lockRange(fd_, start_, length_, true, fileName);
}

RangeLock::~RangeLock()
{
    if (fd_ >= 0)
        unlockRange(fd_, start_, length_);
}

} // namespace store
