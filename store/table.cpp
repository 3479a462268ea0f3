#include "store/table.h"

#include "store/cdxindex.h"
#include "store/cp1252.h"
#include "store/dbffile.h"
#include "store/filelock.h"
#include "store/fptfile.h"
#include "store/keyexpression.h"
#include "store/recordfilter.h"
#include "store/storeerror.h"

#include <QElapsedTimer>
#include <QFileInfo>

#include <exception>
#include <map>
#include <optional>
#include <utility>

namespace store {

namespace {

const QString kEmptyDataset = QStringLiteral("Cannot perform this operation on an empty dataset");

// A logical field's byte as xBase tools write it: T/t/Y/y true, F/f/N/n false; blank, '?' (and
// anything else) not set.
std::optional<bool> logicalValue(char c)
{
    switch (c) {
    case 'T':
    case 't':
    case 'Y':
    case 'y':
        return true;
    case 'F':
    case 'f':
    case 'N':
    case 'n':
        return false;
    default:
        return std::nullopt;
    }
}

QString baseNameOf(const QString& fileName)
{
    const qsizetype dot = fileName.lastIndexOf(u'.');
    return dot < 0 ? fileName : fileName.left(dot);
}

// Reads records in large slices for whole-table passes (building tags, finding the next record of
// a unique key), so a pass costs a few system calls per thousand records.
class SliceReader {
public:
    explicit SliceReader(DbfFile& dbf)
        : dbf_(dbf)
        , buffer_(qsizetype(kSlice) * dbf.recordLength(), '\0')
    {
    }

    const char* record(uint32_t recno)
    {
        if (recno < first_ || recno >= first_ + count_) {
            first_ = recno;
            count_ = dbf_.readRecords(recno, kSlice, buffer_.data());
            if (count_ == 0)
                throw StoreError(QStringLiteral("Table %1: record %2 lies past the end of the file")
                                     .arg(dbf_.path())
                                     .arg(recno));
        }
        return buffer_.constData() + qsizetype(recno - first_) * dbf_.recordLength();
    }

private:
    static constexpr uint32_t kSlice = 1024;
    DbfFile& dbf_;
    QByteArray buffer_;
    uint32_t first_ = 0;
    uint32_t count_ = 0;
};

// The table's records as the index builds and repairs its tags from them: one pass over the file,
// keys copied straight from the record images.
class TableRecords : public CdxRecords {
public:
    TableRecords(DbfFile& dbf, QStringList& notes)
        : dbf_(dbf)
        , notes_(notes)
    {
    }

    void prepare(const std::vector<CdxTagSpec>& tags) override
    {
        keys_.clear();
        for (const CdxTagSpec& t : tags) {
            keys_.emplace_back(t.expression, dbf_.fields(),
                QStringLiteral("Table %1, tag %2").arg(dbf_.path(), QString::fromLatin1(t.name)));
            if (keys_.back().keyLength() != t.keyLength)
                throw StoreError(
                    QStringLiteral("Table %1, tag %2: key length %3 does not fit the expression \"%4\"")
                        .arg(dbf_.path(), QString::fromLatin1(t.name))
                        .arg(t.keyLength)
                        .arg(QString::fromLatin1(t.expression)));
        }
        reader_.emplace(dbf_);
    }

    // Called with the index's write lock held, under which every append of an indexed table is
    // made: a record past the count was left by a writer that stopped, and is settled first.
    uint32_t count() override
    {
        if (dbf_.shared()) {
            const QString note = dbf_.settleTail();
            if (!note.isEmpty())
                notes_ << note;
        }
        return dbf_.recordCount();
    }

    bool keys(uint32_t recno, uint8_t* const* keys) override
    {
        const char* record = reader_->record(recno);
        for (size_t i = 0; i < keys_.size(); ++i)
            keys_[i].keyInto(record, keys[i]);
        return record[0] == '*';
    }

private:
    DbfFile& dbf_;
    QStringList& notes_;
    std::vector<KeyExpression> keys_;
    std::optional<SliceReader> reader_;
};

struct TagInfo {
    CdxTag* tag = nullptr;
    KeyExpression key;
};

// A place in the selected order: the record, its image and, in a tag's order, its entry.
struct Position {
    uint32_t recno = 0;
    QByteArray record;
    CdxEntry entry;
};

} // namespace

struct Table::Impl {
    Table* q;
    Connection connection;
    QString tableName;
    bool exclusive = false;
    QString indexName;
    QString filterText;

    std::unique_ptr<DbfFile> dbf;
    std::unique_ptr<FptFile> fpt;
    std::unique_ptr<TableRecords> records; // what cdx rebuilds its tags from
    std::unique_ptr<CdxIndex> cdx;
    QStringList notes; // repairs not yet told
    std::vector<TagInfo> tags;
    int currentTag = -1;

    State state = State::Inactive;
    Position pos; // current record (recno 0: none)
    // Right after open the handle stands on the first visible record; finding it waits until
    // something looks, since a caller that goes to the last record or seeks never needs it.
    bool firstPending = false;
    bool eof = true;
    bool bof = true;

    // Edit buffer of Edit and Insert states.
    QByteArray buffer;
    bool touched = false;
    std::map<int, QString> pendingMemos; // field index -> new text, written by post()
    Position savedPos; // where cancel() of a new record returns

    // Visible records that follow `anchor` in the selected tag, read in one pass under one index
    // lock, so that a walk costs a few system calls per batch instead of four a record. On a
    // shared handle a batch is used for kReadAheadMs at most (other handles' changes show after
    // that long at worst, as with an xBase engine's refresh interval); this handle's own changes,
    // refresh() and any change of order or filter drop it at once.
    struct ReadAhead {
        std::vector<Position> items;
        size_t next = 0;
        CdxEntry anchor;
        QElapsedTimer age;
    } readAhead;
    static constexpr int kReadAheadEntries = 64;
    static constexpr qint64 kReadAheadMs = 50;

    std::optional<FilterExpression> filter;
    int filterField = -1;
    QByteArray filterValue;

    explicit Impl(Table* table)
        : q(table)
    {
    }

