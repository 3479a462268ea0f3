// "Pager Scheduling" offscreen, opened by the main window's "Send L&ater" on a real data folder and
// an injected clock; SCHEDMS2 is read back from disk by a handle of its own.

#include "app/mainform.h"
#include "app/messageedit.h"
#include "app/schedulesetup.h"
#include "config/inifile.h"
#include "schedule/schedmsgform.h"
#include "schedule/schedulewindow.h"
#include "support/boxanswerer.h"
#include "support/datafolder.h"
#include "support/recipientview.h"
#include "support/records.h"
#include "support/statuslines.h"

#include <QAction>
#include <QListView>
#include <QCalendarWidget>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QTableView>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QToolButton>

using namespace testsupport;

namespace {

const QStringList kFields = { QStringLiteral("DDATE"), QStringLiteral("DTIME"), QStringLiteral("USERNAME"),
    QStringLiteral("MUSTSEND"), QStringLiteral("MSG") };

// With PLIMO_SCREENSHOTS naming a folder, the windows are saved there as the tests see them.
void screenshot(QWidget* window, const QString& name)
{
    const QString folder = qEnvironmentVariable("PLIMO_SCREENSHOTS");
    if (!folder.isEmpty())
        window->grab().save(folder + u'/' + name + QStringLiteral(".png"));
}

} // namespace

class tst_ScheduleWindow : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        dir_ = std::make_unique<DataFolder>();
        QVERIFY(dir_->isValid());
        {
            core::Desk desk(dir_->path());
            QCOMPARE(desk.open(), QString());
            addCarrier(desk, QStringLiteral("Metro"), QStringLiteral("5550101"), QStringLiteral("1200"), 80,
                QStringLiteral("pw"));
            addUser(desk, QStringLiteral("Alice"), QStringLiteral("Metro"), QStringLiteral("1234"));
            addGroup(desk, QStringLiteral("Sales"));
        }
        form_ = std::make_unique<TMainForm>(dir_->path());
        CreateScheduleForm(*form_);
        form_->currentDateTime = [this] { return now_; };
        form_->show();
    }
    void cleanup()
    {
        form_.reset();
        dir_.reset();
    }
    void opensOnTheClockFace_data();
    void opensOnTheClockFace();
    void spinTurnsLikeAClockFace();
    void monthButtonsKeepTheDayOrTakeTheMonthEnd();
    void okSchedulesEveryTickedItem();
    void okRefusesAOneCharacterMessage();
    void passedMomentAsksAndChoiceIsKept();
    void switchCancelKeepsSchedulingOn();
    void listShowsEarliestFirstAndDeleteAsks();
    void listRefusesAnUnreadableMoment();
    void useMsgClosesBothWindowsAndKeepsTheRecord();
    void tabLeavesTheMessageUntouched();

private:
    schedule::TSchedule* open()
    {
        QTest::mouseClick(form_->sendLaterButton, Qt::LeftButton);
        auto* window = form_->findChild<schedule::TSchedule*>();
        if (window)
            (void)QTest::qWaitForWindowActive(window);
        return window;
    }
    void type(const QString& message)
    {
        form_->messageEditor->clear();
        form_->messageEditor->setFocus();
        QTest::keyClicks(form_->messageEditor, message);
    }
    void addScheduled(const QString& date, const QString& time, const QString& text)
    {
        store::Table& t = form_->desk().SchedMsgT();
        t.append();
        t.setFieldText(QStringLiteral("DDATE"), date);
        t.setFieldText(QStringLiteral("DTIME"), time);
        t.setFieldText(QStringLiteral("USERNAME"), QStringLiteral("Alice"));
        t.setFieldText(QStringLiteral("MUSTSEND"), QStringLiteral("Y"));
        t.setMemoLines(QStringLiteral("MSG"), { text });
        t.post();
        t.first();
    }
    schedule::TSchedMsgF* openList()
    {
        form_->SchedMsgsMenu->trigger();
        auto* list = form_->findChild<schedule::TSchedMsgF*>();
        if (list)
            (void)QTest::qWaitForWindowActive(list);
        return list;
    }
    QStringList scheduled() const
    {
        return onDisk(dir_->path(), QStringLiteral("SCHEDMS2.dbf"), QStringLiteral("BY_SENTSTA"), kFields);
    }

    std::unique_ptr<DataFolder> dir_;
    std::unique_ptr<TMainForm> form_;
    QDateTime now_ { QDate(2026, 12, 24), QTime(14, 30) };
};

