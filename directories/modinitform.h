#pragma once

#include "directories/directoryform.h"

class QComboBox;
class QLineEdit;

namespace store {
class Table;
}

namespace models {
class TableModel;
}

namespace directories {

using models::TableModel;

// "Modem Initialization Strings": the modem models of MODEMS.DBF with their initialization strings,
// on the main window's handle ModemsT in "Modems" order (current record shared with the System
// Configuration window, which copies the model and string it needs when the operator picks or
// saves there).
class TModInitForm : public DirectoryForm {
    Q_OBJECT

public:
    explicit TModInitForm(store::Table& modems, QWidget* parent = nullptr);

    QComboBox* ModemLookup; // "Lookup Modem Model": choosing one makes it current, changes nothing
    QLineEdit* ModemModel;
    QLineEdit* InitString;
    TableModel* ModelsModel;

protected:
    void FormActivate() override;
    void syncView() override;

private:
    store::Table& ModemsT;
    bool showing_ = false;
};

} // namespace directories
