#include "app/mainform.h"
#include "app/messageedit.h"
#include "app/systemsetup.h"
#include "compose/preparation.h"
#include "composetestutil.h"
#include "config/inifile.h"
#include "config/systemform.h"
#include "store/memtable.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace composetest;

namespace {

struct QueuedPage {
    QString networkPhone, pagerPhone, baudRate, message, name;
    int size = 0;
    int retries = 0;
    bool isGroup = false;
};

QList<QueuedPage> queued(store::TMemTable& send)
{
    QList<QueuedPage> pages;
    for (int row = 0; row < send.rowCount(); ++row) {
        send.setCurrentRow(row);
        pages << QueuedPage { send.fieldText(QStringLiteral("NetworkPhone")),
            send.fieldText(QStringLiteral("PagerPhone")), send.fieldText(QStringLiteral("BaudRate")),
            send.fieldText(QStringLiteral("MessageToSend")),
            send.fieldText(QStringLiteral("UserOrGroupName")), send.fieldInt(QStringLiteral("MessageSize")),
            send.fieldInt(QStringLiteral("Retries")), send.fieldBool(QStringLiteral("IsGroup")) };
    }
    return pages;
}

int logCount(core::Desk& desk)
{
    int count = 0;
    desk.MsgLogT.refresh();
    for (desk.MsgLogT.first(); !desk.MsgLogT.eof(); desk.MsgLogT.next())
        ++count;
    return count;
}

void tick(QListWidget* list, const QString& name)
{
    const auto found = list->findItems(name, Qt::MatchExactly);
    QVERIFY2(!found.isEmpty(), qPrintable(name));
    found.first()->setCheckState(Qt::Checked);
}

QStringList tickedItems(const QListWidget* list)
{
    QStringList ticked;
    for (int i = 0; i < list->count(); ++i) {
        if (list->item(i)->checkState() == Qt::Checked)
            ticked << list->item(i)->text();
    }
    return ticked;
}

} // namespace

class tst_Preparation : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> dir_;
    QString previousCurrent_;
    QTemporaryDir home_; // the settings file of these tests lives here, apart from other suites'

    // A data folder holding the users and carriers that `fill` appends, and the main window on it.
    template <typename Fill> std::unique_ptr<TMainForm> formWith(Fill fill)
    {
        {
            core::Desk desk(dir_->path());
            if (!desk.open().isEmpty())
                return nullptr;
            fill(desk);
        }
        return std::make_unique<TMainForm>(dir_->path());
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(home_.isValid());
        qputenv("HOME", QFile::encodeName(home_.path()));
        previousCurrent_ = QDir::currentPath();
    }
    void init()
    {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        QVERIFY(QDir::setCurrent(dir_->path()));
    }
    void cleanup()
    {
        QFile::remove(config::pagerIniPath());
        QDir::setCurrent(previousCurrent_);
        dir_.reset();
    }

    void sendButtonIsEnabled();
    void oneUser_data();
    void oneUser();
    void settingsOfTheSystemWindow_data();
    void settingsOfTheSystemWindow();
    void logRecordKeepsTheEditorText();
    void longMessageIsLoggedWholeAndQueuedCut();
    void walkFollowsListOrderAndRoutesByPrefix();
    void oneFailureDoesNotStopTheWalk();
    void deletedUserIsReportedByName();
    void boxes_data();
    void boxes();
    void otherCallersGetTheShortEmptyMessageBox();
    void busyDeskQueuesNothingAndKeepsTicks_data();
    void busyDeskQueuesNothingAndKeepsTicks();
    void selectByGroupPreparesNothingAndIsUnticked();
    void minimisedWindowIsRestored();
    void tableFaultIsShownAndTheWalkGoesOn();
};

void tst_Preparation::sendButtonIsEnabled()
{
    auto form = formWith([](core::Desk&) {});
    QVERIFY(form);
    QVERIFY(form->SendBtn->isEnabled());
    QCOMPARE(form->SendBtn->text(), QStringLiteral("&Send Mesg"));
}

