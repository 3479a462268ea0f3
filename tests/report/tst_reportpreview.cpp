// The report preview on a report long enough to be laid out over many steps: pages laid out again
// from where they begin, the first page before the layout ends, the page count growing, paging keys.

#include "msglog/logreport.h"
#include "report/pagedreport.h"
#include "report/reportlayout.h"
#include "report/reportpreview.h"

#include <QAbstractScrollArea>
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QScreen>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>

using report::LaidOutPage;

namespace {

// Records in memory; it comes back to a record when `canRewind`.
class MemorySource : public report::RecordSource {
public:
    MemorySource(const QList<QStringList>& records, bool canRewind)
        : records_(records)
        , canRewind_(canRewind)
    {
    }
    bool next(QStringList* record) override
    {
        if (at_ >= records_.size())
            return false;
        *record = records_.at(at_++);
        return true;
    }
    qint64 lastPosition() const override { return canRewind_ && at_ > 0 ? at_ - 1 : -1; }
    bool rewindTo(qint64 position) override
    {
        at_ = int(position);
        return canRewind_;
    }

private:
    const QList<QStringList>& records_;
    bool canRewind_;
    int at_ = 0;
};

// Runs of six records a name, some messages long enough to wrap over several lines.
QList<QStringList> makeRecords(int count)
{
    QList<QStringList> records;
    for (int i = 0; i < count; ++i) {
        QString message = QStringLiteral("Message %1").arg(i);
        if (i % 7 == 0)
            message += QStringLiteral(" and the load waits at the gate until the paperwork is signed").repeated(i % 5 + 1);
        records << QStringList { QStringLiteral("2026/03/01"), QStringLiteral("08:00:00 AM"),
            QStringLiteral("User %1").arg(i / 6 % 9), message };
    }
    return records;
}

QString describe(const LaidOutPage& page)
{
    QString text;
    for (const report::PlacedText& placed : page.texts)
        text += QStringLiteral("%1,%2 %3\n").arg(placed.boxMm.left()).arg(placed.boxMm.top()).arg(placed.text);
    return text;
}

QList<QString> layOutStraight(const report::ReportDefinition& def, const QList<QStringList>& records)
{
    MemorySource source(records, false);
    report::ReportLayout layout(def, source);
    QList<QString> pages;
    while (auto page = layout.nextPage())
        pages << describe(*page);
    return pages;
}

} // namespace

class tst_ReportPreview : public QObject {
    Q_OBJECT

    const report::ReportDefinition def_ = msglog::logReportDefinition();
    const QList<QStringList> records_ = makeRecords(3000);

    report::PagedReport::SourceFactory factory(bool canRewind = true)
    {
        return [this, canRewind] { return std::make_unique<MemorySource>(records_, canRewind); };
    }

private slots:
    // Any page, asked for in any order, is the page the straight walk gives, whether it is laid
    // out again from where it begins or (a source that cannot come back) walked to from the start.
    void pagesLaidOutAgainAreTheWalksPages_data()
    {
        QTest::addColumn<bool>("canRewind");
        QTest::newRow("from where the page begins") << true;
        QTest::newRow("from the start") << false;
    }
    void pagesLaidOutAgainAreTheWalksPages()
    {
        QFETCH(bool, canRewind);
        const QList<QString> straight = layOutStraight(def_, records_);
        QVERIFY(straight.size() > 50);
        report::PagedReport paged(def_, factory(canRewind));
        while (paged.layOutMore(7)) { }
        QVERIFY(paged.finished());
        QCOMPARE(paged.pageCount(), straight.size());
        const int last = paged.pageCount() - 1;
        // Jumps both ways, pages read one after another, and pages asked again after more pages than
        // are kept.
        QList<int> order { last, 0, last / 2, last / 2 + 1, last / 2 + 2, 1, last - 1, last };
        for (int i = 3; i < last; ++i)
            order << i;
        order << 0 << last / 2 << last;
        for (int index : order)
            QCOMPARE(describe(paged.page(index)), straight.at(index));
    }