void tst_ScheduleWindow::opensOnTheClockFace_data()
{
    QTest::addColumn<QTime>("time");
    QTest::addColumn<QString>("hour");
    QTest::addColumn<QString>("minute");
    QTest::addColumn<bool>("pm");
    QTest::newRow("00:05") << QTime(0, 5) << "12" << "05" << false;
    QTest::newRow("12:30") << QTime(12, 30) << "12" << "30" << true;
    QTest::newRow("23:59") << QTime(23, 59) << "11" << "59" << true;
}

void tst_ScheduleWindow::opensOnTheClockFace()
{
    QFETCH(QTime, time);
    QFETCH(QString, hour);
    QFETCH(QString, minute);
    QFETCH(bool, pm);
    now_ = QDateTime(QDate(2026, 12, 24), time);
    schedule::TSchedule* w = open();
    QVERIFY(w);
    QCOMPARE(w->nhr->text(), hour);
    QCOMPARE(w->nmin->text(), minute);
    QCOMPARE(w->pm->isChecked(), pm);
    QCOMPARE(w->am->isChecked(), !pm);
    QCOMPARE(w->Calendar1->selectedDate(), QDate(2026, 12, 24));
    QCOMPARE(w->Month->text(), QLocale().toString(QDate(2026, 12, 24), QStringLiteral("MMMM, yyyy")));
    QCOMPARE(w->spinTarget(), w->nmin);
}

void tst_ScheduleWindow::spinTurnsLikeAClockFace()
{
    now_ = QDateTime(QDate(2026, 12, 24), QTime(11, 59));
    schedule::TSchedule* w = open();
    // The minute is the first target: 59 up wraps to 00 and leaves the hour.
    QTest::mouseClick(w->TimeSpinUp, Qt::LeftButton);
    QCOMPARE(w->nmin->text(), QStringLiteral("00"));
    QCOMPARE(w->nhr->text(), QStringLiteral("11"));
    QTest::mouseClick(w->TimeSpinDown, Qt::LeftButton);
    QCOMPARE(w->nmin->text(), QStringLiteral("59"));
    // A click on the hour makes it the target: 11 AM, 12 PM, 01 PM, and back down.
    QTest::mouseClick(w->nhr, Qt::LeftButton);
    const auto step = [w](QToolButton* button, const char* hour, bool pm) {
        QTest::mouseClick(button, Qt::LeftButton);
        return w->nhr->text() == QLatin1String(hour) && w->pm->isChecked() == pm;
    };
    QVERIFY(step(w->TimeSpinUp, "12", true));
    QVERIFY(step(w->TimeSpinUp, "01", true));
    QVERIFY(step(w->TimeSpinDown, "12", true));
    QVERIFY(step(w->TimeSpinDown, "11", false));
    // An empty field is not stepped.
    w->nhr->clear();
    QString box;
    answerNextBox(QMessageBox::Ok, &box);
    QTest::mouseClick(w->TimeSpinUp, Qt::LeftButton);
    QCOMPARE(box, QStringLiteral("'' is not a valid integer value"));
    QCOMPARE(w->nhr->text(), QString());
}

void tst_ScheduleWindow::monthButtonsKeepTheDayOrTakeTheMonthEnd()
{
    now_ = QDateTime(QDate(2026, 1, 31), QTime(9, 0));
    schedule::TSchedule* w = open();
    QTest::mouseClick(w->SpeedButton1, Qt::LeftButton);
    QCOMPARE(w->Calendar1->selectedDate(), QDate(2026, 2, 28));
    QCOMPARE(w->Month->text(), QLocale().toString(QDate(2026, 2, 1), QStringLiteral("MMMM, yyyy")));
    w->Calendar1->setSelectedDate(QDate(2026, 3, 31));
    QTest::mouseClick(w->SpeedButton2, Qt::LeftButton);
    QCOMPARE(w->Calendar1->selectedDate(), QDate(2026, 2, 28));
}