void tst_Preparation::oneUser_data()
{
    QTest::addColumn<QString>("userCarrier");
    QTest::addColumn<QString>("pagerId");
    QTest::addColumn<QString>("carrier"); // "" = no carrier record
    QTest::addColumn<QString>("tel");
    QTest::addColumn<QString>("speed");
    QTest::addColumn<int>("chars");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("status"); // "" = no status line
    QTest::addColumn<int>("logs");
    QTest::addColumn<QString>("networkPhone"); // "" = no page
    QTest::addColumn<QString>("pagerPhone");
    QTest::addColumn<QString>("baudRate");
    QTest::addColumn<int>("size");

    const QString bad = QStringLiteral("Bad Carrier Phone number for Ann");
    // clang-format off
    QTest::newRow("alphanumeric") << "Metro" << "555-01-23" << "Metro" << "1-800-555-0101" << "2400" << 80 << "PW"
        << "" << 1 << "1-800-555-0101^PW" << "5550123" << "2400" << 80;
    QTest::newRow("empty speed") << "Metro" << "5550" << "Metro" << "555" << "" << 0 << ""
        << "" << 1 << "555^" << "5550" << "300" << 0;
    QTest::newRow("speed 299") << "Metro" << "5550" << "Metro" << "555" << "299" << 80 << ""
        << "" << 1 << "555^" << "5550" << "300" << 80;
    QTest::newRow("speed not a whole number") << "Metro" << "5550" << "Metro" << "555" << "12OO" << 80 << ""
        << "" << 1 << "555^" << "5550" << "300" << 80;
    QTest::newRow("numeric 1200") << "numeric" << "555-7777" << "numeric" << "555" << "1200" << 80 << "PW"
        << "" << 1 << "#," << "5557777" << "B1200" << 10;
    QTest::newRow("NUMERIC") << "NUMERIC" << "5557777" << "NUMERIC" << "555" << "" << 80 << ""
        << "" << 1 << "#," << "5557777" << "B300" << 10;
    QTest::newRow("numeric pager is alphanumeric") << "numeric pager" << "5557777" << "numeric pager" << "555"
        << "1200" << 80 << "" << "" << 1 << "555^" << "5557777" << "1200" << 80;
    QTest::newRow("numeric with a short number") << "Numeric" << "5557777" << "Numeric" << "55" << "1200" << 80
        << "" << bad << 1 << "" << "" << "" << 0;
    QTest::newRow("dial string cut to 20") << "Metro" << "5550" << "Metro" << "1-800-555-0101" << "" << 80
        << "PASSWORD12" << "" << 1 << "1-800-555-0101^PASSW" << "5550" << "300" << 80;
    QTest::newRow("pager ID of 2") << "Metro" << "55" << "Metro" << "555" << "" << 80 << ""
        << "" << 1 << "555^" << "55" << "300" << 80;
    QTest::newRow("pager ID of 1") << "Metro" << "5" << "Metro" << "555" << "" << 80 << ""
        << "Bad Pager ID for Ann" << 0 << "" << "" << "" << 0;
    QTest::newRow("empty pager ID") << "Metro" << "" << "Metro" << "555" << "" << 80 << ""
        << "Bad Pager ID for Ann" << 0 << "" << "" << "" << 0;
    QTest::newRow("number of 3") << "Metro" << "5550" << "Metro" << "555" << "" << 80 << ""
        << "" << 1 << "555^" << "5550" << "300" << 80;
    QTest::newRow("number of 2 is refused after the log") << "Metro" << "5550" << "Metro" << "55" << "" << 80
        << "" << bad << 1 << "" << "" << "" << 0;
    QTest::newRow("carrier missing") << "Gone" << "5550" << "" << "" << "" << 0 << ""
        << bad << 0 << "" << "" << "" << 0;
    QTest::newRow("carrier name differs in case") << "metro" << "5550" << "Metro" << "555" << "" << 0 << ""
        << bad << 0 << "" << "" << "" << 0;
    // clang-format on
}

