#include "app/aboutbox.h"
#include "app/groupsetup.h"
#include "app/helpwindow.h"
#include "app/mainform.h"
#include "compose/bypagerid.h"
#include "directories/quickmsgform.h"
#include "compose/composition.h"
#include "app/messageedit.h"
#include "app/msglogsetup.h"
#include "app/quickmsgsetup.h"
#include "app/schedulesetup.h"
#include "app/systemsetup.h"
#include "app/usersetup.h"
#include "config/inifile.h"
#include "core/clocktext.h"
#include "core/deliverymarks.h"
#include "core/page.h"
#include "core/pendingfile.h"
#include "core/queues.h"
#include "core/showpending.h"
#include "store/memtable.h"
#include "support/boxanswerer.h"
#include "support/datafolder.h"
#include "support/recipientview.h"
#include "support/records.h"
#include "support/pages.h"
#include "support/pendingfile.h"

#include <QAbstractSpinBox>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMap>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextLayout>
#include <QTimer>
#include <QToolButton>
#include <sys/stat.h>

namespace {

void appendPage(store::TMemTable& table, const QString& name)
{
    testsupport::TestPage page;
    page.name = name;
    page.pager = QStringLiteral("5551234");
    page.message = QStringLiteral("Call ") + name;
    testsupport::appendPage(table, page);
}

} // namespace

class tst_MainForm : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<testsupport::DataFolder> dir_;

    std::unique_ptr<TMainForm> makeForm()
    {
        auto form = std::make_unique<TMainForm>(dir_->path());
        return form;
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
    }
    void init()
    {
        dir_ = std::make_unique<testsupport::DataFolder>();
        QVERIFY(dir_->isValid());
    }
    void cleanup()
    {
        dir_.reset();
    }

    void windowFrame();
    void controls_data();
    void controls();
    void keysClashWithNothing();
    void hints_data();
    void hints();
    void menus_data();
    void menus();
    void altYOpensTheSystemMenu();
    void singleChoiceControlsLieUnderTheList();
    void timerIsNotRunningBeforeTheEntryStartsIt();
    void tickShowsClockAndPendingCount();
    void aPageThatMayHaveBeenDeliveredIsSaidAtStart();
    void typingStopsAt520();
    void controlsShowTheComposition();
    void enterInsertsNoLineBreak();
    void pasteIsCutToTheRoomLeft();
    void dateStampOnEmptyEditor();
    void stampsPassTheTypingLimit();
    void clearTextResetsCount();
    void clearAllUnticksEveryRecipient();
    void showStatusPutsTheNewestLineOnTop();
    void statusLinesStayInTheirBox();
    void messageLabelGivesEditorTheFocus();
    void aboutBoxTexts();
    void aboutMenuShowsOneBoxBesideTheWindow();
    void helpOpensContents();
    void helpTopicsByKeyword_data();
    void helpTopicsByKeyword();
    void exitButtonAndMenuCloseTheWindow();
    void exitWithThreePendingPagesAndRestart();
    void everyCloseSavesTheWaitingPages();
    void startupFailureIsReportedAndTheWindowStillOpens();
    void oddFolderStartsRunsAndExits_data();
    void oddFolderStartsRunsAndExits();
    void cancelAfterFailedSaveLosesNothing();
    void recipientListIsFilledSortedAndRefreshed();
    void userLookupShowsPagerIdAndCarrier();
    void byPagerIdCancelAndEmptyMessageQueueNothing();
    void firstQuickMessageKeepsItsBody();
    void everyControlHasAnAccessibleName();
    void quickMessageReplacesTheEditor();
    void quickMessageEditedIsUsedAndWrittenAtNextActivation();
};

void tst_MainForm::windowFrame()
{
    auto form = makeForm();
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    QCOMPARE(form->windowTitle(), QStringLiteral("PlimoPager32 V4.00"));
    QCOMPARE(form->versionLabel->text(), QStringLiteral("V4.00"));
    QVERIFY(!form->versionLabel->isVisible());
    QCOMPARE(form->centralWidget()->size(), QSize(571, 363));
    const Qt::WindowFlags flags = form->windowFlags();
    QVERIFY(flags & Qt::WindowMinimizeButtonHint);
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    QVERIFY(form->minimumSize() != form->maximumSize()); // resizable
}

void tst_MainForm::controls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QKeySequence>("key");

    // Every letter of "Clear All" is another control's key: its own is Alt+W.
    QTest::newRow("Clear All") << "ClearAllBtn"
                               << "Clear All" << QKeySequence("Alt+W");
    QTest::newRow("Select By Group") << "SendGroup"
                                     << "Select By &Group" << QKeySequence("Alt+G");
    QTest::newRow("Date") << "DateBtn"
                          << "&Date" << QKeySequence("Alt+D");
    QTest::newRow("Time of Day") << "TimeBtn"
                                 << "&Time of Day" << QKeySequence("Alt+T");
    QTest::newRow("Quick") << "QuickBtn"
                           << "Quic&k" << QKeySequence("Alt+K");
    QTest::newRow("Send Mesg") << "SendBtn"
                               << "&Send Mesg" << QKeySequence("Alt+S");
    QTest::newRow("Message Log") << "messagelog"
                                 << "Message &Log" << QKeySequence("Alt+L");
    QTest::newRow("By Pager ID") << "ByPagerBtn"
                                 << "By Pager &ID" << QKeySequence("Alt+I");
    QTest::newRow("Send Later") << "SendLaterBtn"
                                << "Send L&ater" << QKeySequence("Alt+A");
    // The menu's Exit owns Alt+X; the button shows the same accelerator and does the same.
    QTest::newRow("Exit") << "ExitBtn"
                          << "E&xit" << QKeySequence();
    QTest::newRow("Clear Text") << "ClearTextBtn"
                                << "Clea&r Text" << QKeySequence("Alt+R");
    QTest::newRow("Abort Mesg") << "BitBtn7"
                                << "A&bort Mesg" << QKeySequence("Alt+B");
    QTest::newRow("Pending Msgs") << "PendingMsgsBtn"
                                  << "Pe&nding Msgs" << QKeySequence("Alt+N");
}

void tst_MainForm::controls()
{
    QFETCH(QString, name);
    QFETCH(QString, caption);
    QFETCH(QKeySequence, key);
    auto form = makeForm();
    auto* button = form->findChild<QAbstractButton*>(name);
    QVERIFY2(button, qPrintable(name));
    QCOMPARE(button->text(), caption);
    QCOMPARE(button->shortcut(), key);
}

