// "Print Log Report Parameters" with a report long enough to show its progress, on a real data
// folder, driven through its own widgets offscreen.

#include "core/desk.h"
#include "msglog/printlogfilter.h"
#include "support/datafolder.h"
#include "support/logrecords.h"

#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QProgressDialog>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

using namespace testsupport;

class tst_PrintLogFilter : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    // Cancel in the progress, while the report is laid out or while it is painted into the preview:
    // no preview stays open and the window keeps its choice; "Print" again shows the whole report.
    void cancelStopsTheReport_data()
    {
        QTest::addColumn<bool>("whilePainting");
        QTest::newRow("laying out") << false;
        QTest::newRow("painting the preview") << true;
    }
    void cancelStopsTheReport()
    {
        QFETCH(bool, whilePainting);
        DataFolder dir;
        core::Desk desk(dir.path());
        QCOMPARE(desk.open(), QString());
        // Every record starts a run of its own: a gap and a line each, a few pages in all.
        for (int i = 0; i < 60; ++i)
            addLogRecord(desk, QStringLiteral("2026/03/04"), QStringLiteral("09:00:00 AM"),
                i % 2 ? QStringLiteral("Alice") : QStringLiteral("Bob"), QStringLiteral("Message %1").arg(i));

        msglog::TPrintLogFilter filter(desk);
        filter.today = [] { return QDate(2026, 3, 4); };
        filter.progressAfterMs = 0; // as a long report does at once
        filter.open();
        QTRY_VERIFY(filter.isVisible());
        filter.DaysSpin->setValue(7);

        bool cancelling = true;
        bool progressSeen = false;
        int previewPages = -1;
        QTimer poll;
        poll.setInterval(0);
        connect(&poll, &QTimer::timeout, this, [&] {
            auto* preview = filter.findChild<QPrintPreviewDialog*>();
            auto* progress = filter.findChild<QProgressDialog*>(QStringLiteral("ReportProgress"));
            if (progress && progress->isVisible()) {
                progressSeen = true;
                if (cancelling && bool(preview) == whilePainting)
                    QTest::mouseClick(progress->findChild<QPushButton*>(), Qt::LeftButton);
            } else if (preview && preview->isVisible()) {
                if (!cancelling)
                    previewPages = preview->findChild<QPrintPreviewWidget*>()->pageCount();
                preview->reject();
            }
        });
        poll.start();
        QTest::mouseClick(filter.findChild<QPushButton*>(QStringLiteral("BitBtn1")), Qt::LeftButton);
        QVERIFY(progressSeen);
        QVERIFY(filter.isVisible());
        QCOMPARE(filter.DaysSpin->value(), 7);
        QCOMPARE(previewPages, -1);

        cancelling = false;
        QTest::mouseClick(filter.findChild<QPushButton*>(QStringLiteral("BitBtn1")), Qt::LeftButton);
        QVERIFY(previewPages > 2);
        QVERIFY(!filter.isVisible());
    }
};

QTEST_MAIN(tst_PrintLogFilter)
#include "tst_printlogfilter.moc"
