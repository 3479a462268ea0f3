#include "store/dbffile.h"

#include "store/byteorder.h"
#include "store/filelock.h"
#include "store/storeerror.h"
#include "store/systemfile.h"

#include <QDateTime>
#include <QFileInfo>
#include <QtEndian>

#include <algorithm>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace store {

namespace {

constexpr int kDbfHeaderSize = 32;
constexpr int kDescriptorSize = 32;
constexpr char kTerminator = 0x0D;
constexpr char kEndOfFile = 0x1A;
constexpr uint8_t kCodePage1252 = 0x03;

// Last update date as FoxPro 2.x writes it: years since 1900, month, day. Worked out once a day:
// the local date costs a look at the time zone file, too much for every append.
void putDate(char* p)
{
    static std::mutex mutex;
    static time_t nextMidnight = 0;
    static char today[3];
    const std::lock_guard<std::mutex> guard(mutex);
    const time_t now = ::time(nullptr);
    if (now >= nextMidnight) {
        const QDateTime current = QDateTime::currentDateTime();
        const QDate date = current.date();
        today[0] = char(date.year() - 1900);
        today[1] = char(date.month());
        today[2] = char(date.day());
        nextMidnight = QDateTime(date.addDays(1), QTime(0, 0)).toSecsSinceEpoch();
    }
    std::memcpy(p, today, 3);
}

} // namespace

void DbfFile::create(const QString& path, const std::vector<FieldDef>& fields)
{
    bool memo = false;
    for (const FieldDef& f : fields)
        memo = memo || f.type == 'M';
    const int headerLength = kDbfHeaderSize + kDescriptorSize * int(fields.size()) + 1;
    QByteArray bytes(headerLength + 1, '\0');
    char* h = bytes.data();
    h[0] = char(memo ? 0xF5 : 0x03);
    putDate(h + 1);
    putLe32(h + 4, 0);
    putLe16(h + 8, uint16_t(headerLength));
    putLe16(h + 10, uint16_t(store::recordLength(fields)));
    h[29] = char(kCodePage1252);
    for (size_t i = 0; i < fields.size(); ++i) {
        char* d = h + kDbfHeaderSize + kDescriptorSize * int(i);
        const FieldDef& f = fields[i];
        std::memcpy(d, f.name.constData(), size_t(std::min<qsizetype>(f.name.size(), 10)));
        d[11] = f.type;
        putLe32(d + 12, uint32_t(f.offset));
        d[16] = char(f.width);
        d[17] = char(f.decimals);
    }
    h[headerLength - 1] = kTerminator;
    h[headerLength] = kEndOfFile;

    writeWholeFile(path, bytes, QStringLiteral("table"));
}

std::unique_ptr<DbfFile> DbfFile::openIfExists(const QString& path, bool shared)
{
    const int fd = openReadWrite(path, QStringLiteral("table"), true);
    if (fd < 0)
        return nullptr;
    return std::unique_ptr<DbfFile>(new DbfFile(path, shared, fd));
}

DbfFile::DbfFile(const QString& path, bool shared)
    : DbfFile(path, shared, openReadWrite(path, QStringLiteral("table")))
{
}

DbfFile::DbfFile(const QString& path, bool shared, int fd)
    : path_(path)
    , fileName_(QFileInfo(path).fileName())
    , fd_(fd)
    , shared_(shared)
{
    try {
        if (!shared_)
            lockForExclusiveUse();
        try {
            readHeader();
        } catch (const StoreError&) {
            // Perhaps an append of another handle is half done: look again under the header lock
            // (held already by an exclusive handle). What is still wrong then was left by a writer
            // that stopped.
            std::optional<RangeLock> lock;
            if (shared_)
                lock.emplace(lockFd(), kLockBase, 1, fileName());
            readHeaderFields();
            settledAtOpen_ = settleTail();
            adoptedAtOpen_ = settledAtOpen_.contains(QStringLiteral("adopted"));
            readHeader();
        }
    } catch (...) {
        ::close(fd_);
        fd_ = -1;
        throw;
    }
}