    QString name() const { return dbf ? dbf->path() : connection.folder() + tableName; }
    [[noreturn]] void fail(const QString& what) const
    {
        throw StoreError(QStringLiteral("Table %1: %2").arg(name(), what));
    }
    void requireOpen() const
    {
        if (!dbf)
            fail(QStringLiteral("the table is not open"));
    }

    void settle()
    {
        if (!firstPending)
            return;
        firstPending = false;
        const auto first = firstVisible();
        eof = bof = !first;
        pos = first ? *first : Position();
    }

    // ---- fields -------------------------------------------------------------------------------

    int fieldIndex(const QString& field) const
    {
        if (!dbf)
            return -1;
        // Compared in place (called for every field access): names are ASCII, upper case.
        QStringView name = QStringView(field).trimmed();
        const auto& fields = dbf->fields();
        for (size_t i = 0; i < fields.size(); ++i) {
            const QByteArray& candidate = fields[i].name;
            if (candidate.size() != name.size())
                continue;
            qsizetype k = 0;
            while (k < name.size() && name[k].toUpper() == QLatin1Char(candidate[k]))
                ++k;
            if (k == name.size())
                return int(i);
        }
        return -1;
    }

    const FieldDef& fieldFor(const QString& field) const
    {
        requireOpen();
        const int i = fieldIndex(field);
        if (i < 0)
            fail(QStringLiteral("no field \"%1\"").arg(field));
        return dbf->fields()[size_t(i)];
    }

    // The image fields read from: the edit buffer while editing, else the current record.
    const QByteArray* image() const
    {
        if (state == State::Edit || state == State::Insert)
            return &buffer;
        return pos.recno ? &pos.record : nullptr;
    }

    QByteArray blankRecord() const { return QByteArray(dbf->recordLength(), ' '); }

    QByteArray& writableBuffer()
    {
        if (state != State::Edit && state != State::Insert)
            fail(QStringLiteral("the table is not in edit or insert mode"));
        touched = true;
        return buffer;
    }

    QString readMemo(const char* field, int width) const
    {
        const QByteArray digits = QByteArray(field, width).trimmed();
        if (digits.isEmpty())
            return {};
        bool ok = false;
        const uint32_t block = digits.toUInt(&ok);
        if (!ok)
            fail(QStringLiteral("damaged memo reference \"%1\"").arg(QString::fromLatin1(digits)));
        if (block == 0)
            return {};
        if (!fpt)
            fail(QStringLiteral("the memo file is missing"));
        return fromCp1252(fpt->read(block));
    }

    // ---- visibility and keys ------------------------------------------------------------------

    bool visible(const char* record) const
    {
        if (record[0] == '*')
            return false;
        if (filterField < 0)
            return true;
        const FieldDef& f = dbf->fields()[size_t(filterField)];
        int len = f.width;
        while (len > 0 && record[f.offset + len - 1] == ' ')
            --len;
        return len == filterValue.size()
            && std::memcmp(record + f.offset, filterValue.constData(), size_t(len)) == 0;
    }

    TagInfo* tag() { return currentTag >= 0 ? &tags[size_t(currentTag)] : nullptr; }

    bool readAt(uint32_t recno, Position& p) const
    {
        p.recno = recno;
        p.record.resize(dbf->recordLength());
        return dbf->readRecord(recno, p.record.data());
    }

    void setEntry(Position& p)
    {
        if (TagInfo* t = tag()) {
            p.entry.key = t->key.keyOf(p.record.constData());
            p.entry.recno = p.recno;
            if (t->tag->unique()) {
                // The record may be shown through its key's entry for a deleted record.
                CdxEntry e;
                Position standIn;
                if (t->tag->seek(p.entry.key, 0, e) && e.key == p.entry.key && e.recno < p.recno
                    && readAt(e.recno, standIn) && liveStandIn(e.key, standIn) && standIn.recno == p.recno)
                    p.entry = e;
            }
        }
    }

    // Other xBase engines keep, in a unique tag, a key's lowest-numbered record even when it is
    // deleted. A position read through such an entry (`p` holds the deleted record) stands for
    // the key's first live record instead, so a live record is never hidden behind a deleted one.
    // True when `p` now holds a record to show; its entry is left to the caller.
    bool liveStandIn(const QByteArray& key, Position& p)
    {
        TagInfo* t = tag();
        if (!t || !t->tag->unique() || p.record.isEmpty() || p.record[0] != '*')
            return false;
        const uint32_t r = firstLive(*t, key, 0);
        return r && readAt(r, p) && visible(p.record.constData());
    }

    // The lowest-numbered live record whose key is `key`, other than `skip`; 0 when there is none.
    // Unique tags index small directory tables, so a pass over the table is cheap.
    uint32_t firstLive(const TagInfo& info, const QByteArray& key, uint32_t skip, uint32_t below = 0)
    {
        SliceReader reader(*dbf);
        const uint32_t count = below ? std::min(below - 1, dbf->recordCount()) : dbf->recordCount();
        for (uint32_t r = 1; r <= count; ++r) {
            const char* record = reader.record(r);
            if (r != skip && record[0] != '*' && info.key.keyOf(record) == key)
                return r;
        }
        return 0;
    }

    // ---- navigation over visible records --------------------------------------------------------

    std::optional<Position> scanRecords(uint32_t from, int step)
    {
        const uint32_t count = dbf->recordCount();
        Position p;
        for (int64_t r = from; r >= 1 && r <= int64_t(count); r += step) {
            if (readAt(uint32_t(r), p) && visible(p.record.constData()))
                return p;
        }
        return std::nullopt;
    }

    // Walks the tag from `entry` (included when `include`) in the direction of `forward`. Reads
    // take no index lock of their own: every tag operation checks the index itself (lock-free
    // while its cache is current) and the steps are stateless, so a change by another handle
    // between two steps only moves the walk on from where it stands.
    std::optional<Position> scanTag(CdxEntry entry, bool forward, bool include)
    {
        CdxTag* t = tag()->tag;
        Position p;
        bool have = include;
        for (;;) {
            if (!have && !(forward ? t->next(entry) : t->prior(entry)))
                return std::nullopt;
            have = false;
            if (readAt(entry.recno, p) && (visible(p.record.constData()) || liveStandIn(entry.key, p))) {
                p.entry = entry;
                return p;
            }
        }
    }

