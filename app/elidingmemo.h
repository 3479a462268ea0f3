#pragma once

#include <QPlainTextEdit>

// The status list's text box: one line a block, never wrapped and never scrolled sideways. A line
// wider than the box is shown cut short with an ellipsis, and its whole text is the tooltip of that
// line. The document keeps every line whole (toPlainText() gives them as they were written).
class ElidingMemo : public QPlainTextEdit {
    Q_OBJECT

public:
    explicit ElidingMemo(QWidget* parent = nullptr);

    // Line `line` as the box shows it: whole when it fits, else cut short with an ellipsis.
    QString shownLine(int line) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool viewportEvent(QEvent* event) override;

private:
    int textWidth() const;
};