void tst_Preparation::oneUser()
{
    QFETCH(QString, userCarrier);
    QFETCH(QString, pagerId);
    QFETCH(QString, carrier);
    QFETCH(QString, tel);
    QFETCH(QString, speed);
    QFETCH(int, chars);
    QFETCH(QString, password);
    QFETCH(QString, status);
    QFETCH(int, logs);
    QFETCH(QString, networkPhone);
    auto form = formWith([&](core::Desk& desk) {
        addUser(desk, QStringLiteral("Ann"), userCarrier, pagerId);
        if (!carrier.isEmpty())
            addCarrier(desk, carrier, tel, speed, chars, password);
    });
    QVERIFY(form);
    tick(form->UsersList, QStringLiteral("Ann"));
    form->messagelog->setChecked(true);
    QTest::keyClicks(form->message1, QStringLiteral("Call the office"));
    form->SendBtn->click();

    const QStringList lines = statusTexts(form->StatusMemo);
    if (status.isEmpty())
        QCOMPARE(lines, QStringList());
    else
        QCOMPARE(lines, QStringList { status });
    QCOMPARE(logCount(form->desk()), logs);
    QCOMPARE(tickedItems(form->UsersList), QStringList()); // unticked whatever the outcome
    const QList<QueuedPage> pages = queued(form->desk().SendMsgs);
    if (networkPhone.isEmpty()) {
        QCOMPARE(pages.size(), 0);
        return;
    }
    QCOMPARE(pages.size(), 1);
    QCOMPARE(pages[0].networkPhone, networkPhone);
    QTEST(pages[0].pagerPhone, "pagerPhone");
    QTEST(pages[0].baudRate, "baudRate");
    QTEST(pages[0].size, "size");
    QCOMPARE(pages[0].message, QStringLiteral("Call the office"));
    QCOMPARE(pages[0].name, QStringLiteral("Ann"));
    QCOMPARE(pages[0].retries, 3); // DeliveryRetriesValue with the default settings
    QCOMPARE(pages[0].isGroup, false);
}

void tst_Preparation::settingsOfTheSystemWindow_data()
{
    QTest::addColumn<QString>("carrier");
    QTest::addColumn<QString>("outside");
    QTest::addColumn<QString>("retries");
    QTest::addColumn<QString>("delay");
    QTest::addColumn<QString>("networkPhone");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("retriesQueued");
    // clang-format off
    QTest::newRow("outside line with a trailing blank") << "Metro" << "9, " << "2" << "10" << "9,555-0101^PW" << 80 << 2;
    QTest::newRow("retries 0 gives 1") << "Metro" << "" << "0" << "10" << "555-0101^PW" << 80 << 1;
    QTest::newRow("retries 7 gives 3") << "Metro" << "" << "7" << "10" << "555-0101^PW" << 80 << 3;
    QTest::newRow("retries abc gives 3") << "Metro" << "" << "abc" << "10" << "555-0101^PW" << 80 << 3;
    QTest::newRow("numeric delay 45") << "numeric" << "9" << "1" << "45" << "#," << 45 << 1;
    QTest::newRow("numeric delay 2 gives 4") << "numeric" << "9" << "3" << "2" << "#," << 4 << 3;
    QTest::newRow("numeric delay empty gives 10") << "numeric" << "9" << "3" << "" << "#," << 10 << 3;
    // clang-format on
}

