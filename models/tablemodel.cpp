#include "models/tablemodel.h"

#include "store/storeerror.h"
#include "store/table.h"

#include <QScopedValueRollback>

#include <algorithm>
#include <iterator>

namespace models {

void openReaderOn(store::Table& reader, const store::Table& table)
{
    reader.setConnection(table.connection());
    reader.setTableName(table.tableName());
    reader.setIndexName(table.indexName());
    reader.open();
    if (!table.filter().isEmpty())
        reader.setFilter(table.filter());
}

namespace {

constexpr int kCachedRows = 4096; // rows kept read; past that the cache starts again

// The entry of the first visible record whose key is at or after `key`; the entry count when none
// is. The key is padded with the smallest byte, not blanks, so that keys that begin with it and go on
// with bytes below a blank count as after it.
uint32_t entryAtOrAfter(store::Table& reader, const QByteArray& key)
{
    constexpr int kLongestKey = 256; // longer than any tag's key: seek cuts it to the key's length
    reader.seek(key + QByteArray(kLongestKey, '\0'));
    return reader.eof() ? reader.entryCount() : reader.entryNumber();
}

} // namespace

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

TableModel::~TableModel() = default;

int TableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : visibleRows() + (pendingRow_ ? 1 : 0);
}

int TableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(fields_.size() + computed_.size());
}

QVariant TableModel::data(const QModelIndex& index, int role) const
{
    const bool checkColumn = checkColumns_.contains(index.column());
    if (!index.isValid()
        || (role != Qt::DisplayRole && role != Qt::EditRole && !(checkColumn && role == Qt::CheckStateRole)))
        return {};
    if (index.column() >= fields_.size()) {
        // The record being appended has no number yet: nothing to compute from.
        const Row* row = rowAt(index.row());
        return row ? computedValue(row->recNo, index.column() - int(fields_.size())) : QVariant();
    }
    const bool live = index.row() == currentRow() && table_.isOpen()
        && (table_.state() == store::Table::State::Edit || table_.state() == store::Table::State::Insert);
    QString value;
    if (live) {
        value = table_.fieldText(fields_.at(index.column()));
    } else {
        const Row* row = rowAt(index.row());
        if (!row)
            return {};
        value = row->values.at(index.column());
    }
    if (!checkColumn)
        return value;
    if (role != Qt::CheckStateRole)
        return QString(); // the box says it
    const bool ticked = value.compare(QLatin1String("T"), Qt::CaseInsensitive) == 0
        || value.compare(QLatin1String("Y"), Qt::CaseInsensitive) == 0;
    return ticked ? Qt::Checked : Qt::Unchecked;
}

bool TableModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    const bool tick = checkColumns_.contains(index.column());
    if (!index.isValid() || index.column() >= fields_.size()
        || role != (tick ? Qt::CheckStateRole : Qt::EditRole))
        return false;
    const QString text = tick ? QString(value.toInt() == Qt::Checked ? u'T' : u'F') : value.toString();
    try {
        if (index.row() != currentRow())
            moveToRow(index.row());
        if (index.row() != currentRow())
            return false;
        const bool wasBrowsing = table_.state() == store::Table::State::Browse;
        table_.edit();
        try {
            table_.setFieldText(fields_.at(index.column()), text);
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
    if (tick)
        submit(); // a tick has no editor to close: it is a whole change of its own
    return true;
}

// The view submits on Enter in a cell editor, and also when its current row moves away from an
// open editor, inside its own handling of that move. The post waits for the event loop: by then a
// move to another row has written the record itself (ending the edit), while after Enter the edit
// is still pending and is written here; posting at once would read the rows again under the view
// while it is still moving between them.
bool TableModel::submit()
{
    if (!table_.isOpen() || table_.state() != store::Table::State::Edit || submitPending_)
        return true;
    submitPending_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            submitPending_ = false;
            if (!table_.isOpen() || table_.state() != store::Table::State::Edit)
                return;
            try {
                table_.post();
            } catch (const store::StoreError& error) {
                emit storeError(error.message());
            }
        },
        Qt::QueuedConnection);
    return true;
}

