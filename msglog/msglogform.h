#pragma once

#include "directories/directoryform.h"
#include "msglog/logresend.h"

class QPlainTextEdit;
class QTableView;

namespace models {
class TableModel;
}

namespace msglog {

class LogFindBar;
class LogStatus;
class TPrintLogFilter;

// "Message Log": the log table MSGLOG2 on the desk's shared handle MsgLogT in BY_DATE order, with
// the grid, the full message of the current record, moving and deleting, "Use &Msg" (the message
// into the main editor) and "&ReSend" (the message again to the same user or group). Each
// activation reads the table again and goes to the newest record; records that sends append show
// at once. Ctrl+F opens the find bar under the message (F3 and Shift+F3 find the next and the
// previous record from the current one); the grid moves to the record found. The MUSTSEND column,
// always blank in the log, is not shown. After the log's own columns, "Status" shows what the
// carriers said of each message's pages (DLVSTAT, read only for the rows in sight), kept current
// while the window is shown.
class TMsgLogF : public directories::DirectoryForm {
    Q_OBJECT

public:
    // "&ReSend" prepares through `send` (the desk session's); "Use &Msg" writes into `composition`.
    TMsgLogF(core::Desk& desk, compose::Composition& composition, LogResend::SendFunction send,
        ResendView view = {}, QWidget* parent = nullptr);

    QTableView* DBGrid2;
    QPlainTextEdit* DBMemo1;
    QPushButton* BitBtn1; // Use Msg
    QPushButton* BitBtn3; // ReSend
    QAction* PrintMenu;
    TPrintLogFilter* PrintLogFilter; // "&Print": the report parameters, modal
    models::TableModel* LogModel;
    LogStatus* Statuses; // the Status column's source
    LogFindBar* FindBar;
    QAction* FindAction;     // Ctrl+F
    QAction* FindNextAction; // F3
    QAction* FindPrevAction; // Shift+F3
    QAction* FindEscapeAction; // Esc while the find bar is shown: the bar's, wherever the focus is

    void BitBtn1Click();
    void BitBtn3Click();
    void Print2Click();
    // The find bar shown, the focus in its user field.
    void openFindBar();

signals:
    // "Use &Msg" put the logged message into the main editor and closed the window.
    void messageUsed();

protected:
    void FormActivate() override;
    void syncView() override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void showCurrentRow(int row);
    void findFromBar(bool next);
    void goToFound(uint32_t recNo);

    store::Table& MsgLogT;
    compose::Composition& composition_;
    LogResend resend_;
    bool showing_ = false;
};

} // namespace msglog
