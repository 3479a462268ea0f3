// The desk end to end: the real main window offscreen on a real data folder, with the carrier
// simulator on a pseudo-terminal as the paging terminal. Pages are typed, ticked and sent as the
// operator does it; the simulator's transcript shows what the terminal received.

#include "app/mainform.h"
#include "app/messageedit.h"
#include "app/schedulesetup.h"
#include "app/systemsetup.h"
#include "compose/bypagerid.h"
#include "schedule/schedulewindow.h"
#include "config/inifile.h"
#include "core/deliveryloop.h"
#include "core/showpending.h"
#include "store/storeerror.h"
#include "tests/paging/pagersimprocess.h"
#include "support/datafolder.h"
#include "support/boxanswerer.h"
#include "support/recipientview.h"
#include "support/records.h"
#include "support/statuslines.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace testsupport;

namespace {

const QString kCarrier = QStringLiteral("Metro Paging");

// With PLIMO_SCREENSHOTS naming a folder, the windows are saved there as the tests see them.
void screenshot(QWidget* window, const QString& name)
{
    const QString folder = qEnvironmentVariable("PLIMO_SCREENSHOTS");
    if (!folder.isEmpty())
        window->grab().save(folder + u'/' + name + QStringLiteral(".png"));
}

} // namespace

class tst_DeliveryE2E : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void typedMessageReachesTheTerminal();
    void threeQueuedPagesGoInQueueOrder();
    void busyLineRetriedThenPendingSurvivesRestartAndResends();
    void abortDropsThePageUnderWay();
    void droppedMessageFileIsPaged();
    void scheduledRecordDueNowIsPaged();
    void byPagerIdReachesTheTerminal();
    void scheduledFromTheWindowIsPagedAtTheNextScan();
    void messageFileWithBinaryGarbage();
    void carrierWithOddValues();
    void settingsFileWithJunkLines();
    void tableErrorDuringATick();

private:
    // pager.ini for the run: the simulator's device as the port, then `extra` lines.
    void writeSettings(const QString& port, int retries = 3);
    // The data folder with three users on one carrier; `carrier` may replace the carrier's values.
    void fillDirectory(const QString& tel = QStringLiteral("555-0101"),
        const QString& speed = QStringLiteral("1200"), int chars = 80,
        const QString& password = QStringLiteral("pw"));
    std::unique_ptr<TMainForm> startDesk();
    // Types the message, ticks the recipients and presses "&Send Mesg".
    void send(TMainForm& form, const QString& message, const QStringList& recipients);
    static QStringList status(TMainForm& form) { return statusTexts(form.statusList); }

    QTemporaryDir home_;
    std::unique_ptr<testsupport::DataFolder> dir_;
};

void tst_DeliveryE2E::initTestCase()
{
    QVERIFY2(QFile::exists(PagerSimProcess::program()), "build pagersim first");
    // The operator's own settings file is never read or written by the tests.
    qputenv("HOME", home_.path().toLocal8Bit());
    QStandardPaths::setTestModeEnabled(true);
}

void tst_DeliveryE2E::init()
{
    dir_ = std::make_unique<testsupport::DataFolder>();
    QFile::remove(config::pagerIniPath());
}

void tst_DeliveryE2E::cleanup()
{
    dir_.reset();
}

void tst_DeliveryE2E::writeSettings(const QString& port, int retries)
{
    QVERIFY(testsupport::DataFolder::writeSimulatorSettings(port, QStringLiteral("9"), retries));
}

void tst_DeliveryE2E::fillDirectory(
    const QString& tel, const QString& speed, int chars, const QString& password)
{
    core::Desk desk(dir_->path());
    QCOMPARE(desk.open(), QString());
    addCarrier(desk, kCarrier, tel, speed, chars, password);
    addUser(desk, QStringLiteral("Ann Lee"), kCarrier, QStringLiteral("1234"));
    addUser(desk, QStringLiteral("Bob Ray"), kCarrier, QStringLiteral("56-78"));
    addUser(desk, QStringLiteral("Cy Doe"), kCarrier, QStringLiteral("9012"));
}

