#include "app/elidingmemo.h"

#include <QHelpEvent>
#include <QPainter>
#include <QTextBlock>
#include <QToolTip>

ElidingMemo::ElidingMemo(QWidget* parent)
    : QPlainTextEdit(parent)
{
    setLineWrapMode(QPlainTextEdit::NoWrap);
    // A sideways scroll bar would cover the last history line; long lines are cut short instead.
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
}

int ElidingMemo::textWidth() const
{
    return qMax(0, viewport()->width() - 2 * int(document()->documentMargin()));
}

QString ElidingMemo::shownLine(int line) const
{
    const QTextBlock block = document()->findBlockByNumber(line);
    if (!block.isValid())
        return {};
    return fontMetrics().elidedText(block.text(), Qt::ElideRight, textWidth());
}

void ElidingMemo::paintEvent(QPaintEvent* event)
{
    // Every line is one block (no wrap): each is drawn in its place, cut to the box's width.
    QPainter painter(viewport());
    painter.setFont(font());
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Text));
    const QRect area = event->rect();
    const QPointF offset = contentOffset();
    const int margin = int(document()->documentMargin());
    for (QTextBlock block = firstVisibleBlock(); block.isValid(); block = block.next()) {
        const QRectF box = blockBoundingGeometry(block).translated(offset);
        if (box.top() > area.bottom())
            break;
        const QRectF line(box.left() + margin, box.top(), textWidth(), box.height());
        painter.drawText(
            line, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shownLine(block.blockNumber()));
    }
}

bool ElidingMemo::viewportEvent(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        const QTextBlock block = cursorForPosition(help->pos()).block();
        if (block.isValid() && shownLine(block.blockNumber()) != block.text())
            QToolTip::showText(help->globalPos(), block.text(), viewport());
        else
            QToolTip::hideText();
        return true;
    }
    return QPlainTextEdit::viewportEvent(event);
}
