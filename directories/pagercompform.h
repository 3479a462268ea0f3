#pragma once

#include "directories/directoryform.h"

#include <QPointer>

#include <memory>

class QLineEdit;
class QPlainTextEdit;
class QThread;
class QTableView;

namespace paging {
struct DeliveryPath;
class PathTestCancel;
}

namespace core {
class Desk;
}

namespace store {
class Table;
}

namespace models {
class TableModel;
}

namespace directories {

using models::TableModel;

// "Paging Carriers Information": the directory of paging carriers in PAGECOMP.DBF, on the main
// window's carriers handle PagerCompT (current record shared). A carrier's delivery paths in
// CARRPATH.DBF follow it: renamed with it, deleted with it. Under the carrier's fields a grid shows
// the current carrier's paths in trial order on the desk's paths handle CarrPathT (its current
// record is the grid's current row): added, deleted, moved, typed in place, ticked on and off, and
// tested one at a time off the window's thread.
class TPagerCompForm : public DirectoryForm {
    Q_OBJECT

public:
    explicit TPagerCompForm(core::Desk& desk, QWidget* parent = nullptr);
    ~TPagerCompForm() override;

    // The paths grid's columns.
    enum PathColumn {
        PathNoColumn,
        EnabledColumn,
        MethodColumn,
        AddressColumn,
        LoginColumn,
        PasswordColumn,
        MaxCharsColumn
    };

    QTableView* CarriersList;
    QLineEdit* HostTel;
    QLineEdit* HostSpeed;
    QLineEdit* HostChars;
    QLineEdit* HostPassw;
    TableModel* CarriersModel;
    QTableView* PathsList;
    TableModel* PathsModel;
    QPushButton* AddPathBtn;
    QPushButton* RemovePathBtn;
    QPushButton* MoveUpBtn;
    QPushButton* MoveDownBtn;
    QPushButton* TestPathBtn;
    QPlainTextEdit* PathTestAnswer; // what the last path test found

    // The commands on the paths of the current carrier (the buttons; their keys are free in this
    // window and in the main window, whose buttons' keys reach it too). Add: a new path, off, after
    // the last (a new carrier is written first). Remove: the current path, asking first. Move: the
    // current path one place earlier (-1) or later (+1). Test: the current path tried, its answer
    // shown under the grid.
    void AddPathClick();
    void RemovePathClick();
    void MovePathClick(int steps);
    void TestPathClick();
    bool pathTestRunning() const { return !testThread_.isNull(); }

signals:
    // A path test has ended and its answer is shown.
    void pathTestFinished();

protected:
    void FormActivate() override;
    void syncView() override;
    void aboutToDelete() override;
    void recordDeleted() override;
    void closeEvent(QCloseEvent* event) override;

private:
    void showPaths();
    void updatePathButtons();
    // The current path's row in the grid, -1 when none.
    int pathRow() const;
    QString pathCell(int row, int column) const;
    paging::DeliveryPath pathAt(int row) const;
    // A path the operator has just written, checked: an address that does not parse for its method
    // is said at once (a path still blank and off is left to be typed).
    void checkWrittenPath(int row);

    // The carrier's name as stored: while its record is edited, the name it had before.
    QString storedName() const;
    void carrierStateChanged();

    core::Desk& desk_;
    QString editedFrom_; // the stored name of the carrier being edited
    bool editing_ = false; // editedFrom_ holds the record being edited
    QString deleting_; // the stored name of the carrier a delete command may delete
    bool deletingStored_ = false; // the current record is a stored carrier (not a new one)

    store::Table& PagerCompT;
    store::Table& CarrPathT;
    bool showing_ = false;
    bool showingPath_ = false;
    QString warningDue_; // about a path written, to be said once the event loop is free
    QPointer<QThread> testThread_;
    std::shared_ptr<paging::PathTestCancel> testCancel_;
};

} // namespace directories