// The window shows what OK schedules: the ticked recipients and the message, as the main window
// holds them. OK schedules the message for each of them, says so for each, unticks them and
// clears the editor.
void tst_ScheduleWindow::okSchedulesEveryTickedItem()
{
    BoxCatcher boxes;
    // 12 AM: the window opens at 00:00 and the OK stores midnight.
    now_ = QDateTime(QDate(2026, 12, 24), QTime(0, 0));
    form_->messageEditor->setPlainText(QStringLiteral("Night shift\nstarts")); // a pasted line break
    QVERIFY(tickInList(form_->recipientList, QStringLiteral("Alice")));
    QVERIFY(tickInList(form_->recipientList, QStringLiteral("Group: Sales")));
    schedule::TSchedule* w = open();
    QCOMPARE(w->Recipients->text(), QStringLiteral("Alice, Group: Sales"));
    QCOMPARE(w->MessageView->toPlainText(), QStringLiteral("Night shift\nstarts"));
    screenshot(w, QStringLiteral("pager-scheduling"));
    QTest::mouseClick(w->BitBtn1, Qt::LeftButton);
    QVERIFY(!w->isVisible());
    QCOMPARE(form_->messageEditor->toPlainText(), QString());
    QCOMPARE(tickedInList(form_->recipientList), QStringList());
    const QStringList lines = statusTexts(form_->statusList);
    QVERIFY(
        lines.at(0).endsWith(QStringLiteral("Message scheduled for Group: Sales on 2026/12/24 at 00:00:00")));
    QVERIFY(lines.at(1).endsWith(QStringLiteral("Message scheduled for Alice on 2026/12/24 at 00:00:00")));
    // 12 PM for the group, then 3:07 PM typed into the fields.
    now_ = QDateTime(QDate(2026, 12, 24), QTime(12, 0));
    type(QStringLiteral("Lunch"));
    QVERIFY(tickInList(form_->recipientList, QStringLiteral("Group: Sales")));
    w = open();
    QTest::mouseClick(w->BitBtn1, Qt::LeftButton);
    now_ = QDateTime(QDate(2026, 12, 24), QTime(10, 0));
    type(QStringLiteral("Tea"));
    QVERIFY(tickInList(form_->recipientList, QStringLiteral("Alice")));
    w = open();
    w->nhr->clear();
    QTest::keyClicks(w->nhr, QStringLiteral("3"));
    w->nmin->clear();
    QTest::keyClicks(w->nmin, QStringLiteral("07"));
    QTest::mouseClick(w->pm, Qt::LeftButton);
    QTest::mouseClick(w->BitBtn1, Qt::LeftButton);
    QCOMPARE(scheduled(),
        QStringList({ QStringLiteral("2026/12/24|00:00:00|Alice|Y|Night shift\r\nstarts"),
            QStringLiteral("2026/12/24|00:00:00|Group: Sales|Y|Night shift\r\nstarts"),
            QStringLiteral("2026/12/24|12:00:00|Group: Sales|Y|Lunch"),
            QStringLiteral("2026/12/24|15:07:00|Alice|Y|Tea") }));
    QCOMPARE(boxes.texts(), QStringList());
}

void tst_ScheduleWindow::okRefusesAOneCharacterMessage()
{
    now_ = QDateTime(QDate(2026, 12, 24), QTime(14, 30));
    type(QStringLiteral("x"));
    QVERIFY(tickInList(form_->recipientList, QStringLiteral("Alice")));
    schedule::TSchedule* w = open();
    QString box;
    answerNextBox(QMessageBox::Ok, &box);
    QTest::mouseClick(w->BitBtn1, Qt::LeftButton);
    QCOMPARE(box, QStringLiteral("Select User Name, Prepare a Message, and then press \"Send Later\" button."));
    QVERIFY(!w->isVisible());
    QCOMPARE(tickedInList(form_->recipientList), QStringList { QStringLiteral("Alice") }); // nothing written
    QCOMPARE(scheduled(), QStringList());
    // An hour the clock face does not have: refused, the window stays open.
    type(QStringLiteral("ok"));
    QVERIFY(tickInList(form_->recipientList, QStringLiteral("Alice")));
    w = open();
    w->nhr->setText(QStringLiteral("13"));
    answerNextBox(QMessageBox::Ok, &box);
    QTest::mouseClick(w->BitBtn1, Qt::LeftButton);
    QCOMPARE(box, QStringLiteral("'12/24/2026 13:30:00 PM' is not a valid date and time"));
    QVERIFY(w->isVisible());
    QCOMPARE(w->nhr->text(), QStringLiteral("13")); // the entries stay for mending
    QCOMPARE(scheduled(), QStringList());
    QCOMPARE(tickedInList(form_->recipientList), QStringList { QStringLiteral("Alice") });
    // Mended, it is scheduled for the recipient still ticked.
    w->nhr->clear();
    QTest::keyClicks(w->nhr, QStringLiteral("3"));
    QTest::mouseClick(w->BitBtn1, Qt::LeftButton);
    QCOMPARE(scheduled(), QStringList { QStringLiteral("2026/12/24|15:30:00|Alice|Y|ok") });
    QCOMPARE(tickedInList(form_->recipientList), QStringList());
}

