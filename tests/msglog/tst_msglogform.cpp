// The "Message Log" window on a real data folder, driven through its own widgets offscreen.

#include "app/mainform.h"
#include "app/messageedit.h"
#include "app/msglogsetup.h"
#include "compose/composition.h"
#include "compose/memberfile.h"
#include "compose/preparation.h"
#include "core/deliverystatus.h"
#include "core/desk.h"
#include "models/tablemodel.h"
#include "msglog/logfindbar.h"
#include "msglog/msglogform.h"
#include "msglog/printlogfilter.h"
#include "report/reportpreview.h"
#include "store/schema.h"
#include "support/boxanswerer.h"
#include "support/datafolder.h"
#include "support/logrecords.h"
#include "support/records.h"
#include "support/typing.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QComboBox>
#include <QDateEdit>
#include <QFile>
#include <QPlainTextEdit>
#include <QPointer>
#include <QSpinBox>
#include <QTimer>
#include <QPushButton>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTableView>
#include <QTest>

#include <functional>

using msglog::TMsgLogF;
using namespace testsupport;

class tst_MsgLogForm : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<DataFolder> dir_;
    std::unique_ptr<TMainForm> main_;
    TMsgLogF* form_ = nullptr;

    // The window over 300 records ("m0" to "m299", `deleted` among them deleted), the last current, with
    // its find bar opened by Ctrl+F, the finder taking `stepRecords` records a step (0: its own).
    void openFindBarOver300(const std::function<bool(int)>& deleted, int stepRecords = 0)
    {
        openWindow();
        if (QTest::currentTestFailed())
            return;
        writeAndReopen(300, deleted);
        QTRY_COMPARE(form_->DBMemo1->toPlainText(), QStringLiteral("m299"));
        if (stepRecords > 0)
            form_->FindBar->Finder->setStepRecords(stepRecords);
        QTest::keyClick(form_->DBGrid2, Qt::Key_F, Qt::ControlModifier);
        form_->FindBar->TextEdit->setFocus();
    }

    core::Desk& desk() { return main_->desk(); }
    QStringList namesOnDisk()
    {
        return onDisk(dir_->path(), QStringLiteral("MSGLOG2.DBF"), QStringLiteral("BY_DATE"),
            { store::msglog::UserName });
    }
    // User Alice on carrier Net, group Sales holding her, and three log records written out of day
    // order; `extra` is written last, dated after all of them.
    void openWindow(const QString& extraUser = QString(), const QString& extraMessage = QString())
    {
        main_ = std::make_unique<TMainForm>(dir_->path());
        addCarrier(desk(), QStringLiteral("Net"), QStringLiteral("5550100"), QStringLiteral("1200"), 80, QString());
        addUser(desk(), QStringLiteral("Alice"), QStringLiteral("Net"), QStringLiteral("100"));
        addGroup(desk(), QStringLiteral("Sales"));
        QCOMPARE(compose::writeMemberFile(compose::memberFilePath(dir_->path(), QStringLiteral("Sales")),
                     { QStringLiteral("Alice") }),
            QString());
        addLogRecord(desk(), QStringLiteral("2026/03/02"), QStringLiteral("09:00:00 AM"), QStringLiteral("Alice"),
            QStringLiteral("second"));
        addLogRecord(desk(), QStringLiteral("2026/03/01"), QStringLiteral("08:00:00 AM"),
            QStringLiteral("Group: Sales"), QStringLiteral("first\r\nline two"));
        addLogRecord(desk(), QStringLiteral("2026/03/03"), QStringLiteral("10:00:00 AM"), QStringLiteral("Alice"),
            QStringLiteral("newest"));
        if (!extraUser.isEmpty())
            addLogRecord(desk(), QStringLiteral("2026/03/04"), QStringLiteral("11:00:00 AM"), extraUser, extraMessage);
        main_->ReadUsersList();
        form_ = CreateMsgLogForm(*main_);
        main_->show();
        QTRY_COMPARE(QApplication::activeWindow(), main_.get());
        main_->MsgLogMenu->trigger();
        QTRY_COMPARE(QApplication::activeWindow(), form_);
    }
    // `count` more records "m0", "m1", ... written by another handle, 100 a day from 2026/04/01,
    // those `deleted` names deleted again, each for the user `user` names (none by default); then
    // the window is activated anew and reads them.
    void writeAndReopen(int count, const std::function<bool(int)>& deleted,
        const std::function<QString(int)>& user = [](int) { return QString(); })
    {
        {
            store::Table other;
            other.setConnection(store::Connection(dir_->path()));
            other.setTableName(QStringLiteral("MSGLOG2.DBF"));
            other.open();
            for (int i = 0; i < count; ++i) {
                other.append();
                other.setFieldText(store::msglog::DDate, QStringLiteral("2026/04/%1").arg(1 + i / 100, 2, 10, QLatin1Char('0')));
                other.setFieldText(store::msglog::Msg, QStringLiteral("m%1").arg(i));
                other.setFieldText(store::msglog::UserName, user(i));
                other.post();
                if (deleted(i))
                    other.deleteRecord();
            }
        }
        main_->activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), main_.get());
        main_->MsgLogMenu->trigger();
    }
    // The Status column, row by row.
    QStringList statusColumn()
    {
        QStringList shown;
        for (int row = 0; row < form_->LogModel->rowCount(); ++row)
            shown << form_->LogModel->index(row, 5).data().toString();
        return shown;
    }
    // A tracking number's row for the page logged in record `logRecNo` (0: not logged).
    static void addStatus(store::Table& table, quint32 logRecNo, const QString& tracking, const QString& status)
    {
        core::StatusRow row;
        row.logRecord = logRecNo ? core::logRecordKey(logRecNo) : QString();
        row.pagerId = QStringLiteral("100");
        row.method = QStringLiteral("WCTP");
        row.tracking = tracking;
        row.status = status;
        row.changed = QDateTime::currentDateTime();
        core::addStatusRow(table, row);
    }
    // The log's files, byte for byte.
    QList<QByteArray> logFiles()
    {
        QList<QByteArray> files;
        for (const QString& name : QDir(dir_->path()).entryList({ QStringLiteral("msglog2.*") }, QDir::Files)) {
            QFile file(dir_->filePath(name));
            files << (file.open(QIODevice::ReadOnly) ? name.toLatin1() + file.readAll() : QByteArray());
        }
        return files;
    }
    void clickFirst()
    {
        QTest::mouseClick(form_->FirstBtn, Qt::LeftButton);
        QTRY_COMPARE(form_->DBMemo1->toPlainText(), QStringLiteral("first\nline two"));
    }

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init()
    {
        dir_ = std::make_unique<DataFolder>();
        QVERIFY(dir_->isValid());
    }
    void cleanup()
    {
        main_.reset();
        form_ = nullptr;
        dir_.reset();
    }

    void activationGoesToTheNewestRecord()
    {
        openWindow();
        if (QTest::currentTestFailed())
            return;
        QTRY_COMPARE(form_->DBMemo1->toPlainText(), QStringLiteral("newest"));
        QCOMPARE(form_->LogModel->rowCount(), 3);
        QTRY_COMPARE(form_->DBGrid2->currentIndex().row(), 2);
        QCOMPARE(form_->LogModel->index(0, 0).data().toString(), QStringLiteral("2026/03/01"));
        // MUSTSEND is always blank in the log: not shown.
        QVERIFY(form_->DBGrid2->isColumnHidden(3));
        QVERIFY(!form_->DBGrid2->isColumnHidden(2) && !form_->DBGrid2->isColumnHidden(4));
        clickFirst();

        main_->activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), main_.get());
        main_->MsgLogMenu->trigger();
        QTRY_COMPARE(QApplication::activeWindow(), form_);
        QTRY_COMPARE(form_->DBMemo1->toPlainText(), QStringLiteral("newest"));
    }

    // 600 characters: more than the operator may type, copied whole.
    void useMsgCopiesALongMessageWhole()
    {
        const QString text = QString(600, u'x');
        openWindow(QStringLiteral("Alice"), text);
        if (QTest::currentTestFailed())
            return;
        QTest::mouseClick(form_->BitBtn1, Qt::LeftButton);
        QCOMPARE(main_->composition().text(), text);
        QCOMPARE(main_->messageEditor->toPlainText(), text);
        QVERIFY(!form_->isVisible());
        QTRY_COMPARE(QApplication::focusWidget(), main_->messageEditor);
        QCOMPARE(desk().SendMsgs().rowCount(), 0);
    }

    void resendOfAUserQueuesItAndLogsIt()
    {
        openWindow();
        if (QTest::currentTestFailed())
            return;
        main_->messageLogBox->setChecked(true);
        BoxCatcher boxes;
        QTest::mouseClick(form_->BitBtn3, Qt::LeftButton);
        QVERIFY(!form_->isVisible());
        QCOMPARE(desk().SendMsgs().rowCount(), 1);
        QCOMPARE(main_->pagerIdLabel->text(), QStringLiteral("100"));
        QCOMPARE(main_->carrierLabel->text(), QStringLiteral("Net"));
        const QStringList names = namesOnDisk();
        QCOMPARE(names.size(), 4);
        QCOMPARE(names.last(), QStringLiteral("Alice"));
        QCOMPARE(boxes.texts(), QStringList());
    }

    void resendOfAGroupLeavesTheDraft()
    {
        openWindow();
        if (QTest::currentTestFailed())
            return;
        clickFirst();
        main_->composition().setText(QStringLiteral("draft"));
        QTest::mouseClick(form_->BitBtn3, Qt::LeftButton);
        QVERIFY(!main_->selectByGroupBox->isChecked());
        QCOMPARE(main_->composition().text(), QStringLiteral("draft"));
        QCOMPARE(desk().SendMsgs().rowCount(), 1);
    }

    void resendOfAVanishedUserSendsNothing()
    {
        openWindow(QStringLiteral("Zed"), QStringLiteral("for Zed"));
        if (QTest::currentTestFailed())
            return;
        BoxCatcher boxes;
        QTest::mouseClick(form_->BitBtn3, Qt::LeftButton);
        QVERIFY(!form_->isVisible());
        QCOMPARE(main_->composition().text(), QString());
        QCOMPARE(desk().SendMsgs().rowCount(), 0);
        QCOMPARE(boxes.texts(), QStringList());
    }

    // A record the preparation appends while the window is open shows at once, as the current one.
    void appendedRecordShowsAtOnce()
    {
        openWindow();
        if (QTest::currentTestFailed())
            return;
        main_->composition().setMessageLog(true);
        main_->session().sendToRecipient(QStringLiteral("Alice"), QStringLiteral("just sent"));
        QTRY_COMPARE(form_->LogModel->rowCount(), 4);
        QTRY_COMPARE(form_->DBMemo1->toPlainText(), QStringLiteral("just sent"));
    }

    // A log larger than is read at once, written and partly deleted by another handle (its newest
    // 150 records too): the grid ends up with exactly the live records in order, a click on a row
    // far from the newest moves the shared handle to that record, Ctrl+End reaches the newest live
    // record, and a record a send appends becomes current and stays so.
    void aLargeLogIsReadAsShown()
    {
        openWindow();
        if (QTest::currentTestFailed())
            return;
        writeAndReopen(3000, [](int i) { return i % 7 == 4 || i >= 2850; });
        QTRY_COMPARE(form_->DBMemo1->toPlainText(), QStringLiteral("m2849"));

        QTableView* grid = form_->DBGrid2;
        QScrollBar* bar = grid->verticalScrollBar();
        for (int value = bar->maximum(); value >= 0; value -= bar->pageStep()) {
            bar->setValue(value);
            grid->viewport()->repaint();
            QCoreApplication::processEvents();
        }
        // The rows of deleted records went from under the current one: the record stays current.
        QCOMPARE(desk().MsgLogT().fieldText(store::msglog::Msg), QStringLiteral("m2849"));
        const QStringList expected = onDisk(dir_->path(), QStringLiteral("MSGLOG2.DBF"), QStringLiteral("BY_DATE"),
            { store::msglog::Msg });
        QStringList shown;
        for (int row = 0; row < form_->LogModel->rowCount(); ++row)
            shown << form_->LogModel->index(row, 4).data().toString();
        QCOMPARE(shown, expected);

        const int row = int(expected.indexOf(QStringLiteral("m1500")));
        grid->scrollTo(form_->LogModel->index(row, 0));
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(form_->LogModel->index(row, 1)).center());
        QTRY_COMPARE(form_->DBMemo1->toPlainText(), QStringLiteral("m1500"));
        QCOMPARE(desk().MsgLogT().fieldText(store::msglog::Msg), QStringLiteral("m1500"));

        auto settle = [grid] {
            for (int i = 0; i < 3; ++i) {
                grid->viewport()->repaint();
                QCoreApplication::processEvents();
            }
        };
        // Read afresh, the rows near the end are not known yet when Ctrl+End goes there.
        main_->activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), main_.get());
        main_->MsgLogMenu->trigger();
        QTRY_COMPARE(QApplication::activeWindow(), form_);
        QTest::keyClick(grid, Qt::Key_Home, Qt::ControlModifier);
        settle();
        QTest::keyClick(grid, Qt::Key_PageDown);
        settle();
        QTest::keyClick(grid, Qt::Key_End, Qt::ControlModifier);
        settle();
        QCOMPARE(desk().MsgLogT().fieldText(store::msglog::Msg), QStringLiteral("m2849"));
        QCOMPARE(form_->DBMemo1->toPlainText(), QStringLiteral("m2849"));

        main_->composition().setMessageLog(true);
        main_->session().sendToRecipient(QStringLiteral("Alice"), QStringLiteral("just sent"));
        settle();
        QCOMPARE(desk().MsgLogT().fieldText(store::msglog::Msg), QStringLiteral("just sent"));
        QCOMPARE(form_->DBMemo1->toPlainText(), QStringLiteral("just sent"));
        QCOMPARE(form_->LogModel->index(grid->currentIndex().row(), 4).data().toString(), QStringLiteral("just sent"));
    }

    // A log damaged by another program while the window is open: scrolling through it shows the
    // store's message once, not once for every row painted.
    void aDamagedLogIsReportedOnce()
    {
        openWindow();
        if (QTest::currentTestFailed())
            return;
        writeAndReopen(2100, [](int) { return false; });
        QTRY_COMPARE(form_->DBMemo1->toPlainText(), QStringLiteral("m2099"));
        QFile memos(dir_->filePath(QStringLiteral("MSGLOG2.fpt")));
        QVERIFY(memos.open(QIODevice::ReadWrite));
        QVERIFY(memos.seek(memos.size() / 4));
        memos.write(QByteArray(int(memos.size() / 2), '\xff'));
        memos.close();

        BoxCatcher boxes;
        QTableView* grid = form_->DBGrid2;
        QScrollBar* bar = grid->verticalScrollBar();
        for (int value = bar->maximum(); value >= 0; value -= bar->pageStep()) {
            bar->setValue(value);
            grid->viewport()->repaint();
            QCoreApplication::processEvents();
        }
        QTRY_COMPARE(boxes.texts().size(), 1);
        QVERIFY2(boxes.texts().constFirst().contains(QStringLiteral("MSGLOG2.fpt")), qPrintable(boxes.texts().constFirst()));
        QCoreApplication::processEvents();
        QCOMPARE(boxes.texts().size(), 1);
    }

    // An index cut short by a program that ignores the locks, under a grid that reads it: the
    // store's message once, however often the grid paints, and no crash.
    void aCutIndexIsReportedOnce()
    {
        openWindow();
        if (QTest::currentTestFailed())
            return;
        writeAndReopen(3000, [](int i) { return i % 7 == 4; });
        QTRY_COMPARE(form_->DBMemo1->toPlainText(), QStringLiteral("m2999"));

        const QStringList found = QDir(dir_->path()).entryList({ QStringLiteral("msglog2.cdx") }, QDir::Files);
        QCOMPARE(found.size(), 1);
        QFile index(dir_->filePath(found.first()));
        QVERIFY(index.resize(4096)); // the leaves are gone from under the grid's reader
        BoxCatcher boxes;
        QScrollBar* bar = form_->DBGrid2->verticalScrollBar();
        for (int value : { 0, bar->maximum() / 2, bar->maximum() / 3 }) {
            bar->setValue(value);
            form_->DBGrid2->viewport()->repaint();
            QCoreApplication::processEvents();
        }
        QTRY_COMPARE(boxes.boxes.size(), 1);
        QTest::qWait(50);
        QCOMPARE(boxes.boxes.size(), 1);
        QVERIFY(boxes.texts().first().contains(QStringLiteral("MSGLOG2.CDX"), Qt::CaseInsensitive));
    }

    // Scrolling a large log up from a cell being typed over, while the rows above it are read (and
    // the deleted records among them found): the view stays where it was scrolled to, and the value
    // typed goes to the record the cell was opened on.
    void scrollingKeepsTheViewAndTheOpenCell()
    {
        openWindow();
        if (QTest::currentTestFailed())
            return;
        writeAndReopen(3000, [](int i) { return i % 7 == 4; });
        QTRY_COMPARE(form_->DBMemo1->toPlainText(), QStringLiteral("m2999"));

        // A row in the middle, the rows above it not read yet.
        QTableView* grid = form_->DBGrid2;
        QScrollBar* bar = grid->verticalScrollBar();
        bar->setValue(bar->maximum() / 2);
        grid->viewport()->repaint();
        QCoreApplication::processEvents();
        const QModelIndex cell = form_->LogModel->index(grid->rowAt(grid->viewport()->height() / 2), 2);
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(cell).center());
        QTRY_COMPARE(desk().MsgLogT().fieldText(store::msglog::Msg), cell.siblingAtColumn(4).data().toString());
        const QString record = desk().MsgLogT().fieldText(store::msglog::Msg);
        QTest::keyClick(grid, Qt::Key_F2);
        QPointer<QLineEdit> editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
        QVERIFY(editor);
        editor->selectAll();
        QTest::keyClicks(editor, QStringLiteral("Zed"));
        for (int value = bar->value(); value >= 0; value -= bar->pageStep()) {
            bar->setValue(value);
            grid->viewport()->repaint();
            QCoreApplication::processEvents();
        }
        bar->setValue(0);
        grid->viewport()->repaint();
        QCoreApplication::processEvents();
        // The view stays where the operator scrolled it, the cell open on its record.
        QCoreApplication::processEvents();
        QCOMPARE(bar->value(), 0);
        QVERIFY(editor);
        QCOMPARE(editor->text(), QStringLiteral("Zed"));
        QTest::keyClick(editor, Qt::Key_Return);
        QTest::mouseClick(form_->FirstBtn, Qt::LeftButton);
        const QStringList rows = onDisk(dir_->path(), QStringLiteral("MSGLOG2.DBF"), QStringLiteral("BY_DATE"),
            { store::msglog::UserName, store::msglog::Msg });
        QCOMPARE(rows.filter(QStringLiteral("Zed|")), QStringList { QStringLiteral("Zed|") + record });
    }

    // The desk records what the carriers say of the pages of records 2 (the group's, one page
    // delivered and one still queued) and 3, and of a page it did not log; record 1 was never
    // tracked. Each row shows its message's status (the group's least advanced, with how many of its
    // pages are in it), at once. The
    // column cannot be typed over, and the log's files stay as they were.
    void statusColumnShowsWhatTheCarriersSaid()
    {
        openWindow();
        if (QTest::currentTestFailed())
            return;
        const QList<QByteArray> before = logFiles();
        addStatus(desk().DlvStatT(), 2, QStringLiteral("T1"), core::kDelivered);
        addStatus(desk().DlvStatT(), 2, QStringLiteral("T2"), core::kQueued);
        addStatus(desk().DlvStatT(), 3, QStringLiteral("T3"), core::kDelivered);
        addStatus(desk().DlvStatT(), 0, QStringLiteral("T4"), core::kFailed);
        QTRY_COMPARE(statusColumn(), QStringList({ "Queued 1/2", "", "Delivered" }));
        QCOMPARE(form_->LogModel->headerData(5, Qt::Horizontal).toString(), QStringLiteral("Status"));

        form_->DBGrid2->setFocus();
        form_->DBGrid2->setCurrentIndex(form_->LogModel->index(2, 5));
        QTest::keyClick(form_->DBGrid2, Qt::Key_F2);
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("Lost"));
        QCOMPARE(QApplication::focusWidget(), form_->DBGrid2);
        QCOMPARE(statusColumn().last(), QStringLiteral("Delivered"));
        QTest::mouseClick(form_->FirstBtn, Qt::LeftButton);
        QCOMPARE(logFiles(), before);
        if (const QString folder = qEnvironmentVariable("PLIMO_SCREENSHOTS"); !folder.isEmpty())
            form_->grab().save(folder + QStringLiteral("/msglog-status.png"));
    }

    // Another handle, as a carrier's news come in while the window is open: the new status shows
    // without the window being opened again.
    void statusFollowsChangesMadeElsewhere()
    {
        openWindow();
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(statusColumn(), QStringList({ "", "", "" }));
        store::Table other;
        other.setConnection(store::Connection(dir_->path()));
        other.setTableName(store::dlvStatSchema().openedAs);
        other.open();
        addStatus(other, 1, QStringLiteral("T1"), core::kAccepted);
        QTRY_COMPARE(statusColumn(), QStringList({ "", "Accepted", "" }));
        QVERIFY(core::setStatus(other, QString(), QStringLiteral("T1"), core::kRead, QDateTime::currentDateTime()));
        QTRY_COMPARE(statusColumn(), QStringList({ "", "Read", "" }));
        QCOMPARE(QApplication::activeWindow(), form_);
    }

    void deleteQuestions()
    {
        openWindow();
        if (QTest::currentTestFailed())
            return;
        QString text;
        answerNextBox(QMessageBox::Yes, &text);
        QTest::keyClick(form_, Qt::Key_D, Qt::AltModifier);
        QCOMPARE(text, QStringLiteral("Delete Record?"));
        QCOMPARE(namesOnDisk(), QStringList({ "Group: Sales", "Alice" }));
        QTRY_COMPARE(form_->DBMemo1->toPlainText(), QStringLiteral("second"));
        // The newest record was the last row: its row goes, no blank row stays behind.
        QCOMPARE(form_->LogModel->rowCount(), 2);

        answerNextBox(QMessageBox::Cancel, &text);
        QTest::mouseClick(form_->DelBtn, Qt::LeftButton);
        QCOMPARE(text, QStringLiteral("Delete record?"));
        QCOMPARE(namesOnDisk().size(), 2);
    }

    // Enter in the grid moves on and leaves the cell alone. Enter in the grid's cell editor writes
    // the record at once (read back by another handle); a cell typed over and still open is
    // dropped by Alt+C.
    void enterInTheCellWritesAndAltCDropsAnOpenCell()
    {
        openWindow();
        if (QTest::currentTestFailed())
            return;
        form_->DBGrid2->setFocus();
        QTest::keyClick(form_->DBGrid2, Qt::Key_Return);
        QTRY_COMPARE(QApplication::focusWidget(), form_->DBMemo1);
        QCOMPARE(form_->LogModel->index(2, 2).data().toString(), QStringLiteral("Alice"));

        auto typeOver = [this](const QString& text) {
            form_->DBGrid2->setFocus();
            form_->DBGrid2->setCurrentIndex(form_->LogModel->index(2, 2));
            QTest::keyClick(form_->DBGrid2, Qt::Key_F2);
            QWidget* editor = QApplication::focusWidget();
            if (!editor || editor == form_->DBGrid2)
                return static_cast<QWidget*>(nullptr);
            QTest::keyClick(editor, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClicks(editor, text);
            return editor;
        };
        QWidget* editor = typeOver(QStringLiteral("Bob"));
        QVERIFY(editor);
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_COMPARE(namesOnDisk(), QStringList({ "Group: Sales", "Alice", "Bob" }));
        QCOMPARE(desk().MsgLogT().state(), store::Table::State::Browse);
        QCOMPARE(form_->DBMemo1->toPlainText(), QStringLiteral("newest"));
        QCOMPARE(QApplication::focusWidget(), form_->DBGrid2);

        editor = typeOver(QStringLiteral("Carl"));
        QVERIFY(editor);
        QTest::keyClick(form_, Qt::Key_C, Qt::AltModifier);
        QTRY_COMPARE(form_->LogModel->index(2, 2).data().toString(), QStringLiteral("Bob"));
        QTest::mouseClick(form_->FirstBtn, Qt::LeftButton);
        QCOMPARE(namesOnDisk(), QStringList({ "Group: Sales", "Alice", "Bob" }));
        // The message is read here, never edited.
        QVERIFY(!(form_->LogModel->flags(form_->LogModel->index(0, 4)) & Qt::ItemIsEditable));
    }

    // Ctrl+F, a user typed (in other case than listed): Enter, F3 and Shift+F3 move the grid and
    // the shared handle through that user's records only, both ways; a day narrows them to that
    // day's, up to its ends.
    void findBarStepsThroughAUsersRecords()
    {
        openWindow();
        if (QTest::currentTestFailed())
            return;
        writeAndReopen(300, [](int) { return false; },
            [](int i) { return i % 7 == 0 ? QStringLiteral("Alice") : QStringLiteral("Bob"); });
        QTRY_COMPARE(form_->DBMemo1->toPlainText(), QStringLiteral("m299"));
        msglog::LogFindBar* bar = form_->FindBar;
        QVERIFY(!bar->isVisible());
        QTest::keyClick(form_->DBGrid2, Qt::Key_F, Qt::ControlModifier);
        QVERIFY(bar->isVisible());
        QWidget* userField = QApplication::focusWidget();
        QCOMPARE(userField, bar->UserBox);
        QTest::keyClicks(userField, QStringLiteral("alice"));
        auto shown = [this] {
            // The grid's current row, the memo and the shared handle all show the record found.
            const QString grid = form_->LogModel->index(form_->DBGrid2->currentIndex().row(), 4).data().toString();
            return grid == form_->DBMemo1->toPlainText()
                    && grid == desk().MsgLogT().fieldText(store::msglog::Msg)
                ? grid
                : QStringLiteral("grid %1, memo %2").arg(grid, form_->DBMemo1->toPlainText());
        };
        QTest::keyClick(userField, Qt::Key_Return); // after the newest record: round to her first
        QTRY_COMPARE(shown(), QStringLiteral("second"));
        QTest::keyClick(userField, Qt::Key_F3, Qt::ShiftModifier);
        QTRY_COMPARE(shown(), QStringLiteral("m294"));
        QTest::keyClick(userField, Qt::Key_F3, Qt::ShiftModifier);
        QTRY_COMPARE(shown(), QStringLiteral("m287"));
        QTest::keyClick(userField, Qt::Key_F3);
        QTRY_COMPARE(shown(), QStringLiteral("m294"));
        QCOMPARE(desk().MsgLogT().fieldText(store::msglog::UserName), QStringLiteral("Alice"));
        // The focus stays in the bar, for the next find.
        QCOMPARE(QApplication::focusWidget(), userField);

        // The second day (records 100 to 199): from after it back to its last record of Alice's,
        // and no further forward than its end.
        QTest::keyClick(userField, Qt::Key_Y, Qt::AltModifier);
        QTRY_VERIFY(bar->DayBox->isChecked());
        bar->DayEdit->setDate(QDate(2026, 4, 2));
        QTest::mouseClick(bar->PrevBtn, Qt::LeftButton);
        QTRY_COMPARE(shown(), QStringLiteral("m196"));
        QTest::mouseClick(bar->NextBtn, Qt::LeftButton);
        QTRY_COMPARE(bar->Status->text(), QStringLiteral("Not found"));
        QCOMPARE(shown(), QStringLiteral("m196"));
        QTest::mouseClick(bar->PrevBtn, Qt::LeftButton);
        QTRY_COMPARE(shown(), QStringLiteral("m189"));
        // From before the day, forward to its first record of Alice's.
        QTest::mouseClick(form_->FirstBtn, Qt::LeftButton);
        QTest::mouseClick(bar->NextBtn, Qt::LeftButton);
        QTRY_COMPARE(shown(), QStringLiteral("m105"));

        // Esc hides the bar; the focus goes back to the grid.
        bar->TextEdit->setFocus();
        QTest::keyClick(bar->TextEdit, Qt::Key_Escape);
        QVERIFY(!bar->isVisible());
        QCOMPARE(QApplication::focusWidget(), form_->DBGrid2);
    }

    // A find goes round the log's ends, either way, and says so.
    void findWrapsRoundTheLogsEnds()
    {
        openFindBarOver300([](int) { return false; });
        if (QTest::currentTestFailed())
            return;
        msglog::LogFindBar* bar = form_->FindBar;
        typeSteps({ "m12", "Enter" });
        QTRY_COMPARE(form_->DBMemo1->toPlainText(), QStringLiteral("m12"));
        QCOMPARE(bar->Status->text(), QStringLiteral("Passed the end of the log: went on from its start"));
        QTest::keyClick(bar->TextEdit, Qt::Key_Return, Qt::ShiftModifier);
        QTRY_COMPARE(form_->DBMemo1->toPlainText(), QStringLiteral("m129"));
        QCOMPARE(bar->Status->text(), QStringLiteral("Passed the start of the log: went on from its end"));
    }

    // Esc with the find bar open closes the bar first, wherever the focus is in the window; the
    // next Esc closes the window.
    void escClosesTheFindBarFirst()
    {
        openWindow();
        if (QTest::currentTestFailed())
            return;
        QTest::keyClick(form_->DBGrid2, Qt::Key_F, Qt::ControlModifier);
        QVERIFY(form_->FindBar->isVisible());
        form_->DBGrid2->setFocus();
        typeSteps({ "Esc" });
        QVERIFY(!form_->FindBar->isVisible());
        QVERIFY(form_->isVisible());
        QCOMPARE(QApplication::focusWidget(), form_->DBGrid2);
        typeSteps({ "Esc" });
        QVERIFY(!form_->isVisible());
    }

    // A text (in other case than logged) found in small steps: each step examines at most 16
    // records, so the match lies many steps away, both ways.
    void findBarFindsATextAcrossSteps()
    {
        openFindBarOver300([](int i) { return i % 7 == 4; }, 16);
        if (QTest::currentTestFailed())
            return;
        msglog::LogFindBar* bar = form_->FindBar;
        QTest::keyClicks(bar->TextEdit, QStringLiteral("SECOND"));
        QTest::keyClick(bar->TextEdit, Qt::Key_Return, Qt::ShiftModifier);
        QTRY_COMPARE(form_->DBMemo1->toPlainText(), QStringLiteral("second"));
        QVERIFY2(bar->Finder->stepsTaken() > 10, qPrintable(QString::number(bar->Finder->stepsTaken())));
        QCOMPARE(form_->LogModel->index(form_->DBGrid2->currentIndex().row(), 4).data().toString(),
            QStringLiteral("second"));

        bar->TextEdit->clear();
        QTest::keyClicks(bar->TextEdit, QStringLiteral("M26"));
        QTest::keyClick(bar->TextEdit, Qt::Key_Return);
        QTRY_COMPARE(form_->DBMemo1->toPlainText(), QStringLiteral("m26"));
        QVERIFY(bar->Finder->stepsTaken() > 1);
        QCOMPARE(desk().MsgLogT().fieldText(store::msglog::Msg), QStringLiteral("m26"));
    }

    // A find that runs through the whole log is stopped by Esc (the record stays current, the
    // status says so) and by closing the window; a second Esc hides the bar.
    void aRunningFindIsStopped()
    {
        openFindBarOver300([](int) { return false; }, 1);
        if (QTest::currentTestFailed())
            return;
        msglog::LogFindBar* bar = form_->FindBar;
        QTest::keyClicks(bar->TextEdit, QStringLiteral("nowhere"));
        QTest::keyClick(bar->TextEdit, Qt::Key_Return, Qt::ShiftModifier);
        QVERIFY(bar->Finder->isRunning());
        QCoreApplication::processEvents(); // a step or two of the three hundred
        QVERIFY2(bar->Status->text().startsWith(QStringLiteral("Searching\u2026 "))
                && bar->Status->text().endsWith(u'%'),
            qPrintable(bar->Status->text()));
        QVERIFY(bar->Finder->isRunning());
        QVERIFY(bar->StopBtn->isEnabled());
        QTest::keyClick(bar->TextEdit, Qt::Key_Escape);
        QVERIFY(!bar->Finder->isRunning());
        const int steps = bar->Finder->stepsTaken();
        QTest::qWait(30);
        QCOMPARE(bar->Finder->stepsTaken(), steps);
        QCOMPARE(bar->Status->text(), QStringLiteral("Stopped"));
        QVERIFY(!bar->StopBtn->isEnabled());
        QVERIFY(bar->isVisible());
        QCOMPARE(form_->DBMemo1->toPlainText(), QStringLiteral("m299"));

        QTest::mouseClick(bar->PrevBtn, Qt::LeftButton);
        QVERIFY(bar->Finder->isRunning());
        form_->close();
        QVERIFY(!bar->Finder->isRunning());
        QCOMPARE(desk().MsgLogT().fieldText(store::msglog::Msg), QStringLiteral("m299"));
    }

    // "&Print": the parameters start at one day and no user each time; "Print" opens the preview
    // of the chosen user's records; the shared handle stays where it was.
    void printShowsThePreview()
    {
        openWindow();
        if (QTest::currentTestFailed())
            return;
        TMsgLogF* form = form_;
        form->PrintLogFilter->today = [] { return QDate(2026, 3, 4); };
        int shownDays = 0;
        int previewTries = 0;
        int shownUser = 0;
        int previewPages = -1;
        int round = 0;
        QTimer poll;
        poll.setInterval(10);
        connect(&poll, &QTimer::timeout, this, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* preview = qobject_cast<report::ReportPreview*>(modal)) {
                if (preview->layoutFinished() || ++previewTries > 500) {
                    previewPages = preview->pageCount();
                    preview->reject();
                }
            } else if (modal == form->PrintLogFilter && round == 0) {
                round = 1;
                shownDays = form->PrintLogFilter->DaysSpin->value();
                shownUser = form->PrintLogFilter->UserLookup->currentIndex();
                form->PrintLogFilter->DaysSpin->setValue(7);
                form->PrintLogFilter->UserLookup->setCurrentIndex(form->PrintLogFilter->UserLookup->findText("Alice"));
                // From outside this slot: the preview's own loop needs this timer again.
                QTimer::singleShot(0, form, [form] { QTest::keyClick(form->PrintLogFilter, Qt::Key_Return); });
            } else if (modal == form->PrintLogFilter && round == 2) {
                round = 3;
                shownDays = form->PrintLogFilter->DaysSpin->value();
                shownUser = form->PrintLogFilter->UserLookup->currentIndex();
                QTest::keyClick(form->PrintLogFilter, Qt::Key_Escape);
            }
        });
        poll.start();
        form_->PrintMenu->trigger();
        QCOMPARE(shownDays, 1);
        QCOMPARE(shownUser, -1);
        QCOMPARE(previewPages, 1);
        QCOMPARE(desk().MsgLogT().fieldText(store::msglog::Msg), QStringLiteral("newest"));

        round = 2;
        form_->PrintMenu->trigger();
        QCOMPARE(round, 3);
        QCOMPARE(shownDays, 1);
        QCOMPARE(shownUser, -1);
    }
};

QTEST_MAIN(tst_MsgLogForm)
#include "tst_msglogform.moc"
