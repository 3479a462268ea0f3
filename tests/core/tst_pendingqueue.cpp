#include "core/desk.h"
#include "core/pendingqueue.h"
#include "core/showpending.h"
#include "support/pages.h"

#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace testsupport;

namespace {

// Pages of the given names, the other fields as TestPage has them.
void appendNamedPages(store::TMemTable& queue, const QStringList& names)
{
    for (const QString& name : names) {
        TestPage p;
        p.name = name;
        appendPage(queue, p);
    }
}

} // namespace

class tst_PendingQueue : public QObject {
    Q_OBJECT

private slots:
    void endOfPage_data();
    void endOfPage();
    void retryableThenPendingAfterItsRetries_data();
    void retryableThenPendingAfterItsRetries();
    void emptySendQueueIsLeftAlone();
    void windowLayout();
    void doubleClickResendsAndCloses();
    void deleteDropsCurrentRowAtOnce();
    void emptyGridCommands();
    void doubleClickBelowTheRows_data();
    void doubleClickBelowTheRows();
    void keysResendAndDelete();

private:
    QTemporaryDir dir_;
};

// One end of page: the status code and the head page's retries decide between retrying, moving to
// pending, and nothing.
void tst_PendingQueue::endOfPage_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("retries");
    QTest::addColumn<int>("sendRows");
    QTest::addColumn<int>("headRetries"); // of the first page left in SendMsgs
    QTest::addColumn<QString>("pendingName");

    QTest::newRow("20 with 2 retries: retried") << 20 << 2 << 2 << 1 << "";
    QTest::newRow("20 with 1 retry: pending") << 20 << 1 << 1 << 1 << "A";
    QTest::newRow("5 with 3 retries: pending at once") << 5 << 3 << 1 << 1 << "A";
    QTest::newRow("18 busy") << 18 << 3 << 2 << 2 << "";
    QTest::newRow("22 terminal silent") << 22 << 3 << 2 << 2 << "";
    QTest::newRow("25 connection lost") << 25 << 2 << 2 << 1 << "";
    QTest::newRow("23 not retryable") << 23 << 3 << 1 << 1 << "A";
    QTest::newRow("24 not retryable") << 24 << 3 << 1 << 1 << "A";
    QTest::newRow("14 TLS failure: not retryable") << 14 << 3 << 1 << 1 << "A";
    QTest::newRow("16 WCTP refused: not retryable") << 16 << 3 << 1 << 1 << "A";
    QTest::newRow("17 WCTP server busy") << 17 << 3 << 2 << 2 << "";
    QTest::newRow("26 server unavailable") << 26 << 3 << 2 << 2 << "";
    QTest::newRow("28 bad answer from server") << 28 << 2 << 2 << 1 << "";
    QTest::newRow("29 last failure code") << 29 << 3 << 1 << 1 << "A";
    QTest::newRow("0 nothing") << 0 << 3 << 2 << 3 << "";
    QTest::newRow("30 progress: nothing") << 30 << 3 << 2 << 3 << "";
    QTest::newRow("-1 nothing") << -1 << 3 << 2 << 3 << "";
    QTest::newRow("retries 0 counts as spent") << 19 << 0 << 1 << 1 << "A";
}

void tst_PendingQueue::endOfPage()
{
    QFETCH(int, code);
    QFETCH(int, retries);
    QFETCH(int, sendRows);
    QFETCH(int, headRetries);
    QFETCH(QString, pendingName);
    core::Desk desk(dir_.path());
    TestPage a;
    a.name = QStringLiteral("A");
    a.retries = retries;
    TestPage b;
    b.name = QStringLiteral("B");
    appendPage(desk.SendMsgs(), a);
    appendPage(desk.SendMsgs(), b);
    core::PendingMessages(desk.SendMsgs(), desk.PendingMsgs(), code);
    QCOMPARE(desk.SendMsgs().rowCount(), sendRows);
    QCOMPARE(pageRetries(desk.SendMsgs(), 0), headRetries);
    QCOMPARE(
        pageNames(desk.PendingMsgs()), pendingName.isEmpty() ? QStringList() : QStringList { pendingName });
    if (!pendingName.isEmpty()) {
        QCOMPARE(pageNames(desk.SendMsgs()), QStringList { QStringLiteral("B") });
        QCOMPARE(pageRetries(desk.PendingMsgs(), 0), retries); // moved as it was
    }
}

