// The pure parts of the paging library: checksum, escaping, blocks, 7-bit text, dial strings, the init
// string's commands and what a StartPage asks for (pages, groups, bad parameters).

#include "paging/dialstring.h"
#include "paging/modemdialogue.h"
#include "paging/pagerequest.h"
#include "paging/pagestatus.h"
#include "paging/tapframe.h"

#include <QTest>

using namespace paging;
using namespace paging::tapframe;

class tst_TapFrame : public QObject {
    Q_OBJECT

private slots:
    void checksum_data();
    void checksum();
    void escaping_data();
    void escaping();
    void blockSplitting_data();
    void blockSplitting();
    void sevenBit_data();
    void sevenBit();
    void dialFiltering_data();
    void dialFiltering();
    void initCommands_data();
    void initCommands();
    void planning_data();
    void planning();
    void groupResultText();
};

void tst_TapFrame::checksum_data()
{
    QTest::addColumn<QByteArray>("block");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("textbook vector") << QByteArray("\x02"
                                                   "123\rABC\r\x03")
                                     << QByteArray("17;");
    QTest::newRow("parity bits do not count") << QByteArray("\x82"
                                                            "1\xB2"
                                                            "3\r\xC1"
                                                            "BC\r\x83")
                                              << QByteArray("17;");
    QTest::newRow("empty") << QByteArray() << QByteArray("000");
    // 40 DEL characters sum to 5080 = 0x13D8: only the low 12 bits remain.
    QTest::newRow("wraps at 12 bits") << QByteArray(40, '\x7F') << QByteArray("3=8");
}

void tst_TapFrame::checksum()
{
    QFETCH(QByteArray, block);
    QFETCH(QByteArray, expected);
    QCOMPARE(tapframe::checksum(block), expected);
}

void tst_TapFrame::escaping_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QByteArray>("escaped");
    QTest::newRow("plain") << QByteArray("Call 555-1234") << QByteArray("Call 555-1234");
    QTest::newRow("CR and LF") << QByteArray("a\r\nb")
                               << QByteArray("a\x1AM\x1AJ"
                                             "b");
    QTest::newRow("framing characters") << QByteArray("\x02\x03\x04\x17\x1F\x1E\x1B")
                                        << QByteArray("\x1A"
                                                      "B\x1A"
                                                      "C\x1A"
                                                      "D\x1AW\x1A_\x1A^\x1A[");
    QTest::newRow("SUB itself") << QByteArray("\x1A") << QByteArray("\x1AZ");
    QTest::newRow("NUL") << QByteArray(1, '\0') << QByteArray("\x1A@");
}

void tst_TapFrame::escaping()
{
    QFETCH(QByteArray, raw);
    QFETCH(QByteArray, escaped);
    const QByteArray out = escapeField(raw);
    QCOMPARE(out, escaped);
    for (char c : out)
        QVERIFY2(c == SUB || uchar(c) >= 0x20, "a control character left in a field");
    QCOMPARE(unescapeField(out), raw);
}

void tst_TapFrame::blockSplitting_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("blocks");
    QTest::newRow("short") << "123"
                           << "hello" << 1;
    // 4 characters of ID and CR, then the text and its CR: 250 is exactly one block.
    QTest::newRow("exactly 250") << "123" << QString(245, QLatin1Char('x')) << 1;
    QTest::newRow("one more") << "123" << QString(246, QLatin1Char('x')) << 2;
    QTest::newRow("500 characters") << "123" << QString(500, QLatin1Char('y')) << 3;
    // 200 CRs escape to 400 characters; no block may end between SUB and its character.
    QTest::newRow("escapes at the edge") << "1234" << QString(200, QLatin1Char('\r')) << 2;
    QTest::newRow("escape pair at 250")
        << "12" << QString(246, QLatin1Char('x')) + QLatin1Char('\n') + "tail" << 2;
}

