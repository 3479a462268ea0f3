#include "directories/celldelegate.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>

namespace directories {

namespace {
const char* const kEnterMovesOn = "plimoEnterMovesOn";

// The grid an editor sits in: its viewport's parent.
QAbstractItemView* gridOf(QWidget* editor)
{
    QWidget* viewport = editor->parentWidget();
    return qobject_cast<QAbstractItemView*>(viewport ? viewport->parentWidget() : nullptr);
}

// Alt and a key that is not a modifier itself: a window's command, never a character to type.
bool isCommandKey(const QKeyEvent* key)
{
    switch (key->key()) {
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Meta:
        return false;
    default:
        return (key->modifiers() & Qt::AltModifier) && !(key->modifiers() & Qt::ControlModifier);
    }
}
} // namespace

QWidget* CellDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
    if (auto* edit = qobject_cast<QLineEdit*>(editor); edit && index.column() == secretColumn_)
        edit->setEchoMode(QLineEdit::Password);
    return editor;
}

void CellDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    if (index.column() == secretColumn_ && !option->text.isEmpty())
        option->text = QString(6, QChar(0x25CF));
}

void CellDelegate::setEnterMovesOn(QAbstractItemView* grid, bool movesOn)
{
    grid->setProperty(kEnterMovesOn, movesOn);
}

bool CellDelegate::enterMovesOn(const QAbstractItemView* grid)
{
    return grid && grid->property(kEnterMovesOn).toBool();
}

bool CellDelegate::eventFilter(QObject* watched, QEvent* event)
{
    auto* editor = qobject_cast<QWidget*>(watched);
    if (!editor || (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride))
        return QStyledItemDelegate::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    if (event->type() == QEvent::ShortcutOverride) {
        // The command is looked up after this: the value is the record's by then. The key itself
        // is left to the command (the override is not taken).
        if (isCommandKey(key)) {
            emit commitData(editor);
            emit closeEditor(editor, QAbstractItemDelegate::NoHint);
        }
        return QStyledItemDelegate::eventFilter(watched, event);
    }
    QAbstractItemView* grid = gridOf(editor);
    const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
    if (enter && (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        // Enter writes the value here and now, before anything else the event loop holds can
        // show the stored value in the editor again; the view then submits it, and the grid's
        // model writes the record. The key goes no further unless the grid moves on with it.
        auto* line = qobject_cast<QLineEdit*>(editor);
        if (line && !line->hasAcceptableInput())
            return QStyledItemDelegate::eventFilter(watched, event);
        emit commitData(editor);
        emit closeEditor(editor, QAbstractItemDelegate::SubmitModelCache);
        if (enterMovesOn(grid)) {
            QKeyEvent again(QEvent::KeyPress, key->key(), key->modifiers());
            QApplication::sendEvent(grid, &again);
        }
        return true;
    }
    if (key->key() != Qt::Key_Tab && key->key() != Qt::Key_Backtab)
        return QStyledItemDelegate::eventFilter(watched, event);
    emit commitData(editor);
    emit closeEditor(editor, QAbstractItemDelegate::NoHint);
    if (grid) {
        // The grid has the focus again; the same key takes it on from there.
        QKeyEvent again(QEvent::KeyPress, key->key(), key->modifiers());
        QApplication::sendEvent(grid, &again);
    }
    return true;
}

} // namespace directories

#include "moc_celldelegate.cpp"