// A page that keeps failing with a retryable code is tried as often as its retries say.
void tst_PendingQueue::retryableThenPendingAfterItsRetries_data()
{
    QTest::addColumn<int>("retries");
    QTest::newRow("three") << 3;
    QTest::newRow("from a message file: two") << 2;
    QTest::newRow("resent with one") << 1;
}

void tst_PendingQueue::retryableThenPendingAfterItsRetries()
{
    QFETCH(int, retries);
    core::Desk desk(dir_.path());
    TestPage p;
    p.retries = retries;
    appendPage(desk.SendMsgs(), p);
    int attempts = 0;
    while (!desk.SendMsgs().isEmpty() && attempts < 10) {
        ++attempts;
        core::PendingMessages(desk.SendMsgs(), desk.PendingMsgs(), 18);
    }
    QCOMPARE(attempts, retries);
    QCOMPARE(desk.PendingMsgs().rowCount(), 1);
}

void tst_PendingQueue::emptySendQueueIsLeftAlone()
{
    core::Desk desk(dir_.path());
    core::PendingMessages(desk.SendMsgs(), desk.PendingMsgs(), 5);
    QVERIFY(desk.SendMsgs().isEmpty());
    QVERIFY(desk.PendingMsgs().isEmpty());
}

void tst_PendingQueue::windowLayout()
{
    core::Desk desk(dir_.path());
    TestPage p;
    appendPage(desk.PendingMsgs(), p);
    TShowPending window(desk.PendingMsgs(), desk.SendMsgs());
    QCOMPARE(window.windowTitle(), QStringLiteral("Pending Messages"));
    QCOMPARE(window.size(), QSize(575, 244));
    QVERIFY(window.isModal());
    QCOMPARE(window.HintLabel->text(), QStringLiteral("Double click on message to resend "));
    QCOMPARE(window.DeleteBtn->text(), QStringLiteral("Delete"));
    QCOMPARE(window.ExitBtn->text(), QStringLiteral("E&xit"));
    QStringList headers;
    QAbstractItemModel* model = window.DBGrid1->model();
    for (int c = 0; c < model->columnCount(); ++c)
        headers << model->headerData(c, Qt::Horizontal).toString();
    QCOMPARE(
        headers, QStringList({ "User/Group Name", "Message", "PagerPhone", "NetworkPhone", "MessageSize" }));
    QCOMPARE(model->rowCount(), 1);
    QCOMPARE(model->index(0, 0).data().toString(), p.name);
    QCOMPARE(model->index(0, 1).data().toString(), p.message);
    QCOMPARE(model->index(0, 4).data().toInt(), p.size);
}

void tst_PendingQueue::doubleClickResendsAndCloses()
{
    core::Desk desk(dir_.path());
    TestPage a;
    a.name = QStringLiteral("A");
    a.retries = 1;
    TestPage b;
    b.name = QStringLiteral("B");
    b.retries = 3;
    appendPage(desk.PendingMsgs(), a);
    appendPage(desk.PendingMsgs(), b);
    TestPage waiting;
    waiting.name = QStringLiteral("Waiting");
    appendPage(desk.SendMsgs(), waiting);
    TShowPending window(desk.PendingMsgs(), desk.SendMsgs());
    QSignalSpy closed(&window, &TShowPending::closedWithCount);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // Selecting the second row makes it the current pending row; a double click sends it again.
    window.DBGrid1->selectRow(1);
    QCOMPARE(desk.PendingMsgs().currentRow(), 1);
    const QRect cell = window.DBGrid1->visualRect(window.DBGrid1->model()->index(1, 0));
    QTest::mouseClick(window.DBGrid1->viewport(), Qt::LeftButton, {}, cell.center());
    QTest::mouseDClick(window.DBGrid1->viewport(), Qt::LeftButton, {}, cell.center());
    QVERIFY(!window.isVisible());
    QCOMPARE(pageNames(desk.SendMsgs()), QStringList({ "Waiting", "B" })); // at the end of the queue
    QCOMPARE(pageRetries(desk.SendMsgs(), 1), 3); // keeps its retries
    QCOMPARE(pageNames(desk.PendingMsgs()), QStringList { QStringLiteral("A") });
    QCOMPARE(closed.size(), 1);
    QCOMPARE(closed.first().first().toInt(), 1);
}