void tst_TapFrame::blockSplitting()
{
    QFETCH(QString, id);
    QFETCH(QString, text);
    QFETCH(int, blocks);
    const QList<QByteArray> out = pageBlocks(id, text);
    QCOMPARE(out.size(), blocks);
    QByteArray joined;
    for (qsizetype i = 0; i < out.size(); ++i) {
        const QByteArray& b = out.at(i);
        QVERIFY(b.size() <= 256);
        QCOMPARE(b.at(0), STX);
        QCOMPARE(b.back(), CR);
        const char terminator = b.at(b.size() - 5);
        QCOMPARE(terminator, i + 1 == out.size() ? ETX : US);
        QCOMPARE(b.mid(b.size() - 4, 3), tapframe::checksum(b.left(b.size() - 4)));
        const QByteArray content = b.mid(1, b.size() - 6);
        QVERIFY(content.size() <= 250);
        QVERIFY2(content.isEmpty() || content.back() != SUB, "an escape pair was cut");
        joined += content;
        for (char c : content)
            QVERIFY(c == CR || c == SUB || uchar(c) >= 0x20);
    }
    // Joined again and unescaped, the fields are the ID and the text, each ended by CR.
    const QList<QByteArray> fields = joined.split(CR);
    QCOMPARE(fields.size(), 3);
    QCOMPARE(unescapeField(fields.at(0)), id.toLatin1());
    QCOMPARE(unescapeField(fields.at(1)), text.toLatin1());
}

void tst_TapFrame::sevenBit_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("ASCII") << "Meet at 5" << QByteArray("Meet at 5");
    QTest::newRow("accents") << QString::fromUtf8("Café Müller, señor") << QByteArray("Cafe Muller, senor");
    QTest::newRow("typographic") << QString::fromUtf8("“quoted” – it’s") << QByteArray("\"quoted\" - it's");
    QTest::newRow("no ASCII form") << QString::fromUtf8("€ 5 ½") << QByteArray("? 5 ?");
    QTest::newRow("outside the BMP") << QString::fromUtf8("ok 😀!") << QByteArray("ok ?!");
    QTest::newRow("control kept") << QStringLiteral("a\tb") << QByteArray("a\tb");
}

void tst_TapFrame::sevenBit()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, expected);
    QCOMPARE(toSevenBit(text), expected);
}

void tst_TapFrame::dialFiltering_data()
{
    QTest::addColumn<QString>("number");
    QTest::addColumn<QByteArray>("dial");
    QTest::addColumn<bool>("dialable");
    QTest::newRow("separators left out") << "(555) 123-45.67" << QByteArray("5551234567") << true;
    QTest::newRow("outside line and pauses") << "9,w555*12#" << QByteArray("9,W555*12#") << true;
    QTest::newRow("vanity letters: not dialled at all") << "555-PAGE" << QByteArray() << false;
    QTest::newRow("injected command") << "555;ATH0\rATZ+++" << QByteArray() << false;
    QTest::newRow("all letters that dial") << "p t ! @" << QByteArray("PT!@") << false;
    QTest::newRow("only a pause") << "," << QByteArray(",") << false;
    QTest::newRow("control characters") << QStringLiteral("55\x1b"
                                                          "5\n1")
                                        << QByteArray() << false;
}

void tst_TapFrame::dialFiltering()
{
    QFETCH(QString, number);
    QFETCH(QByteArray, dial);
    QFETCH(bool, dialable);
    QCOMPARE(dialstring::dialCharacters(number).value_or(QByteArray()), dial);
    QCOMPARE(dialstring::dialableCharacters(number).has_value(), dialable);
    QCOMPARE(dialstring::toneDigits(QStringLiteral("Call 555-12*3# now")), QByteArray("55512*3#"));
    QCOMPARE(dialstring::numberPart(QStringLiteral("9,5551234^pass^word")), QStringLiteral("9,5551234"));
    QCOMPARE(dialstring::passwordPart(QStringLiteral("9,5551234^pass^word")), QStringLiteral("pass^word"));
    QCOMPARE(dialstring::passwordPart(QStringLiteral("5551234")), QString());
}

