#include "app/mainform.h"
#include "app/usersetup.h"
#include "core/carrierpaths.h"
#include "core/desk.h"
#include "directories/celldelegate.h"
#include "directories/pagercompform.h"
#include "models/tablemodel.h"
#include "support/boxanswerer.h"
#include "support/datafolder.h"
#include "support/records.h"
#include "support/typing.h"
#include "tests/paging/pagersimprocess.h"

#include <QAction>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

using directories::TPagerCompForm;

namespace {
const QStringList kCarrierFields = { "PAGERCOMP", "HOST_TEL", "HOST_SPEED", "HOST_CHARS", "HOST_PASSW" };
}

class tst_PagerCompForm : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<testsupport::DataFolder> dir_;
    std::unique_ptr<TMainForm> main_;
    TPagerCompForm* form_ = nullptr;

    store::Table& carriers() { return main_->desk().PagerCompT(); }
    QStringList onDisk()
    {
        return testsupport::onDisk(dir_->path(), "PAGECOMP.DBF", "PAGERCOMP", kCarrierFields);
    }
    void add(const QString& name, const QString& tel)
    {
        carriers().append();
        carriers().setFieldText("PAGERCOMP", name);
        carriers().setFieldText("HOST_TEL", tel);
        carriers().setFieldInt("HOST_CHARS", 80);
        carriers().post();
    }
    QStringList pathsOnDisk()
    {
        return testsupport::onDisk(dir_->path(), "CARRPATH.DBF", "BY_CARRIER", { "PAGERCOMP", "PATHNO" });
    }
    // Paths of Acme (two, one off), of Metro (which two carrier records share) and of a carrier
    // that does not exist.
    void addPaths()
    {
        store::Table& paths = main_->desk().CarrPathT();
        const char* rows[][6] = { { "Acme", "02", "SNPP", "snpp.acme.test:444", "T", "0" },
            { "Metro", "01", "WCTP", "https://metro.test/wctp", "T", "160" },
            { "Acme", "01", "TAPIP", "tap.acme.test:1000", "T", "80" },
            { "Acme", "03", "MODEM", "5550001", "F", "0" }, { "Orphan", "01", "SNPP", "o.test:444", "T", "0" } };
        for (const auto& row : rows) {
            paths.append();
            paths.setFieldText("PAGERCOMP", row[0]);
            paths.setFieldText("PATHNO", row[1]);
            paths.setFieldText("METHOD", row[2]);
            paths.setFieldText("ADDRESS", row[3]);
            paths.setFieldText("LOGIN", QStringLiteral("user%1").arg(row[1]));
            paths.setFieldText("PASSWORD", QStringLiteral("pw%1").arg(row[1]));
            paths.setFieldText("ENABLED", row[4]);
            paths.setFieldText("MAXCHARS", row[5]);
            paths.post();
        }
    }
    QStringList pathFieldsOnDisk()
    {
        return testsupport::onDisk(dir_->path(), "CARRPATH.DBF", "BY_CARRIER",
            { "PAGERCOMP", "PATHNO", "METHOD", "ADDRESS", "LOGIN", "PASSWORD", "MAXCHARS", "ENABLED" });
    }
    QString pathCell(int row, int column) const
    {
        return form_->PathsModel->index(row, column).data().toString();
    }
    // Types `text` into the paths grid's cell as an operator does: the first key opens the grid's own
    // cell editor, Enter writes the value.
    void typeIntoPath(int column, const QString& text)
    {
        QTableView* grid = form_->PathsList;
        grid->setFocus();
        grid->setCurrentIndex(form_->PathsModel->index(form_->PathsModel->currentRow(), column));
        QTest::keyClick(grid, text.at(0).toLatin1());
        QWidget* editor = QApplication::focusWidget();
        QVERIFY(grid->isAncestorOf(editor));
        QTest::keyClicks(editor, text.mid(1));
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_COMPARE(main_->desk().CarrPathT().state(), store::Table::State::Browse);
    }
    void tickPath(int row)
    {
        form_->PathsList->setFocus();
        form_->PathsList->setCurrentIndex(form_->PathsModel->index(row, TPagerCompForm::EnabledColumn));
        QTest::keyClick(form_->PathsList, Qt::Key_Space);
        QTRY_COMPARE(main_->desk().CarrPathT().state(), store::Table::State::Browse);
    }
    // One SNPP path of Acme to the simulator.
    void addSimPath(const PagerSimProcess& sim)
    {
        store::Table& paths = main_->desk().CarrPathT();
        paths.append();
        paths.setFieldText("PAGERCOMP", "Acme");
        paths.setFieldText("PATHNO", "01");
        paths.setFieldText("METHOD", "SNPP");
        paths.setFieldText("ADDRESS", sim.snpp());
        paths.setFieldText("LOGIN", "desk");
        paths.setFieldText("PASSWORD", "secret");
        paths.setFieldBool("ENABLED", true);
        paths.post();
    }

    void openWindow()
    {
        main_ = std::make_unique<TMainForm>(dir_->path());
        add("Metro", "5550002");
        add("Acme", "5550001");
        add("Metro", "5550003");
        form_ = CreatePagerCompForm(*main_);
        main_->show();
        QTRY_COMPARE(QApplication::activeWindow(), main_.get());
        main_->CarriersMenu->trigger();
        QTRY_COMPARE(QApplication::activeWindow(), form_);
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

    void opensWithEveryCarrierInNameOrder();
    void addedCarrierIsWrittenOnSave();
    void exitLeavesTheChangePending();
    void deleteKeepsTheUsersCarrierName();
    void enterMovesToTheNextField();
    void typedCarrierKeepsEveryField();
    void oneSaveAnswersAltS();
    void tabGoesCellToCellInThePaths();
    void refusedPageSizeKeepsTheCell_data();
    void refusedPageSizeKeepsTheCell();
    void tabLeavesTheGrid();
    void pathsFollowTheirCarrier_data();
    void pathsFollowTheirCarrier();
    void enabledPathsInTrialOrder();
    void pathGridFollowsTheCarrier();
    void pathsTypedInTheGrid();
    void testShowsTheServersAnswer();
    void aTestEndsWithTheWindow();
};