// Every key of the main window belongs to one control (buttons, boxes, captions, menu bar);
// Alt+O goes to the recipient list.
void tst_MainForm::keysClashWithNothing()
{
    auto form = makeForm();
    QMap<QKeySequence, int> owners;
    for (const QAbstractButton* b : form->findChildren<QAbstractButton*>())
        owners[b->window() == form.get() ? b->shortcut() : QKeySequence()]++;
    for (const QLabel* l : form->findChildren<QLabel*>())
        owners[l->buddy() && l->window() == form.get() ? QKeySequence::mnemonic(l->text())
                                                       : QKeySequence()]++;
    for (const QAction* a : form->menuBar()->actions())
        owners[QKeySequence::mnemonic(a->text())]++;
    owners.remove(QKeySequence());
    for (auto it = owners.cbegin(); it != owners.cend(); ++it)
        QVERIFY2(it.value() == 1, qPrintable(it.key().toString()));
    form->show();
    QVERIFY(QTest::qWaitForWindowActive(form.get()));
    QTest::keyClick(form.get(), Qt::Key_O, Qt::AltModifier);
    QCOMPARE(QApplication::focusWidget(), form->recipientList);
}

void tst_MainForm::hints_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("hint");
    QTest::newRow("UsersList")
        << "UsersList"
        << "Select user and click on checkbox. Select more than one for group messages.";
    QTest::newRow("SendGroup") << "SendGroup"
                               << "Select to send to a group of Users.";
    QTest::newRow("message1") << "message1"
                              << "Enter Message (500 characters max.):";
    QTest::newRow("status clear") << "BitBtn6"
                                  << "Clear Message Status";
}

void tst_MainForm::hints()
{
    QFETCH(QString, name);
    QFETCH(QString, hint);
    auto form = makeForm();
    auto* widget = form->findChild<QWidget*>(name);
    QVERIFY2(widget, qPrintable(name));
    QCOMPARE(widget->toolTip(), hint);
    QCOMPARE(widget->statusTip(), hint);
}

void tst_MainForm::menus_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("parentMenu"); // "" for the menu bar itself
    QTest::addColumn<QKeySequence>("key");
    QTest::newRow("Users") << "UsersMenu"
                           << "&Users"
                           << "" << QKeySequence("Alt+U");
    QTest::newRow("Carriers") << "CarriersMenu"
                              << "&Carriers"
                              << "" << QKeySequence("Alt+C");
    QTest::newRow("Groups") << "GroupsMenu"
                            << "Grou&ps"
                            << "" << QKeySequence("Alt+P");
    QTest::newRow("QuickMsg") << "QuickMsgMenu"
                              << "&QuickMsg"
                              << "" << QKeySequence("Alt+Q");
    QTest::newRow("MsgLog") << "MsgLogMenu"
                            << "&MsgLog"
                            << "" << QKeySequence("Alt+M");
    QTest::newRow("SchedMsgs") << "SchedMsgsMenu"
                               << "SchedMsgs"
                               << "" << QKeySequence();
    QTest::newRow("System") << "SystemMenu"
                            << "S&ystem"
                            << "" << QKeySequence("Alt+Y");
    QTest::newRow("Setup") << "SetupMenu"
                           << "Setup"
                           << "SystemSubMenu" << QKeySequence();
    QTest::newRow("Alert Sources") << "AlertSourcesMenu"
                                   << "&Alert Sources"
                                   << "SystemSubMenu" << QKeySequence();
    QTest::newRow("Help") << "HelpMenu"
                          << "&Help"
                          << "" << QKeySequence("Alt+H");
    QTest::newRow("Help Help") << "HelpHelpMenu"
                               << "&Help"
                               << "HelpSubMenu" << QKeySequence();
    QTest::newRow("About") << "AboutMenu"
                           << "About"
                           << "HelpSubMenu" << QKeySequence();
    QTest::newRow("Exit") << "ExitMenu"
                          << "E&xit"
                          << "" << QKeySequence("Alt+X");
}

void tst_MainForm::menus()
{
    QFETCH(QString, name);
    QFETCH(QString, caption);
    QFETCH(QString, parentMenu);
    QFETCH(QKeySequence, key);
    auto form = makeForm();
    auto* action = form->findChild<QAction*>(name);
    QVERIFY2(action, qPrintable(name));
    QCOMPARE(action->text(), caption);
    if (parentMenu.isEmpty()) {
        QVERIFY(form->menuBar()->actions().contains(action));
        QCOMPARE(QKeySequence::mnemonic(action->text()), key);
    } else {
        auto* menu = form->findChild<QMenu*>(parentMenu);
        QVERIFY(menu);
        QVERIFY(menu->actions().contains(action));
    }
}

void tst_MainForm::altYOpensTheSystemMenu()
{
    auto form = makeForm();
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    form->activateWindow();
    auto* system = form->findChild<QMenu*>(QStringLiteral("SystemSubMenu"));
    QVERIFY(!system->isVisible());
    QTest::keyClick(form.get(), Qt::Key_Y, Qt::AltModifier);
    QTRY_VERIFY(system->isVisible());
    system->close();
}

void tst_MainForm::singleChoiceControlsLieUnderTheList()
{
    auto form = makeForm();
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    QWidget* under = form->selectByGroupBox->parentWidget();
    QCOMPARE(under->geometry(), form->recipientList->geometry());
    // The list is drawn above the panel: it comes later among their common parent's children.
    const QObjectList siblings = under->parentWidget()->children();
    QVERIFY(siblings.indexOf(form->recipientList) > siblings.indexOf(under));
    QCOMPARE(form->recipientList->model(), form->composition().recipients());

    form->activateWindow();
    QVERIFY(!form->selectByGroupBox->isChecked());
    QTest::keyClick(form.get(), Qt::Key_G, Qt::AltModifier);
    QTRY_VERIFY(form->selectByGroupBox->isChecked());
    QVERIFY(!form->userLookup->isEnabled());
    QVERIFY(form->groupLookup->isEnabled());
    QTest::keyClick(form.get(), Qt::Key_G, Qt::AltModifier);
    QTRY_VERIFY(!form->selectByGroupBox->isChecked());
    QVERIFY(form->userLookup->isEnabled());
    QVERIFY(!form->groupLookup->isEnabled());
}

void tst_MainForm::timerIsNotRunningBeforeTheEntryStartsIt()
{
    auto form = makeForm();
    QTimer* timer = form->deliveryTimer;
    QVERIFY(timer);
    QCOMPARE(timer->interval(), 1000);
    QVERIFY(!timer->isActive());
    QCOMPARE(form->pendingButton->text(), QStringLiteral("Pe&nding Msgs"));
}

