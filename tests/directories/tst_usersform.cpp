#include "app/mainform.h"
#include "app/usersetup.h"
#include "core/desk.h"
#include "directories/usersform.h"
#include "models/tablemodel.h"
#include "support/boxanswerer.h"
#include "support/datafolder.h"
#include "support/recipientview.h"
#include "support/records.h"
#include "support/typing.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

using directories::TUsersForm;

namespace {

const QStringList kUserFields = { QStringLiteral("USERNAME"), QStringLiteral("PAGER_ID"), QStringLiteral("PAGERCOMP") };

void addRecord(store::Table& t, const QStringList& fields, const QStringList& values)
{
    t.append();
    for (int i = 0; i < fields.size(); ++i)
        t.setFieldText(fields.at(i), values.at(i));
    t.post();
}

QStringList recipients(TMainForm& mainForm)
{
    QStringList names;
    names << testsupport::itemsInList(mainForm.recipientList);
    return names;
}

} // namespace

class tst_UsersForm : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<testsupport::DataFolder> dir_;
    std::unique_ptr<TMainForm> main_;
    TUsersForm* form_ = nullptr;

    store::Table& users() { return main_->desk().BUsersT(); }
    QStringList usersOnDisk()
    {
        return testsupport::onDisk(dir_->path(), QStringLiteral("BUSERS.DBF"), QStringLiteral("USERNAME"), kUserFields);
    }
    // The main window and its Users window over users Ann, Bob and Cy and carriers A and B.
    void openWindow()
    {
        main_ = std::make_unique<TMainForm>(dir_->path());
        addRecord(main_->desk().PagerCompT(), { QStringLiteral("PAGERCOMP"), QStringLiteral("HOST_TEL") },
            { QStringLiteral("B-Net"), QStringLiteral("5550002") });
        addRecord(main_->desk().PagerCompT(), { QStringLiteral("PAGERCOMP"), QStringLiteral("HOST_TEL") },
            { QStringLiteral("A-Tel"), QStringLiteral("5550001") });
        addRecord(users(), kUserFields, { QStringLiteral("Cy"), QStringLiteral("300"), QStringLiteral("B-Net") });
        addRecord(users(), kUserFields, { QStringLiteral("Ann"), QStringLiteral("100"), QStringLiteral("A-Tel") });
        addRecord(users(), kUserFields, { QStringLiteral("Bob"), QStringLiteral("200"), QStringLiteral("Gone") });
        main_->ReadUsersList();
        form_ = CreateUsersForm(*main_);
        main_->show();
        QTRY_COMPARE(QApplication::activeWindow(), main_.get());
        main_->UsersMenu->trigger();
        QTRY_COMPARE(QApplication::activeWindow(), form_);
    }
    QStringList listed() const
    {
        QStringList names;
        for (int r = 0; r < form_->UsersModel->rowCount(); ++r)
            names << form_->UsersModel->index(r, 0).data().toString();
        return names;
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
        main_.reset();
        form_ = nullptr;
        dir_.reset();
    }

    void opensOneWindowBesideTheMainWindow();
    void activationShowsTheFirstUserWithItsFields();
    void listAndButtonsMoveTheSharedHandle();
    void addedUserIsWrittenAndListedForRecipients();
    void exitAfterPagerIdChangeKeepsTheChange();
    void renamedUserMovesToItsPlace();
    void cancelDropsTheNewRecord();
    void duplicateNameIsStoredButNotListed();
    void deleteQuestions_data();
    void deleteQuestions();
    void deleteOnEmptyTableShowsTheStoreError();
    void enterMovesToTheNextField();
    void typedUserKeepsEveryField();
    void nameInTheOpenEditorIsKept_data();
    void nameInTheOpenEditorIsKept();
    void tabLeavesTheList();
    void tenThousandUsersWork();
};

