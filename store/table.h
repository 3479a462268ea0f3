#pragma once

#include "store/connection.h"
#include "store/fielddef.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <vector>

namespace store {

// A table handle: an open DBF table with its memo file and its structural compound index (same
// base name, ".cdx"), a current record, an edit buffer and, optionally, a selected tag and a filter.
//
// Shared handles (the default) lock with fcntl byte-range locks, so several handles and processes
// can work on one table: appends never lose or overwrite a record, index changes are made under the
// index's lock. Exclusive handles lock nothing and may cache.
//
// A writer killed at any instant (no fsync is asked for) loses at most the one change under way,
// never leaves it half there: a record past the count is adopted or dropped when the table is next
// opened (DbfFile::settleTail), and every change of an indexed table (record and keys) is made
// under the index's write lock with the index marked, so that whichever handle next locks it, in
// any process, finds the mark of a writer that stopped and rebuilds the tags from the records
// before it reads (CdxIndex). Exclusive handles gather appends in memory: what they have not
// written out by close() is lost with them.
//
// Deleted records are hidden from every reader; records are never packed. Every failing operation
// throws StoreError with a text that names the file.
//
// Pending edits: after append()/insert() or edit(), field writes go to an edit buffer. post()
// writes it. Navigation, refresh() and locate() first end a pending edit: a changed record is
// written (as post()), an untouched new record or an unchanged edit is dropped.
//
// Several windows bound to one handle stay in step through the signals below.
class Table : public QObject {
    Q_OBJECT

public:
    enum class State { Inactive, Browse, Edit, Insert };

    explicit Table(QObject* parent = nullptr);
    ~Table() override;

    // Binding, used while the handle is closed.
    void setConnection(const Connection& connection);
    Connection connection() const;
    void setTableName(const QString& fileName); // e.g. "BUSERS.DBF"; matched without regard to case
    QString tableName() const;
    void setExclusive(bool exclusive);
    bool exclusive() const;
    // The tag selected when the handle opens ("" = record order). Case-insensitive.
    void setIndexName(const QString& tag);
    QString indexName() const;

    void open();
    void close(); // posts a pending change first; never throws on an already closed handle
    bool isOpen() const;
    State state() const;

    // Selects a tag of the structural index by name ("" = record order) on an open handle; the
    // current record stays current when it is visible in the new order.
    void selectTag(const QString& tag);
    // Tags of the structural index in creation order (upper case).
    QStringList tagNames() const;
    // Creates a tag in the structural index (created when missing), built from the records present
    // and kept current from then on. The handle must be open for exclusive use. `indexFile` is the
    // index file name given by the caller ("Busers"); it is matched to the table's structural index
    // without regard to case, and any other name is refused.
    void addTag(const QString& indexFile, const QString& tag, const QString& expression, bool unique);
    // Several tags at once, built in one pass over the records (faster than one addTag() a tag).
    struct TagDefinition {
        QString name;
        QString expression;
        bool unique = false;
    };
    void addTags(const QString& indexFile, const std::vector<TagDefinition>& tags);
    // What opening or using the handle found and repaired (a writer that stopped half-way, a
    // damaged memo header), each said once; empty when nothing.
    QStringList takeRepairNotes();

    // Navigation over the visible records (not deleted, passing the filter) in the selected order.
    void first();
    void next();
    void prior();
    void last();
    bool eof() const; // true after next() past the last record, or on an empty table
    bool bof() const; // true after prior() before the first record, or on an empty table
    bool isEmpty();   // no visible record
    // Record number of the current record (1-based), 0 when there is none.
    uint32_t recNo() const;
    // Number of records in the file, deleted ones included.
    uint32_t recordCount();

    // Entries by number, for views that show a part of a large table: the entries of the selected
    // order numbered from 0 (in record order, the record number minus one). Deleted records and
    // records the filter hides keep their numbers; a view learns that an entry is not shown when
    // goToEntry() refuses it. Counting and numbering in a tag walk its leaf pages' headers once
    // after each change of the index, not the records.
    uint32_t entryCount();
    // The number of the current record's entry; entryCount() when there is no current record.
    uint32_t entryNumber();
    // The number of record `recno`'s entry (read from the file); entryCount() when there is no
    // such record.
    uint32_t entryNumberOf(uint32_t recno);
    // Makes the record of entry `number` current (ending a pending edit, as any move) and returns
    // true when it is visible; returns false, the position unchanged, when it is not or there is
    // no such entry.
    bool goToEntry(uint32_t number);

    // Re-reads the table (other handles or processes may have changed it); keeps the current record
    // when it is still visible, else moves to the next visible one.
    void refresh();

    // Finds the first visible record, in the selected order, whose field equals `value` exactly
    // (case-sensitive, compared without trailing blanks). Makes it current and returns true; returns
    // false and leaves the position unchanged when there is none.
    bool locate(const QString& field, const QString& value);

    // Finds the first visible record whose key in the selected tag is at or after `key` (blank-padded
    // to the key length; Windows-1252). Returns whether the key found equals `key` exactly; at the end
    // of the table eof() is true.
    bool seek(const QByteArray& key);

    void append(); // a new blank record, current, in Insert state
    void insert(); // the same as append(): xBase tables add records at the end
    void edit();   // Edit state on the current record; throws on an empty table
    void post();   // writes the record being edited or appended; does nothing in Browse state
    void cancel(); // drops the pending change or new record
    // Deletes the current record (it disappears from every reader); the next visible record becomes
    // current. On a table with no visible record: "Cannot perform this operation on an empty dataset".
    void deleteRecord();
    bool isDeleted() const; // the current record carries the deletion mark (never, while navigating)

    // Field access by name, without regard to case. Character fields read without trailing blanks;
    // text is stored as Windows-1252, cut to the field width. Numeric fields read and write as
    // integers. Memo fields read and write as text (lines joined with CR LF). Logical fields hold
    // one byte, written 'T' or 'F'; T, t, Y, y read true, F, f, N, n false, and a blank or '?' (not
    // set) false; as text they read "T", "F" or "" (not set) and take any of those letters, "?" or
    // blank.
    QString fieldText(const QString& field) const;
    void setFieldText(const QString& field, const QString& text);
    int fieldInt(const QString& field) const;
    void setFieldInt(const QString& field, int value);
    bool fieldBool(const QString& field) const; // logical fields only
    void setFieldBool(const QString& field, bool value);
    void setMemoLines(const QString& field, const QStringList& lines);
    const std::vector<FieldDef>& fields() const;
    bool hasField(const QString& field) const;

    // An xBase filter expression: FIELD = "value" (also 'value' or [value]); only matching records
    // are visible. An empty text clears it. A malformed expression throws StoreError.
    void setFilter(const QString& expression);
    QString filter() const;
    // Builds FIELD = "value" with a delimiter the value does not contain, so any value is safe.
    static QString equalsFilter(const QString& field, const QString& value);

signals:
    // The current record moved to another record (or to none).
    void positionChanged();
    // Field values of the current record changed (edit buffer written, or record re-read).
    void recordChanged();
    // Records were added, deleted or re-read, or the order or filter changed: re-read the view.
    void tableChanged();
    void stateChanged(State state);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace store
