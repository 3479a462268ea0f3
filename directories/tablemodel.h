#pragma once

#include <QAbstractTableModel>
#include <QHash>
#include <QSet>
#include <QStringList>
#include <QVector>

namespace store {
class Table;
}

namespace directories {

// Opens `reader` as a second handle on the file of `table`, in its order and filter: a window reads
// the rows through it in one pass, and the shared handle neither moves nor ends its pending edit.
void openReaderOn(store::Table& reader, const store::Table& table);

// A view's rows over a shared table handle: one row per visible record in the handle's order, one
// column per field given. The rows are read in one pass through a second handle on the same file,
// so building the list never moves the shared handle or ends its pending edit. The model follows
// the handle's signals: a move changes the current row, a record change repaints its row, a table
// change reads the rows again. A record being appended shows as a last row of its own until it is
// posted or dropped. The current row is always up to date; the signals that report it (the row
// marker, currentRowChanged) come once the event loop is free, so a walk of thousands of records
// by another window costs one report, not thousands.
//
// Editing a cell puts the shared handle's current record in edit state and writes the field; the
// change is posted by whoever posts the handle (its post(), or any later move). A value the table
// refuses (a word or too many digits for a number field) leaves the cell as it was: setData()
// returns false and storeError() carries the store's message. No store error leaves the model, as
// one unwinding through the view's own frames would end the program.
class TableModel : public QAbstractTableModel {
    Q_OBJECT

public:
    TableModel(store::Table& table, const QStringList& fields, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // Sets a column title (the field name by default).
    void setColumnTitle(int column, const QString& title);
    // The column's cells can be read but not edited in place.
    void setColumnReadOnly(int column);
    // The row of the shared handle's current record, -1 when there is none.
    int currentRow() const { return currentRow_; }
    // Moves the shared handle to the record shown in `row` (ending its pending edit, as any move).
    void moveToRow(int row);
    // Reads the rows again from the file.
    void reload();

signals:
    // The shared handle's current record is now shown in this row (-1: none).
    void currentRowChanged(int row);
    // The table refused an edit or a move; the text is the store's message.
    void storeError(const QString& text);

private:
    void followPosition();
    void followRecord();
    void followState();
    bool pendingRowShown() const;
    void setCurrentRow(int row);
    void reportCurrentRow();

    store::Table& table_;
    QStringList fields_;
    QStringList titles_;
    QSet<int> readOnlyColumns_;
    QVector<uint32_t> recNos_;
    QVector<QStringList> rows_;
    QHash<uint32_t, int> rowOfRecNo_;
    bool pendingRow_ = false; // a record being appended is shown as the last row
    bool editing_ = false;    // the current record is in edit state
    bool moving_ = false;     // the model itself is moving the shared handle
    int currentRow_ = -1;
    int reportedRow_ = -1; // the row last reported by currentRowChanged
    bool reportPending_ = false;
};

} // namespace directories