void tst_MainForm::aPageThatMayHaveBeenDeliveredIsSaidAtStart()
{
    // Left by a desk stopped while the terminal was taking Bob's page: the session is opened before
    // the window is made, as the program does.
    {
        store::TMemTable send;
        store::TMemTable pending;
        store::TMemTable temp;
        core::createQueueTables(send, pending, temp);
        appendPage(pending, QStringLiteral("Ann"));
        appendPage(send, QStringLiteral("Bob"));
        core::DeliveryMarks marks;
        send.first();
        marks.mark(core::currentPage(send));
        core::writePendingFile(pending, send, QStringLiteral("PendMsgs"), &marks);
    }
    session::DeskSession session(dir_->path());
    QCOMPARE(session.open(), QString());
    TMainForm form(session);
    const QString shown = form.statusList->toPlainText();
    QVERIFY2(shown.contains(QStringLiteral("Pending message to Bob may have been delivered")), qPrintable(shown));
    QVERIFY(!shown.contains(QStringLiteral("to Ann")));
    form.pendingWindow->show();
    QVERIFY(form.pendingWindow->maybeDeliveredLabel->isVisible());
    QVERIFY(form.pendingWindow->maybeDeliveredLabel->text().endsWith(QStringLiteral(": Bob")));
    form.pendingWindow->hide();
}

void tst_MainForm::tickShowsClockAndPendingCount()
{
    auto form = makeForm();
    form->Timer1Timer();
    QVERIFY(!form->clockLabel->text().isEmpty());
    QVERIFY(form->clockLabel->text().contains(u':'));
    QCOMPARE(form->pendingButton->text(), QStringLiteral("Pe&nding Msgs: 0"));
    QCOMPARE(
        form->pendingButton->palette().color(QPalette::Active, QPalette::ButtonText), QColor(Qt::black));
}

void tst_MainForm::controlsShowTheComposition()
{
    auto form = makeForm();
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    compose::Composition& composition = form->composition();
    // The operator's typing and clicks reach the composition.
    form->messageEditor->setFocus();
    QTest::keyClicks(form->messageEditor, QStringLiteral("Fire"));
    QCOMPARE(composition.text(), QStringLiteral("Fire"));
    QTest::mouseClick(form->messageLogBox, Qt::LeftButton, {}, QPoint(8, form->messageLogBox->height() / 2));
    QVERIFY(composition.messageLog());
    composition.recipients()->rebuild({ "Ann", "Bob" });
    QVERIFY(testsupport::tickInList(form->recipientList, QStringLiteral("Bob")));
    QCOMPARE(composition.tickedNames(), QStringList { "Bob" });
    // What the program puts into the composition is what the controls show.
    composition.appendText(QStringLiteral(" drill"));
    QCOMPARE(form->messageEditor->toPlainText(), QStringLiteral("Fire drill"));
    composition.setText(QStringLiteral("Scheduled"));
    QCOMPARE(form->messageEditor->toPlainText(), QStringLiteral("Scheduled"));
    QCOMPARE(form->characterCount->text(), QStringLiteral("9"));
    composition.setSelectByGroup(true);
    QVERIFY(form->selectByGroupBox->isChecked());
    QVERIFY(form->groupLookup->isEnabled()); // the switch's handler ran
    composition.setSendByPager(true);
    QVERIFY(form->sendByPagerBox->isChecked());
    composition.untick(QStringLiteral("Bob"));
    QCOMPARE(testsupport::tickedInList(form->recipientList), QStringList());
}

void tst_MainForm::typingStopsAt520()
{
    auto form = makeForm();
    form->show();
    form->messageEditor->setFocus();
    QTest::keyClicks(form->messageEditor, QString(530, u'a'));
    QCOMPARE(form->messageEditor->toPlainText().size(), 520);
    QCOMPARE(form->characterCount->text(), QStringLiteral("520"));
    // With the editor full, typing over a selection fills the room it frees, then stops.
    QTextCursor cursor = form->messageEditor->textCursor();
    cursor.movePosition(QTextCursor::Start);
    cursor.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor, 2);
    form->messageEditor->setTextCursor(cursor);
    QTest::keyClicks(form->messageEditor, QStringLiteral("xyz"));
    QCOMPARE(form->messageEditor->toPlainText().size(), 520);
    QVERIFY(form->messageEditor->toPlainText().startsWith(QStringLiteral("xya")));
    // Deleting makes room again.
    QTest::keyClick(form->messageEditor, Qt::Key_Backspace);
    QCOMPARE(form->characterCount->text(), QStringLiteral("519"));
}

void tst_MainForm::enterInsertsNoLineBreak()
{
    auto form = makeForm();
    form->show();
    form->messageEditor->setFocus();
    QTest::keyClicks(form->messageEditor, QStringLiteral("ab"));
    QTest::keyClick(form->messageEditor, Qt::Key_Return);
    QTest::keyClick(form->messageEditor, Qt::Key_Enter);
    QTest::keyClicks(form->messageEditor, QStringLiteral("cd"));
    QCOMPARE(form->messageEditor->toPlainText(), QStringLiteral("abcd"));
}

