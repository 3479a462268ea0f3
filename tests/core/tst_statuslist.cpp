#include "core/clocktext.h"
#include "core/statuslist.h"

#include <QTest>

using core::StatusContext;

class tst_StatusList : public QObject {
    Q_OBJECT

private slots:
    void rewrite_data();
    void rewrite();
    void namesThePageDelivered_data();
    void namesThePageDelivered();
    void stamp_data();
    void stamp();
    void historyKeepsTheNewest21();
    void clearEmptiesEveryLine();
};

void tst_StatusList::rewrite_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("byPager");
    QTest::addColumn<QString>("expected");

    const QString first
        = QStringLiteral("Server room is on fire, call the duty engineer now please, thank you");
    QTest::newRow("successful to the current user")
        << "Successful " << false << "Sent to Mary Jones: " + first.left(55) + "...";
    QTest::newRow("successful by pager ID")
        << "Successful " << true << "Sent to 5550123: " + first.left(55) + "...";
    QTest::newRow("no trailing blank is kept") << "Successful" << false << "Successful";
    QTest::newRow("other text is kept") << "Line busy" << false << "Line busy";
    QTest::newRow("group sent") << "GroupRes|2:Successful " << false
                                << "Sent to Group Night Shift at 2:  " + first.left(40) + "...";
    QTest::newRow("group invalid ID")
        << "GroupRes|2:511Invalid pager ID" << false
        << "Partially Sent to Group Night Shift: at 2: Status: 511Invalid pager ID";
    QTest::newRow("group other failure") << "GroupRes|3:000No carrier" << false
                                         << "Not Sent to Group Night Shift: at 3: Status: 000No carrier";
    QTest::newRow("group without colon")
        << "GroupRes|Something odd" << false << "Not Sent to Group Night Shift: at : Status: Something odd";
    QTest::newRow("any separator") << "GroupRes#1:Successful " << false
                                   << "Sent to Group Night Shift at 1:  " + first.left(40) + "...";
    QTest::newRow("group text without rest")
        << "GroupRes" << false << "Not Sent to Group Night Shift: at : Status: ";
    QTest::newRow("result cut to 50") << "GroupRes|1:" + QString(60, u'x') << false
                                      << "Not Sent to Group Night Shift: at 1: Status: "
            + QString(48, u'x'); // 50 characters from the tenth: "1:" and 48 more
}

void tst_StatusList::rewrite()
{
    QFETCH(QString, message);
    QFETCH(bool, byPager);
    QFETCH(QString, expected);
    StatusContext context;
    context.sendByPager = byPager;
    context.byPagerId = QStringLiteral("5550123");
    context.pageName = message.startsWith(QStringLiteral("GroupRes")) ? QStringLiteral("Group: Night Shift")
                                                                      : QStringLiteral("Mary Jones");
    context.firstLine
        = QStringLiteral("Server room is on fire, call the duty engineer now please, thank you");
    QCOMPARE(core::rewriteStatus(message, context), expected);
}

// The result texts name the page under way, also when it is not what the directory tables stand on
// (the operator may browse users while a page goes out).
void tst_StatusList::namesThePageDelivered_data()
{
    QTest::addColumn<QString>("pageName");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("expected");
    QTest::newRow("user") << "Ann Lee"
                          << "Successful "
                          << "Sent to Ann Lee: Hello...";
    QTest::newRow("group result drops the prefix") << "Group: Day Crew"
                                                   << "GroupRes|1:Successful "
                                                   << "Sent to Group Day Crew at 1:  Hello...";
    QTest::newRow("group name is cut to 16")
        << "Group: ABCDEFGHIJKLMNOPQRS"
        << "GroupRes|4:000No carrier"
        << "Not Sent to Group ABCDEFGHIJKLMNOP: at 4: Status: 000No carrier";
    QTest::newRow("successful for a group page") << "Group: Day Crew"
                                                 << "Successful "
                                                 << "Sent to Day Crew: Hello...";
    QTest::newRow("page from a file") << "From File 555-0199"
                                      << "Successful "
                                      << "Sent to From File 555-0199: Hello...";
    QTest::newRow("no page: empty name") << ""
                                         << "GroupRes|2:511Invalid pager ID"
                                         << "Partially Sent to Group : at 2: Status: 511Invalid pager ID";
}

void tst_StatusList::namesThePageDelivered()
{
    QFETCH(QString, pageName);
    QFETCH(QString, message);
    QFETCH(QString, expected);
    StatusContext context;
    context.pageName = pageName;
    context.firstLine = QStringLiteral("Hello");
    QCOMPARE(core::rewriteStatus(message, context), expected);
}

void tst_StatusList::stamp_data()
{
    QTest::addColumn<QTime>("time");
    QTest::addColumn<QString>("expected");
    // The clock's form on a 24-hour system clock: no AM or PM.
    QTest::newRow("afternoon") << QTime(15, 7, 9) << " 15:07:09:  text";
    QTest::newRow("midnight") << QTime(0, 0, 5) << " 00:00:05:  text";
    QTest::newRow("noon") << QTime(12, 30, 0) << " 12:30:00:  text";
    QTest::newRow("morning") << QTime(9, 59, 59) << " 09:59:59:  text";
}

// A line's time reads as the clock label beside it shows the same moment.
void tst_StatusList::stamp()
{
    QFETCH(QTime, time);
    QFETCH(QString, expected);
    QLocale::setDefault(QLocale::c());
    QCOMPARE(core::stampStatus(time, QStringLiteral("text")), expected);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QCOMPARE(core::stampStatus(time, QStringLiteral("text")),
        u' ' + core::longTimeText(time) + QStringLiteral(":  text"));
    QLocale::setDefault(QLocale::system());
}

void tst_StatusList::historyKeepsTheNewest21()
{
    core::StatusHistory history;
    QCOMPARE(history.lines(), QStringList(22, QString()));
    for (int i = 1; i <= 22; ++i)
        history.add(QString::number(i));
    QCOMPARE(history.lines().size(), 22);
    QCOMPARE(history.lines().first(), QStringLiteral("22"));
    QCOMPARE(history.lines().at(20), QStringLiteral("2")); // line 1 has scrolled out
    QCOMPARE(history.lines().at(21), QString());
    QVERIFY(!history.lines().contains(QStringLiteral("1")));
}

void tst_StatusList::clearEmptiesEveryLine()
{
    core::StatusHistory history;
    for (int i = 0; i < 5; ++i)
        history.add(QStringLiteral("x"));
    history.clear();
    QCOMPARE(history.lines(), QStringList(22, QString()));
}

QTEST_GUILESS_MAIN(tst_StatusList)
#include "tst_statuslist.moc"