Qt::ItemFlags TableModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    const Qt::ItemFlags flags = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
    if (readOnlyColumns_.contains(index.column()) || index.column() >= fields_.size())
        return flags;
    return flags | (checkColumns_.contains(index.column()) ? Qt::ItemIsUserCheckable : Qt::ItemIsEditable);
}

QVariant TableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role == FieldNameRole && orientation == Qt::Horizontal)
        return section >= 0 && section < fields_.size() ? QVariant(fields_.at(section)) : QVariant();
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal)
        return section >= 0 && section < titles_.size() ? QVariant(titles_.at(section)) : QVariant();
    // The row marker: the current record.
    return section == currentRow() ? QStringLiteral("\u25B6") : QString();
}

void TableModel::setColumnTitle(int column, const QString& title)
{
    if (column < 0 || column >= titles_.size())
        return;
    titles_[column] = title;
    emit headerDataChanged(Qt::Horizontal, column, column);
}

void TableModel::setColumnTitles(const QStringList& titles)
{
    for (int column = 0; column < titles.size(); ++column)
        setColumnTitle(column, titles.at(column));
}

void TableModel::setColumnReadOnly(int column)
{
    readOnlyColumns_.insert(column);
}

void TableModel::setColumnCheckable(int column)
{
    checkColumns_.insert(column);
}

void TableModel::setKeyRange(const QByteArray& from, const QByteArray& to)
{
    if (ranged_ && from == rangeFrom_ && to == rangeTo_ && to.isNull() == rangeTo_.isNull())
        return;
    ranged_ = true;
    rangeFrom_ = from;
    rangeTo_ = to;
    reload();
}

void TableModel::clearKeyRange()
{
    if (!ranged_)
        return;
    ranged_ = false;
    reload();
}

std::pair<QByteArray, QByteArray> TableModel::keyRange(const QByteArray& prefix)
{
    // The keys before the prefix's successor: its last byte that can grow, grown, the rest cut.
    QByteArray after = prefix;
    while (!after.isEmpty() && uchar(after.back()) == 0xFF)
        after.chop(1);
    if (!after.isEmpty())
        after.back() = char(uchar(after.back()) + 1);
    return { prefix, after.isEmpty() ? QByteArray() : after };
}

int TableModel::addComputedColumn(const QString& title, ComputedValue value)
{
    const int column = columnCount();
    beginInsertColumns(QModelIndex(), column, column);
    computed_.push_back(std::move(value));
    titles_.append(title);
    computedCache_.clear();
    endInsertColumns();
    return column;
}

void TableModel::computedColumnsChanged()
{
    computedCache_.clear();
    if (computed_.empty() || rowCount() == 0)
        return;
    // One report for all rows: a view repaints what it shows and asks for those values alone.
    emit dataChanged(index(0, int(fields_.size())), index(rowCount() - 1, lastColumn()));
}

// All computed values of a record are worked out together, when the first of them is asked for.
QString TableModel::computedValue(uint32_t recNo, int computed) const
{
    auto cached = computedCache_.constFind(recNo);
    if (cached == computedCache_.constEnd()) {
        if (computedCache_.size() > kCachedRows)
            computedCache_.clear();
        QStringList values;
        values.reserve(qsizetype(computed_.size()));
        for (const ComputedValue& value : computed_) {
            try {
                values.append(value(recNo));
            } catch (const store::StoreError& error) {
                values.append(QString());
                failed(error.message());
            }
        }
        cached = computedCache_.insert(recNo, values);
    }
    return cached->at(computed);
}

// ---- rows by entry number ---------------------------------------------------------------------

uint32_t TableModel::entryOfRow(int row) const
{
    // The smallest entry with `row` shown entries before it: step past the hidden entries at or
    // before the guess until the guess stands still.
    uint32_t entry = first_ + uint32_t(row);
    for (;;) {
        const auto hiddenUpTo = std::upper_bound(hidden_.begin(), hidden_.end(), entry) - hidden_.begin();
        const uint32_t next = first_ + uint32_t(row) + uint32_t(hiddenUpTo);
        if (next == entry)
            return entry;
        entry = next;
    }
}

