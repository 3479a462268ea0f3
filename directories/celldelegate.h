#pragma once

#include <QStyledItemDelegate>

class QAbstractItemView;

namespace directories {

// The cell editor of the directory grids. Tab and Shift+Tab in an open editor commit its value and
// hand the key to the grid: a grid that moves cell to cell goes to the next (or previous) cell, any
// other leaves for the next (or previous) control, as from the grid itself; they never open the
// next cell or move to another record of a grid that leaves. Enter commits the value at once and
// submits it (the grid's model writes the record); in a grid whose Enter moves on to the next field
// (setEnterMovesOn) the focus then moves on too, else it stays in the grid. A window's command key
// (Alt and a key) typed while the editor is open first commits the value and closes the editor, so
// the command works on what was typed, as a click on a button does.
class CellDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // A column of secrets (a password): shown as dots, not even its length, and typed unseen.
    void setSecretColumn(int column) { secretColumn_ = column; }
    int secretColumn() const { return secretColumn_; }
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // Enter in `grid`'s open cell editor, once the value is written, moves on as Enter in the grid
    // itself does (the window's filter on the grid moves the focus to the next field).
    static void setEnterMovesOn(QAbstractItemView* grid, bool movesOn);
    static bool enterMovesOn(const QAbstractItemView* grid);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;

private:
    int secretColumn_ = -1;
};

} // namespace directories
