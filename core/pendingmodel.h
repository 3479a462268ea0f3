#pragma once

#include "core/pendinglist.h"

#include <QAbstractTableModel>
#include <QList>

namespace core {

class Desk;

// The pending queue as the "Pending Messages" grid shows it: pendingColumnTitles(), a row a page,
// with the notes and marks the desk keeps beside it. reload() reads the queue again (the carriers
// too, to tell a carrier that is gone).
class PendingModel : public QAbstractTableModel {
    Q_OBJECT

public:
    explicit PendingModel(Desk& desk, QObject* parent = nullptr);

    void reload();
    const PendingEntry& entry(int row) const { return entries_.at(row); }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    Desk& desk_;
    QList<PendingEntry> entries_;
    QStringList titles_;
};

} // namespace core