    std::optional<Position> firstVisible()
    {
        if (!tag())
            return scanRecords(1, 1);
        CdxEntry e;
        if (!tag()->tag->first(e))
            return std::nullopt;
        return scanTag(e, true, true);
    }

    std::optional<Position> lastVisible()
    {
        if (!tag())
            return scanRecords(dbf->recordCount(), -1);
        CdxEntry e;
        if (!tag()->tag->last(e))
            return std::nullopt;
        return scanTag(e, false, true);
    }

    std::optional<Position> nextVisible(const Position& from)
    {
        if (!tag())
            return scanRecords(from.recno + 1, 1);
        ReadAhead& ra = readAhead;
        const bool fresh = !dbf->shared() || ra.age.elapsed() < kReadAheadMs;
        if (ra.next < ra.items.size() && fresh && ra.anchor.recno == from.entry.recno
            && ra.anchor.key == from.entry.key) {
            Position p = std::move(ra.items[ra.next++]);
            ra.anchor = p.entry;
            return p;
        }
        fillReadAhead(from.entry);
        if (ra.items.empty())
            return std::nullopt;
        Position p = std::move(ra.items[ra.next++]);
        ra.anchor = p.entry;
        return p;
    }

    void dropReadAhead()
    {
        readAhead.items.clear();
        readAhead.next = 0;
    }

    // Collects the visible records after `from` in the selected tag: entries in batches under one
    // lock, their records in one read when their numbers lie close together.
    void fillReadAhead(CdxEntry from)
    {
        dropReadAhead();
        CdxTag* t = tag()->tag;
        readAhead.age.start();
        std::vector<CdxEntry> entries;
        QByteArray slice;
        bool end = false;
        while (readAhead.items.empty() && !end) {
            entries.clear();
            CdxEntry e = from;
            while (int(entries.size()) < kReadAheadEntries) {
                if (!t->next(e)) {
                    end = true;
                    break;
                }
                entries.push_back(e);
            }
            if (entries.empty())
                break;
            from = entries.back();
            uint32_t low = entries.front().recno;
            uint32_t high = low;
            for (const CdxEntry& x : entries) {
                low = std::min(low, x.recno);
                high = std::max(high, x.recno);
            }
            const int length = dbf->recordLength();
            uint32_t got = 0;
            if (high - low < 4 * kReadAheadEntries) {
                slice.resize(qsizetype(high - low + 1) * length);
                got = dbf->readRecords(low, high - low + 1, slice.data());
            }
            for (const CdxEntry& x : entries) {
                Position p;
                p.recno = x.recno;
                p.entry = x;
                if (x.recno >= low && x.recno - low < got) {
                    p.record = slice.mid(qsizetype(x.recno - low) * length, length);
                } else if (!readAt(x.recno, p)) {
                    continue;
                }
                if (visible(p.record.constData()) || liveStandIn(x.key, p))
                    readAhead.items.push_back(std::move(p));
            }
        }
        readAhead.anchor = CdxEntry();
    }

    std::optional<Position> priorVisible(const Position& from)
    {
        if (!tag())
            return from.recno > 1 ? scanRecords(from.recno - 1, -1) : std::nullopt;
        return scanTag(from.entry, false, false);
    }

    // Moves to `p` (or to no record) and tells the views.
    void moveTo(const std::optional<Position>& p)
    {
        const uint32_t old = pos.recno;
        if (p) {
            pos = *p;
        } else {
            pos = Position();
        }
        if (old != pos.recno)
            emit q->positionChanged();
        emit q->recordChanged();
    }

    void setState(State s)
    {
        if (state == s)
            return;
        state = s;
        emit q->stateChanged(s);
    }

    // ---- pending edits -----------------------------------------------------------------------

    bool changed() const
    {
        if (state == State::Insert)
            return touched;
        if (state == State::Edit)
            return !pendingMemos.empty() || buffer != pos.record;
        return false;
    }

    // Navigation, refresh and locate end a pending edit first: changes are written, an untouched
    // new record or an unchanged edit is dropped.
    void endPending()
    {
        if (state != State::Edit && state != State::Insert)
            return;
        if (changed())
            post();
        else
            cancel();
    }

    void dropEdit()
    {
        buffer.clear();
        pendingMemos.clear();
        touched = false;
    }

    void cancel()
    {
        if (state == State::Insert) {
            dropEdit();
            setState(State::Browse);
            moveTo(savedPos.recno ? std::optional<Position>(savedPos) : std::nullopt);
            savedPos = Position();
        } else if (state == State::Edit) {
            dropEdit();
            setState(State::Browse);
            emit q->recordChanged();
        }
    }

    // Writes the pending memos into the buffer's memo fields; the caller holds the header lock.
    void writeMemos()
    {
        for (const auto& [index, text] : pendingMemos) {
            const FieldDef& f = dbf->fields()[size_t(index)];
            QByteArray digits(f.width, ' ');
            if (!text.isEmpty()) {
                if (!fpt)
                    fail(QStringLiteral("the memo file is missing"));
                const QByteArray number = QByteArray::number(fpt->write(toCp1252(text)));
                digits.replace(f.width - number.size(), number.size(), number);
            }
            std::memcpy(buffer.data() + f.offset, digits.constData(), size_t(f.width));
        }
        pendingMemos.clear();
    }

    void post()
    {
        if (state == State::Insert)
            postNew();
        else if (state == State::Edit)
            postEdit();
    }

