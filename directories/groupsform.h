#pragma once

#include <QWidget>

class QAction;
class QListWidget;
class QMenuBar;
class QPushButton;
class QTableWidget;
class QTableWidgetItem;
class QTimer;

namespace core {
class Desk;
}

namespace directories {

// The "Groups" window: the group names of GROUPS.DBF in an editable one-column grid, and for the
// current group its members (from the group's member file) beside the users who are not members.
// An ordinary window beside the main window; made at start and shown from "Grou&ps".
class TGroupsForm : public QWidget {
    Q_OBJECT

public:
    explicit TGroupsForm(core::Desk& desk, QWidget* parent = nullptr);

    QTableWidget* GroupName;
    QListWidget* UsersList;
    QListWidget* MemberList;
    QPushButton* AddMemberBtn;
    QPushButton* DeleteMemberBtn;
    QPushButton* SelectGroupBtn;
    QPushButton* AddGroupBtn;
    QPushButton* DeleteGroupBtn;
    QPushButton* SaveGroupBtn;
    QPushButton* ExitBtn;
    QMenuBar* MainMenu;
    QAction* HelpMenu;
    QAction* ExitMenu;

    // The member file of the group current in GROUPS.DBF.
    QString currentMemberFile() const;

public slots:
    // Loads both lists from the current group's member file and the users table.
    void ReadUsersList();
    void AddGroupMembers();
    void DeleteMember();
    void AddNewGroup();
    void SaveGroup();
    void DeleteGroup();
    void SaveGroupMembers();

signals:
    void helpRequested(const QString& keyword);
    void statusMessage(const QString& text);
    // The window was closed: the recipient list is rebuilt from the tables.
    void closed();

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void FormActivate();
    // Rebuilds the grid from GROUPS.DBF and selects the current record's row.
    void loadGrid();
    // Makes the record of grid row `row` current.
    void goToRow(int row);
    int currentRow();
    void gridEdited(QTableWidgetItem* item);
    // The current record moved or its name changed: the lists follow it, once the events have
    // settled (a walk over the groups elsewhere, as the recipient list makes, reloads them once).
    void followCurrentGroup();
    void reloadForCurrentGroup();
    // Posts a pending edit of the current group with capital initials; reports a refusal.
    bool postCurrentGroup();
    void reportError(const QString& text);

    core::Desk& desk_;
    bool opened_ = false; // shown once since the start: the lists follow every change of group
    bool walking_ = false; // the window itself moves through GROUPS.DBF
    bool showActivated_ = false; // activated for a show: the platform's activation to come is that one
    // A member file that is there but was not read (a pipe, a device, past its bound): its fault,
    // told once, and its path, never saved over (what it holds was never shown).
    QString unreadMemberFile_;
    QString memberFileFault_;
    QTimer* activate_;
    QTimer* follow_;
};

} // namespace directories