int TableModel::rowOfEntry(uint32_t entry) const
{
    const auto hiddenBefore = std::lower_bound(hidden_.begin(), hidden_.end(), entry) - hidden_.begin();
    return int(entry - first_ - uint32_t(hiddenBefore));
}

const TableModel::Row* TableModel::rowAt(int row) const
{
    if (row < 0 || row >= visibleRows() || !reader_)
        return nullptr;
    const uint32_t entry = entryOfRow(row);
    if (found_.count(entry))
        return nullptr; // its row goes once the event loop is free
    if (unreadBlocks_.count(entry / kBlock))
        return nullptr; // read once and failed: its rows stay empty until the rows are read again
    return readRow(entry);
}

const TableModel::Row* TableModel::readRow(uint32_t entry) const
{
    auto cached = cache_.constFind(entry);
    if (cached == cache_.constEnd()) {
        readBlock(entry);
        cached = cache_.constFind(entry);
    }
    return cached == cache_.constEnd() ? nullptr : &cached.value();
}

void TableModel::readBlock(uint32_t entry) const
{
    if (cache_.size() > kCachedRows)
        cache_.clear();
    const uint32_t first = std::max(first_, entry - entry % kBlock);
    const uint32_t end = std::min(entries_, entry - entry % kBlock + kBlock);
    try {
        store::Table& reader = *reader_;
        uint32_t at = first;
        bool standing = false; // the reader stands on entry `at`
        while (at < end) {
            if (!standing && !reader.goToEntry(at)) {
                noteHidden(at++);
                continue;
            }
            Row row;
            row.recNo = reader.recNo();
            row.values.reserve(fields_.size());
            for (const QString& field : fields_)
                row.values.append(reader.fieldText(field));
            cache_.insert(at, row);
            reader.next();
            if (reader.eof()) {
                // No record is shown after this one: the block's entries after it are not shown.
                for (uint32_t skipped = at + 1; skipped < end; ++skipped)
                    noteHidden(skipped);
                break;
            }
            const uint32_t next = reader.entryNumber();
            for (uint32_t skipped = at + 1; skipped < std::min(next, end); ++skipped)
                noteHidden(skipped);
            standing = next > at;
            at = standing ? next : at + 1;
        }
    } catch (const store::StoreError& error) {
        unreadBlocks_.insert(first / kBlock);
        failed(error.message());
    }
}

void TableModel::noteHidden(uint32_t entry) const
{
    if (std::binary_search(hidden_.begin(), hidden_.end(), entry))
        return;
    found_.insert(entry);
    if (removalPending_)
        return;
    removalPending_ = true;
    QMetaObject::invokeMethod(const_cast<TableModel*>(this), &TableModel::removeHiddenRows, Qt::QueuedConnection);
}