void tst_PagerCompForm::opensWithEveryCarrierInNameOrder()
{
    openWindow();
    QVERIFY(main_->CarriersMenu->isEnabled());
    QCOMPARE(form_->windowTitle(), QStringLiteral("Paging Carriers Information"));
    QVERIFY(!form_->isModal());
    QCOMPARE(form_->CarriersModel->columnCount(), 5);
    // Headed in the words of the fields' labels; each column still names its field.
    const QStringList headings
        = { "Paging Carrier Name", "Host Tel. Number", "Host Speed", "Max # characters", "Password" };
    for (int c = 0; c < 5; ++c) {
        QCOMPARE(form_->CarriersModel->headerData(c, Qt::Horizontal).toString(), headings.at(c));
        QCOMPARE(
            form_->CarriersModel->headerData(c, Qt::Horizontal, models::TableModel::FieldNameRole).toString(),
            kCarrierFields.at(c));
    }
    // Two carriers of one name are both listed.
    QCOMPARE(form_->CarriersModel->rowCount(), 3);
    QCOMPARE(form_->CarriersModel->index(0, 0).data().toString(), QStringLiteral("Acme"));
    QCOMPARE(form_->CarriersModel->index(1, 0).data().toString(), QStringLiteral("Metro"));
    QCOMPARE(form_->CarriersModel->index(2, 0).data().toString(), QStringLiteral("Metro"));
    QCOMPARE(carriers().fieldText("PAGERCOMP"), QStringLiteral("Acme"));
    QCOMPARE(form_->HostTel->text(), QStringLiteral("5550001"));
    QCOMPARE(form_->HostChars->text(), QStringLiteral("80"));
    QCOMPARE(form_->HostTel->maxLength(), 14);
    QCOMPARE(form_->HostSpeed->maxLength(), 5);
    QCOMPARE(form_->HostPassw->maxLength(), 10);
    // The terminal's password shows as dots, in its field and in the grid, whose cell editor takes
    // it unseen.
    QCOMPARE(form_->HostPassw->echoMode(), QLineEdit::PasswordEchoOnEdit);
    auto* delegate = qobject_cast<directories::CellDelegate*>(form_->CarriersList->itemDelegate());
    QVERIFY(delegate);
    QCOMPARE(form_->CarriersModel
                 ->headerData(delegate->secretColumn(), Qt::Horizontal, models::TableModel::FieldNameRole)
                 .toString(),
        QStringLiteral("HOST_PASSW"));
    form_->CarriersList->setFocus();
    form_->CarriersList->setCurrentIndex(form_->CarriersModel->index(0, delegate->secretColumn()));
    QTest::keyClick(form_->CarriersList, Qt::Key_F2);
    auto* secret = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    QVERIFY(secret && form_->CarriersList->isAncestorOf(secret));
    QCOMPARE(secret->echoMode(), QLineEdit::Password);
    QTest::keyClick(secret, Qt::Key_Escape);
    if (const QString shots = qEnvironmentVariable("PLIMO_SCREENSHOTS"); !shots.isEmpty())
        form_->grab().save(shots + QStringLiteral("/carriers.png"));
    // The page size takes digits only.
    form_->HostChars->clear();
    QTest::keyClicks(form_->HostChars, QStringLiteral("1x2"));
    QCOMPARE(form_->HostChars->text(), QStringLiteral("12"));
    QSignalSpy help(form_, &directories::DirectoryForm::helpRequested);
    form_->HelpMenu->trigger();
    QCOMPARE(help.at(0).at(0).toString(), QStringLiteral("PagerCompany"));
    // Selecting the third row makes the second Metro current.
    form_->CarriersList->setCurrentIndex(form_->CarriersModel->index(2, 0));
    QCOMPARE(carriers().fieldText("HOST_TEL"), QStringLiteral("5550003"));
}

