#include "app/groupsetup.h"
#include "app/mainform.h"
#include "compose/memberfile.h"
#include "directories/groupsform.h"
#include "support/boxanswerer.h"
#include "support/datafolder.h"
#include "support/filebytes.h"
#include "support/recipientview.h"
#include "support/records.h"
#include "support/statuslines.h"
#include "support/typing.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

using namespace testsupport;

namespace {

QStringList texts(const QListWidget* list)
{
    QStringList result;
    for (int i = 0; i < list->count(); ++i)
        result << list->item(i)->text();
    return result;
}

QStringList groupNames(core::Desk& desk)
{
    QStringList names;
    desk.GroupsT().refresh();
    for (desk.GroupsT().first(); !desk.GroupsT().eof(); desk.GroupsT().next())
        names << desk.GroupsT().fieldText(QStringLiteral("GROUP"));
    return names;
}

void choose(QListWidget* list, const QString& name)
{
    const auto found = list->findItems(name, Qt::MatchExactly);
    QVERIFY2(!found.isEmpty(), qPrintable(name));
    list->setCurrentItem(found.first());
}

// With PLIMO_SCREENSHOTS naming a folder, the window is saved there as the tests see it.
void screenshot(QWidget* window, const QString& name)
{
    const QString folder = qEnvironmentVariable("PLIMO_SCREENSHOTS");
    if (!folder.isEmpty())
        window->grab().save(folder + u'/' + name + QStringLiteral(".png"));
}

} // namespace

