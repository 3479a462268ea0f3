#include "compose/pagelib.h"
#include "config/systemsettings.h"

#include <QStandardPaths>
#include <QTest>

class tst_PageLib : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void trimRightBlanks_data();
    void trimRightBlanks();
    void stripDashes_data();
    void stripDashes();
    void stripReturns_data();
    void stripReturns();
    void removeBlanks_data();
    void removeBlanks();
    void zeroPad_data();
    void zeroPad();
    void capitalizeWords_data();
    void capitalizeWords();
    void inDebugModeFollowsTheSystemWindow();
};

void tst_PageLib::trimRightBlanks_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("trailing blanks") << "9  "
                                     << "9";
    QTest::newRow("leading blanks stay") << "  9 "
                                         << "  9";
    QTest::newRow("trailing tab stays") << "9\t"
                                        << "9\t";
    QTest::newRow("tab then blanks") << "9\t  "
                                     << "9\t";
    QTest::newRow("blanks only") << "    "
                                 << "";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("inner blanks stay") << "9 1 "
                                       << "9 1";
}

void tst_PageLib::trimRightBlanks()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(compose::TrimRightBlanks(text), expected);
}

void tst_PageLib::stripDashes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("pager id") << "555-123-4567"
                              << "5551234567";
    QTest::newRow("dashes only") << "--"
                                 << "";
    QTest::newRow("none") << "5551234"
                          << "5551234";
    QTest::newRow("cut to 3099") << QString(3200, u'7') << QString(3099, u'7');
    QTest::newRow("dashes do not count") << (QString(100, u'-') + QString(3099, u'1')) << QString(3099, u'1');
}

void tst_PageLib::stripDashes()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(compose::StripDashes(text), expected);
}

void tst_PageLib::stripReturns_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("CR LF keeps the LF") << "one\r\ntwo\r\n"
                                        << "one\ntwo\n";
    QTest::newRow("lone CR") << "a\rb"
                             << "ab";
    QTest::newRow("LF only") << "a\nb"
                             << "a\nb";
    QTest::newRow("cut to 3099") << QString(3100, u'x') << QString(3099, u'x');
}

void tst_PageLib::stripReturns()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(compose::StripReturns(text), expected);
}

void tst_PageLib::removeBlanks_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("group file name") << "Night Shift"
                                     << "NightShift";
    QTest::newRow("every blank") << " a  b "
                                 << "ab";
    QTest::newRow("tab stays") << "a\tb"
                               << "a\tb";
}

void tst_PageLib::removeBlanks()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(compose::RemoveBlanks(text), expected);
}

void tst_PageLib::zeroPad_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<int>("width");
    QTest::addColumn<QString>("expected");
    QTest::newRow("7 in 3") << 7 << 3 << "007";
    QTest::newRow("1234 in 2") << 1234 << 2 << "1234";
    QTest::newRow("-5 in 3") << -5 << 3 << "0-5";
    QTest::newRow("0 in 0") << 0 << 0 << "0";
    QTest::newRow("exact width") << 42 << 2 << "42";
    QTest::newRow("width above 200 stops at 200") << 1 << 300 << (QString(199, u'0') + u'1');
    QTest::newRow("largest width") << 9 << 65535 << (QString(199, u'0') + u'9');
    QTest::newRow("lowest number") << int(INT32_MIN) << 12 << "0-2147483648";
}

void tst_PageLib::zeroPad()
{
    QFETCH(int, number);
    QFETCH(int, width);
    QFETCH(QString, expected);
    QCOMPARE(compose::ZeroPad(number, uint16_t(width)), expected);
}

void tst_PageLib::capitalizeWords_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("new york city") << "new york city"
                                   << "New York City";
    QTest::newRow("sales ny") << "sales ny"
                              << "Sales ny";
    QTest::newRow(".net team") << ".net team"
                               << ".Net Team";
    QTest::newRow("mary ann smith") << "mary ann smith"
                                    << "Mary Ann Smith";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("dot only") << "."
                              << ".";
    QTest::newRow("dot and letter") << ".a"
                                    << ".A";
    QTest::newRow("one letter") << "a"
                                << "A";
    QTest::newRow("last word of three letters") << "ab cde"
                                                << "Ab Cde";
    QTest::newRow("word in the last position") << "abc d"
                                               << "Abc d";
    QTest::newRow("upper case stays") << "NEW york"
                                      << "NEW York";
    QTest::newRow("only a to z change") << "\u00e9t\u00e9 team"
                                        << "\u00e9t\u00e9 Team";
    QTest::newRow("digit first") << "1st floor"
                                 << "1st Floor";
    // Only the character right after a blank is looked at: after two blanks that is the second one.
    QTest::newRow("double blank") << "night  shift desk"
                                  << "Night  shift Desk";
    QTest::newRow("trailing blanks") << "night   "
                                     << "Night   ";
}

void tst_PageLib::capitalizeWords()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(compose::CapitalizeWords(text), expected);
}

void tst_PageLib::inDebugModeFollowsTheSystemWindow()
{
    config::SystemSettings settings;
    QVERIFY(!compose::InDebugMode(settings)); // clear at every start
    settings.setDebug(true);
    QVERIFY(compose::InDebugMode(settings));
    settings.setDebug(false);
    QVERIFY(!compose::InDebugMode(settings));
}

QTEST_GUILESS_MAIN(tst_PageLib)
#include "tst_pagelib.moc"