void tst_PagerCompForm::addedCarrierIsWrittenOnSave()
{
    openWindow();
    form_->AddBtn->click();
    QCOMPARE(QApplication::focusWidget(), form_->CarriersList);
    QVERIFY(form_->CarriersModel->setData(form_->CarriersModel->index(3, 0), QStringLiteral("numeric")));
    QTest::keyClicks(form_->HostTel, QStringLiteral("5551212"));
    QTest::keyClicks(form_->HostSpeed, QStringLiteral("1200"));
    QTest::keyClicks(form_->HostChars, QStringLiteral("240"));
    // The window shows the record again between keys, as it does for an operator's typing: a
    // blank typed last stays.
    QTest::keyClicks(form_->HostPassw, QStringLiteral("pass "));
    QTest::qWait(20);
    QTest::keyClicks(form_->HostPassw, QStringLiteral("word"));
    QTest::keyClick(form_, Qt::Key_S, Qt::AltModifier);
    QVERIFY(!form_->isVisible());
    QCOMPARE(onDisk(),
        (QStringList { "Acme|5550001||80|", "Metro|5550002||80|", "Metro|5550003||80|",
            "numeric|5551212|1200|240|pass word" }));
}

void tst_PagerCompForm::exitLeavesTheChangePending()
{
    openWindow();
    QTest::keyClicks(form_->HostPassw, QStringLiteral("pw"));
    form_->ExitBtn->click();
    QVERIFY(!form_->isVisible());
    QCOMPARE(carriers().state(), store::Table::State::Edit);
    QCOMPARE(onDisk().first(), QStringLiteral("Acme|5550001||80|"));
    // The next refresh of the handle writes it.
    carriers().refresh();
    QCOMPARE(onDisk().first(), QStringLiteral("Acme|5550001||80|pw"));
}

void tst_PagerCompForm::deleteKeepsTheUsersCarrierName()
{
    openWindow();
    store::Table& users = main_->desk().BUsersT();
    users.append();
    users.setFieldText("USERNAME", "Ann");
    users.setFieldText("PAGERCOMP", "Acme");
    users.post();
    QStringList texts;
    testsupport::answerBoxes({ QMessageBox::Cancel }, &texts);
    form_->DeleteKey->trigger();
    QCOMPARE(texts, QStringList { "Delete Record?" });
    QCOMPARE(onDisk().size(), 3);
    testsupport::answerBoxes({ QMessageBox::Yes }, &texts);
    form_->DeleteKey->trigger();
    QCOMPARE(onDisk().size(), 2);
    QCOMPARE(form_->CarriersModel->rowCount(), 2);
    testsupport::answerBoxes({ QMessageBox::Ok }, &texts);
    form_->DelBtn->click();
    QCOMPARE(texts.last(), QStringLiteral("Delete record?"));
    QCOMPARE(onDisk(), QStringList { "Metro|5550003||80|" });
    QCOMPARE(testsupport::onDisk(dir_->path(), "BUSERS.DBF", "USERNAME", { "USERNAME", "PAGERCOMP" }),
        QStringList { "Ann|Acme" });
}

