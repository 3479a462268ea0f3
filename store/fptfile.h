#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <memory>

namespace store {

// A FoxPro memo file (.fpt): a 512-byte header (next free block and block size, big-endian), then
// memos in whole blocks, each an 8-byte block header (type 1 = text, length, both big-endian) and
// the bytes. Block numbers count from the start of the file, so with 64-byte blocks the first memo
// is block 8. A changed memo is written to fresh blocks: a reader in another process never sees a
// half-overwritten text.
class FptFile {
public:
    static constexpr int kDefaultBlockSize = 64;

    static void create(const QString& path);

    FptFile(const QString& path, bool shared);
    ~FptFile(); // writes the pending next-free block (exclusive); never throws
    // Opens the file when there is one of exactly that name; nullptr when there is none.
    static std::unique_ptr<FptFile> openIfExists(const QString& path, bool shared);
    FptFile(const FptFile&) = delete;
    FptFile& operator=(const FptFile&) = delete;

    QString path() const { return path_; }
    // The text of the memo at `block`; a block or length past the end of the file throws.
    QByteArray read(uint32_t block);
    // Stores `data` in fresh blocks and returns the first: at the file's end or at the header's next
    // free block, whichever lies further (a file cut short keeps the blocks its records point to; a
    // header that lags never leads to an overwrite). A next free block far past the end is damage
    // and refused rather than leaving a huge hole in the file. On a shared file the caller holds
    // the table's header lock.
    uint32_t write(const QByteArray& data);
    void flush();
    // Sets a next free block that lies past the end of the file or inside the header from the
    // file's size (the start-up step does this for every memo file); tells what was done ("" when
    // the header was sound). Writes never depend on it.
    QString correctNextFree();
    // The start-up step for a file shorter than its records' references (cut by a power loss):
    // `highest` is the highest block any record points to. When that memo's bytes (its 8-byte
    // header and its length; the last block need not be whole) do not all lie in the file, the file
    // is lengthened (with empty blocks) to where it ends and the next free block set there, so that
    // new memos never overwrite what older records point to. Returns the note said once, or an
    // empty text.
    QString keepReferencedBlocks(uint32_t highest);

private:
    FptFile(const QString& path, bool shared, int fd);
    [[noreturn]] void fail(const QString& what) const;
    void flushTail();
    unsigned char* mappedHeader(); // nullptr: use pread and pwrite
    uint32_t headerNextFree();
    // How far past the file's end a header's next free block may lie: a file cut by a power loss
    // loses what was not yet on the disk, never gigabytes (64 MiB of 64-byte blocks).
    static constexpr uint32_t kMaxGapBlocks = 1u << 20;

    QString path_;
    int fd_ = -1;
    bool shared_ = true;
    uint32_t blockSize_ = kDefaultBlockSize;
    uint32_t nextFree_ = 0;
    bool headerDirty_ = false;
    unsigned char* header_ = nullptr; // shared mapping of the header (shared files)
    bool mapFailed_ = false;
    static constexpr qsizetype kTailBytes = 64 * 1024;
    QByteArray tail_; // new memos not yet written (exclusive files)
    uint32_t tailBlock_ = 0;
    uint64_t fileEnd_ = 0; // exclusive use: the file's size with the memos gathered in tail_
    uint32_t knownEnd_ = 0; // shared use: the block after this handle's last memo, 0 unknown
    uint32_t endBlock(); // the first block past the file's end (memos gathered in tail_ included)
};

} // namespace store
