#pragma once

#include "core/desk.h"
#include "session/desksession.h"
#include "core/statuslist.h"

#include <QDateTime>
#include <QMainWindow>
#include <functional>
#include <memory>

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QListView;
class QPlainTextEdit;
class QPushButton;
class QTimer;
class QToolButton;
class MessageEdit;
class HelpWindow;
class TAboutBox;
namespace compose {
class Composition;
class TByPagerID;
}
class TShowPending;
namespace config {
class TSystemForm;
}

// The main window: recipients, message editor, command column, the bottom row, the status group and
// the menus. It shows a desk session (the runtime: tables, queues, delivery, scan, intake) and
// passes the operator's commands to it.
class TMainForm : public QMainWindow {
    Q_OBJECT

public:
    // Shows `session`, opened by the caller; the window never runs its tick.
    explicit TMainForm(session::DeskSession& session, QWidget* parent = nullptr);
    // A window with a session of its own on `dataDirectory` (empty: the default data folder), opened
    // here. A failure is kept in startupError(); the window opens regardless.
    explicit TMainForm(const QString& dataDirectory = QString(), QWidget* parent = nullptr);
    ~TMainForm() override;

    session::DeskSession& session() { return *session_; }
    core::Desk& desk() { return session_->desk(); }
    // The message, the recipient ticks and the switches that this window's controls show.
    compose::Composition& composition() { return *composition_; }
    QString startupError() const { return session_->desk().startupError(); }
    // The clock the tick and the scheduled scan read: the session's.
    std::function<QDateTime()>& currentDateTime;

    // The controls. Each has as its object name the name the rest of the desk and its checks know it
    // by ("SendBtn", "message1", "BitBtn7" ...), and an accessible name for screen readers.
    QListView* recipientList; // shows composition().recipients()
    QCheckBox* selectByGroupBox;
    QComboBox* userLookup;
    QComboBox* groupLookup;
    QLabel* pagerIdLabel;
    QLabel* carrierLabel;
    QPushButton* clearAllButton;
    QLabel* messageLabel;
    QLabel* characterCount;
    MessageEdit* messageEditor;
    QPushButton* dateButton;
    QPushButton* timeButton;
    QPushButton* quickButton;
    QPushButton* sendButton;
    QCheckBox* messageLogBox;
    QPushButton* byPagerIdButton;
    QPushButton* sendLaterButton;
    QPushButton* exitButton;
    QPushButton* clearTextButton;
    QPushButton* abortButton; // Abort Mesg
    QPushButton* pendingButton;
    QPlainTextEdit* statusList;
    QLabel* sendingLabel;
    QLabel* clockLabel;
    QToolButton* clearStatusButton; // clears the status list
    QLabel* versionLabel;
    QCheckBox* sendByPagerBox; // hidden: ticked while a page typed by pager ID is under way
    QTimer* deliveryTimer; // the session's tick
    TShowPending* pendingWindow; // the "Pending Messages" window, made at start
    compose::TByPagerID* byPagerIdDialog; // "Send Message By Pager ID Only", made at start
    // The System Configuration window, made at start right after this one (CreateSystemForm).
    config::TSystemForm* SystemForm = nullptr;

    QAction* UsersMenu;
    QAction* CarriersMenu;
    QAction* GroupsMenu;
    QAction* QuickMsgMenu;
    QAction* MsgLogMenu;
    QAction* SchedMsgsMenu;
    QAction* SystemMenu;
    QAction* SetupMenu;
    QAction* AlertSourcesMenu;
    QAction* HelpMenu;
    QAction* HelpHelpMenu;
    QAction* AboutMenu;
    QAction* ExitMenu;

    // The about box and the help window, once they have been opened (nullptr before).
    TAboutBox* aboutBox() const { return aboutBox_; }
    HelpWindow* helpWindow() const { return helpWindow_; }

    // Reports to the operator: one time-stamped line on top of the status list.
    void Show_Status(const QString& msg);
    // The message editor's first line as it is displayed (up to its first line break or wrap).
    QString firstDisplayedLine() const;

public slots:
    void Timer1Timer();
    void ExitClick();
    void BitBtn7Click();
    void PendingMsgsBtnClick();
    void DateBtnClick();
    void TimeBtnClick();
    void ClearTextClick();
    void ClearUsersListCheck();
    void BitBtn6Click();
    void SendGroupClick();
    // "By Pager ID": asks for a pager ID and a carrier, then sends the message to it.
    void ByPagerBtnClick();
    // Brings the main window forward with the focus in the message editor (after a message was
    // put in from another window).
    void focusMessageEditor();
    // The user lookup's choice: shows the user's pager ID and carrier beside it.
    void UserLookupCloseUp();
    void HelpClick();
    // Opens the help window at a topic ("Contents", "SystemsSetup", ...).
    void showHelpTopic(const QString& keyword);
    void AboutClick();
    void message1Change();
    void ReadUsersList();
    void RefreshUsersList();

signals:
    // The clock label's text, at every tick.
    void clockShown(const QString& text);

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildMenus();
    // Binds the editor, the check list and the switches to the composition, makes the preparations
    // on it and connects "&Send Mesg".
    void connectComposition();
    QWidget* buildRecipients();
    QWidget* buildMessage();
    QWidget* buildCommandColumn();
    QWidget* buildBottomRow();
    QWidget* buildStatusGroup();
    void FormActivate();
    // The user lookup enabled and focused, the group lookup disabled, the pager ID and carrier
    // labels emptied and shown.
    void showUserLookup();
    // The single-choice lookups list the users and the groups of `names` (the recipient items).
    void fillLookups(const QStringList& names);
    // Shows the session's tick: the clock, and the pending count when idle.
    void showPending(const QString& caption, bool alert);
    // The pending button's caption, with its key.
    void showPendingCount(const QString& caption);
    // A line the session said, shown with its time on top of the status list.
    void showStatusLine(const QString& msg);
    TMainForm(std::unique_ptr<session::DeskSession> owned, session::DeskSession* session, QWidget* parent);
    // The application's standard error box, one at a time.
    void showStandardError(const QString& text);
    // The recipient names; a store error is shown in the error box and gives no names.
    QStringList recipientNamesOrReport();
    // Saves the queues on the way out, whichever way the window is closed; false keeps the window
    // open (the operator chose to stay after a failed save).
    bool saveQueuesOnClose();

    std::unique_ptr<session::DeskSession> ownedSession_; // set when the window made its session
    session::DeskSession* session_;
    compose::Composition* composition_ = nullptr;
    TAboutBox* aboutBox_ = nullptr;
    HelpWindow* helpWindow_ = nullptr;
    QString lastListError_;
    bool errorBoxOpen_ = false;
    core::StatusHistory statusHistory_;
};
