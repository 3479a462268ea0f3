#pragma once

class QAbstractButton;

// Makes `button`'s Alt key act at once, leaving the focus where it is. A plain button answers its
// key by showing itself pressed for a tenth of a second, taking the focus, and clicking after it,
// so what the operator types meanwhile (Alt+R, then the next message at once) would land before
// the command acts, or in the button.
void actOnKeyAtOnce(QAbstractButton* button);
