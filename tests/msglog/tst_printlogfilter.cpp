// "Print Log Report Parameters" and its preview on a real data folder, driven through their own
// widgets offscreen: the report's pages laid out again from the log table, and "Print to file".

#include "core/desk.h"
#include "models/tablemodel.h"
#include "msglog/logreport.h"
#include "msglog/printlogfilter.h"
#include "report/pagedreport.h"
#include "report/reportpreview.h"
#include "support/datafolder.h"
#include "support/logrecords.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

using namespace testsupport;

namespace {

// Alice, Bob and a group in runs, over three days, a few long messages among them.
void addRecords(core::Desk& desk, int count)
{
    for (int i = 0; i < count; ++i) {
        const QString day = QStringLiteral("2026/03/0%1").arg(2 + i * 3 / count);
        const QString name = i % 5 == 0 ? QStringLiteral("Group: Sales")
                                        : (i / 3 % 2 ? QStringLiteral("Alice") : QStringLiteral("Bob"));
        QString message = QStringLiteral("Message %1").arg(i);
        if (i % 9 == 0)
            message += QStringLiteral(" please call the desk about the delivery at dock four").repeated(4);
        addLogRecord(desk, day, QStringLiteral("09:00:00 AM"), name, message);
    }
}

QString describe(const report::LaidOutPage& page)
{
    QString text;
    for (const report::PlacedText& placed : page.texts)
        text += QStringLiteral("%1,%2 %3\n").arg(placed.boxMm.left()).arg(placed.boxMm.top()).arg(placed.text);
    return text;
}

// The "Pages:" line of pdfinfo.
int pdfPages(const QString& pdf)
{
    QProcess process;
    process.start(QStringLiteral("pdfinfo"), { pdf });
    if (!process.waitForFinished(30000))
        return -1;
    for (const QString& line : QString::fromUtf8(process.readAllStandardOutput()).split(u'\n'))
        if (line.startsWith(QStringLiteral("Pages:")))
            return line.mid(6).trimmed().toInt();
    return -1;
}

} // namespace

class tst_PrintLogFilter : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    // The pages of one user over the last days, laid out again from records of the log table in any
    // order, are the pages of the straight walk.
    void pagesComeBackFromTheLogTable()
    {
        DataFolder dir;
        core::Desk desk(dir.path());
        QCOMPARE(desk.open(), QString());
        addLogRecord(desk, QStringLiteral("2026/02/01"), QStringLiteral("09:00:00 AM"), QStringLiteral("Alice"),
            QStringLiteral("too old"));
        addRecords(desk, 900);
        const QDate today(2026, 3, 4);
        auto open = [&]() -> std::unique_ptr<report::RecordSource> {
            struct Source : report::RecordSource {
                store::Table log;
                std::optional<msglog::LogRecordSource> walk;
                bool next(QStringList* record) override { return walk->next(record); }
                qint64 lastPosition() const override { return walk->lastPosition(); }
                bool rewindTo(qint64 position) override { return walk->rewindTo(position); }
            };
            auto source = std::make_unique<Source>();
            models::openReaderOn(source->log, desk.MsgLogT());
            source->walk.emplace(source->log, QStringLiteral("Alice"), 7, today);
            return source;
        };
        const report::ReportDefinition def = msglog::logReportDefinition();
        QList<QString> straight;
        {
            auto source = open();
            report::ReportLayout layout(def, *source);
            while (auto page = layout.nextPage())
                straight << describe(*page);
        }
        QVERIFY(straight.size() > 5);
        QVERIFY(!straight.join(QString()).contains(QStringLiteral("too old")));
        QVERIFY(!straight.join(QString()).contains(QStringLiteral("Bob")));

        report::PagedReport paged(def, open);
        while (paged.layOutMore(3)) { }
        QCOMPARE(paged.pageCount(), straight.size());
        const int last = paged.pageCount() - 1;
        for (int index : { last, 2, 3, 0, last - 1, 1 })
            QCOMPARE(describe(paged.page(index)), straight.at(index));
    }

    // "Print" opens the preview at once; "Print to file" proposes "Message Log YYYY-MM-DD.pdf" in the
    // data folder and writes a PDF of as many pages as the preview counts, saying where; closing the
    // preview closes the window.
    void printToFileWritesTheWholeReport()
    {
        DataFolder dir;
        core::Desk desk(dir.path());
        QCOMPARE(desk.open(), QString());
        addRecords(desk, 400);
        const QString pdf = dir.filePath(QStringLiteral("chosen.pdf"));

        msglog::TPrintLogFilter filter(desk);
        filter.today = [] { return QDate(2026, 3, 4); };
        filter.open();
        QTRY_VERIFY(filter.isVisible());
        filter.DaysSpin->setValue(7);
        QCOMPARE(filter.proposedPdfPath(), QDir(dir.path()).filePath(QStringLiteral("Message Log 2026-03-04.pdf")));

        QString proposed;
        QString said; // what the preview says once the file is written
        int previewPages = -1;
        int written = -1;
        bool printing = false;
        QTimer poll;
        poll.setInterval(0);
        connect(&poll, &QTimer::timeout, this, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* box = qobject_cast<QMessageBox*>(modal); box && box->objectName() == u"PdfWrittenBox") {
                said = box->text();
                box->accept();
            } else if (auto* files = qobject_cast<QFileDialog*>(modal)) {
                proposed = files->selectedFiles().value(0);
                files->selectFile(pdf);
                QMetaObject::invokeMethod(files, "accept");
            } else if (auto* preview = qobject_cast<report::ReportPreview*>(modal)) {
                if (preview->objectName() != QStringLiteral("LogPreview") || !preview->layoutFinished() || printing)
                    return;
                printing = true;
                previewPages = preview->pageCount();
                // From outside this slot: the file dialog's loop needs this timer again.
                QTimer::singleShot(0, preview, [&, preview] {
                    preview->findChild<QAction*>(QStringLiteral("PrintToFile"))->trigger();
                    written = pdfPages(pdf);
                    QTest::keyClick(preview, Qt::Key_Escape);
                });
            }
        });
        poll.start();
        QTest::mouseClick(filter.findChild<QPushButton*>(QStringLiteral("BitBtn1")), Qt::LeftButton);
        QVERIFY(!filter.isVisible());
        QCOMPARE(QDir::cleanPath(proposed), QDir::cleanPath(filter.proposedPdfPath()));
        QVERIFY(previewPages > 3);
        QCOMPARE(written, previewPages);
        // It says where the PDF went.
        QVERIFY2(said.contains(QDir::toNativeSeparators(pdf)), qPrintable(said));
    }
};

QTEST_MAIN(tst_PrintLogFilter)
#include "tst_printlogfilter.moc"