void tst_MainForm::pasteIsCutToTheRoomLeft()
{
    auto form = makeForm();
    form->messageEditor->setPlainText(QString(515, u'a'));
    form->messageEditor->moveCursor(QTextCursor::End);
    QApplication::clipboard()->setText(QStringLiteral("0123456789"));
    if (QApplication::clipboard()->text() != QStringLiteral("0123456789"))
        QSKIP("no clipboard on this platform");
    form->messageEditor->paste();
    QCOMPARE(form->messageEditor->toPlainText(), QString(515, u'a') + QStringLiteral("01234"));
    form->messageEditor->paste();
    QCOMPARE(form->messageEditor->toPlainText().size(), 520);
    // Tabs and line breaks pasted become blanks (Ctrl+V, as the operator pastes).
    form->messageEditor->clear();
    QApplication::clipboard()->setText(QStringLiteral("Line one\twith tab\r\nnext"));
    form->messageEditor->setFocus();
    QTest::keyClick(form->messageEditor, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(form->messageEditor->toPlainText(), QStringLiteral("Line one with tab next"));
}

void tst_MainForm::dateStampOnEmptyEditor()
{
    auto form = makeForm();
    const QDate before = QDate::currentDate();
    form->dateButton->click();
    const QString text = form->messageEditor->toPlainText();
    QVERIFY(QRegularExpression(QStringLiteral("^\\d\\d/\\d\\d/\\d\\d $")).match(text).hasMatch());
    const QString expected = QStringLiteral("%1/%2/%3 ")
                                 .arg(before.month(), 2, 10, QChar(u'0'))
                                 .arg(before.day(), 2, 10, QChar(u'0'))
                                 .arg(before.year() % 100, 2, 10, QChar(u'0'));
    if (QDate::currentDate() == before)
        QCOMPARE(text, expected);
    QCOMPARE(form->characterCount->text(), QStringLiteral("9"));
}

void tst_MainForm::stampsPassTheTypingLimit()
{
    auto form = makeForm();
    form->messageEditor->setPlainText(QString(515, u'a'));
    form->dateButton->click();
    QCOMPARE(form->messageEditor->toPlainText().size(), 524);
    QCOMPARE(form->characterCount->text(), QStringLiteral("524"));
}

void tst_MainForm::clearTextResetsCount()
{
    auto form = makeForm();
    form->show();
    QVERIFY(QTest::qWaitForWindowActive(form.get()));
    form->messageEditor->setFocus();
    QTest::keyClicks(form->messageEditor, QStringLiteral("hello"));
    QCOMPARE(form->characterCount->text(), QStringLiteral("5"));
    // Alt+R clears at once: the next message typed straight after it stays.
    QTest::keyClick(form->messageEditor, Qt::Key_R, Qt::AltModifier);
    QCOMPARE(form->characterCount->text(), QStringLiteral("0"));
    QTest::keyClicks(form->messageEditor, QStringLiteral("operator call"));
    QTest::qWait(200);
    QCOMPARE(form->messageEditor->toPlainText(), QStringLiteral("operator call"));
}

void tst_MainForm::clearAllUnticksEveryRecipient()
{
    auto form = makeForm();
    form->composition().recipients()->rebuild({ "Zed", "adam", "Group: Night", "Mary" });
    for (const char* name : { "Zed", "Group: Night", "Mary" })
        QVERIFY(testsupport::tickInList(form->recipientList, QString::fromLatin1(name)));
    form->clearAllButton->click();
    QCOMPARE(testsupport::tickedInList(form->recipientList), QStringList());
    QCOMPARE(form->recipientList->model()->rowCount(), 4);
    form->clearAllButton->click(); // nothing ticked: nothing changes
    QCOMPARE(form->recipientList->model()->rowCount(), 4);
}

void tst_MainForm::showStatusPutsTheNewestLineOnTop()
{
    auto form = makeForm();
    QCOMPARE(form->startupError(), QString());
    form->desk().BUsersT().append();
    form->desk().BUsersT().setFieldText(QStringLiteral("USERNAME"), QStringLiteral("Mary Jones"));
    form->desk().BUsersT().post();
    form->desk().BUsersT().first();
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    // A long message wraps: only its first displayed line is quoted.
    const QString words = QStringLiteral("word ").repeated(60);
    form->messageEditor->setPlainText(words);
    QCoreApplication::processEvents();
    const QString first = form->firstDisplayedLine();
    QVERIFY(!first.isEmpty());
    QVERIFY(first.size() < words.size());
    QVERIFY(words.startsWith(first));

    QVERIFY(form->statusList->isReadOnly());
    QCOMPARE(form->statusList->focusPolicy(), Qt::NoFocus); // not in the tab order
    QCOMPARE(form->sendingLabel->palette().color(QPalette::Window), QColor(Qt::yellow));
    form->sendingLabel->show();
    form->Show_Status(QStringLiteral("Line busy"));
    form->Show_Status(QStringLiteral("Successful "));
    QVERIFY(form->sendingLabel->isHidden());
    const QStringList lines = form->statusList->toPlainText().split(u'\n');
    QCOMPARE(lines.size(), 22);
    // The rewrite names the page under way (none yet), not the users table's current record.
    // The time in the form of the clock label beside the list.
    QString clockForm = QRegularExpression::escape(core::longTimeText(QTime(12, 34, 56)));
    clockForm.replace(QRegularExpression(QStringLiteral("\\d+")), QStringLiteral("\\d+"))
        .replace(QRegularExpression(QStringLiteral("[AP]M")), QStringLiteral("[AP]M"));
    QVERIFY2(QRegularExpression(QStringLiteral("^ ") + clockForm + QStringLiteral(":  Sent to : "))
                 .match(lines[0])
                 .hasMatch(),
        qPrintable(lines[0]));
    QVERIFY(lines[0].endsWith(first.left(55) + QStringLiteral("...")));
    QVERIFY(lines[1].endsWith(QStringLiteral(":  Line busy")));
    form->clearStatusButton->click();
    QVERIFY(form->statusList->toPlainText().trimmed().isEmpty());
}

// A long line wraps within the box, whole and without a sideways scroll bar; the list keeps its
// width when the progress label shows a long text.
void tst_MainForm::statusLinesStayInTheirBox()
{
    auto form = makeForm();
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    QPlainTextEdit* memo = form->statusList;
    const int width = memo->width();
    const QString longLine = QStringLiteral("Message scheduled for Alice Demo on 2026/12/08 at 14:30:00 ").repeated(3);
    form->sendingLabel->show();
    form->sendingLabel->setText(QStringLiteral("Sending page 12 of 12 to a terminal far away"));
    form->Show_Status(longLine);
    form->Show_Status(QStringLiteral("short"));
    QCoreApplication::processEvents();
    QCOMPARE(memo->width(), width);
    QVERIFY(!memo->horizontalScrollBar()->isVisible());
    const QTextBlock block = memo->document()->findBlockByNumber(1);
    QVERIFY(block.text().endsWith(longLine));
    QVERIFY(block.layout()->lineCount() > 1);
    const QTextLine last = block.layout()->lineAt(block.layout()->lineCount() - 1);
    QVERIFY(last.naturalTextWidth() <= memo->viewport()->width());
}

void tst_MainForm::messageLabelGivesEditorTheFocus()
{
    auto form = makeForm();
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    form->activateWindow();
    QCOMPARE(form->messageLabel->text(), QStringLiteral("M&essage:"));
    QCOMPARE(form->messageLabel->buddy(), form->messageEditor);
    form->exitButton->setFocus();
    QTest::keyClick(form.get(), Qt::Key_E, Qt::AltModifier);
    QTRY_VERIFY(form->messageEditor->hasFocus());
    // Alt+L toggles the log switch at once, and the typing goes on in the editor.
    QVERIFY(!form->messageLogBox->isChecked());
    QTest::keyClick(form->messageEditor, Qt::Key_L, Qt::AltModifier);
    QVERIFY(form->messageLogBox->isChecked());
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("on call"));
    QCOMPARE(form->messageEditor->toPlainText(), QStringLiteral("on call"));
    QVERIFY(form->messageLogBox->isChecked());
}