void tst_Preparation::settingsOfTheSystemWindow()
{
    QFETCH(QString, carrier);
    QFETCH(QString, outside);
    QFETCH(QString, retries);
    QFETCH(QString, delay);
    auto form = formWith([&](core::Desk& desk) {
        addUser(desk, QStringLiteral("Ann"), carrier, QStringLiteral("5550"));
        addCarrier(
            desk, carrier, QStringLiteral("555-0101"), QStringLiteral("1200"), 80, QStringLiteral("PW"));
    });
    QVERIFY(form);
    config::TSystemForm* system = CreateSystemForm(*form);
    // Typed, not saved: the working settings are the fields as they stand.
    system->outsideline->setText(outside);
    system->DeliveryRetries->setText(retries);
    system->DirectMesgDelay->setText(delay);
    tick(form->UsersList, QStringLiteral("Ann"));
    QTest::keyClicks(form->message1, QStringLiteral("Hi"));
    form->SendBtn->click();
    const QList<QueuedPage> pages = queued(form->desk().SendMsgs);
    QCOMPARE(pages.size(), 1);
    QTEST(pages[0].networkPhone, "networkPhone");
    QTEST(pages[0].size, "size");
    QTEST(pages[0].retries, "retriesQueued");
}

void tst_Preparation::logRecordKeepsTheEditorText()
{
    auto form = formWith([](core::Desk& desk) {
        addUser(desk, QStringLiteral("Ann"), QStringLiteral("Metro"), QStringLiteral("5550"));
        addCarrier(desk, QStringLiteral("Metro"), QStringLiteral("555"), QString(), 80, QString());
    });
    QVERIFY(form);
    tick(form->UsersList, QStringLiteral("Ann"));
    form->messagelog->setChecked(true);
    form->message1->setPlainText(QStringLiteral("Line one\nLine two"));
    form->SendBtn->click();

    core::Desk& desk = form->desk();
    QCOMPARE(logCount(desk), 1);
    desk.MsgLogT.first();
    QVERIFY(QRegularExpression(QStringLiteral("^\\d{4}/\\d\\d/\\d\\d$"))
                .match(desk.MsgLogT.fieldText(QStringLiteral("DDATE")))
                .hasMatch());
    QCOMPARE(desk.MsgLogT.fieldText(QStringLiteral("DDATE")), compose::logDate(QDate::currentDate()));
    QVERIFY(QRegularExpression(QStringLiteral("^(0[1-9]|1[0-2]):[0-5]\\d:[0-5]\\d (AM|PM)$"))
                .match(desk.MsgLogT.fieldText(QStringLiteral("DTIME")))
                .hasMatch());
    QCOMPARE(desk.MsgLogT.fieldText(QStringLiteral("USERNAME")), QStringLiteral("Ann"));
    QCOMPARE(desk.MsgLogT.fieldText(QStringLiteral("MSG")), QStringLiteral("Line one\r\nLine two"));
    QCOMPARE(desk.MsgLogT.fieldText(QStringLiteral("MUSTSEND")), QString());
    QCOMPARE(queued(desk.SendMsgs).value(0).message, QStringLiteral("Line oneLine two"));
    // The editor's text is left selected.
    QCOMPARE(form->message1->textCursor().selectedText().size(), form->message1->toPlainText().size());

    // Without "Message Log" no record is written.
    tick(form->UsersList, QStringLiteral("Ann"));
    form->messagelog->setChecked(false);
    form->SendBtn->click();
    QCOMPARE(logCount(desk), 1);
    QCOMPARE(desk.SendMsgs.rowCount(), 2);
}

void tst_Preparation::longMessageIsLoggedWholeAndQueuedCut()
{
    auto form = formWith([](core::Desk& desk) {
        addUser(desk, QStringLiteral("Ann"), QStringLiteral("Metro"), QStringLiteral("5550"));
        addCarrier(desk, QStringLiteral("Metro"), QStringLiteral("555"), QString(), 80, QString());
    });
    QVERIFY(form);
    QString text;
    for (int i = 0; i < 52; ++i)
        text += QStringLiteral("%1 ").arg(i, 9, 10, QChar(u'0'));
    QCOMPARE(text.size(), 520);
    QTest::keyClicks(form->message1, text);
    QCOMPARE(form->message1->toPlainText(), text);
    tick(form->UsersList, QStringLiteral("Ann"));
    form->messagelog->setChecked(true);
    form->SendBtn->click();
    form->desk().MsgLogT.first();
    QCOMPARE(form->desk().MsgLogT.fieldText(QStringLiteral("MSG")), text);
    QCOMPARE(queued(form->desk().SendMsgs).value(0).message, text.left(500));
}

