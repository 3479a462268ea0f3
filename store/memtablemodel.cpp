#include "store/memtablemodel.h"

#include "store/storeerror.h"

#include <QItemSelectionModel>

namespace store {

MemTableModel::MemTableModel(TMemTable* table, const QList<Column>& columns, QObject* parent)
    : QAbstractTableModel(parent)
    , table_(table)
    , columns_(columns)
{
    resolveFields();
    rows_ = table_ ? table_->rowCount() : 0;
    if (!table_)
        return;

    // The table sends each notification before and after its change, so the model can announce
    // row changes as they happen instead of resetting every view on each append or delete.
    connect(table_, &TMemTable::rowsAboutToBeInserted, this, [this](int first, int last) {
        changing_ = true;
        beginInsertRows({}, first, last);
    });
    connect(table_, &TMemTable::rowsInserted, this, [this](int first, int last) {
        rows_ += last - first + 1;
        endInsertRows();
        changing_ = false;
    });
    connect(table_, &TMemTable::rowsAboutToBeRemoved, this, [this](int first, int last) {
        changing_ = true;
        beginRemoveRows({}, first, last);
    });
    connect(table_, &TMemTable::rowsRemoved, this, [this](int first, int last) {
        rows_ -= last - first + 1;
        endRemoveRows();
        changing_ = false;
    });
    connect(table_, &TMemTable::aboutToReset, this, &MemTableModel::beginReset);
    connect(table_, &TMemTable::reset, this, &MemTableModel::endReset);
    connect(table_, &TMemTable::rowChanged, this, [this](int row) {
        if (row >= 0 && row < rows_ && !columns_.isEmpty())
            emit dataChanged(index(row, 0), index(row, columnCount() - 1));
    });
    connect(table_, &TMemTable::currentRowChanged, this, &MemTableModel::selectCurrentRow);
    connect(table_, &QObject::destroyed, this, [this] {
        beginReset();
        endReset();
    });
}

TMemTable* MemTableModel::table() const
{
    return table_;
}

void MemTableModel::resolveFields()
{
    fieldIndexes_.clear();
    for (const Column& column : columns_)
        fieldIndexes_.push_back(table_ ? table_->fieldIndex(column.field) : -1);
}

void MemTableModel::beginReset()
{
    if (resetting_)
        return;
    resetting_ = true;
    beginResetModel();
}

void MemTableModel::endReset()
{
    if (!resetting_)
        beginReset();
    resolveFields();
    rows_ = table_ ? table_->rowCount() : 0;
    resetting_ = false;
    endResetModel();
    selectCurrentRow();
}

int MemTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : rows_;
}

int MemTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QVariant MemTableModel::data(const QModelIndex& index, int role) const
{
    if (!table_ || !checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const int field = fieldIndexes_[index.column()];
    if (field < 0)
        return {};
    const MemFieldType type = table_->fields()[field].type;
    const bool number = type == MemFieldType::SmallInt || type == MemFieldType::Integer
        || type == MemFieldType::Word || type == MemFieldType::AutoInc || type == MemFieldType::Float
        || type == MemFieldType::Currency;
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole: {
        const QVariant value = table_->value(index.row(), field);
        if (!value.isValid())
            return role == Qt::DisplayRole ? QVariant(QString()) : QVariant();
        if (value.typeId() == QMetaType::Bool)
            return value.toBool() ? QStringLiteral("True") : QStringLiteral("False");
        if (value.typeId() == QMetaType::QByteArray)
            return {};
        return value;
    }
    case Qt::TextAlignmentRole:
        return number ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant();
    default:
        return {};
    }
}

QVariant MemTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Vertical)
        return section >= 0 && section < rows_ ? QVariant(section + 1) : QVariant();
    if (section < 0 || section >= columns_.size())
        return {};
    const Column& column = columns_[section];
    return column.header.isEmpty() ? column.field : column.header;
}

Qt::ItemFlags MemTableModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

void MemTableModel::followSelection(QItemSelectionModel* selection)
{
    if (selection_)
        disconnect(selection_, nullptr, this, nullptr);
    selection_ = selection;
    if (!selection_ || selection_->model() != this)
        return;
    connect(selection_, &QItemSelectionModel::currentRowChanged, this, [this](const QModelIndex& current) {
        // While rows come and go the selection model moves its current index by itself; the table
        // decides its own current row then and announces it afterwards.
        if (syncing_ || changing_ || resetting_ || !table_ || !current.isValid()
            || current.row() == table_->currentRow())
            return;
        syncing_ = true;
        try {
            table_->setCurrentRow(current.row());
        } catch (const StoreError&) {
            // A pending edit the table could not post keeps the table where it was; the selection
            // is put back there.
            syncing_ = false;
            selectCurrentRow();
        }
        syncing_ = false;
    });
    selectCurrentRow();
}

void MemTableModel::selectCurrentRow()
{
    if (!selection_ || syncing_ || changing_ || !table_ || resetting_)
        return;
    const int row = table_->currentRow();
    if (row < 0 || row >= rows_)
        return;
    if (selection_->currentIndex().row() == row)
        return;
    syncing_ = true;
    selection_->setCurrentIndex(
        index(row, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    syncing_ = false;
}

} // namespace store

#include "moc_memtablemodel.cpp"
