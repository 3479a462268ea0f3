#pragma once

#include <QDialog>

class QComboBox;
class QLineEdit;
class QPushButton;

namespace store {
class Table;
}

namespace compose {

// "Send Message By Pager ID Only": the pager ID of a pager outside the users directory and the
// carrier to page it through. Modal; shown by the main window's "By Pager ID" button.
class TByPagerID : public QDialog {
    Q_OBJECT

public:
    // `carriers` is the desk's carriers handle: the drop-down lists its names, and choosing one makes
    // that carrier the current record.
    explicit TByPagerID(store::Table& carriers, QWidget* parent = nullptr);

    QLineEdit* pager; // at most nine digits
    QComboBox* Name;
    QPushButton* OKBtn;
    QPushButton* CancelBtn;

    // The carrier chosen in this opening; empty when none was chosen.
    QString chosenCarrier() const { return chosen_; }

    // Lists the carriers afresh, clears the choice and gives the pager ID the focus; then runs modally.
    int exec() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void NameChange(int row);

    store::Table& PagerCompT;
    QString chosen_;
};

} // namespace compose
