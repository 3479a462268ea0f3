#include "app/messageedit.h"

#include <QKeyEvent>
#include <QMimeData>
#include <QScrollBar>
#include <QTextCursor>

MessageEdit::MessageEdit(QWidget* parent)
    : QPlainTextEdit(parent)
{
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setTabChangesFocus(true);
    QFont bold = font();
    bold.setBold(true);
    setFont(bold);
}

void MessageEdit::appendAtEnd(const QString& text)
{
    QTextCursor cursor = textCursor();
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text);
    setTextCursor(cursor);
}

int MessageEdit::room() const
{
    const QTextCursor cursor = textCursor();
    const int selected = cursor.selectionEnd() - cursor.selectionStart();
    return kMaxTyped - (int(toPlainText().size()) - selected);
}

void MessageEdit::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->ignore(); // no line break; the key goes on to the window
        return;
    }
    const QString typed = event->text();
    const bool insertsText = !typed.isEmpty() && typed.at(0).isPrint()
        && !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
    if (insertsText && room() < typed.size()) {
        event->accept(); // full: the character is dropped
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

void MessageEdit::insertFromMimeData(const QMimeData* source)
{
    if (!source || !source->hasText())
        return;
    QString text = source->text();
    text.remove(u'\r');
    text.replace(u'\n', u' '); // pasted lines join, as Enter would not break them either
    text.replace(u'\t', u' '); // and a tab is no character a pager shows
    const int left = room();
    if (left <= 0)
        return;
    textCursor().insertText(text.left(left));
    ensureCursorVisible();
}

#include "moc_messageedit.cpp"
