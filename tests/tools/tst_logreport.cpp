// logreport run as the operator runs it, on a real data folder; its PDF read back with pdftotext.

#include "core/desk.h"
#include "support/datafolder.h"
#include "support/logrecords.h"
#include "report/reportlayout.h"

#include <QDate>
#include <QFile>
#include <QLocale>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>
#include <algorithm>

namespace {

struct Word {
    QString text;
    double xMin, yMin, xMax, yMax; // points
};

constexpr double kPointsPerMm = 72.0 / 25.4;

int runLogReport(const QStringList& arguments, QString* errors = nullptr)
{
    QProcess process;
    process.start(QStringLiteral(LOGREPORT_PROGRAM), arguments);
    if (!process.waitForFinished(60000))
        return -1;
    if (errors)
        *errors = QString::fromLocal8Bit(process.readAllStandardError());
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

QList<Word> wordsOf(const QString& pdf)
{
    QProcess process;
    process.start(QStringLiteral("pdftotext"), { QStringLiteral("-bbox"), pdf, QStringLiteral("-") });
    process.waitForFinished(30000);
    const QString html = QString::fromUtf8(process.readAllStandardOutput());
    static const QRegularExpression word(QStringLiteral(
        R"re(<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">([^<]*)</word>)re"));
    QList<Word> words;
    for (const auto& m : word.globalMatch(html))
        words.append({ m.captured(5), m.captured(1).toDouble(), m.captured(2).toDouble(), m.captured(3).toDouble(),
            m.captured(4).toDouble() });
    return words;
}

QString day(int daysAgo)
{
    return QLocale::c().toString(QDate::currentDate().addDays(-daysAgo), QStringLiteral("yyyy'/'MM'/'dd"));
}

} // namespace

class tst_LogReport : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<testsupport::DataFolder> dir_;

    void seed(const QList<QStringList>& records)
    {
        core::Desk desk(dir_->path());
        QCOMPARE(desk.open(), QString());
        for (const QStringList& r : records)
            testsupport::addLogRecord(desk, r[0], r[1], r[2], r[3]);
    }
    QString pdfPath() const { return dir_->path() + QStringLiteral("/log.pdf"); }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty(), "needs poppler-utils");
    }
    void init()
    {
        dir_ = std::make_unique<testsupport::DataFolder>();
        QVERIFY(dir_->isValid());
    }
    void cleanup() { dir_.reset(); }

    // Alice, Alice, Group: Sales, Alice: the title centred in its box, the four columns apart at
    // their offsets from the half-inch margin, a gap before each run.
    void pageLayoutReadBack()
    {
        seed({ { day(3), "08:00:00 AM", "Alice", "one" }, { day(2), "09:00:00 AM", "Alice", "two" },
            { day(1), "10:00:00 AM", "Group: Sales", "three" }, { day(0), "11:00:00 AM", "Alice", "four" } });
        QCOMPARE(runLogReport({ dir_->path(), pdfPath() }), 0);
        const QList<Word> words = wordsOf(pdfPath());
        QVERIFY(words.size() > 10);

        // The title's words, after the running header's.
        const qsizetype title = std::find_if(words.begin(), words.end(), [](const Word& w) {
            return w.text == u"Message";
        }) - words.begin();
        QVERIFY(title + 1 < words.size());
        QCOMPARE(words[title + 1].text, QStringLiteral("Log"));
        const double titleCentre = (words[title].xMin + words[title + 1].xMax) / 2;
        QVERIFY(qAbs(titleCentre - (12.7 + 56.4 + 34.0) * kPointsPerMm) < 1.5);

        QList<double> rowTops;
        QList<double> messageLefts;
        for (const QString message : { "one", "two", "three", "four" }) {
            QList<Word> row;
            for (const Word& w : words)
                if (w.text == message)
                    row << w;
            QCOMPARE(row.size(), 1);
            // The words of the message's line, left to right: the date, the time, AM/PM, the name
            // (one or two words), the message.
            const double top = row[0].yMin;
            row.clear();
            for (const Word& w : words)
                if (qAbs(w.yMin - top) < 0.5)
                    row << w;
            std::sort(row.begin(), row.end(), [](const Word& a, const Word& b) { return a.xMin < b.xMin; });
            QVERIFY(row.size() >= 5);
            const Word& date = row[0];
            const Word& time = row[1];
            // The date, the name and the message at their columns from the half-inch margin; the
            // time after the date with a blank's room between them, ended before the name.
            QVERIFY2(qAbs(date.xMin - (12.7 + 2.1) * kPointsPerMm) < 1.5, qPrintable(message));
            QVERIFY2(time.xMin - date.xMax >= 0.5 * kPointsPerMm, qPrintable(message));
            QVERIFY2(row[2].xMax < (12.7 + 46.3) * kPointsPerMm, qPrintable(message));
            QVERIFY2(qAbs(row[3].xMin - (12.7 + 46.3) * kPointsPerMm) < 1.5, qPrintable(message));
            // The message after the name's column, which takes a name of 30 characters.
            QVERIFY2(row.last().xMin > (12.7 + 46.3 + 50.0) * kPointsPerMm, qPrintable(message));
            messageLefts << row.last().xMin;
            rowTops << date.yMin;
        }
        for (const double left : messageLefts)
            QVERIFY(qAbs(left - messageLefts.first()) < 0.5);
        const double detail = 6.61 * kPointsPerMm;
        const double gap = 10.58 * kPointsPerMm;
        QVERIFY(qAbs(rowTops[1] - rowTops[0] - detail) < 0.5);
        QVERIFY(qAbs(rowTops[2] - rowTops[1] - detail - gap) < 0.5);
        QVERIFY(qAbs(rowTops[3] - rowTops[2] - detail - gap) < 0.5);
    }

    // Each page's top margin gives the period and the print date, its foot "Page N of M";
    // "Group: Night Shift" keeps one line.
    void headerFooterAndNameReadBack()
    {
        QList<QStringList> records;
        for (int i = 0; i < 60; ++i)
            records << QStringList { day(i % 2), "08:00:00 AM", "Group: Night Shift",
                QStringLiteral("m%1").arg(i) };
        seed(records);
        QCOMPARE(runLogReport({ dir_->path(), pdfPath(), QStringLiteral("--days"), QStringLiteral("2") }), 0);
        QProcess text;
        text.start(
            QStringLiteral("pdftotext"), { QStringLiteral("-layout"), pdfPath(), QStringLiteral("-") });
        QVERIFY(text.waitForFinished(30000));
        const QStringList pages
            = QString::fromUtf8(text.readAllStandardOutput()).split(u'\f', Qt::SkipEmptyParts);
        QVERIFY(pages.size() >= 2);
        for (int i = 0; i < pages.size(); ++i) {
            const QStringList lines = pages.at(i).split(u'\n', Qt::SkipEmptyParts);
            QVERIFY2(QRegularExpression(
                         QStringLiteral("^Period: %1 to %2 +Printed %2 \\d\\d:\\d\\d$").arg(day(1), day(0)))
                         .match(lines.first().trimmed())
                         .hasMatch(),
                qPrintable(lines.first()));
            QCOMPARE(lines.last().trimmed(), QStringLiteral("Page %1 of %2").arg(i + 1).arg(pages.size()));
            QVERIFY(lines.filter(QRegularExpression(QStringLiteral("Group: Night *$"))).isEmpty()); // no wrap
        }
    }

    // --user takes any name, quotes too; --days 2 is today and yesterday.
    void userAndDaysChooseTheRecords()
    {
        seed({ { day(5), "08:00:00 AM", "Al \"Q\" Bo", "old" }, { day(1), "08:00:00 AM", "Al \"Q\" Bo", "recent" },
            { day(0), "08:00:00 AM", "Cy", "other" } });
        QCOMPARE(runLogReport({ dir_->path(), pdfPath(), QStringLiteral("--user"), QStringLiteral("Al \"Q\" Bo"),
                     QStringLiteral("--days"), QStringLiteral("2") }),
            0);
        QStringList texts;
        for (const Word& w : wordsOf(pdfPath()))
            texts << w.text;
        QVERIFY(texts.contains(QStringLiteral("recent")));
        QVERIFY(!texts.contains(QStringLiteral("old")));
        QVERIFY(!texts.contains(QStringLiteral("other")));
    }

    void nothingToReportWritesNoFile()
    {
        seed({});
        QString errors;
        QCOMPARE(runLogReport({ dir_->path(), pdfPath() }, &errors), 0);
        QVERIFY(!QFile::exists(pdfPath()));
        QVERIFY(errors.contains(QStringLiteral("no log record")));
    }

    void unreadableTableIsReported()
    {
        QFile bad(dir_->path() + QStringLiteral("/MSGLOG2.DBF"));
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write("not a table");
        bad.close();
        QString errors;
        QCOMPARE(runLogReport({ dir_->path(), pdfPath() }, &errors), 2);
        QVERIFY(!errors.isEmpty());
        QCOMPARE(runLogReport({ dir_->path() }), 1);
    }
};

QTEST_MAIN(tst_LogReport)
#include "tst_logreport.moc"