    void postNew()
    {
        dropReadAhead();
        buffer[0] = ' ';
        uint32_t recno = 0;
        {
            // The header lock serialises appends: the count is re-read under it, and the memo
            // file's next free block with it. The new record's index entries go in before the
            // header counts it and while the lock is held, so no handle can reach and change the
            // record before its entries are in place.
            RangeLock header(dbf->lockFd(), DbfFile::kLockBase, 1, dbf->fileName());
            writeMemos();
            // The record is written, indexed and counted under the index's write lock, marked as a
            // change under way (see CdxIndex): a writer stopped anywhere in between leaves the mark
            // and the next handle repairs. The count is published before the lock goes: a handle
            // that then looks for the next live record of a unique key finds this one too.
            std::optional<CdxIndex::Scope> scope;
            if (cdx && !tags.empty())
                scope.emplace(*cdx, true);
            recno = dbf->recordCount() + 1;
            dbf->writeNewRecord(recno, buffer.constData());
            try {
                indexNewRecord(recno, buffer.constData());
            } catch (...) {
                // The record is not counted, so the next append takes its number: its entries
                // must not stay behind.
                forgetNewRecord(recno, buffer.constData());
                dbf->dropNewRecord(recno);
                throw;
            }
            dbf->publishCount(recno);
        }
        Position p;
        p.recno = recno;
        p.record = buffer;
        setEntry(p);
        dropEdit();
        savedPos = Position();
        setState(State::Browse);
        emit q->tableChanged();
        moveTo(p);
    }

    void postEdit()
    {
        dropReadAhead();
        if (!changed()) {
            cancel();
            return;
        }
        const uint32_t recno = pos.recno;
        const int fd = dbf->lockFd();
        RangeLock recordLock(fd, DbfFile::recordLockOffset(recno), 1, dbf->fileName());
        // Keys are changed from what the file holds now, which another handle may have changed.
        QByteArray old(dbf->recordLength(), '\0');
        if (!dbf->readRecord(recno, old.data()))
            fail(QStringLiteral("record %1 is gone").arg(recno));
        if (old[0] == '*')
            fail(QStringLiteral("record %1 was deleted by another user").arg(recno));
        buffer[0] = ' ';
        if (!pendingMemos.empty()) {
            RangeLock header(fd, DbfFile::kLockBase, 1, dbf->fileName());
            writeMemos();
        }
        {
            std::optional<CdxIndex::Scope> scope; // the record and its keys as one marked change
            if (cdx && !tags.empty())
                scope.emplace(*cdx, true);
            dbf->writeRecord(recno, buffer.constData());
            indexChangedRecord(recno, old.constData(), buffer.constData());
        }

        pos.record = buffer;
        setEntry(pos);
        dropEdit();
        setState(State::Browse);
        emit q->recordChanged();
    }

    // ---- index maintenance --------------------------------------------------------------------

    bool isLive(uint32_t recno)
    {
        QByteArray record(dbf->recordLength(), '\0');
        return dbf->readRecord(recno, record.data()) && record[0] != '*';
    }

    // A unique tag holds, per key, the lowest-numbered record that is not deleted. An entry another
    // engine left for a deleted record gives way to that.
    void uniqueAdd(const TagInfo& info, const QByteArray& key, uint32_t recno)
    {
        CdxTag* t = info.tag;
        CdxEntry e;
        uint32_t target = recno;
        if (t->seek(key, 0, e) && e.key == key) {
            if (e.recno <= recno && isLive(e.recno))
                return;
            if (e.recno < recno) {
                if (const uint32_t r = firstLive(info, key, 0, recno))
                    target = r;
            }
            t->remove(key, e.recno);
        }
        t->insert(key, target);
    }

    // `recno` no longer has `key` (deleted, or its key changed; the file already says so): the
    // next live record with that key takes its place, also when the key's entry is a deleted
    // record another engine left.
    void uniqueRemove(const TagInfo& info, const QByteArray& key, uint32_t recno)
    {
        CdxEntry e;
        if (!info.tag->seek(key, 0, e) || e.key != key)
            return;
        if (e.recno != recno && isLive(e.recno))
            return;
        info.tag->remove(key, e.recno);
        if (const uint32_t r = firstLive(info, key, recno))
            info.tag->insert(key, r);
    }

    void indexNewRecord(uint32_t recno, const char* record)
    {
        if (tags.empty())
            return;
        CdxIndex::Scope scope(*cdx, true);
        for (const TagInfo& info : tags) {
            const QByteArray key = info.key.keyOf(record);
            if (info.tag->unique())
                uniqueAdd(info, key, recno);
            else
                info.tag->insert(key, recno);
        }
    }

    void forgetNewRecord(uint32_t recno, const char* record) noexcept
    {
        try {
            CdxIndex::Scope scope(*cdx, true);
            for (const TagInfo& info : tags)
                info.tag->remove(info.key.keyOf(record), recno);
        } catch (...) {
        }
    }

    void indexChangedRecord(uint32_t recno, const char* oldRecord, const char* newRecord)
    {
        if (tags.empty())
            return;
        CdxIndex::Scope scope(*cdx, true);
        for (const TagInfo& info : tags) {
            const QByteArray oldKey = info.key.keyOf(oldRecord);
            const QByteArray newKey = info.key.keyOf(newRecord);
            if (oldKey == newKey)
                continue;
            if (info.tag->unique()) {
                uniqueRemove(info, oldKey, recno);
                uniqueAdd(info, newKey, recno);
            } else {
                info.tag->remove(oldKey, recno);
                info.tag->insert(newKey, recno);
            }
        }
    }

    void indexDeletedRecord(uint32_t recno, const char* record)
    {
        if (tags.empty())
            return;
        CdxIndex::Scope scope(*cdx, true);
        for (const TagInfo& info : tags) {
            if (info.tag->unique())
                uniqueRemove(info, info.key.keyOf(record), recno);
            // plain tags keep deleted records, as a rebuild would
        }
    }

    void loadTags()
    {
        tags.clear();
        if (!cdx)
            return;
        for (CdxTag* t : cdx->tags()) {
            TagInfo info;
            info.tag = t;
            info.key = KeyExpression(t->expression(), dbf->fields(),
                QStringLiteral("Index file %1, tag %2").arg(cdx->path(), QString::fromLatin1(t->name())));
            if (info.key.keyLength() != t->keyLength())
                throw StoreError(
                    QStringLiteral("Index file %1, tag %2: key length %3 does not fit the expression \"%4\"")
                        .arg(cdx->path(), QString::fromLatin1(t->name()))
                        .arg(t->keyLength())
                        .arg(QString::fromLatin1(t->expression())));
            tags.push_back(std::move(info));
        }
    }

    int findTag(const QString& name) const
    {
        const QByteArray upper = name.trimmed().toUpper().toLatin1();
        for (size_t i = 0; i < tags.size(); ++i)
            if (tags[i].tag->name().toUpper() == upper)
                return int(i);
        return -1;
    }

