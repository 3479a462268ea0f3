#include "app/keyatonce.h"

#include <QAbstractButton>
#include <QShortcutEvent>

namespace {

class KeyAtOnce : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        // The button's only shortcut is its mnemonic; an ambiguous one is left to the button (it
        // takes the focus, as Qt does).
        if (event->type() != QEvent::Shortcut || static_cast<QShortcutEvent*>(event)->isAmbiguous())
            return false;
        auto* button = static_cast<QAbstractButton*>(watched);
        if (button->isEnabled())
            button->click();
        return true;
    }
};

} // namespace

void actOnKeyAtOnce(QAbstractButton* button)
{
    button->installEventFilter(new KeyAtOnce(button));
}