std::unique_ptr<TMainForm> tst_DeliveryE2E::startDesk()
{
    auto form = std::make_unique<TMainForm>(dir_->path());
    CreateSystemForm(*form);
    form->show();
    form->session().setTickInterval(100); // a short tick: the suite does not wait on the real second
    form->deliveryTimer->start();
    return form;
}

void tst_DeliveryE2E::send(TMainForm& form, const QString& message, const QStringList& recipients)
{
    form.messageEditor->setFocus();
    QTest::keyClicks(form.messageEditor, message);
    for (const QString& name : recipients) {
        QVERIFY2(testsupport::tickInList(form.recipientList, name), qPrintable(name));
    }
    QTest::mouseClick(form.sendButton, Qt::LeftButton);
}

void tst_DeliveryE2E::typedMessageReachesTheTerminal()
{
    PagerSimProcess sim;
    QVERIFY(sim.start({ "--password", "pw" }));
    writeSettings(sim.device());
    fillDirectory();
    auto form = startDesk();
    BoxCatcher boxes;
    const QString text = QStringLiteral("Server room is warm, please check the cooling unit today");
    send(*form, text, { QStringLiteral("Ann Lee") });
    QStringList progress; // the Sending label's captions while the page goes
    connect(&form->session(), &session::DeskSession::sendingProgress, this, [&] {
        if (!form->sendingLabel->isVisible())
            return;
        progress << form->sendingLabel->text();
        if (progress.size() == 3)
            screenshot(form.get(), QStringLiteral("mainwindow-sending"));
    });
    QVERIFY(sim.waitFor(QStringLiteral("page"), 1, 20000));
    QTRY_VERIFY_WITH_TIMEOUT(!form->desk().pageInProgress(), 10000);
    QVERIFY2(progress.contains(QStringLiteral("Sending page 1 of 1")), qPrintable(progress.join(u'|')));
    const QJsonObject page = sim.transcript(QStringLiteral("page")).first();
    QCOMPARE(textOf(page, "id"), QStringLiteral("1234"));
    QCOMPARE(textOf(page, "text"), text);
    QCOMPARE(textOf(sim.transcript(QStringLiteral("dial")).first(), "number"), QStringLiteral("95550101"));
    QCOMPARE(textOf(sim.transcript(QStringLiteral("login")).first(), "password"), QStringLiteral("pw"));
    const QStringList lines = status(*form);
    QCOMPARE(lines.first(), QStringLiteral("Sent to Ann Lee: ") + text.left(40));
    QVERIFY(lines.contains(QStringLiteral("Sending message to Ann Lee")));
    QVERIFY(!form->sendingLabel->isVisible());
    QVERIFY(form->desk().SendMsgs().isEmpty());
    QVERIFY(form->desk().PendingMsgs().isEmpty());
    QCOMPARE(boxes.texts(), QStringList());
}

void tst_DeliveryE2E::threeQueuedPagesGoInQueueOrder()
{
    PagerSimProcess sim;
    QVERIFY(sim.start({}));
    writeSettings(sim.device());
    fillDirectory();
    auto form = startDesk();
    send(*form, QStringLiteral("Meeting at ten"),
        { QStringLiteral("Cy Doe"), QStringLiteral("Ann Lee"), QStringLiteral("Bob Ray") });
    QCOMPARE(form->desk().SendMsgs().rowCount(), 3);
    QVERIFY(sim.waitFor(QStringLiteral("page"), 3, 30000));
    QStringList ids;
    for (const QJsonObject& page : sim.transcript(QStringLiteral("page")))
        ids << textOf(page, "id");
    // The recipient list's order (sorted), the pager IDs without dashes.
    QCOMPARE(ids, QStringList({ "1234", "5678", "9012" }));
    QCOMPARE(sim.transcript(QStringLiteral("connect")).size(), 3); // one call per page, one at a time
    QTRY_VERIFY_WITH_TIMEOUT(!form->desk().pageInProgress(), 10000);
    QCOMPARE(status(*form).filter(QStringLiteral("Sent to ")),
        QStringList({ "Sent to Cy Doe: Meeting at ten", "Sent to Bob Ray: Meeting at ten",
            "Sent to Ann Lee: Meeting at ten" }));
}

