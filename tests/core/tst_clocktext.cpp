#include "core/clocktext.h"

#include <QLocale>
#include <QTest>

class tst_ClockText : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { QLocale::setDefault(QLocale::c()); }
    void longTime_data();
    void longTime();
    void stamps_data();
    void stamps();
};

void tst_ClockText::longTime_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("expected");
    QTest::newRow("C") << "C"
                       << "15:07:09";
    QTest::newRow("en_US drops the time zone") << "en_US"
                                               << "3:07:09 PM";
    QTest::newRow("de_DE") << "de_DE"
                           << "15:07:09";
    QTest::newRow("fi_FI separators become colons") << "fi_FI"
                                                    << "15:07:09";
}

void tst_ClockText::longTime()
{
    QFETCH(QString, locale);
    QFETCH(QString, expected);
    QLocale::setDefault(QLocale(locale));
    QCOMPARE(core::longTimeText(QTime(15, 7, 9)), expected);
}

void tst_ClockText::stamps_data()
{
    QTest::addColumn<QString>("locale");
    QTest::newRow("C") << "C";
    QTest::newRow("de_DE") << "de_DE";
    QTest::newRow("ja_JP") << "ja_JP";
}

void tst_ClockText::stamps()
{
    // The stamps keep one form whatever the locale: "/" and ":", AM and PM.
    QFETCH(QString, locale);
    QLocale::setDefault(QLocale(locale));
    QCOMPARE(core::dateStamp(QDate(2026, 12, 6)), QStringLiteral("12/06/26 "));
    QCOMPARE(core::dateStamp(QDate(2001, 1, 9)), QStringLiteral("01/09/01 "));
    QCOMPARE(core::timeStamp(QTime(15, 7, 9)), QStringLiteral("03:07 PM "));
    QCOMPARE(core::timeStamp(QTime(0, 30)), QStringLiteral("12:30 AM "));
    QCOMPARE(core::timeStamp(QTime(12, 0)), QStringLiteral("12:00 PM "));
}

QTEST_GUILESS_MAIN(tst_ClockText)
#include "tst_clocktext.moc"