void tst_Preparation::walkFollowsListOrderAndRoutesByPrefix()
{
    auto form = formWith([](core::Desk& desk) {
        addUser(desk, QStringLiteral("Zoe"), QStringLiteral("Metro"), QStringLiteral("9999"));
        addUser(desk, QStringLiteral("Ann"), QStringLiteral("Metro"), QStringLiteral("1111"));
        addUser(desk, QStringLiteral("Group:x"), QStringLiteral("Metro"), QStringLiteral("2222"));
        addUser(desk, QStringLiteral("Bob"), QStringLiteral("Metro"), QStringLiteral("3333"));
        addCarrier(desk, QStringLiteral("Metro"), QStringLiteral("555"), QString(), 80, QString());
        addGroup(desk, QStringLiteral("Night"));
    });
    QVERIFY(form);
    for (const char* name : { "Zoe", "Group: Night", "Ann", "Group:x", "Bob" })
        tick(form->UsersList, QString::fromLatin1(name));
    QTest::keyClicks(form->message1, QStringLiteral("Hi"));
    BoxCatcher boxes;
    form->SendBtn->click();

    QStringList names;
    for (const QueuedPage& page : queued(form->desk().SendMsgs))
        names << page.name;
    QCOMPARE(names, QStringList({ "Ann", "Bob", "Zoe" }));
    // Both items that start with "Group:" went to group preparation: neither was looked up as a user,
    // and neither has a member file.
    QCOMPARE(statusTexts(form->StatusMemo), QStringList());
    QCOMPARE(boxes.texts(), QStringList({ "Group Night doesn't exist.", "Group  doesn't exist." }));
    QCOMPARE(tickedItems(form->UsersList), QStringList());
}

void tst_Preparation::oneFailureDoesNotStopTheWalk()
{
    auto form = formWith([](core::Desk& desk) {
        addUser(desk, QStringLiteral("Ann"), QStringLiteral("Metro"), QStringLiteral("1"));
        addUser(desk, QStringLiteral("Bob"), QStringLiteral("Gone"), QStringLiteral("3333"));
        addUser(desk, QStringLiteral("Cy"), QStringLiteral("Metro"), QStringLiteral("4444"));
        addCarrier(desk, QStringLiteral("Metro"), QStringLiteral("555"), QString(), 80, QString());
    });
    QVERIFY(form);
    for (const char* name : { "Ann", "Bob", "Cy" })
        tick(form->UsersList, QString::fromLatin1(name));
    QTest::keyClicks(form->message1, QStringLiteral("Hi"));
    form->SendBtn->click();
    QCOMPARE(statusTexts(form->StatusMemo),
        QStringList({ "Bad Carrier Phone number for Bob", "Bad Pager ID for Ann" }));
    QCOMPARE(queued(form->desk().SendMsgs).size(), 1);
    QCOMPARE(queued(form->desk().SendMsgs).value(0).name, QStringLiteral("Cy"));
}