void tst_UsersForm::opensOneWindowBesideTheMainWindow()
{
    openWindow();
    QVERIFY(main_->UsersMenu->isEnabled());
    QCOMPARE(form_->windowTitle(), QStringLiteral("Pager Users"));
    QVERIFY(form_->isWindow());
    QVERIFY(!form_->isModal());
    QCOMPARE(form_->UsersModel->headerData(0, Qt::Horizontal).toString(), QStringLiteral("User Name"));
    QCOMPARE(form_->HelpMenu->text(), QStringLiteral("&Help"));
    QCOMPARE(form_->ExitMenu->text(), QStringLiteral("E&xit"));
    QCOMPARE(form_->SaveKey->shortcut(), QKeySequence(QStringLiteral("Alt+S")));
    QCOMPARE(form_->AddKey->shortcut(), QKeySequence(QStringLiteral("Alt+A")));
    QCOMPARE(form_->DeleteKey->shortcut(), QKeySequence(QStringLiteral("Alt+D")));
    QCOMPARE(form_->CancelKey->shortcut(), QKeySequence(QStringLiteral("Alt+C")));
    QCOMPARE(form_->PagerId->maxLength(), 12);
    // Help opens the "Users" topic.
    QSignalSpy help(form_, &directories::DirectoryForm::helpRequested);
    form_->HelpMenu->trigger();
    QCOMPARE(help.size(), 1);
    QCOMPARE(help.at(0).at(0).toString(), QStringLiteral("Users"));

    form_->ExitMenu->trigger();
    QVERIFY(!form_->isVisible());
    main_->UsersMenu->trigger();
    QTRY_VERIFY(form_->isVisible());
    QCOMPARE(main_->findChildren<TUsersForm*>().size(), 1);
}

void tst_UsersForm::activationShowsTheFirstUserWithItsFields()
{
    openWindow();
    QCOMPARE(listed(), (QStringList { "Ann", "Bob", "Cy" }));
    QCOMPARE(users().fieldText("USERNAME"), QStringLiteral("Ann"));
    QCOMPARE(form_->UsersModel->currentRow(), 0);
    QCOMPARE(form_->UsersList->currentIndex().row(), 0);
    QTRY_COMPARE(QApplication::focusWidget(), form_->UsersList);
    QCOMPARE(form_->PagerId->text(), QStringLiteral("100"));
    QCOMPARE(form_->PagerComp->currentText(), QStringLiteral("A-Tel"));
    // Every carrier in PAGERCOMP order.
    QCOMPARE(form_->PagerComp->count(), 2);
    QCOMPARE(form_->PagerComp->itemText(0), QStringLiteral("A-Tel"));
    QCOMPARE(form_->PagerComp->itemText(1), QStringLiteral("B-Net"));
    if (const QString shots = qEnvironmentVariable("PLIMO_SCREENSHOTS"); !shots.isEmpty())
        form_->grab().save(shots + QStringLiteral("/users.png"));

    // Moved away, the next activation goes back to the first user.
    users().last();
    form_->hide();
    main_->activateWindow();
    QTRY_COMPARE(QApplication::activeWindow(), main_.get());
    main_->UsersMenu->trigger();
    QTRY_COMPARE(QApplication::activeWindow(), form_);
    QTRY_COMPARE(users().fieldText("USERNAME"), QStringLiteral("Ann"));
}

void tst_UsersForm::listAndButtonsMoveTheSharedHandle()
{
    openWindow();
    form_->UsersList->setCurrentIndex(form_->UsersModel->index(2, 0));
    QCOMPARE(users().fieldText("USERNAME"), QStringLiteral("Cy"));
    QCOMPARE(form_->PagerId->text(), QStringLiteral("300"));
    form_->PriorBtn->click();
    QCOMPARE(users().fieldText("USERNAME"), QStringLiteral("Bob"));
    QCOMPARE(form_->UsersList->currentIndex().row(), 1);
    // A carrier that names no listed carrier shows an empty value, and stays as it is.
    QCOMPARE(form_->PagerComp->currentIndex(), -1);
    QCOMPARE(users().fieldText("PAGERCOMP"), QStringLiteral("Gone"));
    form_->FirstBtn->click();
    QCOMPARE(form_->UsersModel->currentRow(), 0);
    form_->LastBtn->click();
    QCOMPARE(form_->UsersModel->currentRow(), 2);
    form_->NextBtn->click();
    QCOMPARE(users().fieldText("USERNAME"), QStringLiteral("Cy"));
    // The row marker follows the current record.
    QVERIFY(!form_->UsersModel->headerData(2, Qt::Vertical).toString().isEmpty());
    QVERIFY(form_->UsersModel->headerData(0, Qt::Vertical).toString().isEmpty());
}

