#include "directories/tablemodel.h"

#include "store/storeerror.h"
#include "store/table.h"

#include <QScopedValueRollback>

#include <cstdlib>

namespace directories {

void openReaderOn(store::Table& reader, const store::Table& table)
{
    reader.setConnection(table.connection());
    reader.setTableName(table.tableName());
    reader.setIndexName(table.indexName());
    reader.open();
    if (!table.filter().isEmpty())
        reader.setFilter(table.filter());
}

TableModel::TableModel(store::Table& table, const QStringList& fields, QObject* parent)
    : QAbstractTableModel(parent)
    , table_(table)
    , fields_(fields)
    , titles_(fields)
{
    connect(&table_, &store::Table::tableChanged, this, &TableModel::reload);
    connect(&table_, &store::Table::positionChanged, this, &TableModel::followPosition);
    connect(&table_, &store::Table::recordChanged, this, &TableModel::followRecord);
    connect(&table_, &store::Table::stateChanged, this, &TableModel::followState);
    reload();
}

int TableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(rows_.size()) + (pendingRow_ ? 1 : 0);
}

int TableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(fields_.size());
}

QVariant TableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::EditRole))
        return {};
    const bool live = index.row() == currentRow_ && table_.isOpen()
        && (table_.state() == store::Table::State::Edit || table_.state() == store::Table::State::Insert);
    if (live)
        return table_.fieldText(fields_.at(index.column()));
    if (index.row() >= rows_.size())
        return {};
    return rows_.at(index.row()).at(index.column());
}

bool TableModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!index.isValid() || role != Qt::EditRole)
        return false;
    try {
        if (index.row() != currentRow_)
            moveToRow(index.row());
        if (index.row() != currentRow_)
            return false;
        const bool wasBrowsing = table_.state() == store::Table::State::Browse;
        table_.edit();
        try {
            table_.setFieldText(fields_.at(index.column()), value.toString());
        } catch (const store::StoreError&) {
            // The refused value changed nothing: an edit begun for it alone is dropped again.
            if (wasBrowsing)
                table_.cancel();
            throw;
        }
    } catch (const store::StoreError& error) {
        emit dataChanged(index, index);
        emit storeError(error.message());
        return false;
    }
    emit dataChanged(index, index);
    return true;
}

Qt::ItemFlags TableModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    const Qt::ItemFlags flags = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
    return readOnlyColumns_.contains(index.column()) ? flags : flags | Qt::ItemIsEditable;
}

QVariant TableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal)
        return section >= 0 && section < titles_.size() ? QVariant(titles_.at(section)) : QVariant();
    // The row marker: the current record.
    return section == currentRow_ ? QStringLiteral("\u25B6") : QString();
}

void TableModel::setColumnTitle(int column, const QString& title)
{
    if (column < 0 || column >= titles_.size())
        return;
    titles_[column] = title;
    emit headerDataChanged(Qt::Horizontal, column, column);
}

void TableModel::setColumnReadOnly(int column)
{
    readOnlyColumns_.insert(column);
}

void TableModel::reload()
{
    beginResetModel();
    rows_.clear();
    recNos_.clear();
    rowOfRecNo_.clear();
    if (table_.isOpen()) {
        store::Table reader;
        openReaderOn(reader, table_);
        const uint32_t count = reader.recordCount();
        rows_.reserve(count);
        recNos_.reserve(count);
        for (reader.first(); !reader.eof(); reader.next()) {
            QStringList row;
            row.reserve(fields_.size());
            for (const QString& field : fields_)
                row.append(reader.fieldText(field));
            rowOfRecNo_.insert(reader.recNo(), int(rows_.size()));
            recNos_.append(reader.recNo());
            rows_.append(row);
        }
    }
    pendingRow_ = pendingRowShown();
    endResetModel();
    currentRow_ = -2; // report the position afresh
    reportedRow_ = -2;
    followPosition();
}

