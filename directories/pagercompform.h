#pragma once

#include "directories/directoryform.h"

class QLineEdit;
class QTableView;

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
// CARRPATH.DBF follow it: renamed with it, deleted with it.
class TPagerCompForm : public DirectoryForm {
    Q_OBJECT

public:
    explicit TPagerCompForm(core::Desk& desk, QWidget* parent = nullptr);

    QTableView* CarriersList;
    QLineEdit* HostTel;
    QLineEdit* HostSpeed;
    QLineEdit* HostChars;
    QLineEdit* HostPassw;
    TableModel* CarriersModel;


protected:
    void FormActivate() override;
    void syncView() override;
    void aboutToDelete() override;
    void recordDeleted() override;

private:
    // The carrier's name as stored: while its record is edited, the name it had before.
    QString storedName() const;
    void carrierStateChanged();

    core::Desk& desk_;
    QString editedFrom_; // the stored name of the carrier being edited
    bool editing_ = false; // editedFrom_ holds the record being edited
    QString deleting_; // the stored name of the carrier a delete command may delete
    bool deletingStored_ = false; // the current record is a stored carrier (not a new one)

    store::Table& PagerCompT;
    bool showing_ = false;
};

} // namespace directories