void tst_Preparation::deletedUserIsReportedByName()
{
    auto form = formWith([](core::Desk& desk) {
        addUser(desk, QStringLiteral("Ann"), QStringLiteral("Metro"), QStringLiteral("1111"));
        addCarrier(desk, QStringLiteral("Metro"), QStringLiteral("555"), QString(), 80, QString());
    });
    QVERIFY(form);
    {
        core::Desk other(dir_->path());
        QCOMPARE(other.open(), QString());
        QVERIFY(other.BUsersT.locate(QStringLiteral("USERNAME"), QStringLiteral("Ann")));
        other.BUsersT.deleteRecord();
    }
    form->RefreshUsersList(); // a refresh never removes the user
    tick(form->UsersList, QStringLiteral("Ann"));
    QTest::keyClicks(form->message1, QStringLiteral("Hi"));
    form->SendBtn->click();
    QCOMPARE(statusTexts(form->StatusMemo), QStringList { "Ann not found in Users database" });
    QCOMPARE(form->desk().SendMsgs.rowCount(), 0);
}

void tst_Preparation::boxes_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("tickAnn");
    QTest::addColumn<QString>("box");
    QTest::newRow("empty message") << "" << true << "Enter a message  and press 'Send Message' button.";
    QTest::newRow("empty message, nothing ticked")
        << "" << false << "Enter a message  and press 'Send Message' button.";
    QTest::newRow("nothing ticked") << "Hi" << false
                                    << "Select a user and/or group and press 'Send Message' button.";
}

void tst_Preparation::boxes()
{
    QFETCH(QString, message);
    QFETCH(bool, tickAnn);
    auto form = formWith([](core::Desk& desk) {
        addUser(desk, QStringLiteral("Ann"), QStringLiteral("Metro"), QStringLiteral("1111"));
        addCarrier(desk, QStringLiteral("Metro"), QStringLiteral("555"), QString(), 80, QString());
    });
    QVERIFY(form);
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    if (tickAnn)
        tick(form->UsersList, QStringLiteral("Ann"));
    QTest::keyClicks(form->message1, message);
    form->UsersList->setFocus();
    BoxCatcher catcher;
    form->SendBtn->click();
    QCOMPARE(catcher.boxes.size(), 1);
    QTEST(catcher.boxes[0].text, "box");
    QCOMPARE(catcher.boxes[0].icon, QMessageBox::Information);
    QCOMPARE(form->desk().SendMsgs.rowCount(), 0);
    QCOMPARE(statusTexts(form->StatusMemo), QStringList());
    if (message.isEmpty()) {
        QCOMPARE(form->focusWidget(), form->message1);
        QCOMPARE(tickedItems(form->UsersList).size(), tickAnn ? 1 : 0); // ticks stay for the next try
    }
}

void tst_Preparation::otherCallersGetTheShortEmptyMessageBox()
{
    auto form = formWith([](core::Desk& desk) {
        addUser(desk, QStringLiteral("Ann"), QStringLiteral("Metro"), QStringLiteral("1111"));
        addCarrier(desk, QStringLiteral("Metro"), QStringLiteral("5"), QString(), 80, QString());
    });
    QVERIFY(form);
    form->messagelog->setChecked(true);
    BoxCatcher catcher;
    form->preparation().PrepareOneMessage(QStringLiteral("Ann"));
    QCOMPARE(catcher.texts(), QStringList { "Enter a message..." });
    QCOMPARE(logCount(form->desk()), 0); // the box comes before the log and the number's check
    QCOMPARE(statusTexts(form->StatusMemo), QStringList());
}

void tst_Preparation::busyDeskQueuesNothingAndKeepsTicks_data()
{
    QTest::addColumn<bool>("pageInProgress");
    QTest::addColumn<QString>("status");
    QTest::newRow("page in progress") << true << "Already sending message...";
    QTest::newRow("scheduled scan") << false << "Already sending scheduled message...";
}

