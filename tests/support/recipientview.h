#pragma once

#include <QAbstractItemView>
#include <QStringList>
#include <QTest>

// The main window's recipient check list as the operator uses it: an item is ticked by making it
// current and pressing the space bar on the list, and its tick is read back from the list's model.
namespace testsupport {

inline QModelIndex recipientRow(const QAbstractItemView* list, const QString& name)
{
    const QAbstractItemModel* model = list->model();
    const QModelIndexList found
        = model->match(model->index(0, 0), Qt::DisplayRole, name, 1, Qt::MatchExactly | Qt::MatchCaseSensitive);
    return found.isEmpty() ? QModelIndex() : found.first();
}

// Ticks the first item `name` with the space bar; false when the list holds no such item.
inline bool tickInList(QAbstractItemView* list, const QString& name)
{
    const QModelIndex row = recipientRow(list, name);
    if (!row.isValid())
        return false;
    list->setCurrentIndex(row);
    if (row.data(Qt::CheckStateRole).toInt() == Qt::Unchecked)
        QTest::keyClick(list, Qt::Key_Space);
    return row.data(Qt::CheckStateRole).toInt() == Qt::Checked;
}

// The ticked items, in list order.
inline QStringList tickedInList(const QAbstractItemView* list)
{
    QStringList ticked;
    const QAbstractItemModel* model = list->model();
    for (int i = 0; i < model->rowCount(); ++i) {
        const QModelIndex row = model->index(i, 0);
        if (row.data(Qt::CheckStateRole).toInt() == Qt::Checked)
            ticked << row.data().toString();
    }
    return ticked;
}

// Every item, in list order.
inline QStringList itemsInList(const QAbstractItemView* list)
{
    QStringList items;
    const QAbstractItemModel* model = list->model();
    for (int i = 0; i < model->rowCount(); ++i)
        items << model->index(i, 0).data().toString();
    return items;
}

} // namespace testsupport
