#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace store {

class CdxTag;

// An entry of a tag: the key (exactly the tag's key length, blank-padded) and its record number.
struct CdxEntry {
    QByteArray key;
    uint32_t recno = 0;
};

// A tag to build: its name, key expression (as stored), key length and unique mark.
struct CdxTagSpec {
    QByteArray name;
    QByteArray expression;
    int keyLength = 0;
    bool unique = false;
};

// The records that tags are built from, read in one pass for every tag being built.
class CdxRecords {
public:
    virtual ~CdxRecords() = default;
    // Called before each pass with the tags to build; throws StoreError when a key expression does
    // not fit the records.
    virtual void prepare(const std::vector<CdxTagSpec>& tags) = 0;
    virtual uint32_t count() = 0;
    // Writes record `recno`'s key for each prepared tag to keys[i] (that tag's key length) and
    // returns whether the record carries the deletion mark.
    virtual bool keys(uint32_t recno, uint8_t* const* keys) = 0;
};

// A compound index file (.cdx) in the FoxPro layout: a tag directory and one B-tree per tag, 512-byte
// pages, compressed leaf keys. Keys compare as unsigned bytes, equal keys by record number.
//
// Shared access: every operation takes an fcntl byte-range lock on the file (read lock to navigate,
// write lock to change) unless a Scope is open, and checks the file's change counter first, so pages
// that another process changed are read again. Exclusive access takes no locks and keeps pages cached
// until flush() or destruction.
class CdxIndex {
public:
    enum class Access { Shared, Exclusive };

    // Crash safety. A writer marks the directory header (bytes 24 to 27, which no engine writes;
    // only this program's exact mark counts, so another engine's index is never taken for an
    // interrupted one) and moves the change counter before it changes anything, and clears the
    // mark when all of its change is in the file; it holds the index's write lock (a byte-range
    // lock the system drops when a process dies) all that time. Whoever takes the lock and finds
    // the mark knows that the writer stopped half-way: the tags are rebuilt from `records` in place
    // (same file, so handles open in other processes go on with it), or, without records,
    // StoreError says so. Handles of a table pass its records, so any of them repairs before it
    // reads.
    //
    // Opens an existing compound index. Checks the headers (cheaply: no walk of the trees); a file that
    // is not a usable CDX throws StoreError naming the file.
    static std::unique_ptr<CdxIndex> open(const QString& path, Access access, CdxRecords* records = nullptr);
    // The same for a file that may be missing: nullptr when there is no file of exactly that name.
    static std::unique_ptr<CdxIndex> openIfExists(
        const QString& path, Access access, CdxRecords* records = nullptr);
    // Creates an empty compound index (tag directory only), replacing any file of that name.
    static std::unique_ptr<CdxIndex> create(const QString& path, Access access, CdxRecords* records = nullptr);
    ~CdxIndex(); // flushes; never throws

    QString path() const;
    Access access() const;

    // The tags in creation order (the order of their headers in the file).
    std::vector<CdxTag*> tags() const;
    // Case-insensitive; nullptr when there is no such tag.
    CdxTag* findTag(const QByteArray& name) const;

    // Builds a tag from records 1..recordCount (a tag of the same name is replaced). keyOf(recno)
    // gives a record's key, exactly keyLength bytes. A plain tag holds every record, deleted ones
    // included; a unique tag holds, per key, the lowest-numbered record for which isDeleted() is false.
    // Memory stays bounded whatever the record count (sorted runs are merged from temporary files).
    CdxTag* addTag(const QByteArray& name, const QByteArray& expression, int keyLength, bool unique,
                   uint32_t recordCount, const std::function<QByteArray(uint32_t)>& keyOf,
                   const std::function<bool(uint32_t)>& isDeleted);

    // Builds several tags in one pass over the records (tags of the same names are replaced), their
    // pages written in file order. Returns the tags in the order given.
    std::vector<CdxTag*> addTags(const std::vector<CdxTagSpec>& tags, CdxRecords& records);

    // Rebuilds every tag from the records given at open, in place (under the write lock).
    void rebuild();
    // What the last repair of an interrupted change did, once ("" when there was none since).
    QString takeRepairNote();

    // Writes cached changes to the file (exclusive access); shared access writes at the end of
    // every change or Scope.
    void flush();

    // Deep check of every tag: node attributes and links, key order, free-byte counts, interior keys
    // matching their children. Throws StoreError describing the first fault, naming the file.
    void verify();

    // Several operations under one lock (shared access): one lock, one change-counter check, one
    // write-back. Scopes nest. A write scope also serves reads.
    class Scope {
    public:
        Scope(CdxIndex& index, bool write);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        CdxIndex& index_;
        bool write_;
        int exceptions_;
    };

    struct Impl;

private:
    explicit CdxIndex(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
    friend class CdxTag;
};

// One tag of a compound index. Navigation is stateless for the caller: next() and prior() take the
// entry the caller stands on, which need not still be in the tag (another handle or process may have
// removed it); they give the entry after or before it in index order. The tag may remember the last
// leaf it visited so that a walk costs O(1) pages a step.
class CdxTag {
public:
    QByteArray name() const;       // upper case
    QByteArray expression() const; // as it was given
    int keyLength() const;
    bool unique() const;

    // Each fills `entry` and returns true, or returns false when there is no such entry.
    bool first(CdxEntry& entry);
    bool last(CdxEntry& entry);
    // The first entry at or after (key, recno). A key shorter than the key length is blank-padded.
    bool seek(const QByteArray& key, uint32_t recno, CdxEntry& entry);
    bool next(CdxEntry& entry);
    bool prior(CdxEntry& entry);

    // Maintenance: each touches O(log n) pages. insert() of an entry already present does nothing;
    // remove() returns whether the entry was there.
    void insert(const QByteArray& key, uint32_t recno);
    bool remove(const QByteArray& key, uint32_t recno);

    // Entries by number, 0 being the first in key order: for views that show a part of a large
    // tag. The first call after a change (by any handle) walks the leaf pages' headers once, some
    // ten thousand pages for a million entries; later calls cost one descent.
    uint64_t count();
    // The entry numbered `number`; false when there are not that many.
    bool entryAt(uint64_t number, CdxEntry& entry);
    // The number of entries before (key, recno): the entry's own number when it is in the tag.
    uint64_t numberOf(const QByteArray& key, uint32_t recno);

    struct Impl;

private:
    friend class CdxIndex;
    explicit CdxTag(Impl* impl);
    Impl* impl_;
};

} // namespace store
