#pragma once

#include <QString>
#include <cstdint>

namespace store {

// Byte-range locks on an open file descriptor. Open-file-description locks (F_OFD_SETLKW) are used:
// they belong to the descriptor, not the process, so two handles of one process on one table block
// each other properly and closing one handle never drops the other's locks. They conflict with the
// classic POSIX locks other xBase engines take, so those engines respect them as well.
void lockRange(int fd, int64_t start, int64_t length, bool write, const QString& fileName);
void unlockRange(int fd, int64_t start, int64_t length);

// Holds a write lock on a byte range for the lifetime of the object (nothing when fd is -1).
class RangeLock {
public:
    RangeLock(int fd, int64_t start, int64_t length, const QString& fileName);
    ~RangeLock();
    RangeLock(const RangeLock&) = delete;
    RangeLock& operator=(const RangeLock&) = delete;

private:
    int fd_;
    int64_t start_;
    int64_t length_;
};

} // namespace store
