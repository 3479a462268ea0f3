#pragma once

#include <QString>
#include <cstdint>

namespace store {

// Byte-range locks on an open file, taken with open-file-description locks (F_OFD_SETLKW): they
// belong to the descriptor that took them, so closing another descriptor of the same file in this
// process (a second handle, a reader of the file) never drops them, and two handles in one process
// exclude each other like two processes do. A wait is bounded: a lock another program keeps
// (a program stopped while it held it) is given up after kLockPatienceMs, and from then on, until
// this process gets that lock again, after kKeptLockPatienceMs, so that one operation of the store
// meets the patience once at most.
// How long a lock is waited for. Locks are held for a few system calls at a time: a lock taken for
// seconds belongs to a program that keeps it.
inline constexpr int kLockPatienceMs = 5000;
inline constexpr int kKeptLockPatienceMs = 200;

class FileLock {
public:
    enum class Mode { Read, Write };

    // Returns false when the system refuses the lock, or when another holder kept it past the
    // patience (errno is then EAGAIN).
    static bool lock(int fd, uint64_t offset, uint64_t length, Mode mode);
    static void unlock(int fd, uint64_t offset, uint64_t length);
};

// The locks that handles of this process hold on files, so that a handle never waits for another
// handle of the same process: with one thread that wait would never end (a write Scope open on
// one handle while another handle of the same file is used). Keyed by device and inode.
class LocalLocks {
public:
    // Returns false when another handle of this process holds a conflicting lock.
    static bool acquire(uint64_t device, uint64_t inode, const void* holder, bool write);
    static void release(uint64_t device, uint64_t inode, const void* holder);
};

// A lock that throws StoreError naming `fileName` when the system refuses it, or when it stays
// taken by another handle for seconds.
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
