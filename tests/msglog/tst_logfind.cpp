// LogFind without a window: where a find from a given record lands, at the edges of a user's and a
// day's records, on a real log written to a temporary data folder.

#include "core/desk.h"
#include "msglog/logfind.h"
#include "support/datafolder.h"
#include "support/logrecords.h"

#include <QSignalSpy>
#include <QTest>

using msglog::LogFind;

class tst_LogFind : public QObject {
    Q_OBJECT

private slots:
    // Record numbers 1 to 6; BY_DATE shows them 1, 2, 3, 6 (04/01), then 4, 5 (04/02).
    void landsOnTheNeighbourInTheWindowsOrder_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QDate>("day");
        QTest::addColumn<bool>("forward");
        QTest::addColumn<uint>("from");
        QTest::addColumn<uint>("expected"); // 0: not found
        const QDate any;
        const QDate first(2026, 4, 1);
        const QDate second(2026, 4, 2);
        QTest::newRow("user, forward from another's record of the day") << "Ann" << "" << any << true << 2u << 3u;
        QTest::newRow("user, back from another's record of the day") << "Ann" << "" << any << false << 2u << 1u;
        QTest::newRow("user, a later record of an earlier day") << "Ann" << "" << any << true << 6u << 5u;
        QTest::newRow("user, back over a day's change") << "Ann" << "" << any << false << 4u << 6u;
        QTest::newRow("user, back from no record: the last") << "Ann" << "" << any << false << 0u << 5u;
        QTest::newRow("user and day, past the day's end") << "Ann" << "" << first << true << 6u << 0u;
        QTest::newRow("user and day, back from after the day") << "Ann" << "" << first << false << 5u << 6u;
        QTest::newRow("user and day, back from before the day") << "Ann" << "" << second << false << 2u << 0u;
        QTest::newRow("user and day, forward from before the day") << "Ann" << "" << second << true << 1u << 5u;
        QTest::newRow("day, forward from the start") << "" << "" << second << true << 0u << 4u;
        QTest::newRow("day, back from the end of the log") << "" << "" << first << false << 5u << 6u;
        QTest::newRow("text, any case, forward") << "" << "LUNCH" << any << true << 1u << 6u;
        QTest::newRow("text, back") << "" << "lunch" << any << false << 4u << 6u;
        QTest::newRow("user and text, none") << "Bob" << "lunch" << any << true << 0u << 0u;
        QTest::newRow("unknown user") << "Cy" << "" << any << true << 0u << 0u;
    }
    void landsOnTheNeighbourInTheWindowsOrder()
    {
        QFETCH(QString, user);
        QFETCH(QString, text);
        QFETCH(QDate, day);
        QFETCH(bool, forward);
        QFETCH(uint, from);
        QFETCH(uint, expected);
        testsupport::DataFolder dir;
        core::Desk desk(dir.path());
        QCOMPARE(desk.open(), QString());
        const struct {
            const char* user;
            const char* date;
            const char* message;
        } records[] = { { "Ann", "2026/04/01", "a" }, { "Bob", "2026/04/01", "b" }, { "Ann", "2026/04/01", "c" },
            { "Bob", "2026/04/02", "d" }, { "Ann", "2026/04/02", "e" }, { "Ann", "2026/04/01", "Lunch at noon" } };
        for (const auto& r : records)
            testsupport::addLogRecord(desk, QString::fromLatin1(r.date), QStringLiteral("09:00:00 AM"),
                QString::fromLatin1(r.user), QString::fromLatin1(r.message));

        LogFind find(desk.MsgLogT());
        find.setStepRecords(1); // every record a step of its own
        QSignalSpy found(&find, &LogFind::found);
        QSignalSpy notFound(&find, &LogFind::notFound);
        find.start({ user, text, day }, forward ? LogFind::Direction::Forward : LogFind::Direction::Backward, from);
        QTRY_VERIFY(!find.isRunning());
        if (expected == 0) {
            QCOMPARE(found.size(), 0);
            QCOMPARE(notFound.size(), 1);
        } else {
            QCOMPARE(notFound.size(), 0);
            QCOMPARE(found.size(), 1);
            QCOMPARE(found.first().first().toUInt(), expected);
        }
        // The window's handle stays where it was.
        QCOMPARE(desk.MsgLogT().recNo(), 6u);
    }
};

QTEST_MAIN(tst_LogFind)
#include "tst_logfind.moc"
