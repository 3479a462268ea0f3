#include "store/filelock.h"

#include <cerrno>
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

} // namespace store
