#include "directories/celldelegate.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>

namespace directories {

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

bool CellDelegate::eventFilter(QObject* watched, QEvent* event)
{
    auto* editor = qobject_cast<QWidget*>(watched);
    if (!editor || event->type() != QEvent::KeyPress)
        return QStyledItemDelegate::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
    if (enter && (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        // Enter writes the value here and now, before anything else the event loop holds can
        // show the stored value in the editor again; the view then submits it, and the grid's
        // model writes the record. The key goes no further: it is not the window's Enter.
        auto* line = qobject_cast<QLineEdit*>(editor);
        if (line && !line->hasAcceptableInput())
            return QStyledItemDelegate::eventFilter(watched, event);
        emit commitData(editor);
        emit closeEditor(editor, QAbstractItemDelegate::SubmitModelCache);
        return true;
    }
    if (key->key() != Qt::Key_Tab && key->key() != Qt::Key_Backtab)
        return QStyledItemDelegate::eventFilter(watched, event);
    // The grid the editor sits in: its viewport's parent.
    QWidget* grid = editor->parentWidget() ? editor->parentWidget()->parentWidget() : nullptr;
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