void tst_MainForm::aboutBoxTexts()
{
    TAboutBox box;
    QCOMPARE(box.windowTitle(), QStringLiteral("About PlimoPager"));
    QStringList texts;
    for (QLabel* label : box.findChildren<QLabel*>())
        texts << label->text();
    QCOMPARE(texts, QStringList({ QStringLiteral("PlimoPager32"), QStringLiteral("Version 4.00.09") }));
    const auto buttons = box.findChildren<QPushButton*>();
    QCOMPARE(buttons.size(), 1);
    QCOMPARE(buttons.first()->text().remove(u'&'), QStringLiteral("OK"));
    box.show();
    buttons.first()->click();
    QVERIFY(!box.isVisible());
    QCOMPARE(box.result(), int(QDialog::Accepted));
}

void tst_MainForm::aboutMenuShowsOneBoxBesideTheWindow()
{
    auto form = makeForm();
    QVERIFY(!form->aboutBox());
    form->AboutMenu->trigger();
    TAboutBox* box = form->aboutBox();
    QVERIFY(box);
    QVERIFY(box->isVisible());
    QVERIFY(!box->isModal());
    QVERIFY(!QApplication::activeModalWidget());
    box->accept();
    form->AboutMenu->trigger();
    QCOMPARE(form->aboutBox(), box);
    QVERIFY(box->isVisible());
}

void tst_MainForm::helpOpensContents()
{
    auto form = makeForm();
    QVERIFY(!form->helpWindow());
    form->HelpHelpMenu->trigger();
    HelpWindow* help = form->helpWindow();
    QVERIFY(help);
    QVERIFY(help->isVisible());
    QCOMPARE(help->currentTopic(), QStringLiteral("contents"));
    const QString text = help->browser()->toPlainText();
    QVERIFY2(text.contains(QStringLiteral("Send Mesg")), qPrintable(text.left(200)));
    QVERIFY(text.contains(QStringLiteral("Pending Msgs")));
    form->HelpHelpMenu->trigger();
    QCOMPARE(form->helpWindow(), help);
}

void tst_MainForm::helpTopicsByKeyword_data()
{
    QTest::addColumn<QString>("keyword");
    QTest::addColumn<QString>("url");
    QTest::newRow("Contents") << "Contents"
                              << "qrc:/help/contents.html";
    QTest::newRow("lower case") << "contents"
                                << "qrc:/help/contents.html";
    QTest::newRow("Users") << "Users"
                           << "qrc:/help/users.html";
    QTest::newRow("PagerCompany") << "PagerCompany"
                                  << "qrc:/help/pagercompany.html";
    QTest::newRow("Groups") << "Groups"
                            << "qrc:/help/groups.html";
    QTest::newRow("QuickMsg") << "QuickMsg"
                              << "qrc:/help/quickmsg.html";
    QTest::newRow("MsgLog") << "MsgLog"
                            << "qrc:/help/msglog.html";
    QTest::newRow("SchedMsgLog") << "SchedMsgLog"
                                 << "qrc:/help/schedmsglog.html";
    QTest::newRow("SystemsSetup") << "SystemsSetup"
                                  << "qrc:/help/systemssetup.html";
    QTest::newRow("unknown") << "NoSuchTopic"
                             << "qrc:/help/contents.html";
    QTest::newRow("empty") << ""
                           << "qrc:/help/contents.html";
    QTest::newRow("path in keyword") << "../contents"
                                     << "qrc:/help/contents.html";
}

void tst_MainForm::helpTopicsByKeyword()
{
    QFETCH(QString, keyword);
    QFETCH(QString, url);
    QCOMPARE(HelpWindow::topicUrl(keyword), url);
}

void tst_MainForm::exitButtonAndMenuCloseTheWindow()
{
    {
        auto form = makeForm();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        form->exitButton->click();
        QVERIFY(!form->isVisible());
    }
    {
        auto form = makeForm();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        form->activateWindow();
        QTest::keyClick(form.get(), Qt::Key_X, Qt::AltModifier);
        QTRY_VERIFY(!form->isVisible());
    }
}

void tst_MainForm::exitWithThreePendingPagesAndRestart()
{
    {
        auto form = makeForm();
        for (const char* name : { "Ann", "Bob", "Cy" })
            appendPage(form->desk().PendingMsgs(), QString::fromLatin1(name));
        form->show();
        form->exitButton->click();
        QVERIFY(!form->isVisible());
    }
    QCOMPARE(testsupport::pendingNames(), QStringList({ "Ann", "Bob", "Cy" }));

    auto form = makeForm();
    QCOMPARE(form->startupError(), QString());
    form->Timer1Timer();
    QCOMPARE(form->pendingButton->text(), QStringLiteral("Pe&nding Msgs: 3"));
    QCOMPARE(form->pendingButton->palette().color(QPalette::Active, QPalette::ButtonText), QColor(Qt::red));
}

void tst_MainForm::everyCloseSavesTheWaitingPages()
{
    auto form = makeForm();
    appendPage(form->desk().PendingMsgs(), QStringLiteral("Failed"));
    appendPage(form->desk().SendMsgs(), QStringLiteral("Waiting1"));
    appendPage(form->desk().SendMsgs(), QStringLiteral("Waiting2"));
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    // As the window manager or Alt+F4 close it: a close event, no Exit command.
    QVERIFY(form->close());
    QCOMPARE(testsupport::pendingNames(), QStringList({ "Failed", "Waiting1", "Waiting2" }));
    QCOMPARE(form->desk().SendMsgs().rowCount(), 0);
    // Closing again (the program's own quit) writes nothing new.
    const QDateTime written = QFileInfo(QStringLiteral("PendMsgs")).lastModified();
    appendPage(form->desk().SendMsgs(), QStringLiteral("Late"));
    form->close();
    QCOMPARE(QFileInfo(QStringLiteral("PendMsgs")).lastModified(), written);
    QCOMPARE(testsupport::pendingNames().size(), 3);
    form.reset();

    // The waiting pages come back as pending pages at the next start.
    auto next = makeForm();
    QCOMPARE(next->startupError(), QString());
    QCOMPARE(next->desk().PendingMsgs().rowCount(), 3);
    QCOMPARE(next->desk().SendMsgs().rowCount(), 0);
    next->Timer1Timer();
    QCOMPARE(next->pendingButton->text(), QStringLiteral("Pe&nding Msgs: 3"));
}