// The rows of the entries found hidden go all at once: the rows from the first of them on now show
// the records that follow, and as many rows go from the end. One removal for the whole batch keeps
// this cheap in a view of a million rows (each removal costs the view a pass over its rows); the
// current row is found again and reported, so the view's marker follows its record.
void TableModel::removeHiddenRows()
{
    removalPending_ = false;
    std::vector<uint32_t> gone;
    for (const uint32_t entry : found_)
        if (entry >= first_ && entry < entries_ && !std::binary_search(hidden_.begin(), hidden_.end(), entry))
            gone.push_back(entry);
    found_.clear();
    if (gone.empty())
        return;
    const int firstChanged = rowOfEntry(gone.front());
    const int before = visibleRows();
    const int after = before - int(gone.size());
    // The view's current cell, its selection and an open cell editor stay with their records:
    // they move up with the rows, rather than stay on a row that now shows another record.
    for (const QModelIndex& old : persistentIndexList()) {
        if (old.row() < firstChanged)
            continue;
        const int goneBefore = old.row() >= before
            ? int(gone.size()) // the record being added
            : int(std::lower_bound(gone.begin(), gone.end(), entryOfRow(old.row())) - gone.begin());
        if (goneBefore > 0)
            changePersistentIndex(old, index(old.row() - goneBefore, old.column()));
    }
    // The view moves its current row off the rows that go; that is no move of the operator's.
    const QScopedValueRollback removing(removing_, true);
    beginRemoveRows(QModelIndex(), after, before - 1);
    std::vector<uint32_t> merged;
    merged.reserve(hidden_.size() + gone.size());
    std::merge(hidden_.begin(), hidden_.end(), gone.begin(), gone.end(), std::back_inserter(merged));
    hidden_.swap(merged);
    for (const uint32_t entry : gone)
        cache_.remove(entry);
    endRemoveRows();
    // The shifted rows show other records now; the rows that moved with their records above keep
    // theirs, and are left out, as a change reported there would put the record's stored value back
    // into an open editor, over what the operator is typing. (The view lays its rows out again.)
    std::vector<int> kept;
    for (const QModelIndex& held : persistentIndexList())
        if (held.row() >= firstChanged && held.row() < after)
            kept.push_back(held.row());
    std::sort(kept.begin(), kept.end());
    kept.push_back(after);
    int from = firstChanged;
    for (const int row : kept) {
        if (from < row)
            emit dataChanged(index(from, 0), index(row - 1, lastColumn()));
        from = std::max(from, row + 1);
    }
    reportedRow_ = -2; // the rows moved: report the current one afresh
    followPosition();
}

// In place of an entry found not shown (one deleted record, or a whole block of them, the newest
// of a log say): the next shown record after it, the one its row shows once the rows of the deleted
// ones have gone, or the last one before it when none follows, reading the blocks on the way.
const TableModel::Row* TableModel::shownInstead(uint32_t entry) const
{
    auto shownAt = [this](uint32_t at, bool& unreadable) -> const Row* {
        if (found_.count(at) || std::binary_search(hidden_.begin(), hidden_.end(), at))
            return nullptr;
        if (unreadBlocks_.count(at / kBlock)) {
            unreadable = true;
            return nullptr;
        }
        if (const Row* shown = readRow(at))
            return shown;
        unreadable = !found_.count(at); // neither read nor found hidden: the block failed
        return nullptr;
    };
    bool unreadable = false;
    for (uint32_t at = entry + 1; at < entries_ && !unreadable; ++at)
        if (const Row* shown = shownAt(at, unreadable))
            return shown;
    for (uint32_t at = entry; at-- > first_ && !unreadable;)
        if (const Row* shown = shownAt(at, unreadable))
            return shown;
    return nullptr;
}

void TableModel::failed(const QString& text) const
{
    // One report until the rows are read again: a damaged file would otherwise raise one for
    // every row the view paints.
    if (failureReported_)
        return;
    failureReported_ = true;
    // Reported once the event loop is free: the caller may be the view painting.
    auto* self = const_cast<TableModel*>(this);
    QMetaObject::invokeMethod(self, [self, text] { emit self->storeError(text); }, Qt::QueuedConnection);
}

void TableModel::reload()
{
    beginResetModel();
    failureReported_ = false;
    unreadBlocks_.clear();
    cache_.clear();
    computedCache_.clear();
    hidden_.clear();
    found_.clear();
    first_ = entries_ = 0;
    reader_.reset();
    if (table_.isOpen()) {
        try {
            reader_ = std::make_unique<store::Table>();
            openReaderOn(*reader_, table_);
            entries_ = reader_->entryCount();
            if (ranged_) {
                first_ = entryAtOrAfter(*reader_, rangeFrom_);
                if (!rangeTo_.isNull())
                    entries_ = std::max(first_, std::min(entries_, entryAtOrAfter(*reader_, rangeTo_)));
                first_ = std::min(first_, entries_);
            }
            if (entries_ - first_ <= kReadWhole) {
                for (uint32_t at = first_; at < entries_; at = at - at % kBlock + kBlock)
                    readBlock(at);
                hidden_.assign(found_.begin(), found_.end());
                found_.clear();
            }
        } catch (const store::StoreError& error) {
            reader_.reset();
            first_ = entries_ = 0;
            failed(error.message());
        }
    }
    pendingRow_ = pendingRowShown();
    endResetModel();
    reportedRow_ = -2; // report the position afresh
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
        const int row = visibleRows();
        beginInsertRows(QModelIndex(), row, row);
        pendingRow_ = true;
        endInsertRows();
    }
    followPosition();
}

