// The log report laid out without painting: bands, offsets, gaps, wrapping, page breaks.

#include "msglog/logreport.h"
#include "report/reportlayout.h"

#include <QGuiApplication>
#include <QTest>

using report::LaidOutPage;
using report::ReportLayout;

namespace {

class ListSource : public report::RecordSource {
public:
    explicit ListSource(QList<QStringList> records)
        : records_(std::move(records))
    {
    }
    bool next(QStringList* record) override
    {
        if (records_.isEmpty())
            return false;
        *record = records_.takeFirst();
        return true;
    }

private:
    QList<QStringList> records_;
};

QList<LaidOutPage> layOut(const QList<QStringList>& records)
{
    static const report::ReportDefinition def = msglog::logReportDefinition();
    ListSource source(records);
    ReportLayout layout(def, source);
    QList<LaidOutPage> pages;
    while (auto page = layout.nextPage())
        pages << *page;
    return pages;
}

QStringList record(const QString& name, const QString& message = QStringLiteral("hi"))
{
    return { QStringLiteral("2026/03/01"), QStringLiteral("08:00:00 AM"), name, message };
}

// The tops of the date texts, one a record.
QList<double> detailTops(const LaidOutPage& page)
{
    QList<double> tops;
    for (const report::PlacedText& text : page.texts)
        if (text.text == QStringLiteral("2026/03/01"))
            tops << text.boxMm.top();
    return tops;
}

} // namespace

class tst_ReportLayout : public QObject {
    Q_OBJECT

private slots:
    void noRecordsNoPage() { QVERIFY(layOut({}).isEmpty()); }

    void titleAndDetailOffsets()
    {
        const QList<LaidOutPage> pages = layOut({ record(QStringLiteral("Alice")) });
        QCOMPARE(pages.size(), 1);
        const auto& texts = pages[0].texts;
        QCOMPARE(texts[0].text, QStringLiteral("Message Log"));
        QVERIFY(texts[0].centred);
        QCOMPARE(texts[0].boxMm, QRectF(12.7 + 56.4, 12.7 + 1.6, 68.0, texts[0].boxMm.height()));
        // The title, then the group gap, then the detail fields 0.53 mm under the band's top.
        const double detailTop = 12.7 + 11.38 + 10.58 + 0.53;
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(texts[1 + i].boxMm.top(), detailTop);
            QVERIFY(texts[1 + i].font.bold && texts[1 + i].font.pointSize == 10);
        }
        // The date, name and message at their columns; the time where the date leaves it room.
        QCOMPARE(texts[1].boxMm.left(), 12.7 + 2.1);
        QCOMPARE(texts[3].boxMm.left(), 12.7 + 46.3);
        // The message after a name column that takes 30 characters.
        QCOMPARE(texts[4].boxMm.left(), 12.7 + 46.3 + msglog::logReportNameWidthMm() + 1.5);
        QVERIFY(texts[2].boxMm.left() >= 12.7 + 19.6);
        for (int i = 1; i < 4; ++i)
            QVERIFY2(texts[i].boxMm.left() + ReportLayout::textWidthMm(texts[i].text, texts[i].font) + 0.5
                    <= texts[i + 1].boxMm.left(),
                qPrintable(texts[i].text));
    }

    // A name wider than its column wraps there, and the band grows for it; "Group: Sales" fits.
    void longNameWrapsInItsColumn()
    {
        const QString name = QStringLiteral("WWWW WWWW WWWW WWWW WWWW WWWW WWWW");
        const QList<LaidOutPage> pages = layOut({ record(name), record(QStringLiteral("Group: Sales")) });
        QList<report::PlacedText> names;
        for (const report::PlacedText& text : pages[0].texts)
            if (qAbs(text.boxMm.left() - (12.7 + 46.3)) < 0.001)
                names << text;
        QVERIFY(names.size() >= 3);
        QCOMPARE(names.takeLast().text, QStringLiteral("Group: Sales"));
        QStringList lines;
        for (const report::PlacedText& line : names) {
            lines << line.text;
            QVERIFY(ReportLayout::textWidthMm(line.text, line.font) <= msglog::logReportNameWidthMm());
        }
        QCOMPARE(lines.join(u' '), name);
        const QList<double> tops = detailTops(pages[0]);
        QVERIFY(tops[1] - 10.58 >= names.last().boxMm.bottom());
    }

    // A long message wraps within its column and the next record starts under its last line.
    void longMessageGrowsItsBand()
    {
        const QString message = QString(QStringLiteral("word ")).repeated(100);
        const QList<LaidOutPage> pages
            = layOut({ record(QStringLiteral("Alice"), message), record(QStringLiteral("Alice")) });
        QStringList lines;
        double lastLineBottom = 0;
        for (const report::PlacedText& text : pages[0].texts)
            if (text.text.startsWith(QStringLiteral("word"))) {
                lines << text.text;
                QVERIFY(text.boxMm.right() <= 12.7 + 190.5 + 0.001);
                lastLineBottom = text.boxMm.bottom();
                QVERIFY(ReportLayout::textWidthMm(text.text, text.font) <= 190.5 - 68.8 + 0.001);
            }
        QVERIFY(lines.size() > 3);
        QCOMPARE(lines.join(u' ').simplified(), message.simplified());
        const QList<double> tops = detailTops(pages[0]);
        QVERIFY(tops[1] >= lastLineBottom);
    }

    // Pages are filled down to the bottom margin and the title is printed once.
    void pageBreaks()
    {
        QList<QStringList> records;
        for (int i = 0; i < 100; ++i)
            records << record(QStringLiteral("Alice"));
        const QList<LaidOutPage> pages = layOut(records);
        QVERIFY(pages.size() >= 3);
        int details = 0;
        for (const LaidOutPage& page : pages) {
            const QList<double> tops = detailTops(page);
            details += tops.size();
            QVERIFY(tops.last() - 0.53 + 6.61 <= 279.4 - 12.7 + 0.001);
            QCOMPARE(page.texts.first().text == QStringLiteral("Message Log"), &page == &pages.first());
        }
        QCOMPARE(details, 100);
        QCOMPARE(detailTops(pages[1]).first(), 12.7 + 0.53); // no gap: the run goes on
    }

    void firstReportedDay()
    {
        QCOMPARE(msglog::firstReportedDay(QDate(2026, 3, 7), 7), QStringLiteral("2026/03/01"));
        QCOMPARE(msglog::firstReportedDay(QDate(2026, 3, 7), 1), QStringLiteral("2026/03/07"));
    }
};

QTEST_MAIN(tst_ReportLayout)
#include "tst_reportlayout.moc"
