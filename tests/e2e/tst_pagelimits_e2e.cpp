// Pages at the edges of what a page holds, end to end: the real main window offscreen on a real data
// folder, the carrier simulator as the paging terminal. Nothing may be cut, misdialled or held up
// without the operator being told.

#include "app/mainform.h"
#include "app/messageedit.h"
#include "app/schedulesetup.h"
#include "app/systemsetup.h"
#include "compose/memberfile.h"
#include "config/inifile.h"
#include "tests/paging/pagersimprocess.h"
#include "support/boxanswerer.h"
#include "support/datafolder.h"
#include "support/recipientview.h"
#include "support/records.h"
#include "support/statuslines.h"
#include "support/undeletablefolder.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace testsupport;

namespace {

const QString kMetro = QStringLiteral("Metro Paging");

} // namespace

class tst_PageLimitsE2E : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(QFile::exists(PagerSimProcess::program()), "build pagersim first");
        qputenv("HOME", home_.path().toLocal8Bit());
        QStandardPaths::setTestModeEnabled(true);
        previousCurrent_ = QDir::currentPath();
    }
    void init()
    {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir::setCurrent(dir_->path()));
        QFile::remove(config::pagerIniPath());
    }
    void cleanup()
    {
        QDir::setCurrent(previousCurrent_);
        dir_.reset();
    }

    // 60 members with 8-digit IDs need 540 characters of PagerPhone: two pages of whole IDs, every
    // member paged; a 499-character message keeps the "^^" of a group page and says it was cut. The
    // carrier's speed "12OO" reads as 300, so the group goes.
    void bigGroupWithALongMessage()
    {
        PagerSimProcess sim;
        QVERIFY(sim.start({}));
        writeSettings(sim.device());
        QStringList ids;
        {
            core::Desk desk(dir_->path());
            QCOMPARE(desk.open(), QString());
            addCarrier(desk, kMetro, QStringLiteral("555-0101"), QStringLiteral("12OO"), 500, QString());
            QStringList members;
            for (int i = 0; i < 60; ++i) {
                const QString name = QStringLiteral("Member %1").arg(i, 2, 10, QLatin1Char('0'));
                ids << QString::number(30000000 + i);
                addUser(desk, name, kMetro, ids.last());
                members << name;
            }
            addGroup(desk, QStringLiteral("All Hands"));
            QVERIFY(compose::writeMemberFile(compose::memberFilePath(dir_->path(), QStringLiteral("All Hands")),
                members)
                        .isEmpty());
        }
        auto form = startDesk();
        BoxCatcher boxes;
        // Every line said: the list keeps the newest 21, and each member has a line.
        QStringList said;
        QObject::connect(&form->session(), &session::DeskSession::statusLine,
            [&said](const QString& text) { said << text; });
        QString message;
        for (int i = 0; message.size() < 499; ++i)
            message += QString(QChar(u'a' + i % 26));
        send(*form, message, { QStringLiteral("Group: All Hands") });
        QCOMPARE(form->desk().SendMsgs().rowCount() + (form->desk().pageInProgress() ? 1 : 0), 2);

        QVERIFY(sim.waitFor(QStringLiteral("page"), 60, 60000));
        QTRY_VERIFY_WITH_TIMEOUT(!form->desk().pageInProgress() && form->desk().SendMsgs().isEmpty(), 20000);
        QStringList paged;
        for (const QJsonObject& page : sim.transcript(QStringLiteral("page"))) {
            QCOMPARE(textOf(page, "text"), message.left(498));
            paged << textOf(page, "id");
        }
        QCOMPARE(paged, ids);
        QCOMPARE(sim.transcript(QStringLiteral("dial")).size(), 2);
        QVERIFY(form->desk().PendingMsgs().isEmpty());
        QCOMPARE(said.filter(QStringLiteral(" cut to ")),
            QStringList { "Message to Group: All Hands cut to 498 characters" });
        QCOMPARE(said.filter(QStringLiteral("Sent to ")).size(), ids.size());
        QCOMPARE(boxes.texts(), QStringList());
    }

    // The editor takes 520 characters; the page holds 500, the count turns red past them, and the
    // status list says the message was cut.
    void longMessageIsCutAndSaidSo()
    {
        PagerSimProcess sim;
        QVERIFY(sim.start({}));
        writeSettings(sim.device());
        fillDirectory(QStringLiteral("555-0101"));
        auto form = startDesk();
        BoxCatcher boxes;
        QString message;
        for (int i = 0; i < 520; ++i)
            message += QChar(u'0' + i % 10);
        form->messageEditor->setFocus();
        QTest::keyClicks(form->messageEditor, message.left(500));
        const QColor normal = form->characterCount->palette().color(QPalette::WindowText);
        QTest::keyClicks(form->messageEditor, message.mid(500));
        QCOMPARE(form->characterCount->text(), QStringLiteral("520"));
        QCOMPARE(form->characterCount->palette().color(QPalette::WindowText), QColor(Qt::red));
        QVERIFY(normal != QColor(Qt::red));
        send(*form, QString(), { QStringLiteral("Ann Lee") });

        QVERIFY(sim.waitFor(QStringLiteral("page"), 1, 20000));
        QCOMPARE(textOf(sim.transcript(QStringLiteral("page")).first(), "text"), message.left(500));
        QVERIFY(status(*form).contains(QStringLiteral("Message to Ann Lee cut to 500 characters")));
    }

    // "555-PAGE" is not a number the modem can dial: no call is made, and the page waits in the
    // pending queue with the reason.
    void vanityNumberMakesNoCall()
    {
        PagerSimProcess sim;
        QVERIFY(sim.start({}));
        writeSettings(sim.device());
        fillDirectory(QStringLiteral("555-PAGE"));
        auto form = startDesk();
        BoxCatcher boxes;
        send(*form, QStringLiteral("Call the desk"), { QStringLiteral("Ann Lee") });
        QTRY_COMPARE_WITH_TIMEOUT(form->desk().PendingMsgs().rowCount(), 1, 20000);
        QVERIFY(!status(*form).filter(QStringLiteral("Bad dial string")).isEmpty());
        QVERIFY(sim.transcript(QStringLiteral("dial")).isEmpty());
        for (const QJsonObject& m : sim.transcript(QStringLiteral("modem")))
            QVERIFY(!textOf(m, "command").startsWith(QStringLiteral("ATD")));
    }

    // A message file that cannot be deleted is reported once; the scheduled scan still runs and a
    // record due now is sent.
    void undeletableMessageFileDoesNotStopTheSchedule()
    {
        PagerSimProcess sim;
        QVERIFY(sim.start({}));
        writeSettings(sim.device());
        fillDirectory(QStringLiteral("555-0101"));
        const QDate today = QDate::currentDate();
        {
            core::Desk desk(dir_->path());
            QCOMPARE(desk.open(), QString());
            desk.SchedMsgT().append();
            desk.SchedMsgT().setFieldText(QStringLiteral("DDATE"), today.toString(QStringLiteral("yyyy/MM/dd")));
            desk.SchedMsgT().setFieldText(QStringLiteral("DTIME"), QStringLiteral("11:59:00"));
            desk.SchedMsgT().setFieldText(QStringLiteral("USERNAME"), QStringLiteral("Ann Lee"));
            desk.SchedMsgT().setFieldText(QStringLiteral("MUSTSEND"), QStringLiteral("Y"));
            desk.SchedMsgT().setMemoLines(QStringLiteral("MSG"), { QStringLiteral("Lunch at noon") });
            desk.SchedMsgT().post();
        }
        QFile file(QStringLiteral("plimomsgs.txt"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("Ann Lee\r\nMetro Paging\r\nFrom the file\r\n");
        file.close();
        UndeletableFolder folder(dir_->path());
        if (!folder.active())
            QSKIP("this file system cannot keep a file from being deleted");
        auto form = startDesk();
        form->currentDateTime = [today] { return QDateTime(today, QTime(12, 0, 0)); };
        BoxCatcher boxes;
        QVERIFY(sim.waitFor(QStringLiteral("page"), 1, 20000));
        QCOMPARE(textOf(sim.transcript(QStringLiteral("page")).first(), "text"), QStringLiteral("Lunch at noon"));
        QVERIFY(QFile::exists(QStringLiteral("plimomsgs.txt")));
        QCOMPARE(status(*form).filter(QStringLiteral("cannot be deleted")).size(), 1);
    }

private:
    void writeSettings(const QString& port)
    {
        QVERIFY(DataFolder::writeSimulatorSettings(port));
    }
    void fillDirectory(const QString& tel)
    {
        core::Desk desk(dir_->path());
        QCOMPARE(desk.open(), QString());
        addCarrier(desk, kMetro, tel, QStringLiteral("1200"), 0, QString());
        addUser(desk, QStringLiteral("Ann Lee"), kMetro, QStringLiteral("1234"));
    }
    std::unique_ptr<TMainForm> startDesk()
    {
        auto form = std::make_unique<TMainForm>(dir_->path());
        CreateSystemForm(*form);
        form->desk().setScheduledSendingEnabled(true);
        form->show();
        form->session().setTickInterval(100); // a short tick: the suite does not wait on the real second
        form->deliveryTimer->start();
        return form;
    }
    // Types the message, ticks the recipients and presses "&Send Mesg".
    void send(TMainForm& form, const QString& message, const QStringList& recipients)
    {
        form.messageEditor->setFocus();
        QTest::keyClicks(form.messageEditor, message);
        for (const QString& name : recipients)
            QVERIFY2(tickInList(form.recipientList, name), qPrintable(name));
        QTest::mouseClick(form.sendButton, Qt::LeftButton);
    }
    static QStringList status(TMainForm& form) { return statusTexts(form.statusList); }

    QTemporaryDir home_;
    std::unique_ptr<QTemporaryDir> dir_;
    QString previousCurrent_;
};

QTEST_MAIN(tst_PageLimitsE2E)
#include "tst_pagelimits_e2e.moc"
