#pragma once

#include "directories/directoryform.h"

class QLineEdit;
class QTableView;

namespace store {
class Table;
}

namespace models {
class TableModel;
}

namespace directories {

using models::TableModel;

// "Paging Carriers Information": the directory of paging carriers in PAGECOMP.DBF, on the main
// window's carriers handle PagerCompT (current record shared).
class TPagerCompForm : public DirectoryForm {
    Q_OBJECT

public:
    explicit TPagerCompForm(store::Table& carriers, QWidget* parent = nullptr);

    QTableView* CarriersList;
    QLineEdit* HostTel;
    QLineEdit* HostSpeed;
    QLineEdit* HostChars;
    QLineEdit* HostPassw;
    TableModel* CarriersModel;


protected:
    void FormActivate() override;
    void syncView() override;

private:

    store::Table& PagerCompT;
    bool showing_ = false;
};

} // namespace directories
