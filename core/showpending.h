#pragma once

#include <QDialog>

class QLabel;
namespace core {
class DeliveryMarks;
}
class QPushButton;
class QTableView;

namespace store {
class MemTableModel;
class TMemTable;
} // namespace store

// The "Pending Messages" window, modal: a grid over the pending queue, where a double click anywhere
// on the grid (or Enter) sends the current page again (it goes to the end of the send queue) and
// closes the window, and "Delete" (or the Delete key) drops it.
class TShowPending : public QDialog {
    Q_OBJECT

public:
    // `marks`, when given, names the pages that may have been delivered.
    TShowPending(store::TMemTable& pendingMsgs, store::TMemTable& sendMsgs, QWidget* parent = nullptr,
        const core::DeliveryMarks* marks = nullptr);

    QTableView* DBGrid1;
    QLabel* HintLabel;
    // Which of the pages may have been delivered (hidden when none).
    QLabel* maybeDeliveredLabel;
    QPushButton* DeleteBtn;
    QPushButton* ExitBtn;

    // Appends the current pending page to the send queue and closes the window.
    void DBGrid1DblClick();
    void DeleteBtnClick();

    void done(int result) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

signals:
    // Every close: the number of pages still pending, for the main window's button.
    void closedWithCount(int pending);

private:
    store::TMemTable& pendingMsgs_;
    store::TMemTable& sendMsgs_;
    store::MemTableModel* model_;
    const core::DeliveryMarks* marks_;

    void showMaybeDelivered();

protected:
    void showEvent(QShowEvent* event) override;
};
