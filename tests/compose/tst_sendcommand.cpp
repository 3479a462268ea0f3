// The send command and single-user preparation on the desk without its windows: the composition
// ticked and typed into, the working settings set, what the windows would show kept by SessionRun.
#include "compose/composition.h"
#include "compose/pageforms.h"
#include "compose/preparation.h"
#include "store/memtable.h"
#include "support/datafolder.h"
#include "support/sessionrun.h"
#include "support/pages.h"
#include "support/records.h"

#include <QStandardPaths>
#include <QTest>

using namespace testsupport;

class tst_SendCommand : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<DataFolder> dir_;

    // A data folder holding the users and carriers that `fill` appends, and the desk on it.
    template <typename Fill> std::unique_ptr<SessionRun> formWith(Fill fill)
    {
        {
            core::Desk desk(dir_->path());
            if (!desk.open().isEmpty())
                return nullptr;
            fill(desk);
        }
        return std::make_unique<SessionRun>(dir_->path());
    }

private slots:
    void init()
    {
        dir_ = std::make_unique<DataFolder>();
        QVERIFY(dir_->isValid());
    }
    void cleanup() { dir_.reset(); }

    void oneUser_data();
    void oneUser();
    void workingSettings_data();
    void workingSettings();
    void walkFollowsListOrderAndRoutesByPrefix();
    void oneFailureDoesNotStopTheWalk();
    void deletedUserIsReportedByName();
    void otherCallersGetTheShortEmptyMessageBox();
    void busyDeskQueuesNothingAndKeepsTicks_data();
    void busyDeskQueuesNothingAndKeepsTicks();
    void tableFaultIsShownAndTheWalkGoesOn();
};

void tst_SendCommand::oneUser_data()
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

void tst_SendCommand::oneUser()
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
    QVERIFY(form->composition.tick(QStringLiteral("Ann")));
    form->composition.setMessageLog(true);
    form->composition.setText(QStringLiteral("Call the office"));
    form->deskSession.sendComposed();

    const QStringList lines = form->statusLines;
    if (status.isEmpty())
        QCOMPARE(lines, QStringList());
    else
        QCOMPARE(lines, QStringList { status });
    QCOMPARE(logCount(form->desk()), logs);
    QCOMPARE(form->composition.tickedNames(), QStringList()); // unticked whatever the outcome
    const QList<QueuedPage> pages = queuedPages(form->desk().SendMsgs());
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

void tst_SendCommand::workingSettings_data()
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

void tst_SendCommand::workingSettings()
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
    // Not saved: the working settings as they stand.
    form->desk().Settings().setOutsideLine(outside);
    form->desk().Settings().setDeliveryRetries(retries);
    form->desk().Settings().setDirectMesgDelay(delay);
    QVERIFY(form->composition.tick(QStringLiteral("Ann")));
    form->composition.setText(QStringLiteral("Hi"));
    form->deskSession.sendComposed();
    const QList<QueuedPage> pages = queuedPages(form->desk().SendMsgs());
    QCOMPARE(pages.size(), 1);
    QTEST(pages[0].networkPhone, "networkPhone");
    QTEST(pages[0].size, "size");
    QTEST(pages[0].retries, "retriesQueued");
}

void tst_SendCommand::walkFollowsListOrderAndRoutesByPrefix()
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
        QVERIFY(form->composition.tick(QString::fromLatin1(name)));
    form->composition.setText(QStringLiteral("Hi"));
    form->deskSession.sendComposed();

    QStringList names;
    for (const QueuedPage& page : queuedPages(form->desk().SendMsgs()))
        names << page.name;
    QCOMPARE(names, QStringList({ "Ann", "Bob", "Zoe" }));
    // Both items that start with "Group:" went to group preparation: neither was looked up as a user,
    // and neither has a member file.
    QCOMPARE(form->statusLines, QStringList());
    QCOMPARE(form->boxTexts(), QStringList({ "Group Night doesn't exist.", "Group  doesn't exist." }));
    QCOMPARE(form->composition.tickedNames(), QStringList());
}

void tst_SendCommand::oneFailureDoesNotStopTheWalk()
{
    auto form = formWith([](core::Desk& desk) {
        addUser(desk, QStringLiteral("Ann"), QStringLiteral("Metro"), QStringLiteral("1"));
        addUser(desk, QStringLiteral("Bob"), QStringLiteral("Gone"), QStringLiteral("3333"));
        addUser(desk, QStringLiteral("Cy"), QStringLiteral("Metro"), QStringLiteral("4444"));
        addCarrier(desk, QStringLiteral("Metro"), QStringLiteral("555"), QString(), 80, QString());
    });
    QVERIFY(form);
    for (const char* name : { "Ann", "Bob", "Cy" })
        QVERIFY(form->composition.tick(QString::fromLatin1(name)));
    form->composition.setText(QStringLiteral("Hi"));
    form->deskSession.sendComposed();
    QCOMPARE(form->statusLines,
        QStringList({ "Bad Carrier Phone number for Bob", "Bad Pager ID for Ann" }));
    QCOMPARE(queuedPages(form->desk().SendMsgs()).size(), 1);
    QCOMPARE(queuedPages(form->desk().SendMsgs()).value(0).name, QStringLiteral("Cy"));
}