class tst_GroupsForm : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<testsupport::DataFolder> dir_;
    std::unique_ptr<TMainForm> main_;
    directories::TGroupsForm* form_ = nullptr;

    template <typename Fill> void open(Fill fill)
    {
        {
            core::Desk desk(dir_->path());
            QCOMPARE(desk.open(), QString());
            fill(desk);
        }
        main_ = std::make_unique<TMainForm>(dir_->path());
        form_ = CreateGroupsForm(*main_);
        main_->GroupsMenu->trigger();
        QVERIFY(form_->isVisible());
        // Becoming active goes to the first group: let that happen before a test moves on.
        static_cast<void>(QTest::qWaitForWindowActive(form_)); // offscreen may not activate at all
        QTest::qWait(50);
    }
    QString file(const QString& name) const { return dir_->filePath(name); }
    // Types a new group's name into the grid and saves it.
    void addGroup(const QString& name)
    {
        form_->AddGroupBtn->click();
        const int row = form_->GroupName->currentRow();
        QVERIFY(row >= 0);
        form_->GroupName->item(row, 0)->setText(name);
        form_->SaveGroupBtn->click();
    }

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init()
    {
        dir_ = std::make_unique<testsupport::DataFolder>();
        QVERIFY(dir_->isValid());
    }
    void cleanup()
    {
        main_.reset();
        dir_.reset();
    }

    // Alt+A, the name typed into the grid's own cell editor, Alt+S at once: the name in the open
    // editor is the one saved (read back by a handle of its own), with its member file.
    void altKeysSaveTheNameStillBeingTyped()
    {
        open([](core::Desk&) {});
        typeSteps({ "Alt+A" });
        QTRY_COMPARE(form_->GroupName->rowCount(), 1);
        QTRY_COMPARE(QApplication::focusWidget(), form_->GroupName);
        typeSteps({ "day shift" });
        QVERIFY(form_->GroupName->isAncestorOf(QApplication::focusWidget()));
        typeSteps({ "Alt+S" });
        QTRY_COMPARE(onDisk(dir_->path(), QStringLiteral("GROUPS.DBF"), QStringLiteral("GROUP_UNIQ"),
                         { QStringLiteral("GROUP") }),
            QStringList { QStringLiteral("Day Shift") });
        QVERIFY(QFile::exists(file(QStringLiteral("DayShift.GRP"))));
        QVERIFY(!QFile::exists(file(QStringLiteral(".GRP"))));
    }

    void layoutAndMenu()
    {
        open([](core::Desk&) {});
        QCOMPARE(form_->windowTitle(), QStringLiteral("Groups"));
        QVERIFY(!form_->isModal());
        QCOMPARE(form_->AddMemberBtn->text(), QStringLiteral("Add &Member    "));
        QCOMPARE(form_->AddGroupBtn->text(), QStringLiteral("&Add New Group "));
        QCOMPARE(form_->MemberList->toolTip(), QStringLiteral("Double Click on Top of Member to Delete"));
        QVERIFY(main_->GroupsMenu->isEnabled());
    }

    void newGroupNames_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("file");
        QTest::newRow("two words") << "night shift" << "Night Shift" << "NightShift.GRP";
        QTest::newRow("second word at the end") << "sales ny" << "Sales ny" << "Salesny.GRP";
        QTest::newRow("parent folder") << "../x" << "../x" << "x.GRP";
    }
    void newGroupNames()
    {
        QFETCH(QString, typed);
        QFETCH(QString, stored);
        QFETCH(QString, file);
        open([](core::Desk& desk) {
            addUser(desk, QStringLiteral("Ann"), QStringLiteral("A"), QStringLiteral("1"));
            addUser(desk, QStringLiteral("Bob"), QStringLiteral("A"), QStringLiteral("2"));
        });
        addGroup(typed);
        QCOMPARE(groupNames(main_->desk()), QStringList { stored });
        QCOMPARE(testsupport::fileBytes(this->file(file)), QByteArray());
        // Every file the window wrote is in the data folder, none beside it.
        QCOMPARE(QDir(dir_->path() + QStringLiteral("/..")).entryList({ "*.GRP" }, QDir::Files), QStringList());
        QCOMPARE(texts(form_->UsersList), QStringList({ "Ann", "Bob" }));
        QCOMPARE(texts(form_->MemberList), QStringList());
    }

    void membersMoveAndTheFileFollows()
    {
        open([](core::Desk& desk) {
            for (const char* name : { "Zoe", "Ann", "Bob" })
                addUser(desk, QString::fromLatin1(name), QStringLiteral("A"), QStringLiteral("1"));
            testsupport::addGroup(desk, QStringLiteral("Ops"));
        });
        const QString path = file(QStringLiteral("Ops.GRP"));
        // No member file yet: both lists empty, and adding does nothing.
        QCOMPARE(texts(form_->UsersList), QStringList());
        form_->SaveGroupBtn->click();
        QCOMPARE(testsupport::fileBytes(path), QByteArray());
        QCOMPARE(texts(form_->UsersList), QStringList({ "Ann", "Bob", "Zoe" }));

        choose(form_->UsersList, QStringLiteral("Zoe"));
        form_->AddMemberBtn->click();
        choose(form_->UsersList, QStringLiteral("Ann"));
        form_->AddMemberBtn->click();
        QCOMPARE(texts(form_->MemberList), QStringList({ "Ann", "Zoe" }));
        QCOMPARE(texts(form_->UsersList), QStringList { "Bob" });
        QCOMPARE(testsupport::fileBytes(path), QByteArray("Ann\r\nZoe\r\n"));

        BoxCatcher boxes;
        form_->MemberList->setCurrentItem(nullptr);
        form_->DeleteMemberBtn->click();
        QCOMPARE(boxes.texts(), QStringList { "First you must select the member to delete from this group." });
        choose(form_->MemberList, QStringLiteral("Ann"));
        form_->DeleteMemberBtn->click();
        QCOMPARE(testsupport::fileBytes(path), QByteArray("Zoe\r\n"));
        QCOMPARE(texts(form_->UsersList), QStringList({ "Ann", "Bob" }));
        screenshot(form_, QStringLiteral("groups"));
    }

    void memberFileNotReadIsToldOnceAndNeverSavedOver()
    {
        const QString path = file(QStringLiteral("Ops.GRP"));
        const QByteArray big = "Ann\r\n" + QByteArray(compose::kMemberFileLimit, 'x');
        {
            QFile grp(path);
            QVERIFY(grp.open(QIODevice::WriteOnly));
            grp.write(big);
        }
        open([](core::Desk& desk) {
            addUser(desk, QStringLiteral("Ann"), QStringLiteral("A"), QStringLiteral("1"));
            testsupport::addGroup(desk, QStringLiteral("Ops"));
        });
        QSignalSpy status(form_, &directories::TGroupsForm::statusMessage);
        form_->ReadUsersList();
        form_->ReadUsersList();
        QCOMPARE(texts(form_->MemberList), QStringList());
        QCOMPARE(status.size(), 0); // told when the window first read it
        QVERIFY(main_->statusList->toPlainText().contains(path + QStringLiteral(" is larger than 4 MiB")));
        form_->SaveGroupBtn->click();
        QCOMPARE(status.size(), 1);
        QCOMPARE(testsupport::fileBytes(path), big);
    }

    void renamingFollowsTheNewName()
    {
        open([](core::Desk& desk) {
            addUser(desk, QStringLiteral("Ann"), QStringLiteral("A"), QStringLiteral("1"));
            testsupport::addGroup(desk, QStringLiteral("Ops"));
        });
        QVERIFY(compose::writeMemberFile(file(QStringLiteral("Ops.GRP")), { QStringLiteral("Ann") }).isEmpty());
        form_->ReadUsersList();
        QCOMPARE(texts(form_->MemberList), QStringList { "Ann" });
        form_->GroupName->item(0, 0)->setText(QStringLiteral("day crew"));
        QCOMPARE(texts(form_->MemberList), QStringList());
        form_->SaveGroupBtn->click();
        QCOMPARE(groupNames(main_->desk()), QStringList { "Day Crew" });
        QCOMPARE(testsupport::fileBytes(file(QStringLiteral("DayCrew.GRP"))), QByteArray());
        QCOMPARE(
            testsupport::fileBytes(file(QStringLiteral("Ops.GRP"))), QByteArray("Ann\r\n")); // left behind
    }

    void deleteAsksFirst()
    {
        open([](core::Desk& desk) {
            testsupport::addGroup(desk, QStringLiteral("Ops"));
            testsupport::addGroup(desk, QStringLiteral("Zeta"));
        });
        const QString path = file(QStringLiteral("Ops.GRP"));
        QVERIFY(compose::writeMemberFile(path, { QStringLiteral("Ann") }).isEmpty());
        QString asked;
        answerNextBox(QMessageBox::Cancel, &asked);
        form_->DeleteGroupBtn->click();
        QCOMPARE(groupNames(main_->desk()), QStringList({ "Ops", "Zeta" }));
        QVERIFY(QFile::exists(path));
        // The walk above left the handle on its last record; the window deletes the current one.
        QVERIFY(main_->desk().GroupsT().locate(QStringLiteral("GROUP"), QStringLiteral("Ops")));
        answerNextBox(QMessageBox::Yes, &asked);
        form_->DeleteGroupBtn->click();
        QCOMPARE(groupNames(main_->desk()), QStringList { "Zeta" });
        QVERIFY(!QFile::exists(path));
    }

    void followsTheCurrentGroupFromElsewhere()
    {
        open([](core::Desk& desk) {
            addUser(desk, QStringLiteral("Ann"), QStringLiteral("A"), QStringLiteral("1"));
            addUser(desk, QStringLiteral("Bob"), QStringLiteral("A"), QStringLiteral("2"));
            testsupport::addGroup(desk, QStringLiteral("Ops"));
            testsupport::addGroup(desk, QStringLiteral("Zeta"));
        });
        QVERIFY(compose::writeMemberFile(file(QStringLiteral("Zeta.GRP")), { QStringLiteral("Bob") }).isEmpty());
        QVERIFY(main_->desk().GroupsT().locate(QStringLiteral("GROUP"), QStringLiteral("Ops")));
        QTRY_COMPARE(texts(form_->MemberList), QStringList());
        QVERIFY(main_->desk().GroupsT().locate(QStringLiteral("GROUP"), QStringLiteral("Zeta")));
        QTRY_COMPARE(texts(form_->MemberList), QStringList { "Bob" });
        QCOMPARE(texts(form_->UsersList), QStringList { "Ann" });
        QCOMPARE(form_->GroupName->currentRow(), 1);
        QVERIFY(main_->desk().GroupsT().locate(QStringLiteral("GROUP"), QStringLiteral("Ops")));
        QTRY_COMPARE(texts(form_->MemberList), QStringList());
        // The recipient list's walk over every group reloads the lists once, for the group it
        // ends on.
        main_->ReadUsersList();
        QTRY_COMPARE(texts(form_->MemberList), QStringList { "Bob" });
    }

    void closingRebuildsTheRecipientList()
    {
        open([](core::Desk&) {});
        addGroup(QStringLiteral("night shift"));
        QVERIFY(!testsupport::recipientRow(main_->recipientList, QStringLiteral("Group: Night Shift")).isValid());
        form_->ExitBtn->click();
        QVERIFY(!form_->isVisible());
        QCOMPARE(testsupport::itemsInList(main_->recipientList).count(QStringLiteral("Group: Night Shift")), 1);
    }

    // Renamed in the grid's own cell editor, then closed by the menu's Exit (Alt+X), which posts
    // nothing: the close's refresh writes the name, with its capital initials.
    void menuExitOwnsAltXAndTheRenameGetsCapitals()
    {
        open([](core::Desk& desk) { testsupport::addGroup(desk, QStringLiteral("Ops")); });
        QCOMPARE(form_->ExitBtn->text(), QStringLiteral("E&xit"));
        form_->GroupName->setFocus();
        form_->GroupName->setCurrentCell(0, 0);
        QTest::keyClick(form_->GroupName, Qt::Key_F2);
        QWidget* editor = QApplication::focusWidget();
        QVERIFY(form_->GroupName->isAncestorOf(editor));
        QTest::keyClick(editor, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(editor, QStringLiteral("day crew"));
        QTest::keyClick(editor, Qt::Key_Return);
        // The view commits the editor once the key has been handled.
        QTRY_COMPARE(main_->desk().GroupsT().state(), store::Table::State::Edit);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_X, Qt::AltModifier);
        QVERIFY(!form_->isVisible());
        QCOMPARE(groupNames(main_->desk()), QStringList { "Day Crew" });
    }

    void listsAndFileInAlphabeticalOrder()
    {
        open([](core::Desk& desk) {
            for (const char* name : { "bob", "Zed", "alice", "Carol" })
                addUser(desk, QString::fromLatin1(name), QStringLiteral("A"), QStringLiteral("1"));
            testsupport::addGroup(desk, QStringLiteral("Ops"));
        });
        QVERIFY(
            compose::writeMemberFile(file(QStringLiteral("Ops.GRP")), { QStringLiteral("bob") }).isEmpty());
        form_->ReadUsersList();
        QCOMPARE(texts(form_->UsersList), QStringList({ "alice", "Carol", "Zed" }));
        choose(form_->UsersList, QStringLiteral("Zed"));
        form_->AddMemberBtn->click();
        choose(form_->UsersList, QStringLiteral("alice"));
        form_->AddMemberBtn->click();
        QCOMPARE(texts(form_->MemberList), QStringList({ "alice", "bob", "Zed" }));
        QCOMPARE(
            testsupport::fileBytes(file(QStringLiteral("Ops.GRP"))), QByteArray("alice\r\nbob\r\nZed\r\n"));
        choose(form_->MemberList, QStringLiteral("bob"));
        form_->DeleteMemberBtn->click();
        QCOMPARE(texts(form_->UsersList), QStringList({ "bob", "Carol" }));
    }

    // Tab leaves the grid; tabbing back into it loads the lists afresh.
    void tabIntoTheGridLoadsTheLists()
    {
        open([](core::Desk& desk) {
            addUser(desk, QStringLiteral("Ann"), QStringLiteral("A"), QStringLiteral("1"));
            addUser(desk, QStringLiteral("Bob"), QStringLiteral("A"), QStringLiteral("2"));
            testsupport::addGroup(desk, QStringLiteral("Ops"));
            testsupport::addGroup(desk, QStringLiteral("Zeta"));
        });
        form_->GroupName->setFocus();
        form_->GroupName->setCurrentCell(0, 0);
        QTest::keyClick(form_->GroupName, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), form_->UsersList);
        QCOMPARE(form_->GroupName->currentRow(), 0);
        QCOMPARE(main_->desk().GroupsT().fieldText(QStringLiteral("GROUP")), QStringLiteral("Ops"));
        QCOMPARE(texts(form_->MemberList), QStringList());
        QVERIFY(
            compose::writeMemberFile(file(QStringLiteral("Ops.GRP")), { QStringLiteral("Ann") }).isEmpty());
        QTest::keyClick(form_->UsersList, Qt::Key_Backtab);
        QCOMPARE(QApplication::focusWidget(), form_->GroupName);
        QCOMPARE(texts(form_->MemberList), QStringList { "Ann" });
        QCOMPARE(texts(form_->UsersList), QStringList { "Bob" });
    }

    // 1,000 members among 10,000 users: every name is listed.
    void largeGroupListsEveryName()
    {
        QStringList members;
        {
            core::Desk desk(dir_->path());
            QCOMPARE(desk.open(), QString());
            for (int i = 0; i < 10000; ++i) {
                const QString name = QStringLiteral("User %1").arg(i, 5, 10, QLatin1Char('0'));
                addUser(desk, name, QStringLiteral("A"), QString::number(i));
                if (i % 10 == 0)
                    members << name;
            }
            testsupport::addGroup(desk, QStringLiteral("All"));
        }
        QVERIFY(compose::writeMemberFile(file(QStringLiteral("All.GRP")), members).isEmpty());
        main_ = std::make_unique<TMainForm>(dir_->path());
        form_ = CreateGroupsForm(*main_);
        // Its time is measured by bench/directory_bench.
        main_->GroupsMenu->trigger();
        QTRY_COMPARE(form_->MemberList->count(), 1000);
        QCOMPARE(form_->UsersList->count(), 9000);
    }
};

QTEST_MAIN(tst_GroupsForm)
#include "tst_groupsform.moc"