void tst_MainForm::startupFailureIsReportedAndTheWindowStillOpens()
{
    {
        QFile junk(QDir(dir_->path()).filePath(QStringLiteral("Busers.dbf")));
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write("not a table at all");
    }
    auto form = makeForm();
    QVERIFY(!form->startupError().isEmpty());
    QVERIFY2(form->startupError().contains(QStringLiteral("usERS"), Qt::CaseInsensitive),
        qPrintable(form->startupError()));
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    QCOMPARE(form->recipientList->model()->rowCount(), 0);
    form->Timer1Timer(); // the timer runs all the same
    QCOMPARE(form->pendingButton->text(), QStringLiteral("Pe&nding Msgs: 0"));
}

void tst_MainForm::oddFolderStartsRunsAndExits_data()
{
    QTest::addColumn<QString>("odd");
    QTest::addColumn<QString>("named");
    QTest::newRow("pipe as pending file") << "PendMsgs"
                                          << "PendMsgs is a pipe";
    QTest::newRow("pipe as settings file") << "pager.ini"
                                           << "pager.ini is a pipe";
    QTest::newRow("users table without PAGER_ID") << "Busers.dbf"
                                                  << "Table BUSERS.DBF has no field PAGER_ID.";
    QTest::newRow("carriers table without HOST_TEL") << "PAGECOMP.dbf"
                                                     << "Table PAGECOMP.DBF has no field HOST_TEL.";
}

void tst_MainForm::oddFolderStartsRunsAndExits()
{
    QFETCH(QString, odd);
    QFETCH(QString, named);
    const QString ini = config::pagerIniPath();
    QFile::remove(ini);
    if (odd == QStringLiteral("PendMsgs")) {
        QCOMPARE(::mkfifo("PendMsgs", 0600), 0);
    } else if (odd == QStringLiteral("pager.ini")) {
        QDir().mkpath(QFileInfo(ini).absolutePath());
        QCOMPARE(::mkfifo(QFile::encodeName(ini).constData(), 0600), 0);
    } else {
        store::Connection(dir_->path())
            .createTable(odd,
                odd == QStringLiteral("Busers.dbf")
                    ? QStringLiteral("USERNAME,C,30;PAGERCOMP,C,30;GROUP,C,12;")
                    : QStringLiteral("PAGERCOMP,C,30;HOST_SPEED,C,5;HOST_CHARS,N,3,0;HOST_PASSW,C,10;"));
    }
    // As the program entry builds the desk.
    auto form = makeForm();
    CreateSystemForm(*form);
    CreateGroupsForm(*form);
    CreateUsersForm(*form);
    CreatePagerCompForm(*form);
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    // One message, naming the file or the field.
    const QString report = form->desk().startupReport();
    QVERIFY2(report.contains(named) && !report.contains(QStringLiteral("\n\n")), qPrintable(report));
    QCOMPARE(form->startupError(), QString());

    // The Users window opens; a field the table lacks shows empty and cannot be edited.
    form->UsersMenu->trigger();
    auto* users = form->findChild<QWidget*>(QStringLiteral("UsersForm"));
    QVERIFY(users && users->isVisible());
    QCOMPARE(users->findChild<QLineEdit*>(QStringLiteral("PagerId"))->isEnabled(),
        odd != QStringLiteral("Busers.dbf"));
    form->CarriersMenu->trigger();
    form->deliveryTimer->start();
    {
        QFile drop(QStringLiteral("plimomsgs.txt"));
        QVERIFY(drop.open(QIODevice::WriteOnly));
        drop.write("5551234\nNo Such Carrier\nHello\n");
    }
    QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(QStringLiteral("plimomsgs.txt")), 10000);
    form->exitButton->click();
    QVERIFY(!form->isVisible());
    QVERIFY(QFileInfo(QStringLiteral("PendMsgs")).isFile());
    QFile::remove(ini);
}

void tst_MainForm::cancelAfterFailedSaveLosesNothing()
{
    auto form = makeForm();
    appendPage(form->desk().PendingMsgs(), QStringLiteral("Failed"));
    appendPage(form->desk().SendMsgs(), QStringLiteral("Waiting"));
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    // The pending file cannot be written: its folder is gone.
    const QString gone = dir_->filePath(QStringLiteral("gone"));
    QVERIFY(QDir().mkpath(gone));
    QVERIFY(QDir::setCurrent(gone));
    QVERIFY(QDir(gone).removeRecursively());
    QStringList asked;
    QTimer answer;
    connect(&answer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            asked << box->text();
            box->button(QMessageBox::Cancel)->click();
        }
    });
    answer.start(10);
    form->exitButton->click();
    answer.stop();
    QCOMPARE(asked.size(), 1);
    QVERIFY(form->isVisible());
    // Both queues as they were: the waiting page is still to be sent.
    QCOMPARE(form->desk().PendingMsgs().rowCount(), 1);
    QCOMPARE(form->desk().SendMsgs().rowCount(), 1);

    appendPage(form->desk().SendMsgs(), QStringLiteral("Later"));
    QVERIFY(QDir::setCurrent(dir_->path()));
    form->exitButton->click();
    QVERIFY(!form->isVisible());
    QCOMPARE(testsupport::pendingNames(), QStringList({ "Failed", "Waiting", "Later" }));
}

void tst_MainForm::recipientListIsFilledSortedAndRefreshed()
{
    {
        core::Desk desk(dir_->path());
        const QString error = desk.open();
        QCOMPARE(error, QString());
        for (const char* name : { "zed", "Adam", "Mary" }) {
            desk.BUsersT().append();
            desk.BUsersT().setFieldText(QStringLiteral("USERNAME"), QString::fromLatin1(name));
            desk.BUsersT().post();
        }
        desk.GroupsT().append();
        desk.GroupsT().setFieldText(QStringLiteral("GROUP"), QStringLiteral("Night"));
        desk.GroupsT().post();
    }
    auto form = makeForm();
    QCOMPARE(testsupport::itemsInList(form->recipientList), QStringList({ "Adam", "Group: Night", "Mary", "zed" }));
    QCOMPARE(testsupport::tickedInList(form->recipientList), QStringList());

    // A refresh keeps ticks and adds only names not yet listed (compared without regard to case).
    QVERIFY(testsupport::tickInList(form->recipientList, QStringLiteral("Mary")));
    form->desk().BUsersT().append();
    form->desk().BUsersT().setFieldText(QStringLiteral("USERNAME"), QStringLiteral("Bea"));
    form->desk().BUsersT().post();
    form->desk().BUsersT().append();
    form->desk().BUsersT().setFieldText(QStringLiteral("USERNAME"), QStringLiteral("MARY"));
    form->desk().BUsersT().post();
    form->RefreshUsersList();
    QCOMPARE(testsupport::itemsInList(form->recipientList), QStringList({ "Adam", "Bea", "Group: Night", "Mary", "zed" }));
    QCOMPARE(testsupport::tickedInList(form->recipientList), QStringList { "Mary" });
}

