#pragma once

#include "store/memfielddef.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <memory>
#include <vector>

namespace store {

// An in-memory table: rows in insertion order, each a fixed-size byte image (one slot per field with
// a presence byte, then 12 bytes of cursor bookkeeping), a current row and an edit buffer, and a file
// form ("[INFO]" / "[FIELD]" / "[INDEX]" / "[DATA]" / "[BLOB]") that saveToFile() writes and
// loadFromFile() reads back.
//
// Pending edits: after append() or edit(), field writes go to an edit buffer; post() stores it
// (append adds the row at the end). Navigation and saveToFile() first end a pending edit: a changed
// buffer is posted, an unchanged one is dropped. Text is held as Windows-1252 bytes, cut to the
// field's size in characters.
//
// Failing operations throw StoreError. The signals follow the shape of a Qt item model, so that a
// grid model can follow the rows without resetting on every change.
class TMemTable : public QObject {
    Q_OBJECT

public:
    enum class State { Inactive, Browse, Edit, Insert };

    // Bytes of cursor bookkeeping that end every row image.
    static constexpr int BookkeepingSize = 12;

    explicit TMemTable(QObject* parent = nullptr);
    ~TMemTable() override;

    // Definitions, set while the table is closed. Each item is "Name;type;size;required"; a missing
    // type reads as 1 (text), a missing size as 1, required is "1" or not. Replaces the current
    // definitions; throws StoreError (and keeps the old ones) on a refused item.
    void setFieldDefinitions(const QStringList& items);
    QStringList fieldDefinitions() const; // the items, in definition order
    const std::vector<MemFieldDef>& fields() const;
    int fieldIndex(const QString& name) const; // without regard to case; -1 when there is none
    bool hasField(const QString& name) const;
    void setIndexDefinitions(const QList<MemIndexDef>& indexes);
    QList<MemIndexDef> indexDefinitions() const;
    // Size of one row image: the slots plus the bookkeeping bytes.
    int rowSize() const;

    // open() makes an empty table with the definitions (at least one field); close() drops the rows
    // and any pending edit. Neither does anything when the table is already in that state.
    void open();
    void close();
    bool isOpen() const;
    State state() const;

    // Number of stored rows (a row being appended counts once it is posted).
    int rowCount() const;
    bool isEmpty() const;

    void first();
    void next();
    void prior();
    void last();
    bool eof() const; // after next() past the last row, or on an empty table
    bool bof() const; // after prior() before the first row, or on an empty table
    // The current row, 0-based; -1 when the table is empty or closed.
    int currentRow() const;
    // Makes `row` current (ends a pending edit first); out-of-range rows are refused.
    void setCurrentRow(int row);

    void append(); // a new blank row in the edit buffer, Insert state
    void edit(); // Edit state on the current row; refused on an empty table
    void post(); // stores the edit buffer; does nothing in Browse state
    void cancel(); // drops the edit buffer
    // Removes the current row; the following row becomes current (the new last row when the last one
    // went). On an empty table: "Cannot perform this operation on an empty dataset".
    void deleteRow();
    bool isModified() const; // the edit buffer was written to

    // Field access by name without regard to case. An unset field reads as "", 0 or false. Writes are
    // allowed in Edit and Insert state only. Text fields keep at most `size` characters.
    QString fieldText(const QString& field) const;
    int fieldInt(const QString& field) const;
    bool fieldBool(const QString& field) const;
    bool isNull(const QString& field) const;
    void setFieldText(const QString& field, const QString& text);
    void setFieldInt(const QString& field, int value);
    void setFieldBool(const QString& field, bool value);
    void clearField(const QString& field);

    // A stored row's value without moving the current row: QString for text and blob-like fields,
    // int for the integer types, bool, double for float and currency, the raw slot bytes otherwise;
    // an invalid QVariant when the field is unset.
    QVariant value(int row, int field) const;
    // The stored image of a row (slots and bookkeeping), as the file holds it.
    QByteArray rowImage(int row) const;
    // Appends a row given whole as its image (rowImage() of a table of this layout), without an
    // edit; the table must have no blob-like fields.
    void appendImage(const QByteArray& image);

    // Reads a table file. The table must be closed ("Cannot perform this operation on an open
    // dataset"). At the file's data section the definitions read from the file replace the table's
    // own and the table opens with them; the file's field order decides the row layout.
    //
    // A malformed file (unreadable, bad version, refused field, truncated rows or blobs, bytes that
    // are neither rows nor the blob section) throws StoreError with the reason; the complete rows
    // that came before the fault stay loaded and the table stays open when the data section was
    // reached (closed otherwise). A caller that saves the table later should keep the original file
    // first, since the rows after the fault are not in the table.
    void loadFromFile(const QString& path);
    // The same reading from bytes in memory; `name` is used in error texts.
    void loadFromBytes(const QByteArray& bytes, const QString& name);
    // Writes the table file atomically (a temporary file renamed over the old one). The table must be
    // open; a pending edit is posted first (an unchanged one is dropped).
    void saveToFile(const QString& path);
    QByteArray saveToBytes();

signals:
    // Shaped after QAbstractItemModel's notifications, sent before and after the change.
    void rowsAboutToBeInserted(int first, int last);
    void rowsInserted(int first, int last);
    void rowsAboutToBeRemoved(int first, int last);
    void rowsRemoved(int first, int last);
    void aboutToReset(); // open, close, load: every row may change
    void reset();
    void rowChanged(int row); // a stored row's values changed (an edit was posted)
    void currentRowChanged(int row);
    void stateChanged(store::TMemTable::State state);

public:
    struct Impl; // internal, shared by the table's source files

private:
    std::unique_ptr<Impl> d;
};

} // namespace store
