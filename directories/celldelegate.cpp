#include "directories/celldelegate.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QKeyEvent>

namespace directories {

bool CellDelegate::eventFilter(QObject* watched, QEvent* event)
{
    auto* editor = qobject_cast<QWidget*>(watched);
    if (!editor || event->type() != QEvent::KeyPress)
        return QStyledItemDelegate::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
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
