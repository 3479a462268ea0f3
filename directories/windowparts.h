#pragma once

#include <QList>
#include <QStringList>

class QAbstractItemModel;
class QAbstractItemView;
class QAction;
class QGridLayout;
class QKeySequence;
class QLineEdit;
class QPushButton;
class QString;
class QTableView;
class QWidget;

namespace directories {

// Tells a window's activations apart from its returns from its own boxes (a delete question, an
// error, a refused entry): coming back from one of those is no activation. Fed from the window's
// changeEvent() on every activation change.
class ActivationWatch {
public:
    // True when `window` has just become active and was not away in one of its own boxes.
    bool activated(const QWidget& window);

private:
    bool toOwnBox_ = false;
};

// A push button named `name` whose accessible name is its caption without the key mark and the
// blanks around it ("&OK" is found as "OK").
QPushButton* namedButton(const QString& name, const QString& caption, QWidget* parent);

// The record navigator of the list windows: the four moves under one caption, Delete and Cancel
// under captions that underline their letter though no key belongs to them (the window's hidden
// commands, where it has them, own the keys). `gap` is the space between the two groups.
QGridLayout* navigatorGrid(QWidget* parent, const QList<QPushButton*>& moves, QPushButton* del,
    QPushButton* cancel, int gap);

// A key of `window` that no control shows (Qt::WindowShortcut), named `name`, added to the window.
QAction* windowKey(QWidget* window, const QString& name, const QKeySequence& key);

// A grid of a list window on `model`: one record current, its row chosen whole; a cell edited by
// typing over it (or F2, or a double click); Tab leaves the grid for the next control, as in every
// other control of the window; its columns as wide as their headings at least. `name` is its object
// name, `accessibleName` what assistive tools say.
QTableView* recordGrid(
    QAbstractItemModel* model, const QString& name, const QString& accessibleName, QWidget* parent);

// Tab and Shift+Tab in `grid` (and in its open cell editor, which writes its value first) go from
// cell to cell, row after row, and leave the grid for the next control after its last cell (for the
// previous one before its first), so the grid is typed in like a form.
void tabMovesCellToCell(QTableView* grid);

// Every column of `grid` at least as wide as its heading, so the words of a heading show whole.
void fitHeadings(QTableView* grid);

// The value typed into the grid's open cell editor goes to its model (commit), or is dropped.
void commitOpenEditor(QAbstractItemView* grid);
void dropOpenEditor(QAbstractItemView* grid);

// The headings of a grid of logged or scheduled messages (DDATE, DTIME, USERNAME, MUSTSEND, MSG),
// in words.
QStringList messageColumnTitles();

// Shows a field's stored text in `edit`. The store keeps a field without the blanks after it; while
// the record is being edited (`editing`) an edit that holds the stored text with blanks typed after
// it keeps them, so "pass word" can be typed: the store trims when the record is written.
void showStoredText(QLineEdit* edit, const QString& stored, bool editing);

} // namespace directories