void tst_DeliveryE2E::busyLineRetriedThenPendingSurvivesRestartAndResends()
{
    PagerSimProcess sim;
    QVERIFY(sim.start({ "--fault", "busy:2" }));
    writeSettings(sim.device(), 2);
    fillDirectory();
    {
        auto form = startDesk();
        send(*form, QStringLiteral("Busy line test"), { QStringLiteral("Ann Lee") });
        QTRY_VERIFY_WITH_TIMEOUT(form->desk().PendingMsgs().rowCount() == 1, 20000);
        QCOMPARE(sim.transcript(QStringLiteral("dial")).size(), 2); // tried as Retries allows
        QVERIFY(form->desk().SendMsgs().isEmpty());
        QCOMPARE(status(*form).filter(QStringLiteral("Line busy")).size(), 2);
        QTRY_COMPARE_WITH_TIMEOUT(form->pendingButton->text(), QStringLiteral("Pe&nding Msgs: 1"), 3000);
        QCOMPARE(
            form->pendingButton->palette().color(QPalette::Active, QPalette::ButtonText), QColor(Qt::red));
        QTest::mouseClick(form->exitButton, Qt::LeftButton);
    }
    QVERIFY(QFile::exists(QStringLiteral("PendMsgs")));
    auto form = startDesk();
    QCOMPARE(form->desk().PendingMsgs().rowCount(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(form->pendingButton->text(), QStringLiteral("Pe&nding Msgs: 1"), 3000);
    // The Pending Messages window is modal: a double click on the page sends it again.
    bool seen = false;
    QTimer::singleShot(200, form.get(), [&] {
        TShowPending* window = form->pendingWindow;
        seen = window->isVisible() && window->DBGrid1->model()->rowCount() == 1;
        screenshot(window, QStringLiteral("pending-messages"));
        const QRect cell = window->DBGrid1->visualRect(window->DBGrid1->model()->index(0, 1));
        QTest::mouseClick(window->DBGrid1->viewport(), Qt::LeftButton, {}, cell.center());
        QTest::mouseDClick(window->DBGrid1->viewport(), Qt::LeftButton, {}, cell.center());
        if (window->isVisible())
            window->reject();
    });
    QTest::mouseClick(form->pendingButton, Qt::LeftButton);
    QVERIFY(seen);
    QCOMPARE(form->pendingButton->text(), QStringLiteral("Pe&nding Msgs: 0"));
    QVERIFY(sim.waitFor(QStringLiteral("page"), 1, 20000));
    QCOMPARE(
        textOf(sim.transcript(QStringLiteral("page")).first(), "text"), QStringLiteral("Busy line test"));
    QTRY_VERIFY_WITH_TIMEOUT(!form->desk().pageInProgress() && form->desk().SendMsgs().isEmpty(), 10000);
    QVERIFY(form->desk().PendingMsgs().isEmpty());
}

void tst_DeliveryE2E::abortDropsThePageUnderWay()
{
    PagerSimProcess sim;
    QVERIFY(sim.start({ "--fault", "silent-terminal:1" }));
    writeSettings(sim.device());
    fillDirectory();
    auto form = startDesk();
    send(*form, QStringLiteral("Abort me"), { QStringLiteral("Ann Lee"), QStringLiteral("Bob Ray") });
    QVERIFY(sim.waitFor(QStringLiteral("connect"), 1, 10000));
    QVERIFY(form->desk().pageInProgress());
    QVERIFY(form->abortButton->isEnabled());
    QTest::mouseClick(form->abortButton, Qt::LeftButton);
    QVERIFY(!form->desk().pageInProgress());
    QCOMPARE(form->desk().SendMsgs().rowCount(), 1); // Ann's page is dropped, Bob's waits
    QVERIFY(sim.waitFor(QStringLiteral("page"), 1, 20000));
    QCOMPARE(textOf(sim.transcript(QStringLiteral("page")).first(), "id"), QStringLiteral("5678"));
    QTRY_VERIFY_WITH_TIMEOUT(!form->desk().pageInProgress() && form->desk().SendMsgs().isEmpty(), 10000);
    QVERIFY(form->desk().PendingMsgs().isEmpty()); // an aborted page does not become pending
    QCOMPARE(sim.transcript(QStringLiteral("page")).size(), 1);
}

void tst_DeliveryE2E::droppedMessageFileIsPaged()
{
    PagerSimProcess sim;
    QVERIFY(sim.start({}));
    writeSettings(sim.device());
    fillDirectory();
    auto form = startDesk();
    QFile file(QStringLiteral("plimomsgs.txt"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("555-0199\r\nMetro Paging\r\nDoor alarm \r\nin building 4\r\n");
    file.close();
    QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(QStringLiteral("plimomsgs.txt")), 5000); // consumed
    QVERIFY(sim.waitFor(QStringLiteral("page"), 1, 20000));
    const QJsonObject page = sim.transcript(QStringLiteral("page")).first();
    QCOMPARE(textOf(page, "id"), QStringLiteral("5550199"));
    QCOMPARE(textOf(page, "text"), QStringLiteral("Door alarm in building 4"));
    QTRY_VERIFY_WITH_TIMEOUT(
        status(*form).contains(QStringLiteral("Sent to From File 555-0199: Door alarm in building 4")),
        10000);
}

void tst_DeliveryE2E::scheduledRecordDueNowIsPaged()
{
    PagerSimProcess sim;
    QVERIFY(sim.start({}));
    writeSettings(sim.device());
    fillDirectory();
    const QDate today = QDate::currentDate();
    {
        core::Desk desk(dir_->path());
        QCOMPARE(desk.open(), QString());
        const auto schedule = [&](const QDate& date, const QString& time, const QString& user,
                                  const QString& text) {
            desk.SchedMsgT().append();
            desk.SchedMsgT().setFieldText(QStringLiteral("DDATE"), date.toString(QStringLiteral("yyyy/MM/dd")));
            desk.SchedMsgT().setFieldText(QStringLiteral("DTIME"), time);
            desk.SchedMsgT().setFieldText(QStringLiteral("USERNAME"), user);
            desk.SchedMsgT().setFieldText(QStringLiteral("MUSTSEND"), QStringLiteral("Y"));
            desk.SchedMsgT().setMemoLines(QStringLiteral("MSG"), { text });
            desk.SchedMsgT().post();
        };
        schedule(today.addDays(-1), QStringLiteral("11:00:00"), QStringLiteral("Bob Ray"),
            QStringLiteral("Yesterday's reminder"));
        schedule(
            today, QStringLiteral("11:59:00"), QStringLiteral("Cy Doe"), QStringLiteral("Lunch at noon"));
    }
    auto form = startDesk();
    // The test gives the ticks: the clock stands one second before a quarter minute, where the scan
    // does not run; at the quarter minute it queues the due record.
    form->deliveryTimer->stop();
    QDateTime now(today, QTime(11, 59, 59));
    form->currentDateTime = [&now] { return now; };
    BoxCatcher boxes;
    form->Timer1Timer();
    QVERIFY(form->desk().SendMsgs().isEmpty());
    now = QDateTime(today, QTime(12, 0, 0));
    form->Timer1Timer();
    QCOMPARE(form->desk().SendMsgs().rowCount(), 1);
    form->session().setTickInterval(100); // a short tick: the suite does not wait on the real second
    form->deliveryTimer->start(); // the delivery timer takes it from here
    QVERIFY(sim.waitFor(QStringLiteral("page"), 1, 20000));
    const QJsonObject page = sim.transcript(QStringLiteral("page")).first();
    QCOMPARE(textOf(page, "id"), QStringLiteral("9012"));
    QCOMPARE(textOf(page, "text"), QStringLiteral("Lunch at noon"));
    QTRY_VERIFY_WITH_TIMEOUT(status(*form).contains(QStringLiteral("Sent to Cy Doe: Lunch at noon")), 10000);
    // Both records are gone: the due one sent, yesterday's unsent.
    store::Table& sched = form->desk().SchedMsgT();
    sched.refresh();
    QVERIFY(sched.isEmpty());
    // Further quarter-minute ticks find nothing more to send.
    form->deliveryTimer->stop();
    QTRY_VERIFY(!form->desk().pageInProgress());
    form->Timer1Timer();
    form->Timer1Timer();
    QVERIFY(form->desk().SendMsgs().isEmpty());
    QVERIFY(!form->desk().pageInProgress());
    QCOMPARE(sim.transcript(QStringLiteral("page")).size(), 1);
    QCOMPARE(boxes.texts(), QStringList());
}

void tst_DeliveryE2E::byPagerIdReachesTheTerminal()
{
    PagerSimProcess sim;
    QVERIFY(sim.start({}));
    writeSettings(sim.device());
    fillDirectory();
    {
        core::Desk desk(dir_->path());
        QCOMPARE(desk.open(), QString());
        addCarrier(desk, QStringLiteral("Zeta Paging"), QStringLiteral("555-0199"), QStringLiteral("2400"), 80,
            QStringLiteral("zz"));
    }
    auto form = startDesk();
    form->messageEditor->setFocus();
    QTest::keyClicks(form->messageEditor, QStringLiteral("Gate code changed"));
    bool typed = false;
    QTimer::singleShot(0, form.get(), [&] {
        auto* dialog = qobject_cast<compose::TByPagerID*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        QVERIFY(QTest::qWaitForWindowActive(dialog));
        screenshot(dialog, QStringLiteral("by-pager-id"));
        QCOMPARE(QApplication::focusWidget(), dialog->pager);
        QTest::keyClicks(dialog->pager, QStringLiteral("12a34567890")); // letters refused, nine digits kept
        QTest::keyClick(dialog->pager, Qt::Key_Return); // moves on to the drop-down, does not close
        QVERIFY(dialog->isVisible());
        QCOMPARE(QApplication::focusWidget(), dialog->Name);
        dialog->Name->setCurrentIndex(dialog->Name->findText(QStringLiteral("Zeta Paging")));
        emit dialog->Name->activated(dialog->Name->currentIndex());
        typed = true;
        QTest::keyClick(dialog->Name, Qt::Key_Return); // in the drop-down Enter presses OK
    });
    QTest::mouseClick(form->byPagerIdButton, Qt::LeftButton);
    QVERIFY(typed);
    QVERIFY(sim.waitFor(QStringLiteral("page"), 1, 20000));
    const QJsonObject page = sim.transcript(QStringLiteral("page")).first();
    QCOMPARE(textOf(page, "id"), QStringLiteral("123456789"));
    QCOMPARE(textOf(page, "text"), QStringLiteral("Gate code changed"));
    QCOMPARE(textOf(sim.transcript(QStringLiteral("dial")).first(), "number"), QStringLiteral("95550199"));
    QTRY_VERIFY_WITH_TIMEOUT(
        status(*form).contains(QStringLiteral("Sent to 123456789: Gate code changed")), 10000);
    QTRY_VERIFY(!form->sendByPagerBox->isChecked());
}

void tst_DeliveryE2E::scheduledFromTheWindowIsPagedAtTheNextScan()
{
    PagerSimProcess sim;
    QVERIFY(sim.start({}));
    writeSettings(sim.device());
    fillDirectory();
    auto form = startDesk();
    CreateScheduleForm(*form);
    form->deliveryTimer->stop(); // the test gives the ticks
    QDateTime now(QDate::currentDate(), QTime(16, 20, 5));
    form->currentDateTime = [&now] { return now; };
    BoxCatcher boxes;
    form->messageEditor->setFocus();
    QTest::keyClicks(form->messageEditor, QStringLiteral("Doors close at five"));
    QVERIFY(tickInList(form->recipientList, QStringLiteral("Bob Ray")));
    QTest::mouseClick(form->sendLaterButton, Qt::LeftButton);
    auto* window = form->findChild<schedule::TSchedule*>();
    QVERIFY(window);
    QVERIFY(QTest::qWaitForWindowActive(window));
    screenshot(window, QStringLiteral("pager-scheduling"));
    QTest::mouseClick(window->BitBtn1, Qt::LeftButton);
    form->Timer1Timer(); // 16:20:05 is no quarter minute
    QVERIFY(form->desk().SendMsgs().isEmpty());
    now = QDateTime(QDate::currentDate(), QTime(16, 20, 15));
    form->Timer1Timer();
    QCOMPARE(form->desk().SendMsgs().rowCount(), 1);
    form->session().setTickInterval(100); // a short tick: the suite does not wait on the real second
    form->deliveryTimer->start();
    QVERIFY(sim.waitFor(QStringLiteral("page"), 1, 20000));
    const QJsonObject page = sim.transcript(QStringLiteral("page")).first();
    QCOMPARE(textOf(page, "id"), QStringLiteral("5678"));
    QCOMPARE(textOf(page, "text"), QStringLiteral("Doors close at five"));
    QTRY_VERIFY_WITH_TIMEOUT(!form->desk().pageInProgress(), 10000);
    QCOMPARE(onDisk(dir_->path(), QStringLiteral("SCHEDMS2.dbf"), QStringLiteral("BY_SENTSTA"),
                 { QStringLiteral("DDATE") }),
        QStringList());
    QCOMPARE(boxes.texts(), QStringList());
}

void tst_DeliveryE2E::messageFileWithBinaryGarbage()
{
    PagerSimProcess sim;
    QVERIFY(sim.start({}));
    writeSettings(sim.device());
    fillDirectory();
    auto form = startDesk();
    BoxCatcher boxes;
    QByteArray garbage(4096, '\0');
    QRandomGenerator rng(20261208);
    for (char& c : garbage)
        c = char(rng.bounded(256));
    QFile file(QStringLiteral("plimomsgs.txt"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(garbage);
    file.close();
    QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(QStringLiteral("plimomsgs.txt")), 5000);
    // The timer goes on ticking after the garbage.
    QSignalSpy ticks(form->deliveryTimer, &QTimer::timeout);
    QVERIFY(ticks.wait(5000));
    QVERIFY(ticks.wait(5000));
    QVERIFY(form->deliveryTimer->isActive());
    // Whatever the garbage gave (a report, or a page to an odd ID that fails), the desk goes on: a
    // typed page is delivered after it.
    QTRY_VERIFY_WITH_TIMEOUT(!form->desk().pageInProgress() && form->desk().SendMsgs().isEmpty(), 30000);
    send(*form, QStringLiteral("After the garbage"), { QStringLiteral("Cy Doe") });
    QTRY_VERIFY_WITH_TIMEOUT(!sim.transcript(QStringLiteral("page")).isEmpty()
            && textOf(sim.transcript(QStringLiteral("page")).last(), "id") == QStringLiteral("9012"),
        30000);
    QVERIFY(form->deliveryTimer->isActive());
}

void tst_DeliveryE2E::carrierWithOddValues()
{
    PagerSimProcess sim;
    QVERIFY(sim.start({}));
    writeSettings(sim.device());
    // A speed that is not a whole number, no page size, a number with letters, a password with an
    // escape character and a line end.
    fillDirectory(QStringLiteral("555-01x01"), QStringLiteral("12x0"), -3, QStringLiteral("p\x1b\rw"));
    auto form = startDesk();
    BoxCatcher boxes;
    send(*form, QStringLiteral("Odd carrier"), { QStringLiteral("Ann Lee") });
    // Delivered or pending, never lost, and the timer goes on.
    QTRY_VERIFY_WITH_TIMEOUT(form->desk().SendMsgs().isEmpty() && !form->desk().pageInProgress(), 30000);
    const int delivered = sim.transcript(QStringLiteral("page")).size();
    QCOMPARE(delivered + form->desk().PendingMsgs().rowCount(), 1);
    QVERIFY(form->deliveryTimer->isActive());
    for (const QJsonObject& o : sim.transcript(QStringLiteral("modem")))
        QVERIFY2(!textOf(o, "command").contains(u'x'),
            qPrintable(textOf(o, "command"))); // no text reached the modem
}

void tst_DeliveryE2E::settingsFileWithJunkLines()
{
    PagerSimProcess sim;
    QVERIFY(sim.start({}));
    QDir().mkpath(QFileInfo(config::pagerIniPath()).path());
    QFile ini(config::pagerIniPath());
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write(
        "garbage without equals\n\x01\x02\xff\xfe\n[Other]\nComPort=/dev/null\n[[System\n=value\n[System]\n"
        "DeliveryRetries=lots\nDirectMesgDelay=-9\nComPort="
        + sim.device().toUtf8() + "\nPulseDial=maybe\n\n;comment\n");
    ini.close();
    fillDirectory();
    auto form = startDesk();
    BoxCatcher boxes;
    send(*form, QStringLiteral("Junk settings"), { QStringLiteral("Bob Ray") });
    QVERIFY(sim.waitFor(QStringLiteral("page"), 1, 20000));
    QCOMPARE(textOf(sim.transcript(QStringLiteral("page")).first(), "id"), QStringLiteral("5678"));
    QVERIFY(form->deliveryTimer->isActive());
}

void tst_DeliveryE2E::tableErrorDuringATick()
{
    PagerSimProcess sim;
    QVERIFY(sim.start({}));
    writeSettings(sim.device());
    fillDirectory();
    auto form = startDesk();
    BoxCatcher boxes;
    // The tick takes in a message file naming a user while the users table cannot be read.
    form->desk().BUsersT().close();
    QFile file(QStringLiteral("plimomsgs.txt"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("Ann Lee\nMetro Paging\nTable fault\n");
    file.close();
    // Its page cannot be queued: the file waits, the fault said once, naming the table.
    QTRY_VERIFY_WITH_TIMEOUT(!boxes.texts().isEmpty(), 5000);
    QVERIFY2(boxes.texts().constFirst().startsWith(QStringLiteral("The message of plimomsgs.txt waits: Table "))
            && boxes.texts().constFirst().contains(QStringLiteral("Busers"), Qt::CaseInsensitive),
        qPrintable(boxes.texts().constFirst()));
    QTest::qWait(300);
    QCOMPARE(boxes.texts().size(), 1);
    QVERIFY(QFile::exists(QStringLiteral("plimomsgs.txt")));
    QVERIFY(form->deliveryTimer->isActive());
    // A table error raised inside the tick itself (the scheduled scan on a table that is not open)
    // is shown in the standard error box; the timer goes on and the next page is sent.
    form->desk().SchedMsgT().close();
    const int boxesBefore = boxes.texts().size();
    form->currentDateTime = [] { return QDateTime(QDate::currentDate(), QTime(12, 0, 0)); };
    QTRY_VERIFY_WITH_TIMEOUT(boxes.texts().size() > boxesBefore, 5000);
    form->currentDateTime = [] { return QDateTime::currentDateTime(); };
    QVERIFY(form->deliveryTimer->isActive());
    form->desk().SchedMsgT().open();
    form->desk().BUsersT().open();
    // The table back, the waiting file is paged.
    QVERIFY(sim.waitFor(QStringLiteral("page"), 1, 20000));
    QVERIFY(!QFile::exists(QStringLiteral("plimomsgs.txt")));
    QTRY_VERIFY_WITH_TIMEOUT(!form->desk().pageInProgress() && form->desk().SendMsgs().isEmpty(), 10000);
    const int before = sim.transcript(QStringLiteral("page")).size();
    send(*form, QStringLiteral("After the fault"), { QStringLiteral("Cy Doe") });
    QVERIFY(sim.waitFor(QStringLiteral("page"), before + 1, 20000));
    QCOMPARE(
        textOf(sim.transcript(QStringLiteral("page")).last(), "text"), QStringLiteral("After the fault"));
}

QTEST_MAIN(tst_DeliveryE2E)
#include "tst_delivery_e2e.moc"
