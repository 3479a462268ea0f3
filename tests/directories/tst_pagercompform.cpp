#include "app/mainform.h"
#include "app/usersetup.h"
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

QTEST_MAIN(tst_PagerCompForm)
#include "tst_pagercompform.moc"
