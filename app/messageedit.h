#pragma once

#include "compose/composition.h"

#include <QPlainTextEdit>

// The main window's message editor: words wrap, the Enter key inserts no line break (a page is one
// text), and typing or pasting stops at maxLength() characters. Text put in by the program (the date
// and time stamps, a quick message) is not limited.
class MessageEdit : public QPlainTextEdit {
    Q_OBJECT

public:
    static constexpr int kMaxTyped = compose::Composition::MaxTyped;

    explicit MessageEdit(QWidget* parent = nullptr);

    int maxLength() const { return kMaxTyped; }
    // Appends `text` at the end, wherever the caret is.
    void appendAtEnd(const QString& text);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void insertFromMimeData(const QMimeData* source) override;

private:
    // Characters that may still be typed in place of the current selection.
    int room() const;
};
