#include "compose/pageforms.h"
#include "core/recipientname.h"

#include <QTest>

class tst_PageForms : public QObject {
    Q_OBJECT

private slots:
    void baudRate_data();
    void baudRate();
    void numericCarrier_data();
    void numericCarrier();
    void groupItem_data();
    void groupItem();
    void dialString_data();
    void dialString();
    void messageForms_data();
    void messageForms();
    void logStamps();
    void fileLines_data();
    void fileLines();
};

void tst_PageForms::baudRate_data()
{
    QTest::addColumn<QString>("speed");
    QTest::addColumn<QString>("expected");
    QTest::newRow("empty") << ""
                           << "300";
    QTest::newRow("299") << "299"
                         << "300";
    QTest::newRow("300") << "300"
                         << "300";
    QTest::newRow("2400") << "2400"
                          << "2400";
    QTest::newRow("99999") << "99999"
                           << "99999";
    QTest::newRow("zero") << "0"
                          << "300";
    QTest::newRow("negative") << "-1200"
                              << "300";
    QTest::newRow("leading blank") << " 1200"
                                   << "1200";
    QTest::newRow("letters") << "fast"
                             << "300";
    QTest::newRow("letter O for zero") << "12OO"
                                       << "300";
    QTest::newRow("digits then letters") << "1200b"
                                         << "300";
    QTest::newRow("decimal") << "1200."
                             << "300";
    QTest::newRow("hex looking") << "0x4B0"
                                 << "300";
}

void tst_PageForms::baudRate()
{
    QFETCH(QString, speed);
    QFETCH(QString, expected);
    QCOMPARE(compose::carrierBaudRate(speed), expected);
}

void tst_PageForms::numericCarrier_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("numeric");
    QTest::newRow("lower") << "numeric" << true;
    QTest::newRow("upper") << "NUMERIC" << true;
    QTest::newRow("capital") << "Numeric" << true;
    QTest::newRow("longer name") << "numeric pager" << false;
    QTest::newRow("leading blank") << " numeric" << false;
    QTest::newRow("empty") << "" << false;
}

void tst_PageForms::numericCarrier()
{
    QFETCH(QString, name);
    QFETCH(bool, numeric);
    QCOMPARE(compose::isNumericCarrier(name), numeric);
}

void tst_PageForms::groupItem_data()
{
    QTest::addColumn<QString>("item");
    QTest::addColumn<bool>("group");
    QTest::newRow("group item") << "Group: Night" << true;
    QTest::newRow("user named Group:x") << "Group:x" << true;
    QTest::newRow("lower case") << "group: Night" << false;
    QTest::newRow("Group without colon") << "Group Night" << false;
    QTest::newRow("short") << "Grou" << false;
    QTest::newRow("plain user") << "Ann Smith" << false;
}

void tst_PageForms::groupItem()
{
    QFETCH(QString, item);
    QFETCH(bool, group);
    QCOMPARE(core::isGroupRecipient(item), group);
}

void tst_PageForms::dialString_data()
{
    QTest::addColumn<QString>("outside");
    QTest::addColumn<QString>("tel");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("expected");
    QTest::newRow("typed with a trailing blank") << "9, "
                                                 << "1-800-555-0101"
                                                 << ""
                                                 << "9,1-800-555-0101^";
    QTest::newRow("no outside line") << ""
                                     << "5550101"
                                     << "PW"
                                     << "5550101^PW";
    QTest::newRow("leading blank kept") << " 9"
                                        << "555"
                                        << "X"
                                        << " 9555^X";
    QTest::newRow("trailing tab kept") << "9\t"
                                       << "555"
                                       << ""
                                       << "9\t555^";
    QTest::newRow("blanks only") << "   "
                                 << "555"
                                 << ""
                                 << "555^";
}

void tst_PageForms::dialString()
{
    QFETCH(QString, outside);
    QFETCH(QString, tel);
    QFETCH(QString, password);
    QFETCH(QString, expected);
    QCOMPARE(compose::carrierDialString(outside, tel, password), expected);
}

void tst_PageForms::messageForms_data()
{
    QTest::addColumn<QString>("editor");
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("logged");
    QTest::newRow("one line") << "Call me"
                              << "Call me"
                              << "Call me";
    QTest::newRow("two lines") << "Call\nme"
                               << "Callme"
                               << "Call\r\nme";
    QTest::newRow("CR LF held") << "Call\r\nme"
                                << "Callme"
                                << "Call\r\nme";
    QTest::newRow("blank lines") << "\n\n"
                                 << ""
                                 << "\r\n\r\n";
    QTest::newRow("blanks are text") << "  "
                                     << "  "
                                     << "  ";
    QTest::newRow("empty") << ""
                           << ""
                           << "";
}

void tst_PageForms::messageForms()
{
    QFETCH(QString, editor);
    QTEST(compose::pageMessage(editor), "page");
    QTEST(compose::loggedMessage(editor), "logged");
}

void tst_PageForms::logStamps()
{
    QCOMPARE(compose::logDate(QDate(2026, 3, 7)), QStringLiteral("2026/03/07"));
    QCOMPARE(compose::logTime(QTime(0, 5, 9)), QStringLiteral("12:05:09 AM"));
    QCOMPARE(compose::logTime(QTime(12, 0, 0)), QStringLiteral("12:00:00 PM"));
    QCOMPARE(compose::logTime(QTime(23, 59, 58)), QStringLiteral("11:59:58 PM"));
    // Whatever the program's locale, the log keeps one form.
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    QCOMPARE(compose::logTime(QTime(15, 4, 3)), QStringLiteral("03:04:03 PM"));
    QCOMPARE(compose::logDate(QDate(2026, 12, 31)), QStringLiteral("2026/12/31"));
    QLocale::setDefault(previous);
}

void tst_PageForms::fileLines_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("CR LF") << QByteArray("a\r\nb\r\nc\r\n") << QStringList { "a", "b", "c" };
    QTest::newRow("LF") << QByteArray("a\nb\nc") << QStringList { "a", "b", "c" };
    QTest::newRow("CR") << QByteArray("a\rb\rc\r") << QStringList { "a", "b", "c" };
    QTest::newRow("mixed") << QByteArray("a\r\nb\rc\nd") << QStringList { "a", "b", "c", "d" };
    QTest::newRow("LF CR is two ends") << QByteArray("a\n\rb") << QStringList { "a", "", "b" };
    QTest::newRow("empty lines kept") << QByteArray("a\n\n\nb\n") << QStringList { "a", "", "", "b" };
    QTest::newRow("two lines and an end") << QByteArray("a\nb\n") << QStringList { "a", "b" };
    QTest::newRow("empty file") << QByteArray() << QStringList {};
    QTest::newRow("one line end") << QByteArray("\n") << QStringList { "" };
    QTest::newRow("Windows-1252") << QByteArray("Jos\xe9\n\x80uro\n\x93q\x94")
                                  << QStringList { QStringLiteral("Jos\u00e9"), QStringLiteral("\u20acuro"),
                                         QStringLiteral("\u201cq\u201d") };
    QTest::newRow("NUL kept as a character")
        << QByteArray("a\0b\nc\nd", 7) << QStringList { QString::fromLatin1("a\0b", 3), "c", "d" };
}

void tst_PageForms::fileLines()
{
    QFETCH(QByteArray, bytes);
    QTEST(compose::messageFileLines(bytes), "lines");
}

QTEST_APPLESS_MAIN(tst_PageForms)
#include "tst_pageforms.moc"