void tst_MainForm::userLookupShowsPagerIdAndCarrier()
{
    {
        core::Desk desk(dir_->path());
        QCOMPARE(desk.open(), QString());
        const char* users[][3] = { { "Ann", "SkyTel", "555-01" }, { "Bob", "Gone Carrier", "555-02" } };
        for (const auto& user : users) {
            desk.BUsersT().append();
            desk.BUsersT().setFieldText(QStringLiteral("USERNAME"), QString::fromLatin1(user[0]));
            desk.BUsersT().setFieldText(QStringLiteral("PAGERCOMP"), QString::fromLatin1(user[1]));
            desk.BUsersT().setFieldText(QStringLiteral("PAGER_ID"), QString::fromLatin1(user[2]));
            desk.BUsersT().post();
        }
        desk.PagerCompT().append();
        desk.PagerCompT().setFieldText(QStringLiteral("PAGERCOMP"), QStringLiteral("SkyTel"));
        desk.PagerCompT().post();
        desk.GroupsT().append();
        desk.GroupsT().setFieldText(QStringLiteral("GROUP"), QStringLiteral("Night"));
        desk.GroupsT().post();
    }
    auto form = makeForm();
    QCOMPARE(form->userLookup->count(), 2);
    QCOMPARE(form->groupLookup->count(), 1);
    QCOMPARE(form->groupLookup->itemText(0), QStringLiteral("Night"));

    form->userLookup->setCurrentIndex(0);
    form->UserLookupCloseUp();
    QCOMPARE(form->pagerIdLabel->text(), QStringLiteral("555-01"));
    QCOMPARE(form->carrierLabel->text(), QStringLiteral("SkyTel"));
    // A carrier that is not in the table leaves the previous carrier's name.
    form->userLookup->setCurrentIndex(1);
    form->UserLookupCloseUp();
    QCOMPARE(form->pagerIdLabel->text(), QStringLiteral("555-02"));
    QCOMPARE(form->carrierLabel->text(), QStringLiteral("SkyTel"));

    form->selectByGroupBox->click();
    QCOMPARE(form->userLookup->currentIndex(), -1);
    QVERIFY(form->pagerIdLabel->isHidden());
    QCOMPARE(form->desk().TempUser().rowCount(), 1);
    QCOMPARE(form->desk().TempUser().fieldText(QStringLiteral("username")), QString());
    form->selectByGroupBox->click();
    QCOMPARE(form->desk().TempUser().rowCount(), 1);
    QCOMPARE(form->pagerIdLabel->text(), QString());
    QVERIFY(!form->pagerIdLabel->isHidden());
}

QTEST_MAIN(tst_MainForm)

void tst_MainForm::byPagerIdCancelAndEmptyMessageQueueNothing()
{
    auto form = makeForm();
    form->show();
    QVERIFY(QTest::qWaitForWindowActive(form.get()));
    store::Table& carriers = form->desk().PagerCompT();
    for (const char* name : { "Acme", "Metro" }) {
        carriers.append();
        carriers.setFieldText(QStringLiteral("PAGERCOMP"), QString::fromLatin1(name));
        carriers.post();
    }
    carriers.last();
    // The list shows the carrier the page would go through; Cancel: nothing queued, the switch
    // stays off.
    QString shownCarrier;
    QTimer::singleShot(0, form.get(), [&] {
        if (auto* dialog = qobject_cast<compose::TByPagerID*>(QApplication::activeModalWidget())) {
            shownCarrier = dialog->Name->currentText();
            QTest::keyClicks(dialog->pager, QStringLiteral("4321"));
            QTest::mouseClick(dialog->CancelBtn, Qt::LeftButton);
        }
    });
    QTest::mouseClick(form->byPagerIdButton, Qt::LeftButton);
    QCOMPARE(shownCarrier, QStringLiteral("Metro"));
    QVERIFY(!form->sendByPagerBox->isChecked());
    QVERIFY(form->desk().SendMsgs().isEmpty());
    // OK with an empty editor: the box, nothing queued, and the switch stays off (the next send goes
    // to the ticked recipients, not to the typed ID).
    QString box;
    QTimer::singleShot(0, form.get(), [&] {
        if (auto* dialog = qobject_cast<compose::TByPagerID*>(QApplication::activeModalWidget())) {
            QCOMPARE(dialog->pager->text(), QStringLiteral("4321"));
            testsupport::answerNextBox(QMessageBox::Ok, &box);
            QTest::mouseClick(dialog->OKBtn, Qt::LeftButton);
        }
    });
    QTest::mouseClick(form->byPagerIdButton, Qt::LeftButton);
    QTRY_COMPARE(box, QStringLiteral("Enter message to send"));
    QVERIFY(!form->sendByPagerBox->isChecked());
    QVERIFY(form->desk().SendMsgs().isEmpty());
    QVERIFY(form->userLookup->isEnabled());
    QCOMPARE(form->focusWidget(), form->messageEditor);
}

namespace {

void addQuickMessage(core::Desk& desk, const QString& title, const QString& body)
{
    desk.QuickMsgT().append();
    desk.QuickMsgT().setFieldText(QStringLiteral("MSGTITLE"), title);
    desk.QuickMsgT().setMemoLines(QStringLiteral("MSG"), { body });
    desk.QuickMsgT().post();
}

} // namespace

void tst_MainForm::quickMessageReplacesTheEditor()
{
    auto form = makeForm();
    CreateQuickMsgForms(*form);
    addQuickMessage(form->desk(), QStringLiteral("Zulu"), QStringLiteral("First stored"));
    addQuickMessage(form->desk(), QStringLiteral("Alpha"), QString(500, u'q'));
    form->show();
    form->messageEditor->setFocus();
    QTest::keyClicks(form->messageEditor, QStringLiteral("typed before"));
    QTest::mouseClick(form->quickButton, Qt::LeftButton);
    auto* dialog = form->findChild<directories::TQuickMsgF*>(QStringLiteral("QuickMsgDialog"));
    QVERIFY(dialog);
    QVERIFY(QTest::qWaitForWindowActive(dialog));
    // Record order, not name order; the last one taken, 500 characters whole, replacing the text.
    QCOMPARE(dialog->NameList->model()->index(0, 0).data().toString(), QStringLiteral("Zulu"));
    QTest::keyClick(dialog->NameList, Qt::Key_Down);
    QTRY_COMPARE(dialog->Body->toPlainText().size(), 500);
    QVERIFY(dialog->Body->isReadOnly());
    // Tab goes through the buttons as they stand, "&Use Msg" before "E&xit".
    dialog->Body->setFocus();
    QTest::keyClick(dialog->Body, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), dialog->UseBtn);
    if (const QString folder = qEnvironmentVariable("PLIMO_SCREENSHOTS"); !folder.isEmpty())
        dialog->grab().save(folder + QStringLiteral("/quick-message-selection.png"));
    // Enter on the highlighted name uses it (the default button), and the typing goes on in the
    // main editor.
    dialog->NameList->setFocus();
    QTest::keyClick(dialog->NameList, Qt::Key_Return);
    QCOMPARE(form->messageEditor->toPlainText(), QString(500, u'q'));
    QVERIFY(!dialog->isVisible());
    QTRY_COMPARE(QApplication::focusWidget(), form->messageEditor);
    // Without a menu, Alt+X closes it through its Exit button.
    QTest::mouseClick(form->quickButton, Qt::LeftButton);
    QTRY_COMPARE(QApplication::activeWindow(), dialog);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_X, Qt::AltModifier);
    QVERIFY(!dialog->isVisible());
}