void tst_Preparation::busyDeskQueuesNothingAndKeepsTicks()
{
    QFETCH(bool, pageInProgress);
    auto form = formWith([](core::Desk& desk) {
        addUser(desk, QStringLiteral("Ann"), QStringLiteral("Metro"), QStringLiteral("1111"));
        addCarrier(desk, QStringLiteral("Metro"), QStringLiteral("555"), QString(), 80, QString());
    });
    QVERIFY(form);
    (pageInProgress ? form->desk().PageInProgress : form->desk().ScheduleScanActive) = true;
    tick(form->UsersList, QStringLiteral("Ann"));
    form->messagelog->setChecked(true);
    QTest::keyClicks(form->message1, QStringLiteral("Hi"));
    form->SendBtn->click();
    QTEST(statusTexts(form->StatusMemo).value(0), "status");
    QCOMPARE(statusTexts(form->StatusMemo).size(), 1);
    QCOMPARE(form->desk().SendMsgs.rowCount(), 0);
    QCOMPARE(logCount(form->desk()), 0);
    QCOMPARE(tickedItems(form->UsersList), QStringList { "Ann" });
}

void tst_Preparation::selectByGroupPreparesNothingAndIsUnticked()
{
    auto form = formWith([](core::Desk& desk) {
        addUser(desk, QStringLiteral("Ann"), QStringLiteral("Metro"), QStringLiteral("1111"));
        addCarrier(desk, QStringLiteral("Metro"), QStringLiteral("555"), QString(), 80, QString());
    });
    QVERIFY(form);
    form->SendGroup->click();
    QVERIFY(form->SendGroup->isChecked());
    QVERIFY(form->pager_id2->isHidden());
    tick(form->UsersList, QStringLiteral("Ann"));
    QTest::keyClicks(form->message1, QStringLiteral("Hi"));
    BoxCatcher catcher;
    form->SendBtn->click();
    QVERIFY(catcher.boxes.isEmpty());
    QCOMPARE(form->desk().SendMsgs.rowCount(), 0);
    QCOMPARE(statusTexts(form->StatusMemo), QStringList { "Nothing sent from the list: Select By Group is ticked" });
    QVERIFY(!form->SendGroup->isChecked());
    QVERIFY(!form->pager_id2->isHidden()); // unticking ran the switch's handler
    QVERIFY(form->DBLookupComboBox1->isEnabled());
    QCOMPARE(tickedItems(form->UsersList), QStringList { "Ann" });
    // The next press prepares as usual.
    form->SendBtn->click();
    QCOMPARE(form->desk().SendMsgs.rowCount(), 1);
}

void tst_Preparation::minimisedWindowIsRestored()
{
    auto form = formWith([](core::Desk&) {});
    QVERIFY(form);
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    form->setWindowState(Qt::WindowMinimized);
    BoxCatcher catcher;
    form->preparation().SendBtnClick();
    QVERIFY(!(form->windowState() & Qt::WindowMinimized));
}

void tst_Preparation::tableFaultIsShownAndTheWalkGoesOn()
{
    auto form = formWith([](core::Desk& desk) {
        addUser(desk, QStringLiteral("Ann"), QStringLiteral("Metro"), QStringLiteral("1111"));
        addUser(desk, QStringLiteral("Bob"), QStringLiteral("Metro"), QStringLiteral("2222"));
        addCarrier(desk, QStringLiteral("Metro"), QStringLiteral("555"), QString(), 80, QString());
    });
    QVERIFY(form);
    tick(form->UsersList, QStringLiteral("Ann"));
    tick(form->UsersList, QStringLiteral("Bob"));
    QTest::keyClicks(form->message1, QStringLiteral("Hi"));
    form->desk().BUsersT.close(); // every lookup of a user now fails inside the store
    BoxCatcher catcher;
    form->SendBtn->click();
    QCOMPARE(catcher.boxes.size(), 2);
    QCOMPARE(catcher.boxes[0].icon, QMessageBox::Critical);
    QCOMPARE(form->desk().SendMsgs.rowCount(), 0);
    QCOMPARE(tickedItems(form->UsersList), QStringList());
    form->Timer1Timer(); // the desk goes on
}

QTEST_MAIN(tst_Preparation)
#include "tst_preparation.moc"
