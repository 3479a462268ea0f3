// The scheduled-message scan on a real data folder, driven through the delivery loop's tick on an
// injected clock, as the program wires it but without its windows.

#include "compose/memberfile.h"
#include "config/inifile.h"
#include "core/queues.h"
#include "schedule/scheduledscan.h"
#include "support/datafolder.h"
#include "support/sessionrun.h"
#include "support/records.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace testsupport;

namespace {

const QDate kToday(2031, 5, 14);
const QString kCarrier = QStringLiteral("Metro Paging");

struct Entry {
    QString date;
    QString time;
    QString user;
    QString mustSend = QStringLiteral("Y");
    QStringList lines = { QStringLiteral("Scheduled text") };
};

QString day(int offset)
{
    return kToday.addDays(offset).toString(QStringLiteral("yyyy/MM/dd"));
}

} // namespace

class tst_ScheduledScan : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void readsDatesAndTimes_data();
    void readsDatesAndTimes();
    void recordDecision_data();
    void recordDecision();
    void runsOnlyOnQuarterSecondsWhenIdle_data();
    void runsOnlyOnQuarterSecondsWhenIdle();
    void oneMessagePerScan();
    void staleRecordsGoBeforeTheDueOne();
    void staleLastRecordEndsTheWalk();
    void unreadableRecordPassedOverOnce_data();
    void unreadableRecordPassedOverOnce();
    void switchedOffAtStartKeepsDueRecords();
    void removedUserIsReportedAndDeleted();
    void groupRecordGoesOutPerCarrier();
    void missingGroupIsReportedAndDeleted();
    void tableFaultLeavesTheScanInactive();

private:
    void fill(const QList<Entry>& entries);
    std::unique_ptr<SessionRun> startDesk();
    // One tick of the window at `time` today.
    void tickAt(SessionRun& form, const QTime& time);
    // USERNAME of every scheduled record left, in BY_SENTSTA order.
    static QStringList scheduled(SessionRun& form);
    static QStringList queuedNames(SessionRun& form);

    QTemporaryDir home_;
    std::unique_ptr<testsupport::DataFolder> dir_;
};

void tst_ScheduledScan::initTestCase()
{
    qputenv("HOME", home_.path().toLocal8Bit());
    QStandardPaths::setTestModeEnabled(true);
}

void tst_ScheduledScan::init()
{
    dir_ = std::make_unique<testsupport::DataFolder>();
    QFile::remove(config::pagerIniPath());
}

void tst_ScheduledScan::cleanup()
{
    dir_.reset();
}

void tst_ScheduledScan::fill(const QList<Entry>& entries)
{
    core::Desk desk(dir_->path());
    QCOMPARE(desk.open(), QString());
    addCarrier(desk, kCarrier, QStringLiteral("555-0101"), QStringLiteral("1200"), 80, QStringLiteral("pw"));
    addUser(desk, QStringLiteral("Ann Lee"), kCarrier, QStringLiteral("1234"));
    addUser(desk, QStringLiteral("Bob Ray"), kCarrier, QStringLiteral("5678"));
    for (const Entry& e : entries) {
        desk.SchedMsgT().append();
        desk.SchedMsgT().setFieldText(QStringLiteral("DDATE"), e.date);
        desk.SchedMsgT().setFieldText(QStringLiteral("DTIME"), e.time);
        desk.SchedMsgT().setFieldText(QStringLiteral("USERNAME"), e.user);
        desk.SchedMsgT().setFieldText(QStringLiteral("MUSTSEND"), e.mustSend);
        desk.SchedMsgT().setMemoLines(QStringLiteral("MSG"), e.lines);
        desk.SchedMsgT().post();
    }
}

std::unique_ptr<SessionRun> tst_ScheduledScan::startDesk()
{
    auto form = std::make_unique<SessionRun>(dir_->path());
    [&] { QCOMPARE(form->openError, QString()); }();
    return form;
}