void tst_TapFrame::initCommands_data()
{
    QTest::addColumn<QString>("init");
    QTest::addColumn<QList<QByteArray>>("commands");
    QTest::newRow("split at ~") << "ATZ~AT&F E0~" << QList<QByteArray> { "ATZ", "AT&F E0" };
    QTest::newRow("empty pieces") << "~ ~~" << QList<QByteArray> {};
    QTest::newRow("extended and registers pass")
        << "AT&FE0V1X4&C1&D2S0=0S7=60\\N3%C0+MS=V32~"
        << QList<QByteArray> { "AT&FE0V1X4&C1&D2S0=0S7=60\\N3%C0+MS=V32" };
    QTest::newRow("no CR can add a command")
        << QStringLiteral("ATZ\rATH1~") << QList<QByteArray> { "ATZATH1" };
    QTest::newRow("a dial is dropped")
        << "ATZ~ATDT5551234~ATE0DT911~ATE0" << QList<QByteArray> { "ATZ", "ATE0" };
    QTest::newRow("an answer is dropped") << "ATA~ATS0=1" << QList<QByteArray> { "ATS0=1" };
}

void tst_TapFrame::initCommands()
{
    QFETCH(QString, init);
    QFETCH(QList<QByteArray>, commands);
    QCOMPARE(ModemDialogue::initCommands(init), commands);
}

void tst_TapFrame::planning_data()
{
    QTest::addColumn<QString>("baud");
    QTest::addColumn<QString>("pager");
    QTest::addColumn<QString>("size");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("items");
    QTest::addColumn<QString>("firstText");
    QTest::newRow("single") << "300"
                            << "123"
                            << "80"
                            << "hi" << 0 << 1 << "hi";
    QTest::newRow("group strips ^^") << "1200"
                                     << "1^2^3^"
                                     << "80"
                                     << "hi^^" << 0 << 3 << "hi";
    QTest::newRow("group and pages") << "300"
                                     << "1^2^"
                                     << "2"
                                     << "abcde^^" << 0 << 6 << "ab";
    QTest::newRow("numeric") << "B300"
                             << "5551234"
                             << "6"
                             << "123" << 0 << 1 << "123";
    QTest::newRow("empty pager") << "300"
                                 << "  "
                                 << "80"
                                 << "hi" << int(BadParameters) << 0 << "";
    QTest::newRow("empty group member") << "300"
                                        << "1^^2^"
                                        << "80"
                                        << "hi^^" << int(BadParameters) << 0 << "";
    QTest::newRow("bad speed") << "fast"
                               << "1"
                               << "80"
                               << "hi" << int(BadParameters) << 0 << "";
    QTest::newRow("bad size") << "300"
                              << "1"
                              << "eighty"
                              << "hi" << int(BadParameters) << 0 << "";
    QTest::newRow("numeric group") << "B300"
                                   << "1^2^"
                                   << "4"
                                   << "1^^" << int(BadParameters) << 0 << "";
}

void tst_TapFrame::planning()
{
    QFETCH(QString, baud);
    QFETCH(QString, pager);
    QFETCH(QString, size);
    QFETCH(QString, message);
    QFETCH(int, code);
    QFETCH(int, items);
    QFETCH(QString, firstText);
    PageRequest r;
    r.baudRate = baud;
    r.pagerPhone = pager;
    r.messageSize = size;
    r.message = message;
    PagePlan plan;
    QString why;
    QCOMPARE(planPage(r, &plan, &why), code);
    if (code != 0) {
        QVERIFY(!why.isEmpty());
        return;
    }
    QCOMPARE(plan.items.size(), items);
    QCOMPARE(plan.items.first().text, firstText);
    QCOMPARE(plan.items.last().place, int(plan.pagerIds.size()));
}

void tst_TapFrame::groupResultText()
{
    QCOMPARE(paging::groupResultText(2, 511, statusText(InvalidPagerId)),
        QStringLiteral("GroupRes|2:511Invalid pager ID"));
    QCOMPARE(
        paging::groupResultText(10, 0, statusText(NoCarrier)), QStringLiteral("GroupRes|10:000No carrier"));
    QCOMPARE(statusText(Successful), QStringLiteral("Successful "));
}

QTEST_GUILESS_MAIN(tst_TapFrame)
#include "tst_tapframe.moc"