// A moment before the current minute asks first; Cancel keeps everything, OK sends it now (due
// this minute). Coming back to the window keeps the chosen day and time; Send Later and Today's
// Date start from now.
void tst_ScheduleWindow::passedMomentAsksAndChoiceIsKept()
{
    now_ = QDateTime(QDate(2026, 12, 24), QTime(14, 30, 40));
    type(QStringLiteral("Call back"));
    QVERIFY(tickInList(form_->recipientList, QStringLiteral("Alice")));
    schedule::TSchedule* w = open();
    w->nmin->clear();
    QTest::keyClicks(w->nmin, QStringLiteral("29"));
    form_->activateWindow();
    QTRY_COMPARE(QApplication::activeWindow(), form_.get());
    w->activateWindow();
    QTRY_COMPARE(QApplication::activeWindow(), w);
    QCOMPARE(w->nmin->text(), QStringLiteral("29"));
    QString box;
    answerNextBox(QMessageBox::Cancel, &box);
    QTest::mouseClick(w->BitBtn1, Qt::LeftButton);
    QCOMPARE(box, QStringLiteral("This moment has passed. Send the message now?"));
    QVERIFY(w->isVisible());
    QCOMPARE(scheduled(), QStringList());
    answerNextBox(QMessageBox::Ok, &box);
    QTest::mouseClick(w->BitBtn1, Qt::LeftButton);
    QVERIFY(!w->isVisible());
    QCOMPARE(scheduled(), QStringList { QStringLiteral("2026/12/24|14:30:00|Alice|Y|Call back") });
    // Not at the passed moment: at the scheduled messages' next pass.
    QVERIFY2(statusTexts(form_->statusList)
                 .first()
                 .endsWith(QStringLiteral(
                     "Message for Alice is due now: it goes at the next pass of the scheduled messages")),
        qPrintable(statusTexts(form_->statusList).first()));
    // The current minute itself is no passed moment.
    type(QStringLiteral("Now"));
    QVERIFY(tickInList(form_->recipientList, QStringLiteral("Alice")));
    w = open();
    QCOMPARE(w->nmin->text(), QStringLiteral("30"));
    w->nmin->setText(QStringLiteral("05"));
    QTest::keyClick(w, Qt::Key_T, Qt::AltModifier);
    QTRY_COMPARE(w->nmin->text(), QStringLiteral("30"));
    QTest::mouseClick(w->BitBtn1, Qt::LeftButton);
    QCOMPARE(scheduled().size(), 2);
}

void tst_ScheduleWindow::switchCancelKeepsSchedulingOn()
{
    schedule::TSchedule* w = open();
    QVERIFY(w->SendMessages->isChecked());
    const auto stored = [] {
        return config::IniFile(config::pagerIniPath()).readString(QStringLiteral("System"), QStringLiteral("SendMessages"));
    };
    QStringList texts;
    answerBoxes({ QMessageBox::Cancel, QMessageBox::Ok }, &texts);
    QTest::mouseClick(w->SendMessages, Qt::LeftButton);
    QVERIFY(w->SendMessages->isChecked());
    QCOMPARE(stored(), QStringLiteral("1"));
    QTest::mouseClick(w->SendMessages, Qt::LeftButton);
    QVERIFY(!w->SendMessages->isChecked());
    QCOMPARE(stored(), QStringLiteral("0"));
    QCOMPARE(texts.first(), QStringLiteral("Are you sure you want to disable message scheduling?"));
}

void tst_ScheduleWindow::listShowsEarliestFirstAndDeleteAsks()
{
    addScheduled(QStringLiteral("2026/12/24"), QStringLiteral("14:30:00"), QStringLiteral("Later"));
    addScheduled(QStringLiteral("2026/12/24"), QStringLiteral("09:05:00"), QStringLiteral("Earlier"));
    schedule::TSchedMsgF* list = openList();
    QVERIFY(list);
    QTRY_COMPARE(list->DBGrid1->currentIndex().row(), 0);
    QCOMPARE(list->DBGrid1->model()->index(0, 1).data().toString(), QStringLiteral("09:05:00"));
    QCOMPARE(list->DBMemo1->toPlainText(), QStringLiteral("Earlier"));
    screenshot(list, QStringLiteral("scheduled-messages"));
    // The navigator's buttons say what they do; the letters their captions underline are their keys.
    QCOMPARE(list->DeleteBtn->text(), QStringLiteral("Delete"));
    QCOMPARE(list->CancelBtn->text(), QStringLiteral("Cancel"));
    QStringList texts;
    answerBoxes({ QMessageBox::Cancel, QMessageBox::Ok }, &texts);
    QTest::keyClick(list, Qt::Key_D, Qt::AltModifier);
    QCOMPARE(scheduled().size(), 2);
    QTest::mouseClick(list->DeleteBtn, Qt::LeftButton);
    QCOMPARE(texts, QStringList({ QStringLiteral("Delete record?"), QStringLiteral("Delete record?") }));
    QCOMPARE(scheduled(), QStringList { QStringLiteral("2026/12/24|14:30:00|Alice|Y|Later") });
    // Alt+X is the menu's Exit.
    list->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(list));
    QTest::keyClick(list, Qt::Key_X, Qt::AltModifier);
    QVERIFY(!list->isVisible());
}