void tst_ScheduledScan::tickAt(SessionRun& form, const QTime& time)
{
    form.now = QDateTime(kToday, time);
    form.tick();
}

QStringList tst_ScheduledScan::scheduled(SessionRun& form)
{
    store::Table& t = form.desk().SchedMsgT();
    t.refresh();
    QStringList names;
    for (t.first(); !t.eof() && !t.isEmpty(); t.next())
        names << t.fieldText(QStringLiteral("USERNAME"));
    return names;
}

QStringList tst_ScheduledScan::queuedNames(SessionRun& form)
{
    store::TMemTable& q = form.desk().SendMsgs();
    QStringList names;
    for (q.first(); !q.eof() && !q.isEmpty(); q.next())
        names << q.fieldText(QString::fromLatin1(core::page::UserOrGroupName));
    return names;
}

void tst_ScheduledScan::readsDatesAndTimes_data()
{
    QTest::addColumn<QString>("date");
    QTest::addColumn<QString>("time");
    QTest::addColumn<bool>("readable");
    QTest::newRow("as written") << "2026/12/24"
                                << "14:30:00" << true;
    QTest::newRow("midnight") << "2026/12/24"
                              << "00:00:00" << true;
    QTest::newRow("no seconds") << "2026/12/24"
                                << "23:59" << true;
    QTest::newRow("empty date") << ""
                                << "14:30:00" << false;
    QTest::newRow("month 13") << "2026/13/01"
                              << "14:30:00" << false;
    QTest::newRow("30 February") << "2026/02/30"
                                 << "14:30:00" << false;
    QTest::newRow("month first") << "12/24/2026"
                                 << "14:30:00" << false;
    QTest::newRow("hour 24") << "2026/12/24"
                             << "24:00:00" << false;
    QTest::newRow("log form with PM") << "2026/12/24"
                                      << "02:30:00 PM" << false;
    QTest::newRow("empty time") << "2026/12/24"
                                << "" << false;
}

void tst_ScheduledScan::readsDatesAndTimes()
{
    QFETCH(QString, date);
    QFETCH(QString, time);
    QFETCH(bool, readable);
    const bool read = schedule::ScheduledScan::readDate(date).isValid()
        && schedule::ScheduledScan::readTime(time).isValid();
    QCOMPARE(read, readable);
}

void tst_ScheduledScan::recordDecision_data()
{
    QTest::addColumn<QString>("date");
    QTest::addColumn<QString>("time");
    QTest::addColumn<QString>("mustSend");
    QTest::addColumn<bool>("sent");
    QTest::addColumn<bool>("kept");
    // The scan runs at 10:00:15.
    QTest::newRow("a minute ago") << day(0) << "09:59:00"
                                  << "Y" << true << false;
    QTest::newRow("this minute, later second") << day(0) << "10:00:45"
                                               << "Y" << true << false;
    QTest::newRow("midnight today") << day(0) << "00:00:00"
                                    << "Y" << true << false;
    QTest::newRow("next minute") << day(0) << "10:01:00"
                                 << "Y" << false << true;
    QTest::newRow("tomorrow, earlier hour") << day(1) << "08:00:00"
                                            << "Y" << false << true;
    QTest::newRow("yesterday") << day(-1) << "10:00:00"
                               << "Y" << false << false;
    QTest::newRow("last year, late hour") << day(-365) << "23:00:00"
                                          << "Y" << false << false;
    QTest::newRow("held N, due") << day(0) << "09:00:00"
                                 << "N" << false << true;
    QTest::newRow("held N, yesterday") << day(-1) << "09:00:00"
                                       << "N" << false << true;
    QTest::newRow("held lower-case y") << day(0) << "09:00:00"
                                       << "y" << false << true;
    QTest::newRow("held blank") << day(-3) << "09:00:00"
                                << "" << false << true;
}