bool TableModel::pendingRowShown() const
{
    return table_.isOpen() && table_.state() == store::Table::State::Insert;
}

void TableModel::followState()
{
    const bool pending = pendingRowShown();
    if (!table_.isOpen() || table_.state() == store::Table::State::Browse) {
        // An edit ended: a posted record may have moved to another place in the order.
        if (pendingRow_ || editing_) {
            editing_ = false;
            reload();
            return;
        }
    }
    editing_ = table_.isOpen() && table_.state() == store::Table::State::Edit;
    if (pending && !pendingRow_) {
        const int row = int(rows_.size());
        beginInsertRows(QModelIndex(), row, row);
        pendingRow_ = true;
        endInsertRows();
    }
    followPosition();
}

void TableModel::followPosition()
{
    if (moving_)
        return;
    int row = -1;
    if (pendingRow_)
        row = int(rows_.size());
    else if (table_.isOpen() && table_.recNo())
        row = rowOfRecNo_.value(table_.recNo(), -1);
    setCurrentRow(row);
}

void TableModel::followRecord()
{
    if (moving_)
        return;
    followPosition();
    if (currentRow_ < 0)
        return;
    // The current record's values as the handle has them now (the edit buffer, or re-read).
    if (currentRow_ < rows_.size() && table_.state() == store::Table::State::Browse) {
        QStringList row;
        for (const QString& field : fields_)
            row.append(table_.fieldText(field));
        rows_[currentRow_] = row;
    }
    emit dataChanged(index(currentRow_, 0), index(currentRow_, int(fields_.size()) - 1));
}

void TableModel::setCurrentRow(int row)
{
    if (row == currentRow_)
        return;
    currentRow_ = row;
    if (reportPending_)
        return;
    reportPending_ = true;
    QMetaObject::invokeMethod(this, &TableModel::reportCurrentRow, Qt::QueuedConnection);
}

void TableModel::reportCurrentRow()
{
    reportPending_ = false;
    if (currentRow_ == reportedRow_)
        return;
    const int old = reportedRow_;
    reportedRow_ = currentRow_;
    const int rows = rowCount();
    if (old >= 0 && old < rows)
        emit headerDataChanged(Qt::Vertical, old, old);
    if (currentRow_ >= 0 && currentRow_ < rows)
        emit headerDataChanged(Qt::Vertical, currentRow_, currentRow_);
    emit currentRowChanged(currentRow_);
}

void TableModel::moveToRow(int row)
{
    if (row < 0 || row >= rowCount() || row == currentRow_ || !table_.isOpen())
        return;
    if (pendingRow_ && row == int(rows_.size()))
        return; // the new record is current while it is pending
    uint32_t target = recNos_.at(row);
    if (table_.state() != store::Table::State::Browse) {
        // The move ends the pending edit first (a posted record may take another place).
        table_.refresh();
        row = rowOfRecNo_.value(target, -1);
        if (row < 0 || row == currentRow_)
            return;
        target = recNos_.at(row);
    }
    {
        // Step from the nearest known place: the current row, the first or the last.
        const QScopedValueRollback moving(moving_, true);
        const int last = int(recNos_.size()) - 1;
        int from = currentRow_ >= 0 && currentRow_ < recNos_.size() && !pendingRow_ ? currentRow_ : -1;
        if (from < 0 || std::abs(row - from) > row) {
            table_.first();
            from = 0;
        }
        if (std::abs(last - row) < std::abs(row - from)) {
            table_.last();
            from = last;
        }
        while (from < row && !table_.eof() && table_.recNo() != target) {
            table_.next();
            ++from;
        }
        while (from > row && !table_.bof() && table_.recNo() != target) {
            table_.prior();
            --from;
        }
    }
    // A move ends a pending edit, which may have re-read the rows: find the record again.
    followPosition();
    if (currentRow_ >= 0 && currentRow_ < recNos_.size())
        emit dataChanged(index(currentRow_, 0), index(currentRow_, int(fields_.size()) - 1));
}

} // namespace directories