void tst_ScheduleWindow::listRefusesAnUnreadableMoment()
{
    addScheduled(QStringLiteral("2026/12/24"), QStringLiteral("14:30:00"), QStringLiteral("One"));
    addScheduled(QStringLiteral("2026/12/25"), QStringLiteral("08:00:00"), QStringLiteral("Two"));
    schedule::TSchedMsgF* list = openList();
    QTableView* grid = list->DBGrid1;
    const auto typeInto = [grid](int column, const QString& text) {
        grid->window()->activateWindow(); // back from the box
        if (!QTest::qWaitForWindowActive(grid->window()))
            return false;
        grid->setFocus();
        grid->setCurrentIndex(grid->model()->index(0, column));
        QTest::keyClick(grid, Qt::Key_F2);
        auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
        if (!editor)
            return false;
        editor->selectAll();
        QTest::keyClicks(editor, text);
        QTest::keyClick(editor, Qt::Key_Return);
        return true;
    };
    QStringList texts;
    answerBoxes({ QMessageBox::Ok, QMessageBox::Ok, QMessageBox::Ok }, &texts);
    QVERIFY(typeInto(0, QStringLiteral("2026/02/30")));
    QTRY_COMPARE(texts.size(), 1);
    QTRY_VERIFY(!QApplication::activeModalWidget());
    QVERIFY(typeInto(1, QStringLiteral("24:00:00")));
    QTRY_COMPARE(texts.size(), 2);
    QTRY_VERIFY(!QApplication::activeModalWidget());
    // Without its zeros a date would be filed out of order.
    QVERIFY(typeInto(0, QStringLiteral("2026/1/5")));
    QTRY_COMPARE(texts.size(), 3);
    QTRY_VERIFY(!QApplication::activeModalWidget());
    QCOMPARE(texts, QStringList({ QStringLiteral("'2026/02/30' is not a valid date"),
                        QStringLiteral("'24:00:00' is not a valid time"), QStringLiteral("'2026/1/5' is not a valid date") }));
    // A real time is kept and saved when the cursor leaves the record.
    QVERIFY(typeInto(1, QStringLiteral("07:15:00")));
    QTest::mouseClick(list->NextBtn, Qt::LeftButton);
    QCOMPARE(scheduled(),
        QStringList({ QStringLiteral("2026/12/24|07:15:00|Alice|Y|One"),
            QStringLiteral("2026/12/25|08:00:00|Alice|Y|Two") }));
}

void tst_ScheduleWindow::useMsgClosesBothWindowsAndKeepsTheRecord()
{
    addScheduled(QStringLiteral("2026/12/24"), QStringLiteral("14:30:00"), QStringLiteral("Reused text"));
    schedule::TSchedule* w = open();
    w->ScheduledMsgsMenu->trigger();
    auto* list = form_->findChild<schedule::TSchedMsgF*>();
    QVERIFY(list && list->isVisible());
    QTest::mouseClick(list->BitBtn1, Qt::LeftButton);
    QCOMPARE(form_->messageEditor->toPlainText(), QStringLiteral("Reused text"));
    QVERIFY(!list->isVisible());
    QVERIFY(!w->isVisible());
    QCOMPARE(scheduled().size(), 1);
}

// Tab in the list's message moves on, as in the main window's editor: no tab character is typed
// into the text that will be sent.
void tst_ScheduleWindow::tabLeavesTheMessageUntouched()
{
    addScheduled(QStringLiteral("2026/12/24"), QStringLiteral("14:30:00"), QStringLiteral("One"));
    schedule::TSchedMsgF* list = openList();
    list->DBMemo1->setFocus();
    QTest::keyClick(list->DBMemo1, Qt::Key_Tab);
    QVERIFY(QApplication::focusWidget() != list->DBMemo1);
    QCOMPARE(list->DBMemo1->toPlainText(), QStringLiteral("One"));
    QCOMPARE(form_->desk().SchedMsgT().state(), store::Table::State::Browse);
}

QTEST_MAIN(tst_ScheduleWindow)
#include "tst_schedulewindow.moc"
