#include "app/commandbutton.h"

#include <QShortcutEvent>

CommandButton::CommandButton(const QString& caption, QWidget* parent)
    : QPushButton(caption, parent)
{
}

bool CommandButton::event(QEvent* event)
{
    // The button's only shortcut is its mnemonic; an ambiguous one is left to the button (it
    // takes the focus, as Qt does).
    if (event->type() == QEvent::Shortcut && !static_cast<QShortcutEvent*>(event)->isAmbiguous()) {
        if (isEnabled())
            click();
        return true;
    }
    return QPushButton::event(event);
}