void tst_PagerCompForm::enterMovesToTheNextField()
{
    openWindow();
    form_->HostTel->setFocus();
    QTest::keyClick(form_->HostTel, Qt::Key_Return);
    QCOMPARE(QApplication::focusWidget(), form_->HostSpeed);
    QTest::keyClick(form_->HostSpeed, Qt::Key_Return);
    QCOMPARE(QApplication::focusWidget(), form_->HostChars);
}

// A new carrier typed as an operator types it, from whichever field had the focus: Alt+A goes to
// the new record's name cell, Enter writes each entry and moves on to the next field.
void tst_PagerCompForm::typedCarrierKeepsEveryField()
{
    openWindow();
    form_->HostPassw->setFocus();
    testsupport::typeSteps({ "Alt+A", "Coast Paging", "Enter", "1-800 555 0101", "Enter", "1200", "Enter",
        "80", "Enter", "pass word", "Alt+S" });
    QVERIFY(!form_->isVisible());
    QCOMPARE(onDisk(),
        (QStringList { "Acme|5550001||80|", "Coast Paging|1-800 555 0101|1200|80|pass word",
            "Metro|5550002||80|", "Metro|5550003||80|" }));
}

// Alt+S belongs to one button: the window's Save; the record row's Save shows no key.
void tst_PagerCompForm::oneSaveAnswersAltS()
{
    openWindow();
    QCOMPARE(QKeySequence::mnemonic(form_->SaveBtn->text()), QKeySequence(Qt::ALT | Qt::Key_S));
    QCOMPARE(QKeySequence::mnemonic(form_->PostBtn->text()), QKeySequence());
}

// In the paths grid Tab goes from cell to cell, writing the cell typed on the way, on to the next
// path, and leaves the grid after its last cell.
void tst_PagerCompForm::tabGoesCellToCellInThePaths()
{
    openWindow();
    addPaths();
    QTRY_COMPARE(form_->PathsModel->rowCount(), 3);
    QTableView* grid = form_->PathsList;
    grid->setFocus();
    grid->setCurrentIndex(form_->PathsModel->index(0, TPagerCompForm::AddressColumn));
    testsupport::typeSteps({ "tap.acme.test:1001", "Tab" });
    QCOMPARE(grid->currentIndex(), form_->PathsModel->index(0, TPagerCompForm::LoginColumn));
    testsupport::typeSteps({ "Tab", "Tab", "Tab" });
    QTRY_COMPARE(grid->currentIndex(), form_->PathsModel->index(1, TPagerCompForm::PathNoColumn));
    QVERIFY(pathFieldsOnDisk().first().startsWith(QStringLiteral("Acme|01|TAPIP|tap.acme.test:1001|")));
    grid->setCurrentIndex(form_->PathsModel->index(2, TPagerCompForm::MaxCharsColumn));
    testsupport::typeSteps({ "Tab" });
    QCOMPARE(QApplication::focusWidget(), form_->AddPathBtn);
}

void tst_PagerCompForm::refusedPageSizeKeepsTheCell_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("message");
    QTest::newRow("a word") << "abc"
                            << "\"abc\" is not a number for field HOST_CHARS";
    QTest::newRow("four digits") << "1000"
                                 << "1000 does not fit field HOST_CHARS (width 3)";
}

void tst_PagerCompForm::refusedPageSizeKeepsTheCell()
{
    QFETCH(QString, typed);
    QFETCH(QString, message);
    openWindow();
    form_->CarriersList->setFocus();
    form_->CarriersList->setCurrentIndex(form_->CarriersModel->index(0, 3));
    // Typing opens the grid's own cell editor; Enter commits it.
    QTest::keyClick(form_->CarriersList, typed.at(0).toLatin1());
    QWidget* editor = QApplication::focusWidget();
    QVERIFY(form_->CarriersList->isAncestorOf(editor));
    QTest::keyClicks(editor, typed.mid(1));
    QString shown;
    testsupport::answerNextBox(QMessageBox::Ok, &shown);
    QTest::keyClick(editor, Qt::Key_Return);
    QTRY_VERIFY(!shown.isEmpty());
    QVERIFY2(shown.contains(message), qPrintable(shown));
    QCOMPARE(form_->CarriersModel->index(0, 3).data().toString(), QStringLiteral("80"));
    QCOMPARE(carriers().state(), store::Table::State::Browse);
    QVERIFY(form_->isVisible());
    QCOMPARE(onDisk().first(), QStringLiteral("Acme|5550001||80|"));
}

