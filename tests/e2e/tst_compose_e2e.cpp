// The send command and the message file intake end to end: the main window, the delivery loop,
// the paging library and the carrier simulator on a pseudo-terminal.
#include "../paging/pagersimprocess.h"
#include "app/mainform.h"
#include "app/messageedit.h"
#include "app/systemsetup.h"
#include "compose/preparation.h"
#include "config/inifile.h"
#include "config/systemform.h"
#include "support/datafolder.h"
#include "support/boxanswerer.h"
#include "support/recipientview.h"
#include "support/records.h"
#include "support/statuslines.h"

#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace testsupport;

class tst_ComposeE2E : public QObject {
    Q_OBJECT

private:
    QTemporaryDir home_;

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(home_.isValid());
        qputenv("HOME", QFile::encodeName(home_.path()));
        QVERIFY2(QFile::exists(PagerSimProcess::program()), "build pagersim first");
    }

    void typedMessageAndDroppedFileReachTheTerminal();
};

void tst_ComposeE2E::typedMessageAndDroppedFileReachTheTerminal()
{
    PagerSimProcess sim;
    QVERIFY(sim.start({ QStringLiteral("--password"), QStringLiteral("PW") }));
    testsupport::DataFolder dir;
    QVERIFY(dir.isValid());
    {
        core::Desk desk(dir.path());
        QCOMPARE(desk.open(), QString());
        addUser(desk, QStringLiteral("Ann"), QStringLiteral("Metro"), QStringLiteral("555-01-23"));
        addCarrier(
            desk, QStringLiteral("Metro"), QStringLiteral("555-0101"), QString(), 80, QStringLiteral("PW"));
    }
    TMainForm form(dir.path());
    config::TSystemForm* system = CreateSystemForm(form);
    system->comport->setEditText(sim.device());
    system->outsideline->setText(QStringLiteral("9,"));
    form.session().setTickInterval(100); // a short tick: the suite does not wait on the real second
    form.deliveryTimer->start();

    QVERIFY(testsupport::tickInList(form.recipientList, QStringLiteral("Ann")));
    QTest::keyClicks(form.messageEditor, QStringLiteral("Call the office"));
    form.sendButton->click();
    QCOMPARE(form.desk().SendMsgs().rowCount(), 1);
    QVERIFY(sim.waitFor(QStringLiteral("page"), 1, 30000));

    QFile file(compose::MessagePreparation::messageFileName());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("555-0199\r\nMetro\r\nFrom the file\r\n");
    file.close();
    QVERIFY(sim.waitFor(QStringLiteral("page"), 2, 30000));
    QTRY_VERIFY_WITH_TIMEOUT(!form.desk().pageInProgress() && form.desk().SendMsgs().isEmpty(), 15000);
    QVERIFY(!QFile::exists(compose::MessagePreparation::messageFileName()));

    const QList<QJsonObject> dials = sim.transcript(QStringLiteral("dial"));
    QCOMPARE(dials.size(), 2);
    QCOMPARE(dials[0].value(QStringLiteral("number")).toString(), QStringLiteral("9,5550101"));
    const QList<QJsonObject> logins = sim.transcript(QStringLiteral("login"));
    QCOMPARE(logins.size(), 2);
    QCOMPARE(logins[0].value(QStringLiteral("password")).toString(), QStringLiteral("PW"));
    const QList<QJsonObject> pages = sim.transcript(QStringLiteral("page"));
    QCOMPARE(pages[0].value(QStringLiteral("id")).toString(), QStringLiteral("5550123"));
    QCOMPARE(pages[0].value(QStringLiteral("text")).toString(), QStringLiteral("Call the office"));
    QCOMPARE(pages[1].value(QStringLiteral("id")).toString(), QStringLiteral("5550199"));
    QCOMPARE(pages[1].value(QStringLiteral("text")).toString(), QStringLiteral("From the file"));
    const QStringList lines = statusTexts(form.statusList);
    QVERIFY2(lines.contains(QStringLiteral("Sending message to Ann")), qPrintable(lines.join(u'|')));
    QVERIFY2(lines.contains(QStringLiteral("Sending message to From File 555-0199")),
        qPrintable(lines.join(u'|')));
    form.deliveryTimer->stop();
}

QTEST_MAIN(tst_ComposeE2E)
#include "tst_compose_e2e.moc"
