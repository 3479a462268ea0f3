// The send command as the operator gives it on the main window: ticks in the check list, keys in
// the editor, the button, the boxes, the focus. The preparation rules themselves are tested on the
// desk without windows (tst_sendcommand).
#include "app/mainform.h"
#include "app/messageedit.h"
#include "compose/pageforms.h"
#include "compose/preparation.h"
#include "config/inifile.h"
#include "store/memtable.h"
#include "support/boxanswerer.h"
#include "support/datafolder.h"
#include "support/recipientview.h"
#include "support/pages.h"
#include "support/records.h"
#include "support/statuslines.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QFile>
#include <QListView>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace testsupport;

class tst_SendButton : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<testsupport::DataFolder> dir_;
    QTemporaryDir home_; // the settings file of these tests lives here, apart from other suites'

    // A data folder holding the users and carriers that `fill` appends, and the main window on it.
    template <typename Fill> std::unique_ptr<TMainForm> formWith(Fill fill)
    {
        {
            core::Desk desk(dir_->path());
            if (!desk.open().isEmpty())
                return nullptr;
            fill(desk);
        }
        return std::make_unique<TMainForm>(dir_->path());
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(home_.isValid());
        qputenv("HOME", QFile::encodeName(home_.path()));
    }
    void init()
    {
        dir_ = std::make_unique<testsupport::DataFolder>();
        QVERIFY(dir_->isValid());
    }
    void cleanup()
    {
        QFile::remove(config::pagerIniPath());
        dir_.reset();
    }

    void sendButtonIsEnabled();
    void logRecordKeepsTheEditorText();
    void longMessageIsLoggedWholeAndQueuedCut();
    void boxes_data();
    void boxes();
    void selectByGroupPreparesNothingAndIsUnticked();
    void minimisedWindowIsRestored();
};

void tst_SendButton::sendButtonIsEnabled()
{
    auto form = formWith([](core::Desk&) {});
    QVERIFY(form);
    QVERIFY(form->sendButton->isEnabled());
    QCOMPARE(form->sendButton->text(), QStringLiteral("&Send Mesg"));
}

void tst_SendButton::logRecordKeepsTheEditorText()
{
    auto form = formWith([](core::Desk& desk) {
        addUser(desk, QStringLiteral("Ann"), QStringLiteral("Metro"), QStringLiteral("5550"));
        addCarrier(desk, QStringLiteral("Metro"), QStringLiteral("555"), QString(), 80, QString());
    });
    QVERIFY(form);
    QVERIFY(testsupport::tickInList(form->recipientList, QStringLiteral("Ann")));
    form->messageLogBox->setChecked(true);
    form->messageEditor->setPlainText(QStringLiteral("Line one\nLine two"));
    form->sendButton->click();

    core::Desk& desk = form->desk();
    QCOMPARE(logCount(desk), 1);
    desk.MsgLogT().first();
    QVERIFY(QRegularExpression(QStringLiteral("^\\d{4}/\\d\\d/\\d\\d$"))
                .match(desk.MsgLogT().fieldText(QStringLiteral("DDATE")))
                .hasMatch());
    QCOMPARE(desk.MsgLogT().fieldText(QStringLiteral("DDATE")), compose::logDate(QDate::currentDate()));
    QVERIFY(QRegularExpression(QStringLiteral("^(0[1-9]|1[0-2]):[0-5]\\d:[0-5]\\d (AM|PM)$"))
                .match(desk.MsgLogT().fieldText(QStringLiteral("DTIME")))
                .hasMatch());
    QCOMPARE(desk.MsgLogT().fieldText(QStringLiteral("USERNAME")), QStringLiteral("Ann"));
    QCOMPARE(desk.MsgLogT().fieldText(QStringLiteral("MSG")), QStringLiteral("Line one\r\nLine two"));
    QCOMPARE(desk.MsgLogT().fieldText(QStringLiteral("MUSTSEND")), QString());
    QCOMPARE(queuedPages(desk.SendMsgs()).value(0).message, QStringLiteral("Line oneLine two"));
    // The editor's text is left selected.
    QCOMPARE(form->messageEditor->textCursor().selectedText().size(), form->messageEditor->toPlainText().size());

    // Without "Message Log" no record is written.
    QVERIFY(testsupport::tickInList(form->recipientList, QStringLiteral("Ann")));
    form->messageLogBox->setChecked(false);
    form->sendButton->click();
    QCOMPARE(logCount(desk), 1);
    QCOMPARE(desk.SendMsgs().rowCount(), 2);
}

