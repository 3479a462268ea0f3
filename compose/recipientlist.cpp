#include "compose/recipientlist.h"

#include <QSet>

#include <algorithm>

namespace compose {

RecipientList::RecipientList(QObject* parent)
    : QAbstractListModel(parent)
{
}

bool RecipientList::before(const QString& a, const QString& b)
{
    const int byLetters = a.compare(b, Qt::CaseInsensitive);
    return byLetters != 0 ? byLetters < 0 : a < b;
}

int RecipientList::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(items_.size());
}

QVariant RecipientList::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid))
        return {};
    const Item& item = items_[size_t(index.row())];
    if (role == Qt::DisplayRole || role == Qt::EditRole)
        return item.name;
    if (role == Qt::CheckStateRole)
        return item.ticked ? Qt::Checked : Qt::Unchecked;
    return {};
}

bool RecipientList::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::CheckStateRole || !checkIndex(index, CheckIndexOption::IndexIsValid))
        return false;
    setTicked(index.row(), value.toInt() != Qt::Unchecked);
    return true;
}

Qt::ItemFlags RecipientList::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable;
}

QStringList RecipientList::names() const
{
    QStringList result;
    result.reserve(qsizetype(items_.size()));
    for (const Item& item : items_)
        result << item.name;
    return result;
}

QStringList RecipientList::tickedNames() const
{
    QStringList result;
    for (const Item& item : items_) {
        if (item.ticked)
            result << item.name;
    }
    return result;
}

bool RecipientList::isTicked(int row) const
{
    return row >= 0 && size_t(row) < items_.size() && items_[size_t(row)].ticked;
}

void RecipientList::rebuild(const QStringList& names)
{
    beginResetModel();
    items_.clear();
    items_.reserve(size_t(names.size()));
    for (const QString& name : names)
        items_.push_back({ name, false });
    std::stable_sort(items_.begin(), items_.end(), [](const Item& a, const Item& b) { return before(a.name, b.name); });
    endResetModel();
}

void RecipientList::addMissing(const QStringList& names)
{
    QSet<QString> listed;
    listed.reserve(qsizetype(items_.size()));
    for (const Item& item : items_)
        listed.insert(item.name.toCaseFolded());
    for (const QString& name : names) {
        const QString folded = name.toCaseFolded();
        if (listed.contains(folded))
            continue;
        listed.insert(folded);
        const auto at = std::upper_bound(items_.begin(), items_.end(), name,
            [](const QString& n, const Item& item) { return before(n, item.name); });
        const int row = int(at - items_.begin());
        beginInsertRows(QModelIndex(), row, row);
        items_.insert(at, { name, false });
        endInsertRows();
    }
}

std::pair<int, int> RecipientList::rowsOf(const QString& name) const
{
    const auto [first, last] = std::equal_range(items_.begin(), items_.end(), Item { name, false },
        [](const Item& a, const Item& b) { return before(a.name, b.name); });
    return { int(first - items_.begin()), int(last - items_.begin()) };
}

bool RecipientList::tick(const QString& name)
{
    const auto [first, last] = rowsOf(name);
    for (int row = first; row < last; ++row) {
        if (!items_[size_t(row)].ticked) {
            setTicked(row, true);
            return true;
        }
    }
    return false;
}

bool RecipientList::untick(const QString& name)
{
    const auto [first, last] = rowsOf(name);
    for (int row = first; row < last; ++row) {
        if (items_[size_t(row)].ticked) {
            setTicked(row, false);
            return true;
        }
    }
    return false;
}

void RecipientList::untickAll()
{
    for (int row = 0; row < int(items_.size()); ++row) {
        if (items_[size_t(row)].ticked)
            setTicked(row, false);
    }
}

void RecipientList::setTicked(int row, bool ticked)
{
    Item& item = items_[size_t(row)];
    if (item.ticked == ticked)
        return;
    item.ticked = ticked;
    const QModelIndex at = index(row);
    emit dataChanged(at, at, { Qt::CheckStateRole });
}

} // namespace compose

#include "moc_recipientlist.cpp"