// A walk by another window moves the shared handle thousands of times: each move only marks the
// current row as to be found again, which happens once, when the row is asked for or reported.
void TableModel::followPosition()
{
    if (moving_)
        return;
    positionStale_ = true;
    scheduleReport();
}

void TableModel::followRecord()
{
    if (moving_)
        return;
    positionStale_ = true;
    recordStale_ = true;
    scheduleReport();
}

int TableModel::currentRow() const
{
    if (!positionStale_)
        return currentRow_;
    positionStale_ = false;
    currentRow_ = -1;
    if (pendingRow_) {
        currentRow_ = visibleRows();
    } else if (reader_ && table_.isOpen() && table_.recNo()) {
        try {
            const uint32_t entry = reader_->entryNumberOf(table_.recNo());
            if (entry >= first_ && entry < entries_
                && !std::binary_search(hidden_.begin(), hidden_.end(), entry))
                currentRow_ = rowOfEntry(entry);
        } catch (const store::StoreError& error) {
            failed(error.message());
        }
    }
    return currentRow_;
}

void TableModel::scheduleReport()
{
    if (reportPending_)
        return;
    reportPending_ = true;
    QMetaObject::invokeMethod(this, &TableModel::reportCurrentRow, Qt::QueuedConnection);
}

void TableModel::reportCurrentRow()
{
    reportPending_ = false;
    const int row = currentRow();
    const int rows = rowCount();
    if (recordStale_ && row >= 0 && row < rows) {
        // The current record's values as the handle has them now (the edit buffer, or re-read).
        recordStale_ = false;
        if (row < visibleRows() && table_.state() == store::Table::State::Browse) {
            auto cached = cache_.find(entryOfRow(row));
            if (cached != cache_.end() && cached->recNo == table_.recNo()) {
                for (int i = 0; i < fields_.size(); ++i)
                    cached->values[i] = table_.fieldText(fields_.at(i));
            }
        }
        emit dataChanged(index(row, 0), index(row, lastColumn()));
    }
    recordStale_ = false;
    if (row == reportedRow_)
        return;
    const int old = reportedRow_;
    reportedRow_ = row;
    if (old >= 0 && old < rows)
        emit headerDataChanged(Qt::Vertical, old, old);
    if (row >= 0 && row < rows)
        emit headerDataChanged(Qt::Vertical, row, row);
    emit currentRowChanged(row);
}

void TableModel::moveToRow(int row)
{
    if (removing_ || row < 0 || row >= rowCount() || row == currentRow() || !table_.isOpen() || !reader_)
        return;
    if (pendingRow_ && row == visibleRows())
        return; // the new record is current while it is pending
    const Row* shown = rowAt(row);
    if (!shown)
        shown = shownInstead(entryOfRow(row));
    if (!shown)
        return;
    const uint32_t target = shown->recNo;
    if (table_.state() != store::Table::State::Browse) {
        // The move ends the pending edit first (a posted record may take another place, and the
        // rows are read again).
        table_.refresh();
        if (!reader_)
            return;
    }
    {
        const QScopedValueRollback moving(moving_, true);
        const uint32_t entry = reader_->entryNumberOf(target);
        if (entry < first_ || entry >= entries_ || !table_.goToEntry(entry) || table_.recNo() != target)
            table_.refresh(); // the file changed under the rows: read them again
    }
    followPosition();
    if (const int now = currentRow(); now >= 0 && now < visibleRows())
        emit dataChanged(index(now, 0), index(now, lastColumn()));
}

} // namespace models

#include "moc_tablemodel.cpp"