void tst_UsersForm::addedUserIsWrittenAndListedForRecipients()
{
    openWindow();
    form_->AddBtn->click();
    QCOMPARE(users().state(), store::Table::State::Insert);
    QCOMPARE(QApplication::focusWidget(), form_->UsersList);
    const int row = form_->UsersModel->rowCount() - 1;
    QCOMPARE(form_->UsersModel->currentRow(), row);
    QVERIFY(form_->UsersModel->setData(form_->UsersModel->index(row, 0), QStringLiteral("Dee")));
    form_->PagerId->setFocus();
    QTest::keyClicks(form_->PagerId, QStringLiteral("4445556667778")); // 13 typed, 12 kept
    form_->PagerComp->setFocus();
    QTest::keyClick(form_->PagerComp, Qt::Key_Down); // the first carrier
    QCOMPARE(users().fieldText("PAGERCOMP"), QStringLiteral("A-Tel"));
    QVERIFY(!recipients(*main_).contains(QStringLiteral("Dee")));

    form_->ExitBtn->click();
    QVERIFY(!form_->isVisible());
    QVERIFY(recipients(*main_).contains(QStringLiteral("Dee")));
    QCOMPARE(usersOnDisk(), (QStringList { "Ann|100|A-Tel", "Bob|200|Gone", "Cy|300|B-Net", "Dee|444555666777|A-Tel" }));
}

void tst_UsersForm::exitAfterPagerIdChangeKeepsTheChange()
{
    openWindow();
    form_->PagerId->selectAll();
    QTest::keyClicks(form_->PagerId, QStringLiteral("999"));
    QCOMPARE(users().state(), store::Table::State::Edit);
    form_->ExitMenu->trigger();
    QCOMPARE(users().state(), store::Table::State::Browse);
    QCOMPARE(usersOnDisk().first(), QStringLiteral("Ann|999|A-Tel"));

    // Save (Alt+S) posts and closes.
    main_->UsersMenu->trigger();
    QTRY_COMPARE(QApplication::activeWindow(), form_);
    form_->PagerComp->setCurrentIndex(1);
    emit form_->PagerComp->activated(1);
    QTest::keyClick(form_, Qt::Key_S, Qt::AltModifier);
    QVERIFY(!form_->isVisible());
    QCOMPARE(usersOnDisk().first(), QStringLiteral("Ann|999|B-Net"));
}

void tst_UsersForm::renamedUserMovesToItsPlace()
{
    openWindow();
    QVERIFY(form_->UsersModel->setData(form_->UsersModel->index(0, 0), QStringLiteral("Zed")));
    QCOMPARE(listed().first(), QStringLiteral("Zed")); // shown as typed until posted
    form_->PostBtn->click();
    QCOMPARE(listed(), (QStringList { "Bob", "Cy", "Zed" }));
    QCOMPARE(form_->UsersModel->currentRow(), 2);
    QCOMPARE(usersOnDisk().last(), QStringLiteral("Zed|100|A-Tel"));
}

void tst_UsersForm::cancelDropsTheNewRecord()
{
    openWindow();
    QTest::keyClick(form_, Qt::Key_A, Qt::AltModifier);
    QCOMPARE(users().state(), store::Table::State::Insert);
    QCOMPARE(form_->UsersModel->rowCount(), 4);
    QVERIFY(form_->UsersModel->setData(form_->UsersModel->index(3, 0), QStringLiteral("Eve")));
    QTest::keyClick(form_, Qt::Key_C, Qt::AltModifier);
    QCOMPARE(users().state(), store::Table::State::Browse);
    QCOMPARE(form_->UsersModel->rowCount(), 3);
    // And the Cancel button drops a pending change.
    form_->PagerId->selectAll();
    QTest::keyClicks(form_->PagerId, QStringLiteral("1"));
    form_->CancelBtn->click();
    QCOMPARE(form_->PagerId->text(), QStringLiteral("100"));
    form_->close();
    QCOMPARE(usersOnDisk(), (QStringList { "Ann|100|A-Tel", "Bob|200|Gone", "Cy|300|B-Net" }));
}

