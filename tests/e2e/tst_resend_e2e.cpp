// "&ReSend" of the Message Log end to end: the real main window and log window offscreen, the carrier
// simulator as the paging terminal.

#include "app/mainform.h"
#include "app/msglogsetup.h"
#include "app/systemsetup.h"
#include "compose/memberfile.h"
#include "config/inifile.h"
#include "models/tablemodel.h"
#include "msglog/msglogform.h"
#include "support/boxanswerer.h"
#include "support/datafolder.h"
#include "support/logrecords.h"
#include "support/records.h"
#include "tests/paging/pagersimprocess.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace testsupport;

class tst_ResendE2E : public QObject {
    Q_OBJECT

private:
    QTemporaryDir home_;
    std::unique_ptr<DataFolder> dir_;

private slots:
    void initTestCase()
    {
        QVERIFY2(QFile::exists(PagerSimProcess::program()), "build pagersim first");
        qputenv("HOME", home_.path().toLocal8Bit());
        QStandardPaths::setTestModeEnabled(true);
        dir_ = std::make_unique<DataFolder>();
        QVERIFY(dir_->isValid());
    }
    void cleanupTestCase() { dir_.reset(); }

    // The newest entry (user Al) and then the group entry are resent; both reach the terminal, and
    // with "Message &Log" ticked each resend is logged again.
    void userAndGroupEntriesReachTheTerminal()
    {
        PagerSimProcess sim;
        QVERIFY(sim.start({}));
        QVERIFY(testsupport::DataFolder::writeSimulatorSettings(sim.device()));
        {
            core::Desk desk(dir_->path());
            QCOMPARE(desk.open(), QString());
            addCarrier(desk, QStringLiteral("Alpha"), QStringLiteral("555-0100"), QStringLiteral("1200"), 80, QString());
            addUser(desk, QStringLiteral("Al"), QStringLiteral("Alpha"), QStringLiteral("1001"));
            addUser(desk, QStringLiteral("Bea"), QStringLiteral("Alpha"), QStringLiteral("2002"));
            addGroup(desk, QStringLiteral("Crew"));
            addLogRecord(desk, QStringLiteral("2026/01/01"), QStringLiteral("08:00:00 AM"),
                QStringLiteral("Group: Crew"), QStringLiteral("crew call"));
            addLogRecord(desk, QStringLiteral("2026/01/02"), QStringLiteral("08:00:00 AM"), QStringLiteral("Al"),
                QStringLiteral("for Al"));
        }
        QCOMPARE(compose::writeMemberFile(compose::memberFilePath(dir_->path(), QStringLiteral("Crew")),
                     { QStringLiteral("Bea") }),
            QString());
        TMainForm form(dir_->path());
        CreateSystemForm(form);
        msglog::TMsgLogF* log = CreateMsgLogForm(form);
        form.show();
        form.messageLogBox->setChecked(true);
        BoxCatcher boxes;
        form.session().setTickInterval(100); // a short tick: the suite does not wait on the real second
        form.deliveryTimer->start();

        form.MsgLogMenu->trigger();
        QTRY_COMPARE(QApplication::activeWindow(), log);
        QTRY_COMPARE(log->DBMemo1->toPlainText(), QStringLiteral("for Al"));
        QTest::mouseClick(log->BitBtn3, Qt::LeftButton);
        QVERIFY(sim.waitFor(QStringLiteral("page"), 1, 40000));
        QTRY_VERIFY_WITH_TIMEOUT(!form.desk().pageInProgress() && form.desk().SendMsgs().rowCount() == 0, 10000);

        form.MsgLogMenu->trigger();
        QTRY_COMPARE(QApplication::activeWindow(), log);
        QTRY_COMPARE(log->LogModel->rowCount(), 3);
        QTest::mouseClick(log->FirstBtn, Qt::LeftButton);
        QTRY_COMPARE(log->DBMemo1->toPlainText(), QStringLiteral("crew call"));
        QTest::mouseClick(log->BitBtn3, Qt::LeftButton);
        QVERIFY(sim.waitFor(QStringLiteral("page"), 2, 40000));

        const QList<QJsonObject> pages = sim.transcript(QStringLiteral("page"));
        QCOMPARE(pages[0].value("id").toString(), QStringLiteral("1001"));
        QCOMPARE(pages[0].value("text").toString(), QStringLiteral("for Al"));
        QCOMPARE(pages[1].value("id").toString(), QStringLiteral("2002"));
        QCOMPARE(pages[1].value("text").toString(), QStringLiteral("crew call"));
        QCOMPARE(logCount(form.desk()), 4);
        QCOMPARE(boxes.texts(), QStringList());
    }
};

QTEST_MAIN(tst_ResendE2E)
#include "tst_resend_e2e.moc"
