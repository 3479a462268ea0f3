#pragma once

#include "store/fielddef.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

namespace store {

// A DBF table file in the FoxPro 2.x layout: a 32-byte header, one 32-byte descriptor a field, the
// 0x0D terminator (no backlink: FoxPro 2.x has none), fixed-length records that start with the
// deletion flag (' ' or '*'), and the 0x1A end-of-file mark.
//
// Shared files are read afresh on every call (another process may append or change records);
// exclusive files keep the record count in memory and write the header when flushed or closed.
//
// Locks (shared files only) follow the scheme Visual FoxPro uses for a table with a structural
// index, as public xBase engines describe it (base offset 0x7FFFFFFE, growing downwards):
//   header (append) lock   offset 0x7FFFFFFE, 1 byte
//   record lock            offset 0x7FFFFFFE - recno, 1 byte
//   file lock              offset 0x7FFFFFFE - 0x07FFFFFF, 0x07FFFFFF bytes
// An exclusive file holds the file lock and the header lock while it is open.
// The offsets lie far beyond any real table, so locking never touches data.
class DbfFile {
public:
    static constexpr int64_t kLockBase = 0x7FFFFFFE;
    static constexpr int64_t kFileLockSize = 0x07FFFFFF;

    // Writes an empty table: the header, the descriptors and the end-of-file mark.
    static void create(const QString& path, const std::vector<FieldDef>& fields);

    // Opens and checks the header: a file too short for its header or its record count, a record
    // count that disagrees with the file size, or descriptors that do not add up throw StoreError.
    // One exception is what a writer that stopped half-way through an append leaves: at most one
    // record past the count (see settleTail()). It is settled here, under the header lock.
    DbfFile(const QString& path, bool shared);
    ~DbfFile(); // writes a pending header (exclusive); never throws
    // Opens the file when there is one of exactly that name; nullptr when there is none.
    static std::unique_ptr<DbfFile> openIfExists(const QString& path, bool shared);
    DbfFile(const DbfFile&) = delete;
    DbfFile& operator=(const DbfFile&) = delete;

    QString path() const { return path_; }
    QString fileName() const { return fileName_; } // without the folder, for messages
    bool shared() const { return fd_ >= 0 && shared_; }
    const std::vector<FieldDef>& fields() const { return fields_; }
    int recordLength() const { return recordLength_; }
    bool hasMemo() const;
    bool structuralIndexFlag() const { return (tableFlags_ & 0x01) != 0; }
    void setStructuralIndexFlag(bool on);

    // The number of records, deleted ones included (re-read from the header on a shared file).
    uint32_t recordCount();
    // Reads record `recno` (1-based) into `record` (recordLength() bytes). False past the end.
    bool readRecord(uint32_t recno, char* record);
    // Reads up to `n` records from `first` on into `records`; returns how many were complete.
    uint32_t readRecords(uint32_t first, uint32_t n, char* records);
    void writeRecord(uint32_t recno, const char* record);
    void writeDeletionFlag(uint32_t recno, char flag);
    // Appending takes two steps, both under the header lock on a shared file (the caller takes
    // it and re-reads the count with recordCount()): the record and the end-of-file mark are
    // written after the last record, then the header is made to count it.
    void writeNewRecord(uint32_t recno, const char* record);
    // Takes back a new record that was written but is not counted (its write or its keys failed):
    // the file ends as before it, so that no later open adopts it.
    void dropNewRecord(uint32_t recno) noexcept;
    void publishCount(uint32_t count);

    // Writes the header of an exclusive file now.
    void flush();

    // An append writes the record and the end mark first and counts it second, so a writer that
    // stopped in between leaves the file longer than its count by one record (or, cut short, by
    // less). The caller makes sure no live append is under way (the header lock, or the index's
    // write lock, under which every append of an indexed table is made). A complete record is
    // adopted (counted), a partial one dropped, and the end mark restored; a file longer by more
    // than one record is damage and is left as it is (opening refuses it). Returns what was done
    // ("" when the file agreed with its count).
    QString settleTail();
    // What settling at open did ("" when nothing); an adopted record has no index entries yet.
    QString settledAtOpen() const { return settledAtOpen_; }
    bool adoptedAtOpen() const { return adoptedAtOpen_; }

    int fd() const { return fd_; }
    int lockFd() const { return shared_ ? fd_ : -1; } // -1: nothing to lock
    static int64_t recordLockOffset(uint32_t recno) { return kLockBase - recno; }

private:
    DbfFile(const QString& path, bool shared, int fd);
    void readHeader();
    void readHeaderFields(); // count and lengths only, for settleTail()
    void writeCountAndDate(uint32_t count);
    void flushTail();
    void lockForExclusiveUse();
    unsigned char* mappedHeader(); // nullptr: use pread and pwrite
    [[noreturn]] void fail(const QString& what) const;

    QString path_;
    QString fileName_;
    int fd_ = -1;
    bool shared_ = true;
    std::vector<FieldDef> fields_;
    int headerLength_ = 0;
    int recordLength_ = 0;
    uint8_t tableFlags_ = 0;
    uint32_t count_ = 0;
    bool headerDirty_ = false;
    unsigned char* header_ = nullptr; // shared mapping of the header (shared files)
    bool mapFailed_ = false;
    static constexpr qsizetype kTailBytes = 64 * 1024;
    QByteArray tail_; // appended records not yet written (exclusive files)
    uint32_t tailFirst_ = 0;
    QString settledAtOpen_;
    bool adoptedAtOpen_ = false;
};

} // namespace store