void tst_UsersForm::duplicateNameIsStoredButNotListed()
{
    openWindow();
    form_->AddKey->trigger();
    QVERIFY(form_->UsersModel->setData(form_->UsersModel->index(3, 0), QStringLiteral("Bob")));
    form_->PostBtn->click();
    QCOMPARE(listed(), (QStringList { "Ann", "Bob", "Cy" }));
    form_->close();
    QCOMPARE(recipients(*main_).count(QStringLiteral("Bob")), 1);
    // Both are on disk, in record order.
    QCOMPARE(testsupport::onDisk(dir_->path(), "BUSERS.DBF", QString(), { "USERNAME" }).count(QStringLiteral("Bob")), 2);
}

void tst_UsersForm::deleteQuestions_data()
{
    QTest::addColumn<bool>("byKey");
    QTest::addColumn<int>("answer");
    QTest::addColumn<QString>("question");
    QTest::addColumn<int>("offered");
    QTest::addColumn<bool>("deletes");
    const int yesCancel = int(QMessageBox::Yes | QMessageBox::Cancel);
    const int okCancel = int(QMessageBox::Ok | QMessageBox::Cancel);
    QTest::newRow("Alt+D, Yes") << true << int(QMessageBox::Yes) << "Delete Record?" << yesCancel << true;
    QTest::newRow("Alt+D, Cancel") << true << int(QMessageBox::Cancel) << "Delete Record?" << yesCancel << false;
    QTest::newRow("Del button, OK") << false << int(QMessageBox::Ok) << "Delete record?" << okCancel << true;
    QTest::newRow("Del button, Cancel") << false << int(QMessageBox::Cancel) << "Delete record?" << okCancel << false;
}

void tst_UsersForm::deleteQuestions()
{
    QFETCH(bool, byKey);
    QFETCH(int, answer);
    QFETCH(QString, question);
    QFETCH(int, offered);
    QFETCH(bool, deletes);
    openWindow();
    form_->NextBtn->click(); // Bob
    QString text;
    QMessageBox::StandardButtons buttons;
    testsupport::answerNextBox(QMessageBox::StandardButton(answer), &text, &buttons);
    if (byKey)
        QTest::keyClick(form_, Qt::Key_D, Qt::AltModifier);
    else
        form_->DelBtn->click();
    QCOMPARE(text, question);
    QCOMPARE(int(buttons), offered);
    const QStringList expected = deletes ? QStringList { "Ann|100|A-Tel", "Cy|300|B-Net" }
                                         : QStringList { "Ann|100|A-Tel", "Bob|200|Gone", "Cy|300|B-Net" };
    QCOMPARE(usersOnDisk(), expected);
    QCOMPARE(listed().size(), expected.size());
    // Answering the box is no activation: the window stays where it was.
    QTest::qWait(50);
    QCOMPARE(users().fieldText("USERNAME"), deletes ? QStringLiteral("Cy") : QStringLiteral("Bob"));
}

void tst_UsersForm::deleteOnEmptyTableShowsTheStoreError()
{
    main_ = std::make_unique<TMainForm>(dir_->path());
    form_ = CreateUsersForm(*main_);
    QSignalSpy errors(form_, &directories::DirectoryForm::errorReported);
    form_->PostBtn->click(); // nothing pending: nothing happens
    QCOMPARE(errors.size(), 0);
    // The question, then the error box.
    QStringList texts;
    testsupport::answerBoxes({ QMessageBox::Yes, QMessageBox::Ok }, &texts);
    form_->DeleteKey->trigger();
    QCOMPARE(errors.size(), 1);
    QCOMPARE(texts.size(), 2);
    QCOMPARE(texts.at(0), QStringLiteral("Delete Record?"));
    QVERIFY2(errors.at(0).at(0).toString().contains(QStringLiteral("empty dataset")),
        qPrintable(errors.at(0).at(0).toString()));
}

// A new user typed as an operator types it, from the pager ID field: Alt+A goes to the new
// record's name, Enter writes each entry and moves on, a letter picks the carrier.
void tst_UsersForm::typedUserKeepsEveryField()
{
    openWindow();
    form_->PagerId->setFocus();
    testsupport::typeSteps({ "Alt+A", "Dana Smith", "Enter", "555 0199", "Enter", "B", "Alt+S" });
    QVERIFY(!form_->isVisible());
    QCOMPARE(usersOnDisk(),
        (QStringList { "Ann|100|A-Tel", "Bob|200|Gone", "Cy|300|B-Net", "Dana Smith|555 0199|B-Net" }));
}

