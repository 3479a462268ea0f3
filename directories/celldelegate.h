#pragma once

#include <QStyledItemDelegate>

namespace directories {

// The cell editor of the directory grids. Tab and Shift+Tab in an open editor commit its value and
// leave the grid for the next (or previous) control, as they do from the grid itself; they never
// open the next cell or move to another record. Enter commits the value at once and submits it
// (the grid's model writes the record); the focus stays in the grid.
class CellDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // A column of secrets (a password): shown as dots, not even its length, and typed unseen.
    void setSecretColumn(int column) { secretColumn_ = column; }
    int secretColumn() const { return secretColumn_; }
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;

private:
    int secretColumn_ = -1;
};

} // namespace directories
