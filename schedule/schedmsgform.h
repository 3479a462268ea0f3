#pragma once

#include <QWidget>

class QAction;
class QLabel;
class QMenuBar;
class QPlainTextEdit;
class QPushButton;
class QTableView;

namespace store {
class Table;
}
namespace compose {
class Composition;
}
namespace models {
class TableModel;
}

namespace schedule {

// "Scheduled Messages": the waiting records of SCHEDMS2 on the desk's shared handle SchedMsgT in
// BY_SENTSTA order (earliest moment first). The operator moves through them, edits a cell or the
// message (saved when the record is left, undone by Cancel), deletes one, or copies its message into
// the composition ("Use &Msg"). A DDATE or DTIME that is not a real "yyyy/mm/dd" date or "hh:mm:ss"
// time is refused, so the scan never meets an unreadable moment typed here.
class TSchedMsgF : public QWidget {
    Q_OBJECT

public:
    TSchedMsgF(store::Table& scheduled, compose::Composition& composition, QWidget* parent = nullptr);

    QMenuBar* MainMenu;
    QAction* HelpMenu;
    QAction* ExitMenu;
    QPushButton* FirstBtn;
    QPushButton* PriorBtn;
    QPushButton* NextBtn;
    QPushButton* LastBtn;
    QPushButton* DeleteBtn;
    QPushButton* CancelBtn;
    QTableView* DBGrid1;
    QPlainTextEdit* DBMemo1;
    QPushButton* BitBtn1; // Use &Msg
    QPushButton* BitBtn2; // E&xit
    models::TableModel* Model;

    // Most characters "Use &Msg" puts into the composition: the editor's limit raised by 200.
    static constexpr int kUseMsgLimit = 720;

public slots:
    void BitBtn1Click();

signals:
    void helpRequested(const QString& keyword);
    // "Use &Msg" has copied the message; the scheduling window closes too.
    void messageUsed();

private:
    void guarded(const std::function<void()>& command);
    void showMemo();
    void syncView();

    store::Table& SchedMsgT;
    compose::Composition& composition_;
    bool showing_ = false;
};

} // namespace schedule
