#include "app/mainform.h"
#include "app/usersetup.h"
#include "core/carrierpaths.h"
#include "core/desk.h"
#include "directories/pagercompform.h"
#include "models/tablemodel.h"
#include "support/datafolder.h"
#include "support/boxanswerer.h"
#include "support/records.h"

#include <QAction>
#include <QDir>
#include <QLineEdit>
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
    void refusedPageSizeKeepsTheCell_data();
    void refusedPageSizeKeepsTheCell();
    void tabLeavesTheGrid();
    void pathsFollowTheirCarrier_data();
    void pathsFollowTheirCarrier();
    void enabledPathsInTrialOrder();
};

void tst_PagerCompForm::opensWithEveryCarrierInNameOrder()
{
    openWindow();
    QVERIFY(main_->CarriersMenu->isEnabled());
    QCOMPARE(form_->windowTitle(), QStringLiteral("Paging Carriers Information"));
    QVERIFY(!form_->isModal());
    QCOMPARE(form_->CarriersModel->columnCount(), 5);
    for (int c = 0; c < 5; ++c)
        QCOMPARE(form_->CarriersModel->headerData(c, Qt::Horizontal).toString(), kCarrierFields.at(c));
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
    const std::vector<core::DeliveryPath> acme = core::enabledPaths(main_->desk(), "Acme");
    QCOMPARE(int(acme.size()), 2); // 03 is off
    QCOMPARE(acme[0].pathNo, QStringLiteral("01"));
    QCOMPARE(acme[0].method, QStringLiteral("TAPIP"));
    QCOMPARE(acme[0].address, QStringLiteral("tap.acme.test:1000"));
    QCOMPARE(acme[0].login, QStringLiteral("user01"));
    QCOMPARE(acme[0].password, QStringLiteral("pw01"));
    QCOMPARE(acme[0].maxChars, 80);
    QCOMPARE(acme[1].pathNo, QStringLiteral("02"));
    QCOMPARE(acme[1].maxChars, 0);
    // Names compare whole and case-sensitive; a carrier without paths has none.
    QCOMPARE(core::enabledPaths(main_->desk(), "Metro").size(), size_t(1));
    QCOMPARE(core::enabledPaths(main_->desk(), "Metr").size(), size_t(0));
    QCOMPARE(core::enabledPaths(main_->desk(), "acme").size(), size_t(0));
    QCOMPARE(core::enabledPaths(main_->desk(), "Nobody").size(), size_t(0));
    // A path turned off by another program is left out at the next call.
    store::Table other;
    other.setConnection(store::Connection(dir_->path()));
    other.setTableName("CARRPATH.DBF");
    other.open();
    QVERIFY(other.locate("ADDRESS", "tap.acme.test:1000"));
    other.edit();
    other.setFieldBool("ENABLED", false);
    other.post();
    const std::vector<core::DeliveryPath> now = core::enabledPaths(main_->desk(), "Acme");
    QCOMPARE(int(now.size()), 1);
    QCOMPARE(now[0].method, QStringLiteral("SNPP"));
}

QTEST_MAIN(tst_PagerCompForm)
#include "tst_pagercompform.moc"
