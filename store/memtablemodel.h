#pragma once

#include "store/memtable.h"

#include <QAbstractTableModel>
#include <QList>
#include <QPointer>
#include <QString>
#include <vector>

class QItemSelectionModel;

namespace store {

// A read-only grid model over a TMemTable: one row per stored row, one column per chosen field.
// It follows the table's changes through the table's signals (rows appended and deleted, edits
// posted, the table opened, closed or loaded), and can keep a view's selection and the table's
// current row in step.
class MemTableModel : public QAbstractTableModel {
    Q_OBJECT

public:
    struct Column {
        QString field; // the table's field name (matched without regard to case)
        QString header; // the column title; the field name when empty
    };

    MemTableModel(TMemTable* table, const QList<Column>& columns, QObject* parent = nullptr);

    TMemTable* table() const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Selecting a row in `selection` (a selection model over this model) makes it the table's current
    // row, and a move of the table's current row selects that row.
    void followSelection(QItemSelectionModel* selection);

private:
    void resolveFields();
    void beginReset();
    void endReset();
    void selectCurrentRow();

    QPointer<TMemTable> table_;
    QList<Column> columns_;
    std::vector<int> fieldIndexes_; // per column; -1 when the table has no such field
    int rows_ = 0; // the row count as this model last announced it
    bool resetting_ = false;
    bool changing_ = false; // between a table's "about to" notification and its "done"
    QPointer<QItemSelectionModel> selection_;
    bool syncing_ = false;
};

} // namespace store