void tst_PagerCompForm::tabLeavesTheGrid()
{
    openWindow();
    form_->CarriersList->setFocus();
    form_->CarriersList->setCurrentIndex(form_->CarriersModel->index(0, 4));
    QTest::keyClick(form_->CarriersList, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), form_->HostTel);
    QCOMPARE(carriers().fieldText("HOST_TEL"), QStringLiteral("5550001"));

    // From the open cell editor of the last column, Tab keeps the value and leaves the grid too,
    // rather than going on to the next carrier.
    form_->CarriersList->setFocus();
    QTest::keyClick(form_->CarriersList, 'p');
    QWidget* editor = QApplication::focusWidget();
    QVERIFY(form_->CarriersList->isAncestorOf(editor));
    QTest::keyClicks(editor, QStringLiteral("w"));
    QTest::keyClick(editor, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), form_->HostTel);
    QCOMPARE(carriers().fieldText("PAGERCOMP"), QStringLiteral("Acme"));
    QCOMPARE(carriers().fieldText("HOST_PASSW"), QStringLiteral("pw"));
    QCOMPARE(form_->CarriersModel->currentRow(), 0);
}

// What an operator does to a carrier, and the paths left on disk ("PAGERCOMP|PATHNO").
void tst_PagerCompForm::pathsFollowTheirCarrier_data()
{
    QTest::addColumn<int>("row"); // the carrier's row: 0 Acme, 1 and 2 Metro
    QTest::addColumn<QString>("action");
    QTest::addColumn<QStringList>("paths");
    const QStringList metroAndOrphan { "Metro|01", "Orphan|01" };
    QTest::newRow("Acme renamed in its cell")
        << 0 << "type Zenith" << QStringList { "Metro|01", "Orphan|01", "Zenith|01", "Zenith|02", "Zenith|03" };
    QTest::newRow("Acme renamed, then saved with Save")
        << 0 << "set Acme Co;save" << QStringList { "Acme Co|01", "Acme Co|02", "Acme Co|03", "Metro|01", "Orphan|01" };
    QTest::newRow("Acme renamed, then another carrier chosen")
        << 0 << "set Ace;move" << QStringList { "Ace|01", "Ace|02", "Ace|03", "Metro|01", "Orphan|01" };
    QTest::newRow("Acme renamed, then cancelled")
        << 0 << "set Ace;cancel" << QStringList { "Acme|01", "Acme|02", "Acme|03", "Metro|01", "Orphan|01" };
    QTest::newRow("only the phone number changed")
        << 0 << "phone;save" << QStringList { "Acme|01", "Acme|02", "Acme|03", "Metro|01", "Orphan|01" };
    QTest::newRow("one of two Metros renamed: the other keeps the paths")
        << 1 << "type Metro2" << QStringList { "Acme|01", "Acme|02", "Acme|03", "Metro|01", "Orphan|01" };
    QTest::newRow("Acme deleted") << 0 << "delete" << metroAndOrphan;
    QTest::newRow("Acme deleted with Del") << 0 << "del" << metroAndOrphan;
    QTest::newRow("Acme renamed in its cell, then deleted before saving") << 0 << "set Zed;delete" << metroAndOrphan;
    QTest::newRow("Acme deletion refused")
        << 0 << "refuse" << QStringList { "Acme|01", "Acme|02", "Acme|03", "Metro|01", "Orphan|01" };
    QTest::newRow("one of two Metros deleted: the other keeps the paths")
        << 1 << "delete" << QStringList { "Acme|01", "Acme|02", "Acme|03", "Metro|01", "Orphan|01" };
    QTest::newRow("new carrier named Acme dropped by Delete")
        << 0 << "add Acme;delete" << QStringList { "Acme|01", "Acme|02", "Acme|03", "Metro|01", "Orphan|01" };
    QTest::newRow("both Metros deleted") << 1 << "delete;delete"
                                         << QStringList { "Acme|01", "Acme|02", "Acme|03", "Orphan|01" };
}