void tst_SendButton::longMessageIsLoggedWholeAndQueuedCut()
{
    auto form = formWith([](core::Desk& desk) {
        addUser(desk, QStringLiteral("Ann"), QStringLiteral("Metro"), QStringLiteral("5550"));
        addCarrier(desk, QStringLiteral("Metro"), QStringLiteral("555"), QString(), 80, QString());
    });
    QVERIFY(form);
    QString text;
    for (int i = 0; i < 52; ++i)
        text += QStringLiteral("%1 ").arg(i, 9, 10, QChar(u'0'));
    QCOMPARE(text.size(), 520);
    QTest::keyClicks(form->messageEditor, text);
    QCOMPARE(form->messageEditor->toPlainText(), text);
    QVERIFY(testsupport::tickInList(form->recipientList, QStringLiteral("Ann")));
    form->messageLogBox->setChecked(true);
    form->sendButton->click();
    form->desk().MsgLogT().first();
    QCOMPARE(form->desk().MsgLogT().fieldText(QStringLiteral("MSG")), text);
    QCOMPARE(queuedPages(form->desk().SendMsgs()).value(0).message, text.left(500));
}

void tst_SendButton::boxes_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("tickAnn");
    QTest::addColumn<QString>("box");
    QTest::newRow("empty message") << "" << true << "Enter a message  and press 'Send Message' button.";
    QTest::newRow("empty message, nothing ticked")
        << "" << false << "Enter a message  and press 'Send Message' button.";
    QTest::newRow("nothing ticked") << "Hi" << false
                                    << "Select a user and/or group and press 'Send Message' button.";
}

void tst_SendButton::boxes()
{
    QFETCH(QString, message);
    QFETCH(bool, tickAnn);
    auto form = formWith([](core::Desk& desk) {
        addUser(desk, QStringLiteral("Ann"), QStringLiteral("Metro"), QStringLiteral("1111"));
        addCarrier(desk, QStringLiteral("Metro"), QStringLiteral("555"), QString(), 80, QString());
    });
    QVERIFY(form);
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    if (tickAnn)
        QVERIFY(testsupport::tickInList(form->recipientList, QStringLiteral("Ann")));
    QTest::keyClicks(form->messageEditor, message);
    form->recipientList->setFocus();
    BoxCatcher catcher;
    form->sendButton->click();
    QCOMPARE(catcher.boxes.size(), 1);
    QTEST(catcher.boxes[0].text, "box");
    QCOMPARE(catcher.boxes[0].icon, QMessageBox::Information);
    QCOMPARE(form->desk().SendMsgs().rowCount(), 0);
    QCOMPARE(statusTexts(form->statusList), QStringList());
    if (message.isEmpty()) {
        QCOMPARE(form->focusWidget(), form->messageEditor);
        QCOMPARE(testsupport::tickedInList(form->recipientList).size(), tickAnn ? 1 : 0); // ticks stay for the next try
    }
}

void tst_SendButton::selectByGroupPreparesNothingAndIsUnticked()
{
    auto form = formWith([](core::Desk& desk) {
        addUser(desk, QStringLiteral("Ann"), QStringLiteral("Metro"), QStringLiteral("1111"));
        addCarrier(desk, QStringLiteral("Metro"), QStringLiteral("555"), QString(), 80, QString());
    });
    QVERIFY(form);
    form->selectByGroupBox->click();
    QVERIFY(form->selectByGroupBox->isChecked());
    QVERIFY(form->pagerIdLabel->isHidden());
    QVERIFY(testsupport::tickInList(form->recipientList, QStringLiteral("Ann")));
    QTest::keyClicks(form->messageEditor, QStringLiteral("Hi"));
    BoxCatcher catcher;
    form->sendButton->click();
    QVERIFY(catcher.boxes.isEmpty());
    QCOMPARE(form->desk().SendMsgs().rowCount(), 0);
    QCOMPARE(statusTexts(form->statusList), QStringList { "Nothing sent from the list: Select By Group is ticked" });
    QVERIFY(!form->selectByGroupBox->isChecked());
    QVERIFY(!form->pagerIdLabel->isHidden()); // unticking ran the switch's handler
    QVERIFY(form->userLookup->isEnabled());
    QCOMPARE(testsupport::tickedInList(form->recipientList), QStringList { "Ann" });
    // The next press prepares as usual.
    form->sendButton->click();
    QCOMPARE(form->desk().SendMsgs().rowCount(), 1);
}

void tst_SendButton::minimisedWindowIsRestored()
{
    auto form = formWith([](core::Desk&) {});
    QVERIFY(form);
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    form->setWindowState(Qt::WindowMinimized);
    BoxCatcher catcher;
    form->session().sendComposed();
    QVERIFY(!(form->windowState() & Qt::WindowMinimized));
}

QTEST_MAIN(tst_SendButton)
#include "tst_sendbutton.moc"
