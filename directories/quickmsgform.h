#pragma once

#include "directories/directoryform.h"

class QPlainTextEdit;
class QTableView;

namespace store {
class Table;
}

namespace models {
class TableModel;
}

namespace directories {

using models::TableModel;

// "Quick Messages Definition" (menu "&QuickMsg") and, with `selectionOnly`, "Quick Message
// Selection" (the "Quick" button): the stored texts of QUICKMSG.DBF in record order, on the desk's
// shared handle QuickMsgT. The definition adds, edits and deletes them through its buttons only (the
// hidden keys do nothing here); both windows use one: "&Use Msg" or a double click hands the body as
// shown, a change not yet posted included, to messageUsed and closes the window.
class TQuickMsgF : public DirectoryForm {
    Q_OBJECT

public:
    TQuickMsgF(store::Table& quickMessages, bool selectionOnly, QWidget* parent = nullptr);

    QTableView* NameList;
    QPlainTextEdit* Body;
    QPushButton* UseBtn;
    TableModel* Model;

    // Most characters the body takes when typed.
    static constexpr int kBodyLimit = 500;

public slots:
    void UseClick();

signals:
    void messageUsed(const QString& text);

protected:
    void FormActivate() override;
    void syncView() override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    store::Table& QuickMsgT;
    bool selectionOnly_;
    bool showing_ = false;
};

} // namespace directories