void tst_PagerCompForm::pathsFollowTheirCarrier()
{
    QFETCH(int, row);
    QFETCH(QString, action);
    QFETCH(QStringList, paths);
    openWindow();
    addPaths();
    form_->CarriersList->setCurrentIndex(form_->CarriersModel->index(row, 0));
    QStringList texts;
    for (const QString& step : action.split(u';')) {
        const QString verb = step.section(u' ', 0, 0);
        const QString name = step.section(u' ', 1);
        if (verb == u"type") {
            // Typing opens the grid's cell editor on the name; Enter writes it.
            form_->CarriersList->setFocus();
            QTest::keyClick(form_->CarriersList, name.at(0).toLatin1());
            QWidget* editor = QApplication::focusWidget();
            QVERIFY(form_->CarriersList->isAncestorOf(editor));
            QTest::keyClicks(editor, name.mid(1));
            QTest::keyClick(editor, Qt::Key_Return);
            QTRY_COMPARE(carriers().state(), store::Table::State::Browse);
        } else if (verb == u"set") {
            QVERIFY(form_->CarriersModel->setData(
                form_->CarriersModel->index(form_->CarriersModel->currentRow(), 0), name));
        } else if (verb == u"phone") {
            QTest::keyClicks(form_->HostTel, QStringLiteral("9"));
        } else if (verb == u"save") {
            form_->PostBtn->click();
        } else if (verb == u"move") {
            form_->NextBtn->click();
        } else if (verb == u"cancel") {
            form_->CancelBtn->click();
        } else if (verb == u"add") {
            form_->AddBtn->click();
            QVERIFY(form_->CarriersModel->setData(
                form_->CarriersModel->index(form_->CarriersModel->currentRow(), 0), name));
        } else if (verb == u"delete" || verb == u"refuse") {
            testsupport::answerBoxes({ verb == u"delete" ? QMessageBox::Yes : QMessageBox::Cancel }, &texts);
            form_->DeleteKey->trigger();
        } else if (verb == u"del") {
            testsupport::answerBoxes({ QMessageBox::Ok }, &texts);
            form_->DelBtn->click();
        } else {
            QFAIL(qPrintable(step));
        }
    }
    QCOMPARE(carriers().state(), store::Table::State::Browse);
    QCOMPARE(pathsOnDisk(), paths);
}

void tst_PagerCompForm::enabledPathsInTrialOrder()
{
    openWindow();
    addPaths();
    const QList<paging::DeliveryPath> acme = core::enabledPaths(main_->desk(), "Acme");
    QCOMPARE(int(acme.size()), 2); // 03 is off
    QCOMPARE(acme[0].method, QStringLiteral("TAPIP"));
    QCOMPARE(acme[0].address, QStringLiteral("tap.acme.test:1000"));
    QCOMPARE(acme[0].login, QStringLiteral("user01"));
    QCOMPARE(acme[0].password, QStringLiteral("pw01"));
    QCOMPARE(acme[0].maxChars, 80);
    QCOMPARE(acme[1].maxChars, 0);
    // Names compare whole and case-sensitive; a carrier without paths has none.
    QCOMPARE(core::enabledPaths(main_->desk(), "Metro").size(), 1);
    QCOMPARE(core::enabledPaths(main_->desk(), "Metr").size(), 0);
    QCOMPARE(core::enabledPaths(main_->desk(), "acme").size(), 0);
    QCOMPARE(core::enabledPaths(main_->desk(), "Nobody").size(), 0);
    // A path turned off by another program is left out at the next call.
    store::Table other;
    other.setConnection(store::Connection(dir_->path()));
    other.setTableName("CARRPATH.DBF");
    other.open();
    QVERIFY(other.locate("ADDRESS", "tap.acme.test:1000"));
    other.edit();
    other.setFieldBool("ENABLED", false);
    other.post();
    const QList<paging::DeliveryPath> now = core::enabledPaths(main_->desk(), "Acme");
    QCOMPARE(int(now.size()), 1);
    QCOMPARE(now[0].method, QStringLiteral("SNPP"));
}

