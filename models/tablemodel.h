#pragma once

#include <QAbstractTableModel>
#include <QHash>
#include <QSet>
#include <QStringList>

#include <functional>
#include <memory>
#include <set>
#include <utility>
#include <vector>

namespace store {
class Table;
}

namespace models {

// Opens `reader` as a second handle on the file of `table`, in its order and filter: a window reads
// the rows through it in one pass, and the shared handle neither moves nor ends its pending edit.
void openReaderOn(store::Table& reader, const store::Table& table);

// A view's rows over a shared table handle: one row per visible record in the handle's order, one
// column per field given. Rows are read when the view asks for them, a block of entries at a
// time, through a second handle on the same file (so reading never moves the shared handle or ends
// its pending edit); a table of a million records opens as fast as one of ten. The row count comes
// from the order's entry count, which includes deleted records: once the event loop is free after a
// block found some, the rows from the first of them on show the records that follow and as many
// rows go from the end (the scroll bar shrinks by as much; the current row follows its record). A
// small table is read whole at once, so that its rows are exact from the start. The model follows the handle's
// signals: a move changes the current row, a record change repaints its row, a table change reads
// the rows again. A record being appended shows as a last row of its own until it is posted or
// dropped. The current row is always up to date; the signals that report it (the row marker,
// currentRowChanged) come once the event loop is free, so a walk of thousands of records by another
// window costs one report, not thousands.
//
// Editing a cell puts the shared handle's current record in edit state and writes the field; the
// change is posted when the view submits it (Enter in the cell editor, or the editor closed by a
// move to another row), or by whoever posts the handle (its post(), or any later move). A record
// being appended is not written by a submit: its other fields may still be blank, and it is
// written when the operator saves it or leaves it. A value the table
// refuses (a word or too many digits for a number field) leaves the cell as it was: setData()
// returns false and storeError() carries the store's message. No store error leaves the model, as
// one unwinding through the view's own frames would end the program: a table that cannot be read
// shows no rows and says why, and rows that cannot be read stay empty, said once until the rows
// are read again.
//
// Computed columns follow the fields' columns: their cells show what a function makes of the record
// a row shows (by its record number), such as another table's word on it; they are read-only and
// never touch the table. A value is asked for only when a row is shown, once per record, and
// asked for again after computedColumnsChanged() or when the rows are read again.
class TableModel : public QAbstractTableModel {
    Q_OBJECT

public:
    TableModel(store::Table& table, const QStringList& fields, QObject* parent = nullptr);
    ~TableModel() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // Posts the shared handle's record being edited, once the event loop is free; a refusal is
    // reported by storeError(), the edit then still pending.
    bool submit() override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // The header of a field's column under FieldNameRole is its field name, whatever its title.
    static constexpr int FieldNameRole = Qt::UserRole + 1;
    // Sets a column title (the field name by default), the words the column's heading shows.
    void setColumnTitle(int column, const QString& title);
    // Sets the titles of the first columns, in order.
    void setColumnTitles(const QStringList& titles);
    // The column's cells can be read but not edited in place.
    void setColumnReadOnly(int column);
    // The column (a logical field) shows a check box instead of its letter; ticking it writes T or F
    // and posts the record as a submitted edit does, once the event loop is free.
    void setColumnCheckable(int column);
    // Rows only for the entries of the handle's tag whose key is at or after `from` and before `to`
    // (keys compare as the tag compares them: bytes of the Windows-1252 text, each field blank-padded
    // to its width; a null `to`: to the last entry); no rows when `to` is not after `from`. The rows
    // are read again. A grid of one carrier's paths is keyRange(its padded name) of a tag that begins
    // with the name. The handle itself is not limited: its moves outside the range have no row.
    void setKeyRange(const QByteArray& from, const QByteArray& to);
    // Every entry of the order a row again (the default).
    void clearKeyRange();
    // The range of the keys that begin with `prefix`, for setKeyRange().
    static std::pair<QByteArray, QByteArray> keyRange(const QByteArray& prefix);
    // A computed column's value for the record of a record number.
    using ComputedValue = std::function<QString(uint32_t recNo)>;
    // Adds a computed column after the columns there are; returns its number. A store error the
    // function throws leaves the cell empty and is reported by storeError() (once, as a read
    // failure is).
    int addComputedColumn(const QString& title, ComputedValue value);
    // What the computed columns show may have changed: the values of the rows shown are asked for
    // again, the others when they are shown.
    void computedColumnsChanged();
    // The row of the shared handle's current record, -1 when there is none.
    int currentRow() const;
    // Moves the shared handle to the record shown in `row` (ending its pending edit, as any move);
    // does nothing while rows are being removed (the view then moves its current row by itself).
    void moveToRow(int row);
    // Reads the rows again from the file.
    void reload();