void tst_PendingQueue::deleteDropsCurrentRowAtOnce()
{
    core::Desk desk(dir_.path());
    appendNamedPages(desk.PendingMsgs(), { "A", "B", "C" });
    TShowPending window(desk.PendingMsgs(), desk.SendMsgs());
    QSignalSpy closed(&window, &TShowPending::closedWithCount);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.DBGrid1->selectRow(1);
    QTest::mouseClick(window.DeleteBtn, Qt::LeftButton); // no question asked
    QCOMPARE(pageNames(desk.PendingMsgs()), QStringList({ "A", "C" }));
    QCOMPARE(window.DBGrid1->model()->rowCount(), 2);
    QVERIFY(window.isVisible());
    QVERIFY(desk.SendMsgs().isEmpty());
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QTest::keyClick(&window, Qt::Key_X, Qt::AltModifier); // E&xit
    QTRY_VERIFY(!window.isVisible());
    QCOMPARE(closed.size(), 1);
    QCOMPARE(closed.first().first().toInt(), 2);
}

void tst_PendingQueue::emptyGridCommands()
{
    core::Desk desk(dir_.path());
    TShowPending window(desk.PendingMsgs(), desk.SendMsgs());
    QSignalSpy closed(&window, &TShowPending::closedWithCount);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.DeleteBtnClick();
    QVERIFY(window.isVisible());
    window.DBGrid1DblClick();
    QVERIFY(!window.isVisible()); // it just closes
    QVERIFY(desk.SendMsgs().isEmpty());
    QCOMPARE(closed.size(), 1);
    QCOMPARE(closed.first().first().toInt(), 0);
}

void tst_PendingQueue::doubleClickBelowTheRows_data()
{
    QTest::addColumn<int>("pages");
    QTest::newRow("empty grid") << 0;
    QTest::newRow("below the last row") << 2;
}

// The whole grid takes the double click: the current page (if any) is sent again, then the window
// closes.
void tst_PendingQueue::doubleClickBelowTheRows()
{
    QFETCH(int, pages);
    core::Desk desk(dir_.path());
    appendNamedPages(desk.PendingMsgs(), QStringList { "A", "B" }.mid(0, pages));
    TShowPending window(desk.PendingMsgs(), desk.SendMsgs());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    if (pages)
        window.DBGrid1->selectRow(1);
    const QPoint below(20, window.DBGrid1->viewport()->height() - 5);
    QVERIFY(!window.DBGrid1->indexAt(below).isValid());
    QTest::mouseDClick(window.DBGrid1->viewport(), Qt::LeftButton, {}, below);
    QVERIFY(!window.isVisible());
    QCOMPARE(pageNames(desk.SendMsgs()), pages ? QStringList { "B" } : QStringList());
    QCOMPARE(desk.PendingMsgs().rowCount(), qMax(0, pages - 1));
}

// From the keyboard: the Delete key drops the current page, Enter sends it again and closes; Tab
// leaves the grid.
void tst_PendingQueue::keysResendAndDelete()
{
    core::Desk desk(dir_.path());
    appendNamedPages(desk.PendingMsgs(), { "A", "B", "C" });
    TShowPending window(desk.PendingMsgs(), desk.SendMsgs());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.DBGrid1->setFocus();
    window.DBGrid1->selectRow(0);
    QTest::keyClick(window.DBGrid1, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), window.DeleteBtn);
    QCOMPARE(desk.PendingMsgs().currentRow(), 0);
    window.DBGrid1->setFocus();
    QTest::keyClick(window.DBGrid1, Qt::Key_Delete);
    QCOMPARE(pageNames(desk.PendingMsgs()), QStringList({ "B", "C" }));
    QVERIFY(window.isVisible());
    window.DBGrid1->selectRow(1);
    QTest::keyClick(window.DBGrid1, Qt::Key_Return);
    QVERIFY(!window.isVisible());
    QCOMPARE(pageNames(desk.SendMsgs()), QStringList { "C" });
    QCOMPARE(pageNames(desk.PendingMsgs()), QStringList { "B" });
}

QTEST_MAIN(tst_PendingQueue)
#include "tst_pendingqueue.moc"
