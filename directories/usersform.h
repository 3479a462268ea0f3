#pragma once

#include "directories/directoryform.h"

class QComboBox;
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

// "Pager Users": the directory of pager users in BUSERS.DBF, on the main window's users handle
// BUsersT (current record shared) with the carriers of PagerCompT in its carrier list.
class TUsersForm : public DirectoryForm {
    Q_OBJECT

public:
    TUsersForm(store::Table& users, store::Table& carriers, QWidget* parent = nullptr);

    QTableView* UsersList;
    QLineEdit* PagerId;
    QComboBox* PagerComp;
    TableModel* UsersModel;
    TableModel* CarriersModel;


protected:
    void FormActivate() override;
    void syncView() override;

private:
    void showRecord();
    void showCurrentRow(int row);

    store::Table& BUsersT;
    store::Table& PagerCompT;
    bool showing_ = false;
};

} // namespace directories