void tst_UsersForm::enterMovesToTheNextField()
{
    openWindow();
    form_->UsersList->setFocus();
    QTest::keyClick(form_->UsersList, Qt::Key_Return);
    QCOMPARE(QApplication::focusWidget(), form_->PagerId);
    QTest::keyClick(form_->PagerId, Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(QApplication::focusWidget(), form_->PagerComp);
}

void tst_UsersForm::tenThousandUsersWork()
{
    {
        // Written by a handle of their own before the program starts, as an existing directory.
        TMainForm seed(dir_->path());
        store::Table& t = seed.desk().BUsersT();
        for (int i = 0; i < 10000; ++i)
            addRecord(t, kUserFields,
                { QStringLiteral("User %1").arg(i, 5, 10, QLatin1Char('0')), QString::number(i), QStringLiteral("A-Tel") });
    }
    // The times of these steps are figures of bench/directory_bench; here they must work at size.
    main_ = std::make_unique<TMainForm>(dir_->path());
    form_ = CreateUsersForm(*main_);
    main_->show();
    QTRY_COMPARE(QApplication::activeWindow(), main_.get());
    main_->RefreshUsersList();
    QCOMPARE(main_->recipientList->model()->rowCount(), 10000);
    main_->UsersMenu->trigger();
    QTRY_COMPARE(QApplication::activeWindow(), form_);
    QCOMPARE(form_->UsersModel->rowCount(), 10000);
    form_->UsersList->setCurrentIndex(form_->UsersModel->index(9999, 0));
    QCOMPARE(users().fieldText("USERNAME"), QStringLiteral("User 09999"));
    form_->UsersList->setCurrentIndex(form_->UsersModel->index(5000, 0));
    QCOMPARE(users().fieldText("USERNAME"), QStringLiteral("User 05000"));
}

void tst_UsersForm::nameInTheOpenEditorIsKept_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("kept");
    QTest::newRow("Alt+S saves") << int(Qt::Key_S) << true;
    QTest::newRow("Alt+X exits") << int(Qt::Key_X) << true;
    QTest::newRow("Alt+C cancels") << int(Qt::Key_C) << false;
}

void tst_UsersForm::nameInTheOpenEditorIsKept()
{
    QFETCH(int, key);
    QFETCH(bool, kept);
    openWindow();
    QCOMPARE(QApplication::focusWidget(), form_->UsersList);
    QTest::keyClick(form_->UsersList, Qt::Key_A, Qt::AltModifier);
    QCOMPARE(users().state(), store::Table::State::Insert);
    // The first key opens the list's cell editor on the new row; the rest go to the editor.
    QTest::keyClick(form_->UsersList, 'D');
    QWidget* editor = QApplication::focusWidget();
    QVERIFY(editor != form_->UsersList && form_->UsersList->isAncestorOf(editor));
    QTest::keyClicks(editor, QStringLiteral("ee"));
    QTest::keyClick(editor, Qt::Key(key), Qt::AltModifier);
    if (kept) {
        QVERIFY(!form_->isVisible());
        QCOMPARE(usersOnDisk(), (QStringList { "Ann|100|A-Tel", "Bob|200|Gone", "Cy|300|B-Net", "Dee||" }));
        QVERIFY(recipients(*main_).contains(QStringLiteral("Dee")));
        return;
    }
    // Cancel drops the typed name with the new record; nothing of it reaches the file later.
    QCOMPARE(users().state(), store::Table::State::Browse);
    QCOMPARE(form_->UsersList->indexWidget(form_->UsersList->currentIndex()), nullptr);
    form_->ExitMenu->trigger();
    QCOMPARE(usersOnDisk(), (QStringList { "Ann|100|A-Tel", "Bob|200|Gone", "Cy|300|B-Net" }));
}

void tst_UsersForm::tabLeavesTheList()
{
    openWindow();
    QCOMPARE(QApplication::focusWidget(), form_->UsersList);
    QTest::keyClick(form_->UsersList, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), form_->PagerId);
    QCOMPARE(users().fieldText("USERNAME"), QStringLiteral("Ann"));
}

QTEST_MAIN(tst_UsersForm)
#include "tst_usersform.moc"
