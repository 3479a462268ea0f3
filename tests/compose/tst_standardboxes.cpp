// The standard message boxes: their title, text, icon and buttons, answered from the box's own
// event loop.
#include "compose/pagelib.h"
#include "compose/standardboxes.h"
#include "store/connection.h"
#include "store/schema.h"
#include "store/table.h"
#include "support/boxanswerer.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

namespace {

// Answers the next message box from the event loop that exec() runs: calls `answer` with it once it
// is up, and records what it showed.
struct BoxSeen {
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
};

void answerNextBox(BoxSeen* seen, std::function<void(QMessageBox*)> answer)
{
    testsupport::onNextBox([seen, answer](QMessageBox* box) {
        seen->title = box->windowTitle();
        seen->text = box->text();
        seen->icon = box->icon();
        seen->buttons = box->standardButtons();
        answer(box);
    });
}

void addModel(store::Table& table, const QString& name)
{
    table.append();
    table.setFieldText(QStringLiteral("MODEMS"), name);
    table.post();
}

} // namespace

class tst_StandardBoxes : public QObject {
    Q_OBJECT

private slots:
    void showInfoWaitsForOk();
    void confirmDelete_data();
    void confirmDelete();
};

void tst_StandardBoxes::showInfoWaitsForOk()
{
    BoxSeen seen;
    bool answered = false;
    answerNextBox(&seen, [&answered](QMessageBox* box) {
        answered = true;
        box->button(QMessageBox::Ok)->click();
    });
    compose::ShowInfo(QStringLiteral("Group file not found"));
    QVERIFY(answered); // ShowInfo returned only after the box was answered
    QCOMPARE(seen.title, QStringLiteral("PlimoPager32 V4.00"));
    QCOMPARE(seen.text, QStringLiteral("Group file not found"));
    QCOMPARE(seen.icon, QMessageBox::Information);
    QCOMPARE(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
}

void tst_StandardBoxes::confirmDelete_data()
{
    QTest::addColumn<QString>("answer"); // "yes", "cancel", "escape", "close"
    QTest::addColumn<bool>("deleted");
    QTest::newRow("Yes") << "yes" << true;
    QTest::newRow("Cancel") << "cancel" << false;
    QTest::newRow("Escape") << "escape" << false;
    QTest::newRow("closing the box") << "close" << false;
}

void tst_StandardBoxes::confirmDelete()
{
    QFETCH(QString, answer);
    QFETCH(bool, deleted);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const store::Connection connection(dir.path());
    store::Create_Modems(connection);
    store::Table table;
    table.setConnection(connection);
    table.setTableName(QStringLiteral("MODEMS.DBF"));
    table.open();
    addModel(table, QStringLiteral("First"));
    addModel(table, QStringLiteral("Second"));
    table.first();

    BoxSeen seen;
    answerNextBox(&seen, [answer](QMessageBox* box) {
        if (answer == QLatin1String("yes"))
            box->button(QMessageBox::Yes)->click();
        else if (answer == QLatin1String("cancel"))
            box->button(QMessageBox::Cancel)->click();
        else if (answer == QLatin1String("escape"))
            QTest::keyClick(box, Qt::Key_Escape);
        else
            box->close();
    });
    QCOMPARE(compose::ConfirmDelete(table), deleted);
    QCOMPARE(seen.title, QStringLiteral("PlimoPager32 V4.00"));
    QCOMPARE(seen.text, QStringLiteral("Delete Record?"));
    QCOMPARE(seen.icon, QMessageBox::Question);
    QCOMPARE(seen.buttons, QMessageBox::Yes | QMessageBox::Cancel);

    // The current record, and only it, is gone on Yes.
    QStringList left;
    table.refresh();
    for (table.first(); !table.eof(); table.next())
        left << table.fieldText(QStringLiteral("MODEMS"));
    const QStringList expected = deleted ? QStringList { "Second" } : QStringList { "First", "Second" };
    QCOMPARE(left, expected);
}

QTEST_MAIN(tst_StandardBoxes)
#include "tst_standardboxes.moc"
