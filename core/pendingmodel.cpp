#include "core/pendingmodel.h"

#include "core/desk.h"

namespace core {

PendingModel::PendingModel(Desk& desk, QObject* parent)
    : QAbstractTableModel(parent)
    , desk_(desk)
    , titles_(pendingColumnTitles())
{
    reload();
}

void PendingModel::reload()
{
    beginResetModel();
    entries_ = pendingEntries(desk_.PendingMsgs(), desk_.pageNotes(), desk_.deliveryMarks(),
        desk_.Plimo32().folder().isEmpty() ? std::nullopt : carrierNames(desk_.Plimo32()));
    endResetModel();
}

int PendingModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(entries_.size());
}

int PendingModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(titles_.size());
}

QVariant PendingModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= entries_.size())
        return {};
    const QString text = pendingColumnTexts(entries_.at(index.row())).value(index.column());
    if (role == Qt::DisplayRole)
        return text;
    if (role == Qt::ToolTipRole && !text.isEmpty())
        return text; // the reason and the message may be wider than their column
    if (role == Qt::TextAlignmentRole && index.column() == 3)
        return int(Qt::AlignRight | Qt::AlignVCenter);
    return {};
}

QVariant PendingModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal)
        return titles_.value(section);
    return {};
}

} // namespace core

#include "moc_pendingmodel.cpp"