    void applyFilter()
    {
        dropReadAhead();
        filterField = -1;
        filterValue.clear();
        if (!filter || !dbf)
            return;
        filterField = fieldIndex(QString::fromLatin1(filter->field));
        if (filterField < 0 || dbf->fields()[size_t(filterField)].type == 'M') {
            filterField = -1;
            fail(QStringLiteral("invalid filter \"%1\": no such character field").arg(filterText));
        }
        filterValue = toCp1252(filter->value);
        while (filterValue.endsWith(' '))
            filterValue.chop(1);
        const int width = dbf->fields()[size_t(filterField)].width;
        if (filterValue.size() > width)
            filterValue = QByteArray(width + 1, '\x01'); // longer than the field: matches nothing
    }

    // Keeps the current record when it is visible in the present order and filter, else goes to
    // the first visible one.
    void reposition()
    {
        dropReadAhead();
        if (pos.recno) {
            Position p;
            if (readAt(pos.recno, p) && visible(p.record.constData())) {
                setEntry(p);
                bool inOrder = true;
                if (TagInfo* t = tag(); t && t->tag->unique()) {
                    CdxEntry e;
                    inOrder = t->tag->seek(p.entry.key, p.entry.recno, e) && e.recno == p.entry.recno
                        && e.key == p.entry.key;
                }
                if (inOrder) {
                    pos = p;
                    emit q->recordChanged();
                    return;
                }
            }
        }
        const auto first = firstVisible();
        eof = bof = !first;
        moveTo(first);
    }
};

Table::Table(QObject* parent)
    : QObject(parent)
    , d(std::make_unique<Impl>(this))
{
}

Table::~Table()
{
    try {
        close();
    } catch (...) {
    }
}

void Table::setConnection(const Connection& connection)
{
    d->connection = connection;
}
Connection Table::connection() const
{
    return d->connection;
}
void Table::setTableName(const QString& fileName)
{
    d->tableName = fileName;
}
QString Table::tableName() const
{
    return d->tableName;
}
void Table::setExclusive(bool exclusive)
{
    d->exclusive = exclusive;
}
bool Table::exclusive() const
{
    return d->exclusive;
}
void Table::setIndexName(const QString& tag)
{
    d->indexName = tag;
}
QString Table::indexName() const
{
    return d->indexName;
}
bool Table::isOpen() const
{
    return d->dbf != nullptr;
}
Table::State Table::state() const
{
    return d->state;
}

void Table::open()
{
    if (d->dbf)
        return;
    // Each file is tried under the spelling at hand first (one system call when it matches),
    // then looked for without regard to case.
    const bool shared = !d->exclusive;
    Connection::checkFileName(d->tableName);
    auto dbf = DbfFile::openIfExists(d->connection.folder() + d->tableName, shared);
    if (!dbf) {
        const QString path = d->connection.existingPath(d->tableName);
        if (path.isEmpty())
            throw StoreError(
                QStringLiteral("Table %1 does not exist").arg(d->connection.folder() + d->tableName));
        dbf = std::make_unique<DbfFile>(path, shared);
    }
    const QString path = dbf->path();
    std::unique_ptr<FptFile> fpt;
    const QString base = baseNameOf(QFileInfo(path).fileName());
    if (dbf->hasMemo()) {
        fpt = FptFile::openIfExists(d->connection.folder() + base + QStringLiteral(".fpt"), shared);
        if (!fpt) {
            const QString memoPath = d->connection.existingPath(base + QStringLiteral(".fpt"));
            if (memoPath.isEmpty())
                throw StoreError(QStringLiteral("Table %1: the memo file %2.fpt is missing").arg(path, base));
            fpt = std::make_unique<FptFile>(memoPath, shared);
        }
    }
    QStringList notes;
    if (!dbf->settledAtOpen().isEmpty())
        notes << dbf->settledAtOpen();
    auto records = std::make_unique<TableRecords>(*dbf, d->notes);
    const auto indexAccess = shared ? CdxIndex::Access::Shared : CdxIndex::Access::Exclusive;
    std::unique_ptr<CdxIndex> cdx = CdxIndex::openIfExists(
        d->connection.folder() + base + QStringLiteral(".cdx"), indexAccess, records.get());
    if (!cdx) {
        const QString indexPath = d->connection.existingPath(base + QStringLiteral(".cdx"));
        if (!indexPath.isEmpty())
            cdx = CdxIndex::open(indexPath, indexAccess, records.get());
    }
    if (cdx) {
        const QString repaired = cdx->takeRepairNote();
        if (!repaired.isEmpty())
            notes << repaired;
        else if (dbf->adoptedAtOpen())
            cdx->rebuild(); // the adopted record's keys
    }

    d->notes << notes;
    d->dbf = std::move(dbf);
    d->fpt = std::move(fpt);
    d->records = std::move(records);
    d->cdx = std::move(cdx);
    try {
        d->loadTags();
        d->currentTag = -1;
        if (!d->indexName.isEmpty()) {
            d->currentTag = d->findTag(d->indexName);
            if (d->currentTag < 0)
                d->fail(QStringLiteral("no index tag \"%1\"").arg(d->indexName));
        }
        d->applyFilter();
    } catch (...) {
        d->tags.clear();
        d->cdx.reset();
        d->records.reset();
        d->fpt.reset();
        d->dbf.reset();
        throw;
    }
    d->state = State::Browse;
    d->pos = Position();
    d->firstPending = true;
    emit stateChanged(d->state);
    emit tableChanged();
    emit positionChanged();
    emit recordChanged();
}

void Table::close()
{
    d->dropReadAhead();
    if (!d->dbf)
        return;
    // A pending change is posted and cached data written out; a failure of either is reported
    // after the handle is closed all the same.
    std::exception_ptr failure;
    try {
        if (d->changed())
            d->post();
    } catch (...) {
        failure = std::current_exception();
    }
    try {
        if (d->cdx)
            d->cdx->flush();
        if (d->fpt)
            d->fpt->flush();
        d->dbf->flush();
    } catch (...) {
        if (!failure)
            failure = std::current_exception();
    }
    d->firstPending = false;
    d->dropEdit();
    d->tags.clear();
    d->currentTag = -1;
    d->cdx.reset();
    d->records.reset();
    d->fpt.reset();
    d->dbf.reset();
    d->pos = Position();
    d->savedPos = Position();
    d->eof = d->bof = true;
    d->setState(State::Inactive);
    emit positionChanged();
    emit tableChanged();
    if (failure)
        std::rethrow_exception(failure);
}

void Table::selectTag(const QString& tag)
{
    d->dropReadAhead();
    d->settle();
    d->requireOpen();
    d->endPending();
    int index = -1;
    if (!tag.trimmed().isEmpty()) {
        index = d->findTag(tag);
        if (index < 0)
            d->fail(QStringLiteral("no index tag \"%1\"").arg(tag));
    }
    d->currentTag = index;
    d->indexName = tag;
    d->reposition();
    emit tableChanged();
}

QStringList Table::tagNames() const
{
    QStringList names;
    for (const TagInfo& info : d->tags)
        names << QString::fromLatin1(info.tag->name()).toUpper();
    return names;
}

void Table::addTag(const QString& indexFile, const QString& tag, const QString& expression, bool unique)
{
    addTags(indexFile, { TagDefinition { tag, expression, unique } });
}

void Table::addTags(const QString& indexFile, const std::vector<TagDefinition>& definitions)
{
    d->dropReadAhead();
    d->settle();
    d->requireOpen();
    if (!d->exclusive)
        d->fail(QStringLiteral("index tags can only be created on a table opened for exclusive use"));
    d->endPending();
    const QString base = baseNameOf(QFileInfo(d->dbf->path()).fileName());
    QString given = indexFile.trimmed();
    if (given.endsWith(QStringLiteral(".cdx"), Qt::CaseInsensitive))
        given.chop(4);
    if (given.compare(base, Qt::CaseInsensitive) != 0)
        d->fail(QStringLiteral("index file \"%1\" is not the table's structural index").arg(indexFile));
    std::vector<CdxTagSpec> specs;
    for (const TagDefinition& t : definitions) {
        const QByteArray name = t.name.trimmed().toUpper().toLatin1();
        if (name.isEmpty() || name.size() > 10)
            d->fail(QStringLiteral("invalid tag name \"%1\"").arg(t.name));
        const QByteArray expr = t.expression.trimmed().toLatin1();
        const KeyExpression key(
            expr, d->dbf->fields(), QStringLiteral("Table %1, tag %2").arg(d->dbf->path(), t.name));
        specs.push_back({ name, expr, key.keyLength(), t.unique });
    }

    const QString selected
        = d->currentTag >= 0 ? QString::fromLatin1(d->tags[size_t(d->currentTag)].tag->name()) : QString();
    if (!d->cdx) {
        d->cdx = CdxIndex::create(d->connection.folder() + base + QStringLiteral(".cdx"),
            CdxIndex::Access::Exclusive, d->records.get());
        d->tags.clear();
    }
    d->dbf->setStructuralIndexFlag(true);
    d->cdx->addTags(specs, *d->records);
    d->cdx->flush();
    d->loadTags();
    d->currentTag = selected.isEmpty() ? -1 : d->findTag(selected);
    d->setEntry(d->pos);
    emit tableChanged();
}

QStringList Table::takeRepairNotes()
{
    if (d->cdx) {
        const QString note = d->cdx->takeRepairNote();
        if (!note.isEmpty())
            d->notes << note;
    }
    return std::exchange(d->notes, QStringList());
}

void Table::first()
{
    d->requireOpen();
    d->firstPending = false;
    d->endPending();
    const auto p = d->firstVisible();
    d->eof = d->bof = !p;
    d->moveTo(p);
}

void Table::last()
{
    d->requireOpen();
    d->firstPending = false;
    d->endPending();
    const auto p = d->lastVisible();
    d->eof = d->bof = !p;
    d->moveTo(p);
}

void Table::next()
{
    d->settle();
    d->requireOpen();
    d->endPending();
    if (!d->pos.recno) {
        d->eof = true;
        return;
    }
    const auto p = d->nextVisible(d->pos);
    if (!p) {
        d->eof = true;
        return;
    }
    d->eof = d->bof = false;
    d->moveTo(p);
}

void Table::prior()
{
    d->settle();
    d->requireOpen();
    d->endPending();
    if (!d->pos.recno) {
        d->bof = true;
        return;
    }
    const auto p = d->priorVisible(d->pos);
    if (!p) {
        d->bof = true;
        return;
    }
    d->eof = d->bof = false;
    d->moveTo(p);
}

bool Table::eof() const
{
    d->settle();
    return d->eof;
}

bool Table::bof() const
{
    d->settle();
    return d->bof;
}

bool Table::isEmpty()
{
    d->settle();
    d->requireOpen();
    if (d->pos.recno) {
        Position p;
        if (d->readAt(d->pos.recno, p) && d->visible(p.record.constData()))
            return false;
    }
    return !d->firstVisible().has_value();
}

uint32_t Table::recNo() const
{
    d->settle();
    return d->state == State::Insert ? 0 : d->pos.recno;
}

uint32_t Table::recordCount()
{
    d->requireOpen();
    return d->dbf->recordCount();
}

uint32_t Table::entryCount()
{
    d->requireOpen();
    if (TagInfo* t = d->tag())
        return uint32_t(t->tag->count());
    return d->dbf->recordCount();
}

uint32_t Table::entryNumber()
{
    d->settle();
    d->requireOpen();
    if (!d->pos.recno || d->state == State::Insert)
        return entryCount();
    TagInfo* t = d->tag();
    if (!t)
        return d->pos.recno - 1;
    if (d->pos.entry.recno != d->pos.recno)
        d->setEntry(d->pos);
    return uint32_t(t->tag->numberOf(d->pos.entry.key, d->pos.entry.recno));
}

uint32_t Table::entryNumberOf(uint32_t recno)
{
    d->requireOpen();
    Position p;
    if (recno == 0 || recno > d->dbf->recordCount() || !d->readAt(recno, p))
        return entryCount();
    TagInfo* t = d->tag();
    if (!t)
        return recno - 1;
    d->setEntry(p);
    return uint32_t(t->tag->numberOf(p.entry.key, p.entry.recno));
}

bool Table::goToEntry(uint32_t number)
{
    d->settle();
    d->requireOpen();
    d->endPending();
    d->dropReadAhead(); // a jump starts a fresh walk: no batch read before it is used after it
    Position p;
    if (TagInfo* t = d->tag()) {
        CdxEntry e;
        if (!t->tag->entryAt(number, e) || !d->readAt(e.recno, p))
            return false;
        if (!d->visible(p.record.constData()) && !d->liveStandIn(e.key, p))
            return false;
        p.entry = e;
    } else if (number >= d->dbf->recordCount() || !d->readAt(number + 1, p)
        || !d->visible(p.record.constData())) {
        return false;
    }
    d->eof = d->bof = false;
    d->moveTo(p);
    return true;
}

void Table::refresh()
{
    d->dropReadAhead();
    d->settle();
    d->requireOpen();
    d->endPending();
    if (d->pos.recno) {
        Position p;
        if (d->readAt(d->pos.recno, p) && d->visible(p.record.constData())) {
            d->setEntry(p);
            d->pos = p;
            emit tableChanged();
            emit recordChanged();
            return;
        }
        // The current record went away: the next visible one takes its place.
        auto next = d->nextVisible(d->pos);
        if (!next)
            next = d->priorVisible(d->pos);
        d->eof = d->bof = !next;
        emit tableChanged();
        d->moveTo(next);
        return;
    }
    const auto first = d->firstVisible();
    d->eof = d->bof = !first;
    emit tableChanged();
    d->moveTo(first);
}

bool Table::locate(const QString& field, const QString& value)
{
    d->settle();
    d->requireOpen();
    d->endPending();
    const FieldDef& f = d->fieldFor(field);
    QByteArray wanted = toCp1252(value);
    while (wanted.endsWith(' '))
        wanted.chop(1);
    if (wanted.size() > f.width)
        return false;
    const auto matches = [&](const Position& p) {
        const char* v = p.record.constData() + f.offset;
        int len = f.width;
        while (len > 0 && v[len - 1] == ' ')
            --len;
        return len == wanted.size() && std::memcmp(v, wanted.constData(), size_t(len)) == 0;
    };

    std::optional<Position> found;
    TagInfo* t = d->tag();
    const int index = d->fieldIndex(field);
    if (t && t->key.fieldIndexes().size() == 1 && t->key.fieldIndexes()[0] == index) {
        // The selected tag is keyed on this field: seek instead of reading the table.
        QByteArray key = wanted.leftJustified(f.width, ' ');
        CdxEntry e;
        if (t->tag->seek(key, 0, e) && e.key == key) {
            auto p = d->scanTag(e, true, true);
            if (p && p->entry.key == key && matches(*p))
                found = p;
        }
    } else {
        for (auto p = d->firstVisible(); p; p = d->nextVisible(*p)) {
            if (matches(*p)) {
                found = p;
                break;
            }
        }
    }
    if (!found)
        return false;
    d->eof = d->bof = false;
    d->moveTo(found);
    return true;
}

bool Table::seek(const QByteArray& key)
{
    d->requireOpen();
    d->firstPending = false;
    d->endPending();
    TagInfo* t = d->tag();
    if (!t)
        d->fail(QStringLiteral("seek needs a selected index tag"));
    const int length = t->key.keyLength();
    const QByteArray padded = key.size() >= length ? key.left(length) : key.leftJustified(length, ' ');
    CdxEntry e;
    std::optional<Position> p;
    {
        if (t->tag->seek(padded, 0, e))
            p = d->scanTag(e, true, true);
    }
    if (!p) {
        d->eof = true;
        d->bof = false;
        return false;
    }
    d->eof = d->bof = false;
    d->moveTo(p);
    return key.size() <= length && p->entry.key == padded;
}

void Table::append()
{
    d->settle();
    d->requireOpen();
    d->endPending();
    d->savedPos = d->pos;
    d->buffer = d->blankRecord();
    d->touched = false;
    d->pendingMemos.clear();
    d->setState(State::Insert);
    emit recordChanged();
}

void Table::insert()
{
    append();
}

void Table::edit()
{
    d->settle();
    d->requireOpen();
    if (d->state == State::Edit || d->state == State::Insert)
        return;
    if (!d->pos.recno)
        throw StoreError(kEmptyDataset);
    // Edit what the file holds now.
    Position p;
    if (!d->readAt(d->pos.recno, p) || p.record[0] == '*')
        d->fail(QStringLiteral("record %1 was deleted by another user").arg(d->pos.recno));
    d->setEntry(p);
    d->pos = p;
    d->buffer = p.record;
    d->touched = false;
    d->pendingMemos.clear();
    d->setState(State::Edit);
}

void Table::post()
{
    if (!d->dbf)
        return;
    d->post();
}

void Table::cancel()
{
    if (!d->dbf)
        return;
    d->cancel();
}

void Table::deleteRecord()
{
    d->dropReadAhead();
    d->settle();
    d->requireOpen();
    if (d->state == State::Insert) {
        d->cancel();
        return;
    }
    if (d->state == State::Edit)
        d->cancel();
    if (!d->pos.recno)
        throw StoreError(kEmptyDataset);
    const uint32_t recno = d->pos.recno;
    {
        RangeLock recordLock(d->dbf->lockFd(), DbfFile::recordLockOffset(recno), 1, d->dbf->fileName());
        QByteArray record(d->dbf->recordLength(), '\0');
        std::optional<CdxIndex::Scope> scope; // the mark and the keys as one marked change
        if (d->cdx && !d->tags.empty())
            scope.emplace(*d->cdx, true);
        if (d->dbf->readRecord(recno, record.data()) && record[0] != '*') {
            d->dbf->writeDeletionFlag(recno, '*');
            d->indexDeletedRecord(recno, record.constData());
        }
    }
    auto next = d->nextVisible(d->pos);
    if (!next)
        next = d->priorVisible(d->pos);
    d->eof = d->bof = !next;
    emit tableChanged();
    d->moveTo(next);
}

bool Table::isDeleted() const
{
    d->settle();
    const QByteArray* img = d->image();
    return img && !img->isEmpty() && img->at(0) == '*';
}

QString Table::fieldText(const QString& field) const
{
    d->settle();
    const FieldDef& f = d->fieldFor(field);
    const QByteArray* img = d->image();
    if (!img)
        return {};
    if (f.type == 'M') {
        const int index = d->fieldIndex(field);
        if (const auto it = d->pendingMemos.find(index); it != d->pendingMemos.end())
            return it->second;
        return d->readMemo(img->constData() + f.offset, f.width);
    }
    if (f.type == 'L') {
        const std::optional<bool> value = logicalValue(img->at(f.offset));
        return !value ? QString() : *value ? QStringLiteral("T") : QStringLiteral("F");
    }
    const char* v = img->constData() + f.offset;
    int len = f.width;
    while (len > 0 && v[len - 1] == ' ')
        --len;
    int start = 0;
    if (f.type == 'N') {
        while (start < len && v[start] == ' ')
            ++start;
    }
    return fromCp1252(v + start, len - start);
}

void Table::setFieldText(const QString& field, const QString& text)
{
    const FieldDef& f = d->fieldFor(field);
    if (f.type == 'M') {
        d->writableBuffer();
        d->pendingMemos[d->fieldIndex(field)] = text;
        emit recordChanged();
        return;
    }
    if (f.type == 'N') {
        const QString trimmed = text.trimmed();
        if (trimmed.isEmpty()) {
            std::memset(d->writableBuffer().data() + f.offset, ' ', size_t(f.width));
            emit recordChanged();
            return;
        }
        bool ok = false;
        const int value = trimmed.toInt(&ok);
        if (!ok)
            d->fail(
                QStringLiteral("\"%1\" is not a number for field %2").arg(text, QString::fromLatin1(f.name)));
        setFieldInt(field, value);
        return;
    }
    if (f.type == 'L') {
        const QString trimmed = text.trimmed();
        const std::optional<bool> value
            = trimmed.size() == 1 ? logicalValue(trimmed[0].toLatin1()) : std::optional<bool>();
        if (trimmed.size() > 1 || (!trimmed.isEmpty() && trimmed != QLatin1String("?") && !value))
            d->fail(QStringLiteral("\"%1\" is not a logical value for field %2 (T, F, Y, N or blank)")
                        .arg(text, QString::fromLatin1(f.name)));
        d->writableBuffer()[f.offset] = !value ? ' ' : *value ? 'T' : 'F';
        emit recordChanged();
        return;
    }
    const QByteArray bytes = toCp1252(text).left(f.width).leftJustified(f.width, ' ');
    std::memcpy(d->writableBuffer().data() + f.offset, bytes.constData(), size_t(f.width));
    emit recordChanged();
}

int Table::fieldInt(const QString& field) const
{
    d->settle();
    const FieldDef& f = d->fieldFor(field);
    const QString text = fieldText(field).trimmed();
    if (text.isEmpty())
        return 0;
    bool ok = false;
    const int value = f.decimals > 0 ? int(text.toDouble(&ok)) : text.toInt(&ok);
    if (!ok)
        d->fail(QStringLiteral("field %1 holds \"%2\", not a number").arg(QString::fromLatin1(f.name), text));
    return value;
}

void Table::setFieldInt(const QString& field, int value)
{
    const FieldDef& f = d->fieldFor(field);
    if (f.type != 'N' && f.type != 'C')
        d->fail(QStringLiteral("field %1 does not hold numbers").arg(QString::fromLatin1(f.name)));
    QByteArray digits = QByteArray::number(value);
    if (f.type == 'N' && f.decimals > 0)
        digits += '.' + QByteArray(f.decimals, '0');
    if (digits.size() > f.width)
        d->fail(QStringLiteral("%1 does not fit field %2 (width %3)")
                    .arg(value)
                    .arg(QString::fromLatin1(f.name))
                    .arg(f.width));
    const QByteArray bytes
        = f.type == 'N' ? digits.rightJustified(f.width, ' ') : digits.leftJustified(f.width, ' ');
    std::memcpy(d->writableBuffer().data() + f.offset, bytes.constData(), size_t(f.width));
    emit recordChanged();
}

bool Table::fieldBool(const QString& field) const
{
    d->settle();
    const FieldDef& f = d->fieldFor(field);
    if (f.type != 'L')
        d->fail(QStringLiteral("field %1 is not a logical field").arg(QString::fromLatin1(f.name)));
    const QByteArray* img = d->image();
    return img && logicalValue(img->at(f.offset)).value_or(false);
}

void Table::setFieldBool(const QString& field, bool value)
{
    const FieldDef& f = d->fieldFor(field);
    if (f.type != 'L')
        d->fail(QStringLiteral("field %1 is not a logical field").arg(QString::fromLatin1(f.name)));
    d->writableBuffer()[f.offset] = value ? 'T' : 'F';
    emit recordChanged();
}

void Table::setMemoLines(const QString& field, const QStringList& lines)
{
    setFieldText(field, lines.join(QStringLiteral("\r\n")));
}

const std::vector<FieldDef>& Table::fields() const
{
    static const std::vector<FieldDef> none;
    return d->dbf ? d->dbf->fields() : none;
}

bool Table::hasField(const QString& field) const
{
    return d->fieldIndex(field) >= 0;
}

void Table::setFilter(const QString& expression)
{
    d->settle();
    if (d->dbf)
        d->endPending();
    std::optional<FilterExpression> parsed;
    if (!expression.trimmed().isEmpty())
        parsed = FilterExpression::parse(expression);
    const auto oldFilter = d->filter;
    const QString oldText = d->filterText;
    d->filter = parsed;
    d->filterText = parsed ? expression : QString();
    try {
        d->applyFilter();
    } catch (...) {
        d->filter = oldFilter;
        d->filterText = oldText;
        d->applyFilter();
        throw;
    }
    if (d->dbf) {
        d->reposition();
        emit tableChanged();
    }
}

QString Table::filter() const
{
    return d->filterText;
}

QString Table::equalsFilter(const QString& field, const QString& value)
{
    return FilterExpression::build(field, value);
}

} // namespace store

#include "moc_table.cpp"
