#include "store/filelock.h"

#include "store/storeerror.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>

namespace store {

namespace {

bool setLock(int fd, short type, int64_t start, int64_t length, bool wait)
{
    struct flock fl;
    std::memset(&fl, 0, sizeof fl);
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = start;
    fl.l_len = length;
    for (;;) {
        if (::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl) == 0)
            return true;
        if (errno != EINTR)
            return false;
    }
}

} // namespace

void lockRange(int fd, int64_t start, int64_t length, bool write, const QString& fileName)
{
    if (!setLock(fd, write ? F_WRLCK : F_RDLCK, start, length, true))
        throw StoreError(QStringLiteral("Cannot lock %1: %2").arg(fileName, QString::fromLocal8Bit(std::strerror(errno))));
}

void unlockRange(int fd, int64_t start, int64_t length)
{
    setLock(fd, F_UNLCK, start, length, false);
}

RangeLock::RangeLock(int fd, int64_t start, int64_t length, const QString& fileName)
    : fd_(fd), start_(start), length_(length)
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
