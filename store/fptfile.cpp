#include "store/fptfile.h"

#include "store/byteorder.h"
#include "store/storeerror.h"
#include "store/systemfile.h"

#include <QFile>
#include <QtEndian>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace store {

namespace {

constexpr int kFptHeaderSize = 512;
constexpr uint32_t kTextType = 1;

} // namespace

void FptFile::create(const QString& path)
{
    QByteArray header(kFptHeaderSize, '\0');
    putBe32(header.data(), kFptHeaderSize / kDefaultBlockSize);
    header[6] = char(kDefaultBlockSize >> 8);
    header[7] = char(kDefaultBlockSize & 0xFF);
    writeWholeFile(path, header, QStringLiteral("memo file"));
}

std::unique_ptr<FptFile> FptFile::openIfExists(const QString& path, bool shared)
{
    const int fd = openReadWrite(path, QStringLiteral("memo file"), true);
    if (fd < 0)
        return nullptr;
    return std::unique_ptr<FptFile>(new FptFile(path, shared, fd));
}

FptFile::FptFile(const QString& path, bool shared)
    : FptFile(path, shared, openReadWrite(path, QStringLiteral("memo file")))
{
}

FptFile::FptFile(const QString& path, bool shared, int fd)
    : path_(path)
    , fd_(fd)
    , shared_(shared)
{
    unsigned char h[8];
    if (::pread(fd_, h, 8, 0) != 8) {
        ::close(fd_);
        fd_ = -1;
        throw StoreError(QStringLiteral("Memo file %1: the file is truncated (no header)").arg(path));
    }
    nextFree_ = getBe32(h);
    blockSize_ = (uint32_t(h[6]) << 8) | h[7];
    if (blockSize_ == 0) {
        ::close(fd_);
        fd_ = -1;
        throw StoreError(QStringLiteral("Memo file %1: block size 0").arg(path));
    }
    if (!shared_) {
        struct stat st;
        fileEnd_ = ::fstat(fd_, &st) == 0 ? uint64_t(st.st_size) : 0;
    }
}

QString FptFile::correctNextFree()
{
    struct stat st;
    if (::fstat(fd_, &st) != 0)
        fail(errnoText(errno));
    const uint32_t minimum = (kFptHeaderSize + blockSize_ - 1) / blockSize_;
    const uint64_t end = std::max<uint64_t>(minimum, (uint64_t(st.st_size) + blockSize_ - 1) / blockSize_);
    unsigned char h[4];
    if (::pread(fd_, h, 4, 0) != 4)
        fail(QStringLiteral("cannot read the header"));
    const uint32_t next = getBe32(h);
    if (next >= minimum && next <= end)
        return {};
    nextFree_ = uint32_t(std::min<uint64_t>(end, UINT32_MAX));
    char b[4];
    putBe32(b, nextFree_);
    if (::pwrite(fd_, b, 4, 0) != 4)
        fail(QStringLiteral("cannot correct the header: %1").arg(errnoText(errno)));
    return QStringLiteral("Memo file %1: the next free block %2 lay %3; it is set to %4 from the file's size.")
        .arg(path_)
        .arg(next)
        .arg(next < minimum ? QStringLiteral("inside the header") : QStringLiteral("past the end of the file"))
        .arg(nextFree_);
}

