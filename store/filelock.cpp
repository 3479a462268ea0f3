#include "store/filelock.h"

#include "store/storeerror.h"

#include <QElapsedTimer>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <utility>

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

// Locks whose holder kept them past the patience (a program stopped while it held them), by file
// and range, until this process gets them again. A wait for such a lock lasts kKeptLockPatienceMs
// only, so that an operation that meets the holder waits the patience once, not again at each
// later step (a change that failed and is posted again when its table closes, the reads after it).
// Holders that are alive keep a lock for microseconds, well within the short wait.
struct KeptLock {
    uint64_t device;
    uint64_t inode;
    uint64_t offset;
    uint64_t length;
    auto operator<=>(const KeptLock&) const = default;
};

std::mutex keptMutex;
std::set<KeptLock> keptLocks;
std::atomic<bool> anyKept { false }; // spares the lookup (and its fstat) while nothing is kept

std::optional<KeptLock> keptLockOf(int fd, uint64_t offset, uint64_t length)
{
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return std::nullopt;
    return KeptLock { uint64_t(st.st_dev), uint64_t(st.st_ino), offset, length };
}

bool isKept(const KeptLock& lock)
{
    std::lock_guard<std::mutex> guard(keptMutex);
    return keptLocks.count(lock) != 0;
}

void setKept(const KeptLock& lock, bool kept)
{
    std::lock_guard<std::mutex> guard(keptMutex);
    if (kept)
        keptLocks.insert(lock);
    else
        keptLocks.erase(lock);
    anyKept = !keptLocks.empty();
}

// Takes the lock, trying again while another holder has it, for at most kLockPatienceMs (or
// kKeptLockPatienceMs for a lock its holder kept before): quickly at first (locks are held for
// microseconds), then every 2 ms. False with errno EAGAIN when the holder kept it, or with the
// system's errno when it refuses the lock.
bool waitFor(int fd, uint64_t offset, uint64_t length, short type)
{
    QElapsedTimer waited;
    std::optional<KeptLock> self;
    int patience = kLockPatienceMs;
    for (int attempt = 0;; ++attempt) {
        if (apply(fd, offset, length, type, F_OFD_SETLK)) {
            if (anyKept && (self || (self = keptLockOf(fd, offset, length))))
                setKept(*self, false);
            return true;
        }
        if (errno != EAGAIN && errno != EACCES)
            return false;
        if (attempt == 0) {
            waited.start();
            if (anyKept && (self = keptLockOf(fd, offset, length)) && isKept(*self))
                patience = kKeptLockPatienceMs;
        } else if (waited.elapsed() > patience) {
            if (self || (self = keptLockOf(fd, offset, length)))
                setKept(*self, true);
            errno = EAGAIN;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(attempt < 100 ? 50 : 2000));
    }
}

} // namespace

bool FileLock::lock(int fd, uint64_t offset, uint64_t length, Mode mode)
{
    return waitFor(fd, offset, length, mode == Mode::Write ? F_WRLCK : F_RDLCK);
}

void FileLock::unlock(int fd, uint64_t offset, uint64_t length)
{
    apply(fd, offset, length, F_UNLCK, F_OFD_SETLK);
}

namespace {

struct Holders {
    std::set<const void*> readers;
    const void* writer = nullptr;
};

std::mutex localMutex;
std::map<std::pair<uint64_t, uint64_t>, Holders> localHolders;

} // namespace

bool LocalLocks::acquire(uint64_t device, uint64_t inode, const void* holder, bool write)
{
    std::lock_guard<std::mutex> guard(localMutex);
    Holders& h = localHolders[{device, inode}];
    const bool othersRead = h.readers.size() > (h.readers.count(holder) ? 1u : 0u);
    const bool otherWrites = h.writer && h.writer != holder;
    if (otherWrites || (write && othersRead))
        return false;
    if (write)
        h.writer = holder;
    else
        h.readers.insert(holder);
    return true;
}

void LocalLocks::release(uint64_t device, uint64_t inode, const void* holder)
{
    std::lock_guard<std::mutex> guard(localMutex);
    auto it = localHolders.find({device, inode});
    if (it == localHolders.end())
        return;
    it->second.readers.erase(holder);
    if (it->second.writer == holder)
        it->second.writer = nullptr;
    if (it->second.readers.empty() && !it->second.writer)
        localHolders.erase(it);
}

void lockRange(int fd, int64_t start, int64_t length, bool write, const QString& fileName)
{
    // A lock that stays taken for seconds belongs to a handle that keeps it (opened for exclusive
    // use, or a program stopped while it held it): said rather than waited for for good.
    if (waitFor(fd, uint64_t(start), uint64_t(length), write ? F_WRLCK : F_RDLCK))
        return;
    if (errno == EAGAIN)
        throw LockedError(fileName);
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
