#pragma once

#include "directories/windowparts.h"
#include "schedule/schedulemessage.h"

#include <QDateTime>
#include <QWidget>
#include <functional>

class QAction;
class QCalendarWidget;
class QCheckBox;
class QLabel;
class QLineEdit;
class QMenuBar;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QToolButton;

namespace core {
class Desk;
}
namespace compose {
class Composition;
}

namespace schedule {

// "Pager Scheduling": shows the composed message and its ticked recipients, and schedules it for
// every ticked recipient on a chosen day and minute (one SCHEDMS2 record each); holds the
// scheduled-sending switch and a clock. Not modal;
// made on first use and hidden when closed.
class TSchedule : public QWidget {
    Q_OBJECT

public:
    TSchedule(core::Desk& desk, compose::Composition& composition, QWidget* parent = nullptr);

    QToolButton* SpeedButton2; // previous month
    QLabel* Month;
    QToolButton* SpeedButton1; // next month
    QCalendarWidget* Calendar1;
    QLineEdit* nhr;
    QLineEdit* nmin;
    QToolButton* TimeSpinUp;
    QToolButton* TimeSpinDown;
    QRadioButton* am;
    QRadioButton* pm;
    QPushButton* BitBtn1; // &OK
    QPushButton* BitBtn3; // &Today's Date
    QPushButton* BitBtn2; // E&xit
    QCheckBox* SendMessages;
    QLabel* TimeofDay;
    QLabel* Recipients; // the ticked recipients OK schedules for
    QPlainTextEdit* MessageView; // the message OK schedules
    QMenuBar* MainMenu;
    QAction* ScheduledMsgsMenu;
    QAction* HelpMenu;
    QAction* ExitMenu;

    // The clock the window resets to; the system's unless replaced.
    std::function<QDateTime()> clock;

    // The time field the spin button steps.
    QLineEdit* spinTarget() const { return spinTarget_; }

    // The day and the time back to now ("Send L&ater" and "&Today's Date" do it; coming back to
    // the window otherwise keeps what was chosen).
    void resetToNow();

public slots:
    void BitBtn1Click();
    void BitBtn3Click();

signals:
    void statusMessage(const QString& text);
    void helpRequested(const QString& keyword);
    void scheduledListRequested();

protected:
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormActivate();
    void showMonth();
    void spin(bool up);
    ClockFace face() const;
    void showFace(const ClockFace& face);
    void SendMessagesClick(bool on);
    // The recipients and the message as the main window holds them now.
    void showComposition();

    core::Desk& desk_;
    compose::Composition& composition_;
    QLineEdit* spinTarget_ = nullptr;
    directories::ActivationWatch activation_;
};

} // namespace schedule