void tst_PagerCompForm::pathGridFollowsTheCarrier()
{
    openWindow();
    addPaths();
    QTRY_COMPARE(form_->PathsModel->rowCount(), 3);
    QCOMPARE(pathCell(0, TPagerCompForm::MethodColumn), QStringLiteral("TAPIP"));
    QCOMPARE(pathCell(1, TPagerCompForm::AddressColumn), QStringLiteral("snpp.acme.test:444"));
    QCOMPARE(form_->PathsModel->index(2, TPagerCompForm::EnabledColumn).data(Qt::CheckStateRole).toInt(),
        int(Qt::Unchecked));
    form_->NextBtn->click();
    QTRY_COMPARE(form_->PathsModel->rowCount(), 1);
    QCOMPARE(pathCell(0, TPagerCompForm::AddressColumn), QStringLiteral("https://metro.test/wctp"));
    // A new carrier has no paths yet.
    form_->AddBtn->click();
    QTRY_COMPARE(form_->PathsModel->rowCount(), 0);
    form_->CancelBtn->click();
    form_->FirstBtn->click();
    QTRY_COMPARE(form_->PathsModel->rowCount(), 3);
}

// Two paths added and typed in the grid's own cell editors, the second moved up, the first turned
// off, the second deleted: what is left on disk, read back by a handle of its own.
void tst_PagerCompForm::pathsTypedInTheGrid()
{
    openWindow();
    form_->AddPathBtn->click();
    QTRY_COMPARE(form_->PathsModel->rowCount(), 1);
    QCOMPARE(form_->PathsList->currentIndex().column(), int(TPagerCompForm::MethodColumn));
    typeIntoPath(TPagerCompForm::MethodColumn, QStringLiteral("S")); // the method list's SNPP
    // An address without its port is said at once.
    QString said;
    testsupport::answerNextBox(QMessageBox::Ok, &said);
    typeIntoPath(TPagerCompForm::AddressColumn, QStringLiteral("snpp.acme.test"));
    QTRY_VERIFY(!said.isEmpty());
    QVERIFY2(
        said.contains(QStringLiteral("Delivery path 01: bad address \"snpp.acme.test\"")), qPrintable(said));
    QVERIFY2(said.contains(QStringLiteral("host:port")), qPrintable(said));
    form_->activateWindow(); // back from the box (the offscreen platform does not hand it back itself)
    QTRY_COMPARE(QApplication::activeWindow(), form_);
    typeIntoPath(TPagerCompForm::AddressColumn, QStringLiteral("snpp.acme.test:444"));
    typeIntoPath(TPagerCompForm::LoginColumn, QStringLiteral("desk"));
    typeIntoPath(TPagerCompForm::PasswordColumn, QStringLiteral("pw"));
    typeIntoPath(TPagerCompForm::MaxCharsColumn, QStringLiteral("12x0"));
    tickPath(0);
    QVERIFY(
        pathCell(0, TPagerCompForm::PasswordColumn) == QStringLiteral("pw")); // shown as dots, kept as typed

    QTest::keyClick(form_, Qt::Key_P, Qt::AltModifier); // Add path
    QTRY_COMPARE(form_->PathsModel->rowCount(), 2);
    typeIntoPath(TPagerCompForm::MethodColumn, QStringLiteral("T"));
    typeIntoPath(TPagerCompForm::AddressColumn, QStringLiteral("tap.acme.test:1000"));
    tickPath(1);
    QCOMPARE(pathFieldsOnDisk(),
        (QStringList {
            "Acme|01|SNPP|snpp.acme.test:444|desk|pw|120|T", "Acme|02|TAPIP|tap.acme.test:1000|||0|T" }));

    QTRY_VERIFY(form_->MoveUpBtn->isEnabled());
    QTest::keyClick(form_, Qt::Key_U, Qt::AltModifier); // Move up
    QTRY_COMPARE(pathCell(0, TPagerCompForm::MethodColumn), QStringLiteral("TAPIP"));
    QTRY_COMPARE(form_->PathsList->currentIndex().row(), 0); // the moved path stays current
    tickPath(1); // SNPP off
    QCOMPARE(pathFieldsOnDisk(),
        (QStringList {
            "Acme|01|TAPIP|tap.acme.test:1000|||0|T", "Acme|02|SNPP|snpp.acme.test:444|desk|pw|120|F" }));

    QStringList texts;
    testsupport::answerBoxes({ QMessageBox::Yes }, &texts);
    form_->PathsList->setCurrentIndex(form_->PathsModel->index(0, 0));
    QTest::keyClick(form_, Qt::Key_V, Qt::AltModifier); // Remove path
    QTRY_COMPARE(texts, QStringList { "Remove delivery path 01 (TAPIP tap.acme.test:1000)?" });
    QTRY_COMPARE(form_->PathsModel->rowCount(), 1);
    QCOMPARE(pathFieldsOnDisk(), QStringList { "Acme|01|SNPP|snpp.acme.test:444|desk|pw|120|F" });
    QVERIFY(!form_->MoveUpBtn->isEnabled());
    QVERIFY(!form_->MoveDownBtn->isEnabled());
}

