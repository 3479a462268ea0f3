#pragma once

#include <QDialog>

class QLabel;
class QPushButton;
class QTableView;

namespace core {
class Desk;
class PendingModel;
}

// The "Pending Messages" window, modal: the pending pages with whom they are for, their carrier,
// their attempts and what the last one met. "&Resend" (or a double click anywhere on the grid, or
// Enter) sends the current page again (it goes to the end of the send queue) and closes the window;
// "Resend &All" sends every one; "&Delete" (or the Delete key) drops the current page once the
// operator agrees. The commands go through the desk, which keeps each page's outcome.
class TShowPending : public QDialog {
    Q_OBJECT

public:
    explicit TShowPending(core::Desk& desk, QWidget* parent = nullptr);

    QTableView* DBGrid1;
    QLabel* HintLabel;
    // Which of the pages may have been delivered (hidden when none).
    QLabel* maybeDeliveredLabel;
    QPushButton* ResendBtn;
    QPushButton* ResendAllBtn;
    QPushButton* DeleteBtn;
    QPushButton* ExitBtn;

    // Appends the current pending page to the send queue and closes the window.
    void DBGrid1DblClick();
    void ResendAllBtnClick();
    // Asks, then drops the current page.
    void DeleteBtnClick();

    void done(int result) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

signals:
    // Every close: the number of pages still pending, for the main window's button.
    void closedWithCount(int pending);

private:
    int currentRow() const;
    void reload();
    void showError(const std::exception& e);

    core::Desk& desk_;
    core::PendingModel* model_;
};