QString FptFile::keepReferencedBlocks(uint32_t highest)
{
    if (highest == 0)
        return {};
    struct stat st;
    if (::fstat(fd_, &st) != 0)
        fail(errnoText(errno));
    const uint64_t size = uint64_t(st.st_size);
    const uint64_t start = uint64_t(highest) * blockSize_;
    // Where that memo truly ends: its 8-byte header and its bytes. Other engines do not pad the
    // file's last block, so a sound file may end there, inside the block.
    uint64_t end = start + 8;
    unsigned char h[8];
    if (start + 8 <= size && ::pread(fd_, h, 8, off_t(start)) == 8) {
        // Its length, when the memo's own header is there (a sane one: a cut file ends in zeros or
        // in the middle of a memo).
        const uint64_t length = getBe32(h + 4);
        if (length < (uint64_t(64) << 20))
            end = start + 8 + length;
    }
    const uint64_t endBlock = (end + blockSize_ - 1) / blockSize_;
    if (end <= size || endBlock > UINT32_MAX)
        return {};
    if (::ftruncate(fd_, off_t(endBlock * blockSize_)) != 0)
        fail(QStringLiteral("cannot lengthen the file: %1").arg(errnoText(errno)));
    nextFree_ = uint32_t(endBlock);
    char b[4];
    putBe32(b, nextFree_);
    if (::pwrite(fd_, b, 4, 0) != 4)
        fail(QStringLiteral("cannot correct the header: %1").arg(errnoText(errno)));
    return QStringLiteral("Memo file %1 is shorter than its records' references (it ends at block %2, a record "
                          "points to block %3): the missing memos read empty, and new memos go after them.")
        .arg(path_)
        .arg((size + blockSize_ - 1) / blockSize_)
        .arg(highest);
}

uint32_t FptFile::endBlock()
{
    if (shared_ && header_) {
        // While the header still says where this handle's last memo ended, nobody has written
        // since and the file ends there: no need to ask the system.
        const uint32_t next
            = qFromBigEndian(__atomic_load_n(reinterpret_cast<uint32_t*>(header_), __ATOMIC_ACQUIRE));
        if (next == knownEnd_ && next != 0)
            return next;
    }
    if (shared_) {
        struct stat st;
        if (::fstat(fd_, &st) != 0)
            fail(errnoText(errno));
        fileEnd_ = uint64_t(st.st_size);
    }
    const uint64_t block = tail_.isEmpty() ? (fileEnd_ + blockSize_ - 1) / blockSize_
                                           : uint64_t(tailBlock_) + uint64_t(tail_.size()) / blockSize_;
    if (block > UINT32_MAX)
        fail(QStringLiteral("the file is too large for more memos"));
    return uint32_t(block);
}

uint32_t FptFile::headerNextFree()
{
    if (!shared_)
        return nextFree_; // nobody else writes: what this handle read at open and wrote since
    if (const unsigned char* header = mappedHeader())
        return qFromBigEndian(__atomic_load_n(reinterpret_cast<const uint32_t*>(header), __ATOMIC_ACQUIRE));
    unsigned char h[4];
    if (::pread(fd_, h, 4, 0) != 4)
        fail(QStringLiteral("cannot read the header"));
    return getBe32(h);
}

