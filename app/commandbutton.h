#pragma once

#include <QPushButton>

// A command button whose Alt key acts at once. A plain button answers its key by showing itself
// pressed for a tenth of a second and clicking after it, so what the operator types meanwhile
// (Alt+R, then the next message at once) would land before the command acts and be wiped by it.
class CommandButton : public QPushButton {
    Q_OBJECT

public:
    CommandButton(const QString& caption, QWidget* parent);

protected:
    bool event(QEvent* event) override;
};