void tst_ScheduledScan::recordDecision()
{
    QFETCH(QString, date);
    QFETCH(QString, time);
    QFETCH(QString, mustSend);
    QFETCH(bool, sent);
    QFETCH(bool, kept);
    fill({ { date, time, QStringLiteral("Ann Lee"), mustSend,
        { QStringLiteral("First line"), QStringLiteral("Second line") } } });
    auto form = startDesk();
    form->composition.setText(QStringLiteral("operator typing"));
    tickAt(*form, QTime(10, 0, 15));
    QCOMPARE(queuedNames(*form), sent ? QStringList { QStringLiteral("Ann Lee") } : QStringList());
    QCOMPARE(scheduled(*form), kept ? QStringList { QStringLiteral("Ann Lee") } : QStringList());
    QVERIFY(!form->desk().scheduleScanActive());
    if (sent) {
        // The page carries the record's text; the operator's draft stays as it was.
        QCOMPARE(form->composition.text(), QStringLiteral("operator typing"));
        form->desk().SendMsgs().first();
        QVERIFY(form->desk()
                    .SendMsgs().fieldText(QString::fromLatin1(core::page::MessageToSend))
                    .startsWith(QStringLiteral("First line")));
    } else {
        QCOMPARE(form->composition.text(), QStringLiteral("operator typing"));
    }
    QCOMPARE(form->boxTexts(), QStringList());
}

void tst_ScheduledScan::runsOnlyOnQuarterSecondsWhenIdle_data()
{
    QTest::addColumn<int>("second");
    QTest::addColumn<bool>("pageInProgress");
    QTest::addColumn<bool>("messageFile");
    QTest::addColumn<bool>("runs");
    QTest::newRow("second 0") << 0 << false << false << true;
    QTest::newRow("second 30") << 30 << false << false << true;
    QTest::newRow("second 45") << 45 << false << false << true;
    QTest::newRow("second 14") << 14 << false << false << false;
    QTest::newRow("second 59") << 59 << false << false << false;
    QTest::newRow("page in progress") << 15 << true << false << false;
    QTest::newRow("message file waiting") << 15 << false << true << false;
}