unsigned char* FptFile::mappedHeader()
{
    // The next free block through a shared mapping of the header (see DbfFile), mapped at the
    // first memo written.
    if (!header_ && shared_ && !mapFailed_) {
        void* map = ::mmap(nullptr, 8, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
        if (map != MAP_FAILED)
            header_ = static_cast<unsigned char*>(map);
        else
            mapFailed_ = true;
    }
    return header_;
}

FptFile::~FptFile()
{
    if (fd_ < 0)
        return;
    try {
        flush();
    } catch (...) {
    }
    if (header_)
        ::munmap(header_, 8);
    ::close(fd_);
}

void FptFile::fail(const QString& what) const
{
    throw StoreError(QStringLiteral("Memo file %1: %2").arg(path_, what));
}

QByteArray FptFile::read(uint32_t block)
{
    flushTail();
    // One read fetches the block header and a short memo; a longer one takes a second read.
    constexpr int kFirstRead = 256;
    const int64_t pos = int64_t(block) * blockSize_;
    char first[kFirstRead];
    const ssize_t got = block == 0 || pos < kFptHeaderSize ? -1 : ::pread(fd_, first, kFirstRead, pos);
    if (got < 8)
        fail(QStringLiteral("memo block %1 lies past the end of the file").arg(block));
    const uint32_t length = getBe32(reinterpret_cast<const unsigned char*>(first) + 4);
    const auto pastEnd = [&] {
        fail(QStringLiteral("the memo at block %1 (%2 bytes) runs past the end of the file")
                 .arg(block)
                 .arg(length));
    };
    if (int64_t(length) <= got - 8)
        return QByteArray(first + 8, qsizetype(length));
    struct stat st;
    if (length > 65536 && (::fstat(fd_, &st) != 0 || pos + 8 + int64_t(length) > st.st_size))
        pastEnd(); // a damaged length must not allocate gigabytes
    QByteArray data(qsizetype(length), Qt::Uninitialized);
    if (::pread(fd_, data.data(), length, pos + 8) != ssize_t(length))
        pastEnd();
    return data;
}

uint32_t FptFile::write(const QByteArray& data)
{
    // A new memo goes after both the file's end and the header's next free block: a header that
    // lags (a writer stopped between its memo and the header) is caught by the end, a file cut
    // short (by a power loss) by the header, so no memo a record points to is ever overwritten.
    const uint32_t minimum = (kFptHeaderSize + blockSize_ - 1) / blockSize_;
    const uint32_t end = std::max(minimum, endBlock());
    const uint32_t next = headerNextFree();
    if (next > end && next - end > kMaxGapBlocks)
        fail(QStringLiteral("the header's next free block %1 lies far past the end of the file (block %2); "
                            "the header is damaged")
                 .arg(next)
                 .arg(end));
    const uint32_t block = std::max(end, next);
    const uint32_t used = uint32_t((8 + data.size() + blockSize_ - 1) / blockSize_);
    if (uint64_t(block) + used > UINT32_MAX)
        fail(QStringLiteral("the file is too large for more memos"));
    // The memo padded to whole blocks, so the file always ends on a block boundary.
    QByteArray bytes(qsizetype(used) * blockSize_, '\0');
    putBe32(bytes.data(), kTextType);
    putBe32(bytes.data() + 4, uint32_t(data.size()));
    std::memcpy(bytes.data() + 8, data.constData(), size_t(data.size()));
    if (!shared_) {
        // Exclusive use: new memos gather in memory and go to the file in large writes.
        if (!tail_.isEmpty() && block != tailBlock_ + uint32_t(tail_.size() / blockSize_))
            flushTail();
        if (tail_.isEmpty())
            tailBlock_ = block;
        tail_.append(bytes);
        if (tail_.size() >= kTailBytes)
            flushTail();
    } else if (const QString failure
               = writeFullyAt(fd_, bytes.constData(), size_t(bytes.size()), off_t(block) * blockSize_);
               !failure.isEmpty()) {
        fail(QStringLiteral("cannot write a memo: %1").arg(failure));
    }
    nextFree_ = block + used;
    knownEnd_ = nextFree_;
    if (header_) {
        // The memo's checked write above has just found the file writable: a store through the
        // mapping into a file that cannot be written would end the program with SIGBUS.
        __atomic_store_n(reinterpret_cast<uint32_t*>(header_), qToBigEndian(nextFree_), __ATOMIC_RELEASE);
    } else if (shared_) {
        char b[4];
        putBe32(b, nextFree_);
        if (::pwrite(fd_, b, 4, 0) != 4)
            fail(QStringLiteral("cannot write the header: %1").arg(errnoText(errno)));
    } else {
        headerDirty_ = true;
    }
    return block;
}

void FptFile::flushTail()
{
    if (tail_.isEmpty())
        return;
    const QString failure
        = writeFullyAt(fd_, tail_.constData(), size_t(tail_.size()), off_t(tailBlock_) * blockSize_);
    fileEnd_ = std::max<uint64_t>(fileEnd_, uint64_t(tailBlock_) * blockSize_ + uint64_t(tail_.size()));
    tail_.clear();
    if (!failure.isEmpty())
        fail(QStringLiteral("cannot write memos: %1").arg(failure));
}

void FptFile::flush()
{
    flushTail();
    if (!headerDirty_)
        return;
    char b[4];
    putBe32(b, nextFree_);
    if (::pwrite(fd_, b, 4, 0) != 4)
        fail(QStringLiteral("cannot write the header: %1").arg(errnoText(errno)));
    headerDirty_ = false;
}

} // namespace store
