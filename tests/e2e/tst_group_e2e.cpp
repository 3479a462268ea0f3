// A group page end to end: the real main window offscreen on a real data folder, the member file
// written by the Groups window, the carrier simulator as the paging terminal of both carriers.

#include "app/groupsetup.h"
#include "app/mainform.h"
#include "app/messageedit.h"
#include "app/systemsetup.h"
#include "config/inifile.h"
#include "directories/groupsform.h"
#include "tests/paging/pagersimprocess.h"
#include "support/datafolder.h"
#include "support/boxanswerer.h"
#include "support/recipientview.h"
#include "support/records.h"

#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

using namespace testsupport;

class tst_GroupE2E : public QObject {
    Q_OBJECT

private:
    QTemporaryDir home_;
    std::unique_ptr<testsupport::DataFolder> dir_;

private slots:
    void initTestCase()
    {
        QVERIFY2(QFile::exists(PagerSimProcess::program()), "build pagersim first");
        qputenv("HOME", home_.path().toLocal8Bit());
        QStandardPaths::setTestModeEnabled(true);
        dir_ = std::make_unique<testsupport::DataFolder>();
        QVERIFY(dir_->isValid());
    }
    void cleanupTestCase() { dir_.reset(); }

    // Members on carriers B, A and B: two calls, A's first, the second with both B pager IDs.
    void oneCallPerCarrier()
    {
        PagerSimProcess sim;
        QVERIFY(sim.start({}));
        QVERIFY(testsupport::DataFolder::writeSimulatorSettings(sim.device()));
        {
            core::Desk desk(dir_->path());
            QCOMPARE(desk.open(), QString());
            addCarrier(desk, QStringLiteral("Beta"), QStringLiteral("555-0200"), QStringLiteral("1200"), 80, QString());
            addCarrier(desk, QStringLiteral("Alpha"), QStringLiteral("555-0100"), QStringLiteral("1200"), 80, QString());
            addUser(desk, QStringLiteral("Bea"), QStringLiteral("Beta"), QStringLiteral("2001"));
            addUser(desk, QStringLiteral("Al"), QStringLiteral("Alpha"), QStringLiteral("1001"));
            addUser(desk, QStringLiteral("Bo"), QStringLiteral("Beta"), QStringLiteral("20-02"));
        }
        TMainForm form(dir_->path());
        CreateSystemForm(form);
        directories::TGroupsForm* groups = CreateGroupsForm(form);
        form.show();

        // The group is made in its window as the operator does it.
        form.GroupsMenu->trigger();
        groups->AddGroupBtn->click();
        groups->GroupName->item(groups->GroupName->currentRow(), 0)->setText(QStringLiteral("night crew"));
        groups->SaveGroupBtn->click();
        for (const char* name : { "Bea", "Al", "Bo" }) {
            const auto found = groups->UsersList->findItems(QString::fromLatin1(name), Qt::MatchExactly);
            QVERIFY(!found.isEmpty());
            groups->UsersList->setCurrentItem(found.first());
            groups->AddMemberBtn->click();
        }
        groups->ExitBtn->click();

        QVERIFY(testsupport::tickInList(form.recipientList, QStringLiteral("Group: Night Crew")));
        form.messageEditor->setFocus();
        QTest::keyClicks(form.messageEditor, QStringLiteral("Roll call"));
        BoxCatcher boxes;
        form.session().setTickInterval(100); // a short tick: the suite does not wait on the real second
        form.deliveryTimer->start();
        QTest::mouseClick(form.sendButton, Qt::LeftButton);
        QCOMPARE(form.desk().SendMsgs().rowCount(), 2);

        QVERIFY(sim.waitFor(QStringLiteral("page"), 3, 40000));
        QTRY_VERIFY_WITH_TIMEOUT(!form.desk().pageInProgress(), 10000);
        const QList<QJsonObject> dials = sim.transcript(QStringLiteral("dial"));
        QCOMPARE(dials.size(), 2);
        QCOMPARE(dials[0].value("number").toString(), QStringLiteral("5550100"));
        QCOMPARE(dials[1].value("number").toString(), QStringLiteral("5550200"));
        const int secondCall = dials[1].value("call").toInt();
        QStringList first, second;
        for (const QJsonObject& page : sim.transcript(QStringLiteral("page"))) {
            QCOMPARE(page.value("text").toString(), QStringLiteral("Roll call"));
            (page.value("call").toInt() == secondCall ? second : first) << page.value("id").toString();
        }
        QCOMPARE(first, QStringList { "1001" });
        // Sorted as stored, before the dashes go: "20-02" comes before "2001".
        QCOMPARE(second, QStringList({ "2002", "2001" }));
        QCOMPARE(boxes.texts(), QStringList());
    }
};

QTEST_MAIN(tst_GroupE2E)
#include "tst_group_e2e.moc"