void tst_MainForm::quickMessageEditedIsUsedAndWrittenAtNextActivation()
{
    auto form = makeForm();
    CreateQuickMsgForms(*form);
    addQuickMessage(form->desk(), QStringLiteral("Fire"), QStringLiteral("Fire drill"));
    form->show();
    form->QuickMsgMenu->trigger();
    auto* definition = form->findChild<directories::TQuickMsgF*>(QStringLiteral("QuickMsgF"));
    QVERIFY(definition);
    QVERIFY(QTest::qWaitForWindowActive(definition));
    if (const QString folder = qEnvironmentVariable("PLIMO_SCREENSHOTS"); !folder.isEmpty())
        definition->grab().save(folder + QStringLiteral("/quick-messages-definition.png"));
    // The underlined letters are the buttons' keys: Alt+A adds a row, Alt+C cancels it.
    QTest::keyClick(definition, Qt::Key_A, Qt::AltModifier);
    QCOMPARE(definition->NameList->model()->rowCount(), 2);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_C, Qt::AltModifier);
    QCOMPARE(definition->NameList->model()->rowCount(), 1);
    definition->Body->setFocus();
    definition->Body->moveCursor(QTextCursor::End);
    QTest::keyClicks(definition->Body, QStringLiteral(" at noon"));
    QTest::mouseClick(definition->UseBtn, Qt::LeftButton);
    QCOMPARE(form->messageEditor->toPlainText(), QStringLiteral("Fire drill at noon"));
    // Written when a quick-message window is next activated.
    QTest::mouseClick(form->quickButton, Qt::LeftButton);
    auto* dialog = form->findChild<directories::TQuickMsgF*>(QStringLiteral("QuickMsgDialog"));
    QVERIFY(QTest::qWaitForWindowActive(dialog));
    QCOMPARE(testsupport::onDisk(dir_->path(), QStringLiteral("QUICKMSG.DBF"), QString(), { QStringLiteral("MSG") }),
        QStringList { QStringLiteral("Fire drill at noon") });
}

// The very first quick message, added to an empty table: its name and body are both written.
void tst_MainForm::firstQuickMessageKeepsItsBody()
{
    auto form = makeForm();
    CreateQuickMsgForms(*form);
    form->show();
    form->QuickMsgMenu->trigger();
    auto* definition = form->findChild<directories::TQuickMsgF*>(QStringLiteral("QuickMsgF"));
    QVERIFY(definition);
    QVERIFY(QTest::qWaitForWindowActive(definition));
    QTest::mouseClick(definition->AddBtn, Qt::LeftButton);
    QTest::keyClicks(definition->NameList, QStringLiteral("L"));
    QWidget* editor = QApplication::focusWidget();
    QVERIFY(editor && editor != definition->NameList);
    QTest::keyClicks(editor, QStringLiteral("unch"));
    QTest::keyClick(editor, Qt::Key_Return);
    definition->Body->setFocus();
    QTest::keyClicks(definition->Body, QStringLiteral("Lunch is ready"));
    // Tab moves on from the body, as from the main window's editor, and types nothing into it.
    QTest::keyClick(definition->Body, Qt::Key_Tab);
    QVERIFY(QApplication::focusWidget() != definition->Body);
    QTest::mouseClick(definition->PostBtn, Qt::LeftButton);
    QCOMPARE(testsupport::onDisk(dir_->path(), QStringLiteral("QUICKMSG.DBF"), QString(),
                 { QStringLiteral("MSGTITLE"), QStringLiteral("MSG") }),
        QStringList { QStringLiteral("Lunch|Lunch is ready") });
}

void tst_MainForm::everyControlHasAnAccessibleName()
{
    auto form = makeForm();
    CreateSystemForm(*form);
    CreateGroupsForm(*form);
    CreateUsersForm(*form);
    CreatePagerCompForm(*form);
    CreateScheduleForm(*form);
    CreateQuickMsgForms(*form);
    CreateMsgLogForm(*form);
    form->show();
    // The windows made on first use are made here.
    QTest::mouseClick(form->sendLaterButton, Qt::LeftButton);
    form->SchedMsgsMenu->trigger();
    form->QuickMsgMenu->trigger();
    QTest::mouseClick(form->quickButton, Qt::LeftButton);
    form->MsgLogMenu->trigger();
    QStringList unnamed;
    QList<QWidget*> windows = { form.get() };
    windows << form->pendingWindow << form->byPagerIdDialog;
    for (QWidget* child : form->findChildren<QWidget*>()) {
        if (child->isWindow() && !windows.contains(child) && !child->inherits("QComboBoxPrivateContainer"))
            windows << child;
    }
    for (QWidget* window : windows) {
        for (QWidget* w : window->findChildren<QWidget*>()) {
            if (w->window() != window || w->focusPolicy() == Qt::NoFocus || !w->isVisibleTo(window)
                || qobject_cast<QAbstractScrollArea*>(w->parentWidget()) || w->inherits("QCalendarView")
                || w->inherits("QMenuBar") || qobject_cast<QComboBox*>(w->parentWidget())
                || qobject_cast<QAbstractSpinBox*>(w->parentWidget()))
                continue;
            QAccessibleInterface* face = QAccessible::queryAccessibleInterface(w);
            if (!face || face->text(QAccessible::Name).trimmed().isEmpty())
                unnamed << window->windowTitle() + QStringLiteral(": ") + w->metaObject()->className()
                        + u' ' + w->objectName();
        }
    }
    QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(u'\n')));
}

#include "tst_mainform.moc"