void tst_ScheduledScan::runsOnlyOnQuarterSecondsWhenIdle()
{
    QFETCH(int, second);
    QFETCH(bool, pageInProgress);
    QFETCH(bool, messageFile);
    QFETCH(bool, runs);
    fill({ { day(0), QStringLiteral("09:00:00"), QStringLiteral("Ann Lee") } });
    auto form = startDesk();
    core::BusyMark page;
    if (pageInProgress)
        page = form->desk().markPageInProgress();
    if (messageFile) {
        // A message file the intake cannot use (fewer than the lines it needs) still holds the scan
        // off for that tick.
        QFile file(QStringLiteral("plimomsgs.txt"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("x\r\n");
    }
    tickAt(*form, QTime(10, 0, second));
    QCOMPARE(scheduled(*form).isEmpty(), runs);
}

void tst_ScheduledScan::oneMessagePerScan()
{
    fill({ { day(0), QStringLiteral("09:30:00"), QStringLiteral("Bob Ray") },
        { day(0), QStringLiteral("09:00:00"), QStringLiteral("Ann Lee") } });
    auto form = startDesk();
    tickAt(*form, QTime(10, 0, 15));
    // The earlier of the two first, whatever the order in the file.
    QCOMPARE(queuedNames(*form), QStringList { QStringLiteral("Ann Lee") });
    QCOMPARE(scheduled(*form), QStringList { QStringLiteral("Bob Ray") });
    // The page would go out at the next tick; here it is taken off by hand.
    form->desk().SendMsgs().first();
    form->desk().SendMsgs().deleteRow();
    tickAt(*form, QTime(10, 0, 16));
    QCOMPARE(scheduled(*form), QStringList { QStringLiteral("Bob Ray") });
    tickAt(*form, QTime(10, 0, 30));
    QCOMPARE(queuedNames(*form), QStringList { QStringLiteral("Bob Ray") });
    QCOMPARE(scheduled(*form), QStringList());
}

void tst_ScheduledScan::staleRecordsGoBeforeTheDueOne()
{
    fill({ { day(0), QStringLiteral("09:00:00"), QStringLiteral("Bob Ray") },
        { day(-1), QStringLiteral("11:00:00"), QStringLiteral("Old One") },
        { day(0), QStringLiteral("12:00:00"), QStringLiteral("Later") },
        { day(-2), QStringLiteral("08:00:00"), QStringLiteral("Older One") } });
    auto form = startDesk();
    tickAt(*form, QTime(10, 0, 0));
    QCOMPARE(queuedNames(*form), QStringList { QStringLiteral("Bob Ray") });
    QCOMPARE(scheduled(*form), QStringList { QStringLiteral("Later") });
    // Old records go without a word.
    QVERIFY(form->statusLines.filter(QStringLiteral("Old")).isEmpty());
}

void tst_ScheduledScan::staleLastRecordEndsTheWalk()
{
    // The stale record is the last in key order ("N" sorts before "Y"); deleting it makes the held
    // one before it current, and the walk ends there.
    fill({ { day(-1), QStringLiteral("09:00:00"), QStringLiteral("Old One") },
        { day(0), QStringLiteral("09:00:00"), QStringLiteral("Held"), QStringLiteral("N") } });
    auto form = startDesk();
    tickAt(*form, QTime(10, 0, 0));
    QCOMPARE(queuedNames(*form), QStringList());
    QCOMPARE(scheduled(*form), QStringList { QStringLiteral("Held") });
    QVERIFY(!form->desk().scheduleScanActive());
}

void tst_ScheduledScan::unreadableRecordPassedOverOnce_data()
{
    QTest::addColumn<QString>("date");
    QTest::addColumn<QString>("time");
    QTest::newRow("empty date") << ""
                                << "09:00:00";
    QTest::newRow("month 13") << "2031/13/01"
                              << "09:00:00";
    QTest::newRow("month first") << "05/14/2031"
                                 << "09:00:00";
    QTest::newRow("words") << "soon"
                           << "09:00:00";
    QTest::newRow("hour 25") << day(0) << "25:00:00";
    QTest::newRow("time in words") << day(0) << "noon";
}

void tst_ScheduledScan::unreadableRecordPassedOverOnce()
{
    QFETCH(QString, date);
    QFETCH(QString, time);
    fill({ { date, time, QStringLiteral("Bad Entry") },
        { day(0), QStringLiteral("09:00:00"), QStringLiteral("Ann Lee") } });
    auto form = startDesk();
    tickAt(*form, QTime(10, 0, 0));
    // The good record is sent all the same and the scan ends: delivery goes on.
    QCOMPARE(queuedNames(*form), QStringList { QStringLiteral("Ann Lee") });
    QVERIFY(!form->desk().scheduleScanActive());
    QCOMPARE(scheduled(*form), QStringList { QStringLiteral("Bad Entry") });
    form->desk().SendMsgs().first();
    form->desk().SendMsgs().deleteRow();
    tickAt(*form, QTime(10, 0, 15));
    const QStringList lines = form->statusLines.filter(QStringLiteral("Bad Entry"));
    QCOMPARE(lines.size(), 1); // named once, not at every scan
    QVERIFY2(lines.first().contains(QStringLiteral("unreadable")), qPrintable(lines.first()));
    QCOMPARE(scheduled(*form), QStringList { QStringLiteral("Bad Entry") });
    QCOMPARE(form->boxTexts(), QStringList());
}

void tst_ScheduledScan::switchedOffAtStartKeepsDueRecords()
{
    QVERIFY(testsupport::DataFolder::writeSettings(QStringLiteral("[System]\nSendMessages=0\n")));
    fill({ { day(0), QStringLiteral("09:00:00"), QStringLiteral("Ann Lee") },
        { day(-1), QStringLiteral("09:00:00"), QStringLiteral("Bob Ray") } });
    auto form = startDesk();
    QVERIFY(!form->desk().ScheduledSendingEnabled());
    tickAt(*form, QTime(10, 0, 0));
    tickAt(*form, QTime(10, 0, 15));
    QCOMPARE(queuedNames(*form), QStringList());
    QCOMPARE(scheduled(*form).size(), 2);
}

void tst_ScheduledScan::removedUserIsReportedAndDeleted()
{
    fill({ { day(0), QStringLiteral("09:00:00"), QStringLiteral("Zed Gone") } });
    auto form = startDesk();
    tickAt(*form, QTime(10, 0, 0));
    QCOMPARE(queuedNames(*form), QStringList());
    QCOMPARE(scheduled(*form), QStringList());
    QVERIFY(form->statusLines.contains(QStringLiteral("Zed Gone not found in Users database")));
}

void tst_ScheduledScan::groupRecordGoesOutPerCarrier()
{
    fill({ { day(0), QStringLiteral("09:00:00"), QStringLiteral("Group: Night") } });
    {
        core::Desk desk(dir_->path());
        QCOMPARE(desk.open(), QString());
        addCarrier(desk, QStringLiteral("Area Call"), QStringLiteral("555-0202"), QStringLiteral("1200"), 80,
            QStringLiteral("pw"));
        addUser(desk, QStringLiteral("Cy Doe"), QStringLiteral("Area Call"), QStringLiteral("9012"));
        addGroup(desk, QStringLiteral("Night"));
        QCOMPARE(compose::writeMemberFile(compose::memberFilePath(dir_->path(), QStringLiteral("Night")),
                     { QStringLiteral("Ann Lee"), QStringLiteral("Cy Doe"), QStringLiteral("Bob Ray") }),
            QString());
    }
    auto form = startDesk();
    tickAt(*form, QTime(10, 0, 0));
    // One page per carrier, "Area Call" first.
    store::TMemTable& q = form->desk().SendMsgs();
    QCOMPARE(q.rowCount(), 2);
    q.first();
    QCOMPARE(q.fieldText(QString::fromLatin1(core::page::PagerPhone)), QStringLiteral("9012^"));
    q.next();
    QCOMPARE(q.fieldText(QString::fromLatin1(core::page::PagerPhone)), QStringLiteral("1234^5678^"));
    QCOMPARE(scheduled(*form), QStringList());
    QCOMPARE(form->boxTexts(), QStringList());
}

void tst_ScheduledScan::missingGroupIsReportedAndDeleted()
{
    fill({ { day(0), QStringLiteral("09:00:00"), QStringLiteral("Group: Nobody") },
        { day(0), QStringLiteral("09:30:00"), QStringLiteral("Ann Lee") } });
    auto form = startDesk();
    tickAt(*form, QTime(10, 0, 0));
    QCOMPARE(form->boxTexts(), QStringList { QStringLiteral("Group Nobody doesn't exist.") });
    QVERIFY(!form->desk().scheduleScanActive());
    QCOMPARE(queuedNames(*form), QStringList());
    // Deleted all the same; the next record waits for the next scan.
    QCOMPARE(scheduled(*form), QStringList { QStringLiteral("Ann Lee") });
}

void tst_ScheduledScan::tableFaultLeavesTheScanInactive()
{
    fill({ { day(0), QStringLiteral("09:00:00"), QStringLiteral("Ann Lee") } });
    auto form = startDesk();
    form->desk().SchedMsgT().close(); // every operation on the handle now throws
    tickAt(*form, QTime(10, 0, 0));
    QVERIFY(!form->desk().scheduleScanActive());
    QCOMPARE(form->errors.size(), 1); // the standard error box
    // Delivery goes on: the handle back, the next quarter sends.
    form->desk().SchedMsgT().open();
    tickAt(*form, QTime(10, 0, 15));
    QCOMPARE(queuedNames(*form), QStringList { QStringLiteral("Ann Lee") });
}

QTEST_MAIN(tst_ScheduledScan)
#include "tst_scheduledscan.moc"