    // Rows are read in blocks of this many entries; a table of at most kReadWhole entries is read
    // whole when the rows are read again.
    static constexpr uint32_t kBlock = 64;
    static constexpr uint32_t kReadWhole = 2048;

signals:
    // The shared handle's current record is now shown in this row (-1: none).
    void currentRowChanged(int row);
    // The table refused an edit or a move; the text is the store's message.
    void storeError(const QString& text);

private:
    struct Row {
        uint32_t recNo = 0;
        QStringList values;
    };

    void followPosition();
    void followRecord();
    void followState();
    bool pendingRowShown() const;
    void scheduleReport();
    void reportCurrentRow();

    int visibleRows() const { return int(entries_ - first_ - hidden_.size()); }
    uint32_t entryOfRow(int row) const;
    int rowOfEntry(uint32_t entry) const;
    const Row* rowAt(int row) const;
    const Row* readRow(uint32_t entry) const; // from the cache, else its block read
    const Row* shownInstead(uint32_t entry) const;
    QString computedValue(uint32_t recNo, int computed) const;
    int lastColumn() const { return columnCount() - 1; }
    void readBlock(uint32_t entry) const;
    void noteHidden(uint32_t entry) const;
    void removeHiddenRows();
    void failed(const QString& text) const;

    store::Table& table_;
    std::unique_ptr<store::Table> reader_; // the second handle the rows are read through
    QStringList fields_;
    QStringList titles_;
    QSet<int> readOnlyColumns_;
    QSet<int> checkColumns_;
    bool ranged_ = false; // only the keys from rangeFrom_ (inclusive) to rangeTo_ (exclusive) are rows
    QByteArray rangeFrom_;
    QByteArray rangeTo_;
    uint32_t first_ = 0; // the first entry shown (the range's first, else 0)
    std::vector<ComputedValue> computed_;           // the computed columns, after the fields'
    mutable QHash<uint32_t, QStringList> computedCache_; // their values, by record number
    uint32_t entries_ = 0; // the entry after the last one shown, when the rows were last read
    std::vector<uint32_t> hidden_;       // entries known not to be shown, ascending
    mutable std::set<uint32_t> found_;   // entries found hidden whose rows are still to go
    mutable QHash<uint32_t, Row> cache_; // rows read, by entry
    mutable std::set<uint32_t> unreadBlocks_; // blocks whose reading failed, not tried again
    mutable bool failureReported_ = false;    // a read failure was reported since the rows were read
    bool pendingRow_ = false; // a record being appended is shown as the last row
    bool editing_ = false;    // the current record is in edit state
    bool moving_ = false;     // the model itself is moving the shared handle
    bool submitPending_ = false; // a submitted edit is to be posted once the event loop is free
    mutable int currentRow_ = -1;
    mutable bool positionStale_ = true; // the shared handle moved: currentRow_ is to be found again
    bool recordStale_ = false;          // the current record's values changed: its row to be repainted
    int reportedRow_ = -1; // the row last reported by currentRowChanged
    bool reportPending_ = false;
    mutable bool removalPending_ = false;
    bool removing_ = false; // rows are going: a move the view reports meanwhile is not followed
};

} // namespace models