// Test, against the carrier simulator: the window stays free while it runs, then shows the server's
// answer; nothing is paged.
void tst_PagerCompForm::testShowsTheServersAnswer()
{
    PagerSimProcess sim;
    QVERIFY(sim.start({ "--snpp", "0", "--password", "secret" }));
    openWindow();
    addSimPath(sim);
    QTRY_COMPARE(form_->PathsModel->rowCount(), 1);
    form_->PathsList->setCurrentIndex(form_->PathsModel->index(0, TPagerCompForm::AddressColumn));
    QSignalSpy finished(form_, &TPagerCompForm::pathTestFinished);
    bool offWhileRunning = false; // seen just after the window's own handling of the click
    connect(form_->TestPathBtn, &QPushButton::clicked, this,
        [&] { offWhileRunning = form_->pathTestRunning() && !form_->TestPathBtn->isEnabled(); });
    QTest::keyClick(form_, Qt::Key_N, Qt::AltModifier); // Test connection (the key clicks it shortly)
    QVERIFY(finished.wait(10000));
    QVERIFY(offWhileRunning);
    const QString answer = form_->PathTestAnswer->toPlainText();
    QVERIFY2(answer.startsWith(QStringLiteral("Path 01 of Acme, SNPP 127.0.0.1:")), qPrintable(answer));
    QVERIFY2(answer.contains(QStringLiteral("<- 220 SNPP server ready")), qPrintable(answer));
    QVERIFY2(answer.endsWith(QStringLiteral("Logged in as desk. No page was sent.")), qPrintable(answer));
    QVERIFY(form_->TestPathBtn->isEnabled());
    QVERIFY(sim.transcript(QStringLiteral("page")).isEmpty());
    if (const QString shots = qEnvironmentVariable("PLIMO_SCREENSHOTS"); !shots.isEmpty())
        form_->grab().save(shots + QStringLiteral("/carrier-paths.png"));
}

// A test that waits on a silent server ends when the window closes, and when it goes.
void tst_PagerCompForm::aTestEndsWithTheWindow()
{
    PagerSimProcess sim;
    QVERIFY(sim.start({ "--snpp", "0", "--fault", "silent-terminal" }));
    openWindow();
    addSimPath(sim);
    QTRY_COMPARE(form_->PathsModel->rowCount(), 1);
    form_->PathsList->setCurrentIndex(form_->PathsModel->index(0, 0));
    QSignalSpy finished(form_, &TPagerCompForm::pathTestFinished);
    form_->TestPathBtn->click();
    QVERIFY(sim.waitFor(QStringLiteral("connect"), 1));
    form_->ExitBtn->click();
    QVERIFY(finished.wait(2000));
    QVERIFY2(form_->PathTestAnswer->toPlainText().endsWith(QStringLiteral("Failed: Cancelled.")),
        qPrintable(form_->PathTestAnswer->toPlainText()));

    main_->CarriersMenu->trigger();
    QTRY_VERIFY(form_->isVisible());
    form_->TestPathBtn->click();
    QVERIFY(sim.waitFor(QStringLiteral("connect"), 2));
    QElapsedTimer clock;
    clock.start();
    main_.reset(); // the window with it
    QVERIFY(clock.elapsed() < 2000);
}

QTEST_MAIN(tst_PagerCompForm)
#include "tst_pagercompform.moc"