void tst_SendCommand::deletedUserIsReportedByName()
{
    auto form = formWith([](core::Desk& desk) {
        addUser(desk, QStringLiteral("Ann"), QStringLiteral("Metro"), QStringLiteral("1111"));
        addCarrier(desk, QStringLiteral("Metro"), QStringLiteral("555"), QString(), 80, QString());
    });
    QVERIFY(form);
    {
        core::Desk other(dir_->path());
        QCOMPARE(other.open(), QString());
        QVERIFY(other.BUsersT().locate(QStringLiteral("USERNAME"), QStringLiteral("Ann")));
        other.BUsersT().deleteRecord();
    }
    form->composition.recipients()->addMissing(form->desk().recipientNames()); // a refresh never removes the user
    QVERIFY(form->composition.tick(QStringLiteral("Ann")));
    form->composition.setText(QStringLiteral("Hi"));
    form->deskSession.sendComposed();
    QCOMPARE(form->statusLines, QStringList { "Ann not found in Users database" });
    QCOMPARE(form->desk().SendMsgs().rowCount(), 0);
}

void tst_SendCommand::otherCallersGetTheShortEmptyMessageBox()
{
    auto form = formWith([](core::Desk& desk) {
        addUser(desk, QStringLiteral("Ann"), QStringLiteral("Metro"), QStringLiteral("1111"));
        addCarrier(desk, QStringLiteral("Metro"), QStringLiteral("5"), QString(), 80, QString());
    });
    QVERIFY(form);
    form->composition.setMessageLog(true);
    form->deskSession.sendToRecipient(QStringLiteral("Ann"), QString());
    QCOMPARE(form->boxTexts(), QStringList { "Enter a message..." });
    QCOMPARE(logCount(form->desk()), 0); // the box comes before the log and the number's check
    QCOMPARE(form->statusLines, QStringList());
}

void tst_SendCommand::busyDeskQueuesNothingAndKeepsTicks_data()
{
    QTest::addColumn<bool>("pageInProgress");
    QTest::addColumn<QString>("status");
    QTest::newRow("page in progress") << true << "Already sending message...";
    QTest::newRow("scheduled scan") << false << "Already sending scheduled message...";
}

void tst_SendCommand::busyDeskQueuesNothingAndKeepsTicks()
{
    QFETCH(bool, pageInProgress);
    auto form = formWith([](core::Desk& desk) {
        addUser(desk, QStringLiteral("Ann"), QStringLiteral("Metro"), QStringLiteral("1111"));
        addCarrier(desk, QStringLiteral("Metro"), QStringLiteral("555"), QString(), 80, QString());
    });
    QVERIFY(form);
    const core::BusyMark busy = pageInProgress ? form->desk().markPageInProgress() : form->desk().markScheduleScan();
    QVERIFY(form->composition.tick(QStringLiteral("Ann")));
    form->composition.setMessageLog(true);
    form->composition.setText(QStringLiteral("Hi"));
    form->deskSession.sendComposed();
    QTEST(form->statusLines.value(0), "status");
    QCOMPARE(form->statusLines.size(), 1);
    QCOMPARE(form->desk().SendMsgs().rowCount(), 0);
    QCOMPARE(logCount(form->desk()), 0);
    QCOMPARE(form->composition.tickedNames(), QStringList { "Ann" });
}

void tst_SendCommand::tableFaultIsShownAndTheWalkGoesOn()
{
    auto form = formWith([](core::Desk& desk) {
        addUser(desk, QStringLiteral("Ann"), QStringLiteral("Metro"), QStringLiteral("1111"));
        addUser(desk, QStringLiteral("Bob"), QStringLiteral("Metro"), QStringLiteral("2222"));
        addCarrier(desk, QStringLiteral("Metro"), QStringLiteral("555"), QString(), 80, QString());
    });
    QVERIFY(form);
    QVERIFY(form->composition.tick(QStringLiteral("Ann")));
    QVERIFY(form->composition.tick(QStringLiteral("Bob")));
    form->composition.setText(QStringLiteral("Hi"));
    form->desk().BUsersT().close(); // every lookup of a user now fails inside the store
    form->deskSession.sendComposed();
    QCOMPARE(form->errors.size(), 2); // the standard error box, once for each user
    QCOMPARE(form->boxTexts().size(), 2);
    QCOMPARE(form->desk().SendMsgs().rowCount(), 0);
    QCOMPARE(form->composition.tickedNames(), QStringList());
    form->tick(); // the desk goes on
}

QTEST_MAIN(tst_SendCommand)
#include "tst_sendcommand.moc"