    // Shown, the preview has its first page and goes on laying out on the event loop: its count
    // grows step by step (the label saying it is not final) to the report's page count.
    void firstPageShowsWhileTheCountGrows()
    {
        const int total = layOutStraight(def_, records_).size();
        report::ReportPreview preview(def_, factory(), QStringLiteral("Message Log"));
        QSignalSpy counts(&preview, &report::ReportPreview::pageCountChanged);
        int paintedFirstAt = -1;
        connect(&preview, &report::ReportPreview::pagePainted, this, [&](int index) {
            if (index == 0 && paintedFirstAt < 0)
                paintedFirstAt = preview.pageCount();
        });
        preview.show();
        QCOMPARE(preview.pageCount(), 1);
        QVERIFY(!preview.layoutFinished());
        auto* label = preview.findChild<QLabel*>(QStringLiteral("PageCount"));
        QVERIFY(label->text().contains(QStringLiteral("of 1\u2026")));

        QTRY_VERIFY_WITH_TIMEOUT(preview.layoutFinished(), 60000);
        QCOMPARE(preview.pageCount(), total);
        QCOMPARE(label->text().trimmed(), QStringLiteral("of %1").arg(total));
        QVERIFY(paintedFirstAt >= 1 && paintedFirstAt < total);
        QVERIFY(counts.size() > 2);
        for (int i = 1; i < counts.size(); ++i)
            QVERIFY(counts.at(i).at(0).toInt() > counts.at(i - 1).at(0).toInt());
        QVERIFY(counts.last().at(1).toBool());
    }

    // PageDown / PageUp move a page, End / Home to the last and the first; the page number follows.
    void pagingKeysMovePages()
    {
        report::ReportPreview preview(def_, factory(), QStringLiteral("Message Log"));
        preview.show();
        QVERIFY(QTest::qWaitForWindowExposed(&preview));
        QTRY_VERIFY_WITH_TIMEOUT(preview.layoutFinished(), 60000);
        auto* view = preview.findChild<QAbstractScrollArea*>(QStringLiteral("PageView"));
        auto* spin = preview.findChild<QSpinBox*>(QStringLiteral("PageSpin"));
        QCOMPARE(QApplication::focusWidget(), view);
        const int last = preview.pageCount() - 1;
        const QList<std::pair<Qt::Key, int>> steps { { Qt::Key_PageDown, 1 }, { Qt::Key_PageDown, 2 },
            { Qt::Key_PageUp, 1 }, { Qt::Key_End, last }, { Qt::Key_PageUp, last - 1 }, { Qt::Key_Home, 0 } };
        for (const auto& [key, page] : steps) {
            QTest::keyClick(view, key);
            QCOMPARE(preview.currentPage(), page);
            QCOMPARE(spin->value(), page + 1);
        }
        spin->setValue(5);
        QCOMPARE(preview.currentPage(), 4);
    }

    // It opens as large as the screen allows, the page fitted to its width; zooming leaves the fit,
    // "Fit Width" comes back to it.
    void opensFittedToTheScreen()
    {
        report::ReportPreview preview(def_, factory(), QStringLiteral("Message Log"));
        preview.show();
        QVERIFY(QTest::qWaitForWindowExposed(&preview));
        const QRect available = preview.screen()->availableGeometry();
        QVERIFY(preview.width() >= available.width() * 9 / 10);
        QVERIFY(preview.height() >= available.height() * 9 / 10);
        QVERIFY(preview.fitsWidth());
        const double fitted = preview.zoom();
        preview.findChild<QAction*>(QStringLiteral("ZoomIn"))->trigger();
        QVERIFY(!preview.fitsWidth());
        QVERIFY(preview.zoom() > fitted);
        preview.findChild<QAction*>(QStringLiteral("FitWidth"))->trigger();
        QCOMPARE(preview.zoom(), fitted);
    }
};

QTEST_MAIN(tst_ReportPreview)
#include "tst_reportpreview.moc"