void DbfFile::lockForExclusiveUse()
{
    // The file lock and the header lock at once, without waiting: while an exclusive handle
    // caches, no other handle may append, change or delete (those take one of these locks
    // first), and a table some handle is changing right now is not taken for exclusive use.
    struct flock fl = {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = kLockBase - kFileLockSize;
    fl.l_len = kFileLockSize + 1;
    int rc;
    do
        rc = ::fcntl(fd_, F_OFD_SETLK, &fl);
    while (rc != 0 && errno == EINTR);
    if (rc != 0 && (errno == EAGAIN || errno == EACCES))
        fail(QStringLiteral(
            "the table is in use by another handle or program and cannot be opened for exclusive use"));
    if (rc != 0)
        fail(QStringLiteral("cannot lock the table: %1").arg(errnoText(errno)));
}

unsigned char* DbfFile::mappedHeader()
{
    // The record count and date through a shared mapping of the header: every process sees the
    // page cache, so this is what pread and pwrite would give, without a system call. Mapped when
    // first needed: a handle that only reads records in a tag's order never asks for the count.
    if (!header_ && shared_ && !mapFailed_) {
        void* map = ::mmap(nullptr, kDbfHeaderSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
        if (map != MAP_FAILED)
            header_ = static_cast<unsigned char*>(map);
        else
            mapFailed_ = true;
    }
    return header_;
}

DbfFile::~DbfFile()
{
    if (fd_ < 0)
        return;
    try {
        flush();
    } catch (...) {
    }
    if (header_)
        ::munmap(header_, kDbfHeaderSize);
    ::close(fd_);
}

void DbfFile::fail(const QString& what) const
{
    throw StoreError(QStringLiteral("Table %1: %2").arg(path_, what));
}

void DbfFile::readHeaderFields()
{
    unsigned char h[12];
    if (::pread(fd_, h, sizeof h, 0) != ssize_t(sizeof h))
        fail(QStringLiteral("the file is truncated (no complete header)"));
    count_ = getLe32(h + 4);
    headerLength_ = getLe16(h + 8);
    recordLength_ = getLe16(h + 10);
}

QString DbfFile::settleTail()
{
    struct stat st;
    if (::fstat(fd_, &st) != 0)
        fail(errnoText(errno));
    if (recordLength_ < 1 || headerLength_ < kDbfHeaderSize + 1)
        return {};
    recordCount();
    const int64_t counted = int64_t(headerLength_) + int64_t(count_) * recordLength_;
    const int64_t extra = int64_t(st.st_size) - counted;
    QString what;
    if (extra < 0 && extra >= -int64_t(recordLength_) && count_ > 0) {
        // The last counted record is cut short (the power went while it was written, the count
        // already on disk): the complete records stay readable, the cut one goes.
        publishCount(count_ - 1);
        flush();
        what = QStringLiteral("its last record was cut short (%1 of %2 bytes) and was dropped")
                   .arg(extra + recordLength_)
                   .arg(recordLength_);
    } else if (extra <= 1 || extra > recordLength_ + 1) {
        return {};
    } else if (extra >= recordLength_) {
        publishCount(count_ + 1);
        flush();
        what = QStringLiteral("a record that a stopped writer had written but not counted was adopted");
    } else {
        what = QStringLiteral("%1 bytes of an append that a stopped writer left unfinished were dropped")
                   .arg(extra);
    }
    const int64_t end = int64_t(headerLength_) + int64_t(count_) * recordLength_;
    const char mark = kEndOfFile;
    if (::ftruncate(fd_, off_t(end + 1)) != 0 || ::pwrite(fd_, &mark, 1, off_t(end)) != 1)
        fail(QStringLiteral("cannot repair the end of the file: %1").arg(errnoText(errno)));
    return QStringLiteral("Table %1: %2.").arg(path_, what);
}

void DbfFile::readHeader()
{
    struct stat st;
    if (::fstat(fd_, &st) != 0)
        fail(errnoText(errno));
    // The header and, in the same read, the descriptors of any table of up to 62 fields.
    QByteArray head(qsizetype(std::min<int64_t>(st.st_size, 2048)), '\0');
    const ssize_t got = ::pread(fd_, head.data(), size_t(head.size()), 0);
    if (st.st_size < kDbfHeaderSize || got < kDbfHeaderSize)
        fail(QStringLiteral("the file is truncated (no complete header)"));
    const auto* h = reinterpret_cast<const unsigned char*>(head.constData());
    const uint8_t version = h[0];
    if (version != 0x03 && version != 0x83 && version != 0xF5 && version != 0x30 && version != 0x31)
        fail(QStringLiteral("not a DBF table (version byte 0x%1)").arg(version, 2, 16, QLatin1Char('0')));
    count_ = getLe32(h + 4);
    headerLength_ = getLe16(h + 8);
    recordLength_ = getLe16(h + 10);
    tableFlags_ = h[28];
    if (headerLength_ < kDbfHeaderSize + 1 || headerLength_ > st.st_size)
        fail(QStringLiteral("the file is truncated (header length %1)").arg(headerLength_));

    QByteArray descriptors;
    if (got >= headerLength_) {
        descriptors = head.mid(kDbfHeaderSize, headerLength_ - kDbfHeaderSize);
    } else {
        descriptors.resize(headerLength_ - kDbfHeaderSize);
        if (::pread(fd_, descriptors.data(), size_t(descriptors.size()), kDbfHeaderSize)
            != descriptors.size())
            fail(QStringLiteral("cannot read the field descriptors"));
    }
    fields_.clear();
    int offset = 1;
    for (int pos = 0; pos + kDescriptorSize <= descriptors.size() && descriptors[pos] != kTerminator;
         pos += kDescriptorSize) {
        const char* d = descriptors.constData() + pos;
        FieldDef f;
        f.name = QByteArray(d, int(strnlen(d, 11))).toUpper();
        f.type = d[10 + 1];
        f.width = static_cast<unsigned char>(d[16]);
        f.decimals = static_cast<unsigned char>(d[17]);
        f.offset = offset;
        if (f.name.isEmpty() || f.width == 0)
            fail(QStringLiteral("damaged field descriptor %1").arg(fields_.size() + 1));
        offset += f.width;
        fields_.push_back(f);
    }
    if (fields_.empty())
        fail(QStringLiteral("no field descriptors"));
    if (offset != recordLength_)
        fail(QStringLiteral("the record length %1 disagrees with the fields (%2)")
                 .arg(recordLength_)
                 .arg(offset));

    const int64_t expected = int64_t(headerLength_) + int64_t(count_) * recordLength_;
    if (st.st_size < expected)
        fail(QStringLiteral("the file is truncated: %1 records need %2 bytes, the file has %3")
                 .arg(count_)
                 .arg(expected)
                 .arg(int64_t(st.st_size)));
    if (st.st_size > expected + 1)
        fail(QStringLiteral("the record count %1 disagrees with the file size %2")
                 .arg(count_)
                 .arg(int64_t(st.st_size)));
}

bool DbfFile::hasMemo() const
{
    for (const FieldDef& f : fields_)
        if (f.type == 'M')
            return true;
    return false;
}

void DbfFile::setStructuralIndexFlag(bool on)
{
    const uint8_t flags = on ? (tableFlags_ | 0x01) : (tableFlags_ & ~0x01);
    if (flags == tableFlags_)
        return;
    tableFlags_ = flags;
    const char b = char(flags);
    if (::pwrite(fd_, &b, 1, 28) != 1)
        fail(errnoText(errno));
}

uint32_t DbfFile::recordCount()
{
    if (mappedHeader()) {
        count_
            = qFromLittleEndian(__atomic_load_n(reinterpret_cast<uint32_t*>(header_ + 4), __ATOMIC_ACQUIRE));
    } else if (shared_) {
        unsigned char c[4];
        if (::pread(fd_, c, 4, 4) != 4)
            fail(QStringLiteral("cannot read the record count"));
        count_ = getLe32(c);
    }
    return count_;
}

bool DbfFile::readRecord(uint32_t recno, char* record)
{
    flushTail();
    if (recno == 0)
        return false;
    const off_t pos = off_t(headerLength_) + off_t(recno - 1) * recordLength_;
    const ssize_t n = ::pread(fd_, record, size_t(recordLength_), pos);
    if (n == recordLength_)
        return true;
    if (n < 0)
        fail(errnoText(errno));
    if (recno <= count_)
        fail(QStringLiteral("record %1 lies past the end of the file").arg(recno));
    return false;
}

uint32_t DbfFile::readRecords(uint32_t first, uint32_t n, char* records)
{
    flushTail();
    const off_t pos = off_t(headerLength_) + off_t(first - 1) * recordLength_;
    const ssize_t got = ::pread(fd_, records, size_t(n) * size_t(recordLength_), pos);
    if (got < 0)
        fail(errnoText(errno));
    return uint32_t(got / recordLength_);
}

void DbfFile::writeRecord(uint32_t recno, const char* record)
{
    flushTail();
    const off_t pos = off_t(headerLength_) + off_t(recno - 1) * recordLength_;
    if (const QString failure = writeFullyAt(fd_, record, size_t(recordLength_), pos); !failure.isEmpty())
        fail(QStringLiteral("cannot write record %1: %2").arg(recno).arg(failure));
}

void DbfFile::writeDeletionFlag(uint32_t recno, char flag)
{
    flushTail();
    const off_t pos = off_t(headerLength_) + off_t(recno - 1) * recordLength_;
    if (::pwrite(fd_, &flag, 1, pos) != 1)
        fail(QStringLiteral("cannot write record %1: %2").arg(recno).arg(errnoText(errno)));
}

void DbfFile::writeNewRecord(uint32_t recno, const char* record)
{
    if (!shared_) {
        // Exclusive use: new records gather in memory and go to the file in large writes.
        if (!tail_.isEmpty() && recno != tailFirst_ + uint32_t(tail_.size() / recordLength_))
            flushTail();
        if (tail_.isEmpty())
            tailFirst_ = recno;
        tail_.append(record, recordLength_);
        if (tail_.size() >= kTailBytes)
            flushTail();
        return;
    }
    // The record and the end-of-file mark in one write.
    char stackBuf[1024];
    QByteArray heapBuf;
    char* buf = stackBuf;
    if (recordLength_ + 1 > int(sizeof stackBuf)) {
        heapBuf.resize(recordLength_ + 1);
        buf = heapBuf.data();
    }
    std::memcpy(buf, record, size_t(recordLength_));
    buf[recordLength_] = kEndOfFile;
    const off_t pos = off_t(headerLength_) + off_t(recno - 1) * recordLength_;
    if (const QString failure = writeFullyAt(fd_, buf, size_t(recordLength_) + 1, pos); !failure.isEmpty()) {
        dropNewRecord(recno);
        fail(QStringLiteral("cannot append a record: %1").arg(failure));
    }
}

void DbfFile::dropNewRecord(uint32_t recno) noexcept
{
    if (!shared_)
        return; // an exclusive handle's new records are still in memory
    // The file ends where it ended before: the end-of-file mark back in the record's first byte
    // (a byte the file already had), what was written after it cut off.
    const off_t pos = off_t(headerLength_) + off_t(recno - 1) * recordLength_;
    const char end = kEndOfFile;
    if (::pwrite(fd_, &end, 1, pos) == 1) {
        // Nothing more can be done here when the cut fails: a partial record past the mark is
        // dropped by the next open.
        [[maybe_unused]] const int cut = ::ftruncate(fd_, pos + 1);
    }
}

void DbfFile::publishCount(uint32_t count)
{
    count_ = count;
    if (shared_)
        writeCountAndDate(count_);
    else
        headerDirty_ = true;
}

void DbfFile::writeCountAndDate(uint32_t count)
{
    char b[7];
    putDate(b);
    if (mappedHeader()) {
        // The date through pwrite, checked: a file that cannot be written (immutable, say) fails
        // here, where a store through the mapping would end the program with SIGBUS. The count then
        // goes through the mapping in one store, so that a handle reading it never sees half of it.
        if (::pwrite(fd_, b, 3, 1) != 3)
            fail(QStringLiteral("cannot write the header: %1").arg(errnoText(errno)));
        __atomic_store_n(reinterpret_cast<uint32_t*>(header_ + 4), qToLittleEndian(count), __ATOMIC_RELEASE);
        return;
    }
    putLe32(b + 3, count);
    if (::pwrite(fd_, b, 7, 1) != 7)
        fail(QStringLiteral("cannot write the header: %1").arg(errnoText(errno)));
}

void DbfFile::flushTail()
{
    if (tail_.isEmpty())
        return;
    tail_.append(kEndOfFile);
    const off_t pos = off_t(headerLength_) + off_t(tailFirst_ - 1) * recordLength_;
    const QString failure = writeFullyAt(fd_, tail_.constData(), size_t(tail_.size()), pos);
    tail_.clear();
    if (!failure.isEmpty())
        fail(QStringLiteral("cannot append records: %1").arg(failure));
}

void DbfFile::flush()
{
    flushTail();
    if (!headerDirty_)
        return;
    writeCountAndDate(count_);
    headerDirty_ = false;
}

} // namespace store
