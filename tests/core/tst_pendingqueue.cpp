#include "core/desk.h"
#include "core/pendingqueue.h"
#include "core/showpending.h"
#include "core/page.h"
#include "support/boxanswerer.h"
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
    void windowShowsPagesWithoutPasswords();
    void doubleClickResendsAndCloses();
    void deleteAsksFirst();
    void resendAllSendsEveryPage();
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

// The columns say whom a page is for and what its attempts met; the dial string with the
// terminal's password is not among them.
void tst_PendingQueue::windowShowsPagesWithoutPasswords()
{
    core::Desk desk(dir_.path());
    TestPage p;
    p.pager = QStringLiteral("3001^3002^");
    p.message = QStringLiteral("Water main break^^");
    p.network = QStringLiteral("555-0100^Sekr3t");
    appendPage(desk.PendingMsgs(), p);
    core::Page page = core::pageAt(desk.PendingMsgs(), 0);
    page.carrier = QStringLiteral("Metro");
    desk.pageNotes().note(page);
    desk.pageNotes().attempted(page, QDateTime(QDate(2026, 12, 9), QTime(10, 41, 5)));
    desk.pageNotes().setReason(page, QStringLiteral("Line busy"));
    TShowPending window(desk);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.windowTitle(), QStringLiteral("Pending Messages"));
    QVERIFY(window.isModal());
    QAbstractItemModel* model = window.DBGrid1->model();
    QStringList headers;
    QStringList cells;
    for (int c = 0; c < model->columnCount(); ++c) {
        headers << model->headerData(c, Qt::Horizontal).toString();
        cells << model->index(0, c).data().toString();
    }
    QCOMPARE(headers,
        QStringList({ "Recipient", "Pager ID", "Carrier", "Attempts", "Last attempt", "Reason", "Message" }));
    QCOMPARE(cells,
        QStringList({ p.name, "3001, 3002", "Metro", "1", "2026/12/09 10:41:05", "Line busy", "Water main break" }));
    QVERIFY(!cells.join(u'|').contains(QStringLiteral("Sekr3t")));
    QVERIFY(window.HintLabel->text().contains(QStringLiteral("Resend")));
    for (QPushButton* b : { window.ResendBtn, window.ResendAllBtn, window.DeleteBtn, window.ExitBtn })
        QVERIFY(b->isVisible() && b->isEnabled());
    // Every column fits beside the others in the window as it opens.
    QVERIFY(window.DBGrid1->horizontalHeader()->length() <= window.DBGrid1->viewport()->width() + 2);
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
    TShowPending window(desk);
    QSignalSpy closed(&window, &TShowPending::closedWithCount);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // A double click on the second row sends it again.
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

// Delete asks first; only a yes drops the page.
void tst_PendingQueue::deleteAsksFirst()
{
    core::Desk desk(dir_.path());
    appendNamedPages(desk.PendingMsgs(), { "A", "B", "C" });
    TShowPending window(desk);
    QSignalSpy closed(&window, &TShowPending::closedWithCount);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    window.DBGrid1->selectRow(1);
    QString question;
    answerNextBox(QMessageBox::No, &question);
    QTest::keyClick(window.DBGrid1, Qt::Key_D, Qt::AltModifier); // &Delete
    QTRY_VERIFY(question.contains(QStringLiteral("to B?")));
    QCOMPARE(pageNames(desk.PendingMsgs()), QStringList({ "A", "B", "C" }));
    answerNextBox(QMessageBox::Yes, &question);
    QTest::mouseClick(window.DeleteBtn, Qt::LeftButton);
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

// Resend All (Alt+A) sends every page again, in their order, and closes.
void tst_PendingQueue::resendAllSendsEveryPage()
{
    core::Desk desk(dir_.path());
    appendNamedPages(desk.PendingMsgs(), { "A", "B" });
    TShowPending window(desk);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QTest::keyClick(&window, Qt::Key_A, Qt::AltModifier);
    QTRY_VERIFY(!window.isVisible());
    QCOMPARE(pageNames(desk.SendMsgs()), QStringList({ "A", "B" }));
    QVERIFY(desk.PendingMsgs().isEmpty());
}

void tst_PendingQueue::emptyGridCommands()
{
    core::Desk desk(dir_.path());
    TShowPending window(desk);
    QSignalSpy closed(&window, &TShowPending::closedWithCount);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(!window.DeleteBtn->isEnabled() && !window.ResendBtn->isEnabled());
    window.DeleteBtnClick(); // nothing to ask about
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
    TShowPending window(desk);
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

// From the keyboard: the Delete key drops the current page once agreed, Enter sends it again and
// closes; Tab leaves the grid.
void tst_PendingQueue::keysResendAndDelete()
{
    core::Desk desk(dir_.path());
    appendNamedPages(desk.PendingMsgs(), { "A", "B", "C" });
    TShowPending window(desk);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.DBGrid1->setFocus();
    window.DBGrid1->selectRow(0);
    QTest::keyClick(window.DBGrid1, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), window.ResendBtn);
    window.DBGrid1->setFocus();
    QString question;
    answerNextBox(QMessageBox::Yes, &question);
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
