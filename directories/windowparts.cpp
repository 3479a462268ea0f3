#include "directories/windowparts.h"

#include <QAbstractItemDelegate>
#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QGridLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>

namespace directories {

namespace {

// Moves a grid's current cell on Tab and Shift+Tab; at either end the key is left to the grid,
// whose Tab (without tab navigation of its own) leaves it.
class CellToCellTabs : public QObject {
public:
    explicit CellToCellTabs(QTableView* grid)
        : QObject(grid)
        , grid_(grid)
    {
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != grid_ || event->type() != QEvent::KeyPress)
            return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
        const bool forward = key->key() == Qt::Key_Tab && mods == Qt::NoModifier;
        const bool back
            = key->key() == Qt::Key_Backtab || (key->key() == Qt::Key_Tab && mods == Qt::ShiftModifier);
        if (!forward && !back)
            return false;
        const QModelIndex next = neighbour(forward);
        if (!next.isValid())
            return false;
        grid_->setCurrentIndex(next);
        return true;
    }

private:
    // The cell after (before) the current one in reading order, or none at the grid's end.
    QModelIndex neighbour(bool forward) const
    {
        const QAbstractItemModel* model = grid_->model();
        const QModelIndex current = grid_->currentIndex();
        if (!model || !current.isValid())
            return {};
        QHeaderView* header = grid_->horizontalHeader();
        int row = current.row();
        int visual = header->visualIndex(current.column());
        const int columns = header->count();
        for (;;) {
            visual += forward ? 1 : -1;
            if (visual >= columns) {
                visual = 0;
                ++row;
            } else if (visual < 0) {
                visual = columns - 1;
                --row;
            }
            if (row < 0 || row >= model->rowCount())
                return {};
            const int column = header->logicalIndex(visual);
            if (!grid_->isColumnHidden(column))
                return model->index(row, column);
        }
    }

    QTableView* grid_;
};

} // namespace

bool ActivationWatch::activated(const QWidget& window)
{
    if (!window.isActiveWindow()) {
        const QWidget* now = QApplication::activeWindow();
        toOwnBox_ = now && now != &window && now->parentWidget() == &window;
        return false;
    }
    if (toOwnBox_) {
        toOwnBox_ = false;
        return false;
    }
    return true;
}

QPushButton* namedButton(const QString& name, const QString& caption, QWidget* parent)
{
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setAccessibleName(QString(caption).remove(u'&').trimmed());
    return b;
}

QGridLayout* navigatorGrid(QWidget* parent, const QList<QPushButton*>& moves, QPushButton* del,
    QPushButton* cancel, int gap)
{
    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral(" First    Prev    Next   Last  "), parent), 0, 0, 1, int(moves.size()));
    grid->addWidget(new QLabel(QStringLiteral("<u>D</u>elete"), parent), 0, int(moves.size()) + 1);
    grid->addWidget(new QLabel(QStringLiteral("<u>C</u>ancel"), parent), 0, int(moves.size()) + 2);
    for (int i = 0; i < moves.size(); ++i)
        grid->addWidget(moves.at(i), 1, i);
    grid->setColumnMinimumWidth(int(moves.size()), gap);
    grid->addWidget(del, 1, int(moves.size()) + 1);
    grid->addWidget(cancel, 1, int(moves.size()) + 2);
    grid->setColumnStretch(int(moves.size()) + 3, 1);
    return grid;
}

QAction* windowKey(QWidget* window, const QString& name, const QKeySequence& key)
{
    auto* action = new QAction(window);
    action->setObjectName(name);
    action->setShortcut(key);
    action->setShortcutContext(Qt::WindowShortcut);
    window->addAction(action);
    return action;
}

QTableView* recordGrid(
    QAbstractItemModel* model, const QString& name, const QString& accessibleName, QWidget* parent)
{
    auto* grid = new QTableView(parent);
    grid->setObjectName(name);
    grid->setAccessibleName(accessibleName);
    grid->setModel(model);
    grid->setSelectionMode(QAbstractItemView::SingleSelection);
    grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid->verticalHeader()->setDefaultSectionSize(grid->fontMetrics().height() + 6);
    grid->setTabKeyNavigation(false);
    grid->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed
        | QAbstractItemView::AnyKeyPressed);
    fitHeadings(grid);
    return grid;
}

void fitHeadings(QTableView* grid)
{
    QHeaderView* header = grid->horizontalHeader();
    for (int column = 0; column < header->count(); ++column)
        grid->setColumnWidth(column, qMax(grid->columnWidth(column), header->sectionSizeHint(column)));
}

void tabMovesCellToCell(QTableView* grid)
{
    grid->setTabKeyNavigation(false);
    grid->installEventFilter(new CellToCellTabs(grid));
}

void commitOpenEditor(QAbstractItemView* grid)
{
    const QModelIndex index = grid ? grid->currentIndex() : QModelIndex();
    QWidget* editor = index.isValid() ? grid->indexWidget(index) : nullptr;
    if (!editor)
        return;
    QAbstractItemDelegate* delegate = grid->itemDelegateForIndex(index);
    emit delegate->commitData(editor);
    emit delegate->closeEditor(editor, QAbstractItemDelegate::NoHint);
}

void dropOpenEditor(QAbstractItemView* grid)
{
    const QModelIndex index = grid ? grid->currentIndex() : QModelIndex();
    if (QWidget* editor = index.isValid() ? grid->indexWidget(index) : nullptr)
        emit grid->itemDelegateForIndex(index)->closeEditor(editor, QAbstractItemDelegate::RevertModelCache);
}

QStringList messageColumnTitles()
{
    return { QStringLiteral("Date"), QStringLiteral("Time"), QStringLiteral("User/Group Name"),
        QStringLiteral("Must Send"), QStringLiteral("Message") };
}

void showStoredText(QLineEdit* edit, const QString& stored, bool editing)
{
    const QString shown = edit->text();
    if (shown == stored)
        return;
    if (editing && shown.startsWith(stored) && shown.mid(stored.size()).trimmed().isEmpty())
        return;
    edit->setText(stored);
}

} // namespace directories
