#include "compose/memberfile.h"
#include "compose/preparation.h"
#include "config/inifile.h"
#include "store/memtable.h"
#include "support/datafolder.h"
#include "support/filebytes.h"
#include "support/pages.h"
#include "support/records.h"
#include "support/sessionrun.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace testsupport;

namespace {

} // namespace

class tst_GroupPrep : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<testsupport::DataFolder> dir_;

    // The data folder with what `fill` appends, the member file of `group`, and the desk on it.
    template <typename Fill>
    std::unique_ptr<SessionRun> formWith(const QString& group, const QByteArray& memberBytes, Fill fill)
    {
        {
            core::Desk desk(dir_->path());
            if (!desk.open().isEmpty())
                return nullptr;
            fill(desk);
            addGroup(desk, group);
        }
        QFile file(compose::memberFilePath(dir_->path(), group));
        if (!file.open(QIODevice::WriteOnly) || file.write(memberBytes) != memberBytes.size())
            return nullptr;
        file.close();
        return std::make_unique<SessionRun>(dir_->path());
    }
    // Ticks `item`, types `text` and gives the send command.
    static void send(SessionRun& form, const QString& item, const QString& text = QStringLiteral("Fire drill"))
    {
        QVERIFY2(form.composition.tick(item), qPrintable(item));
        if (!text.isEmpty())
            form.composition.setText(text);
        form.deskSession.sendComposed();
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
        QFile::remove(config::pagerIniPath());
        dir_.reset();
    }

    void memberFileName_data()
    {
        QTest::addColumn<QString>("group");
        QTest::addColumn<QString>("file");
        QTest::newRow("blanks") << "Night Shift" << "NightShift.GRP";
        QTest::newRow("parent folder") << "../x" << "x.GRP";
        QTest::newRow("backslashes") << "..\\..\\x" << "x.GRP";
        QTest::newRow("absolute") << "/etc/passwd" << "etcpasswd.GRP";
        QTest::newRow("control characters") << QStringLiteral("a\tb") + QChar(0) + QChar(0x7f) + "c" << "abc.GRP";
        QTest::newRow("leading dots and blanks") << " . .hidden" << "hidden.GRP";
        QTest::newRow("inner dot stays") << "Sales.NY" << "Sales.NY.GRP";
    }
    void memberFileName()
    {
        QFETCH(QString, group);
        QTEST(compose::memberFileName(group), "file");
        const QString path = compose::memberFilePath(dir_->path(), group);
        QCOMPARE(QFileInfo(path).absolutePath(), QFileInfo(dir_->path()).absoluteFilePath());
    }

    void memberFileIsWrittenWhole()
    {
        const QString path = dir_->filePath(QStringLiteral("G.GRP"));
        QCOMPARE(compose::writeMemberFile(path, { QStringLiteral("Ann"), QString::fromUtf8("Zoë Brühl") }), QString());
        QCOMPARE(testsupport::fileBytes(path), QByteArray("Ann\r\nZo\xeb Br\xfchl\r\n"));
        QCOMPARE(compose::writeMemberFile(path, { QStringLiteral("Bob") }), QString());
        QCOMPARE(testsupport::fileBytes(path), QByteArray("Bob\r\n"));
        QCOMPARE(compose::writeMemberFile(path, {}), QString());
        QCOMPARE(testsupport::fileBytes(path), QByteArray());
        // Leftovers of the atomic write stay out of the folder.
        QCOMPARE(QDir(dir_->path()).entryList(QDir::Files), QStringList { "G.GRP" });
    }

    void memberFileReading_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("members");
        QTest::newRow("CR LF") << QByteArray("Ann\r\nBob\r\n") << QStringList { "Ann", "Bob" };
        QTest::newRow("LF and CR") << QByteArray("Ann\nBob\rCy") << QStringList { "Ann", "Bob", "Cy" };
        QTest::newRow("empty") << QByteArray() << QStringList();
        QTest::newRow("Windows-1252") << QByteArray("Zo\xeb\r\n") << QStringList { QString::fromUtf8("Zoë") };
    }
    void memberFileReading()
    {
        QFETCH(QByteArray, bytes);
        const QString path = dir_->filePath(QStringLiteral("R.GRP"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        file.close();
        QStringList members;
        QVERIFY(compose::readMemberFile(path, &members));
        QTEST(members, "members");
        QVERIFY(!compose::readMemberFile(dir_->filePath(QStringLiteral("none.GRP")), &members));
    }

    void pagesOnePerCarrierRun()
    {
        auto form = formWith(QStringLiteral("Night Shift"), "Bo\r\nAl\r\nCy\r\nGone\r\nDi\r\nEd\r\nBo\r\nFay\r\n",
            [](core::Desk& desk) {
                addUser(desk, QStringLiteral("Bo"), QStringLiteral("B"), QStringLiteral("555-0202"));
                addUser(desk, QStringLiteral("Al"), QStringLiteral("A"), QStringLiteral("555-0101"));
                addUser(desk, QStringLiteral("Cy"), QStringLiteral("B"), QStringLiteral("555-0201"));
                addUser(desk, QStringLiteral("Di"), QStringLiteral("direct"), QStringLiteral("7"));
                addUser(desk, QStringLiteral("Ed"), QStringLiteral("b"), QString());
                addUser(desk, QStringLiteral("Fay"), QStringLiteral("numeric"), QStringLiteral("99"));
                addCarrier(desk, QStringLiteral("A"), QStringLiteral("555-1000"), QString(), 80, QStringLiteral("PA"));
                addCarrier(desk, QStringLiteral("B"), QStringLiteral("555-2000"), QStringLiteral("1200"), 120, QString());
                addCarrier(desk, QStringLiteral("b"), QStringLiteral("555-3000"), QStringLiteral("2400"), 60, QString());
                addCarrier(desk, QStringLiteral("numeric"), QStringLiteral("555-4000"), QString(), 20, QString());
            });
        QVERIFY(form);
        form->composition.setMessageLog(true);
        send(*form, QStringLiteral("Group: Night Shift"), QStringLiteral("Fire\ndrill"));
        QCOMPARE(form->boxTexts(), QStringList());
        QCOMPARE(form->statusLines, QStringList());

        const QList<QueuedPage> pages = queuedPages(form->desk().SendMsgs());
        QCOMPARE(pages.size(), 4);
        // Case-blind carrier order; "B" and "b" are two runs; Bo listed twice is paged twice; the
        // member on "direct" and the one not in the directory are left out.
        QCOMPARE(pages[0].pagerPhone, QStringLiteral("5550101^"));
        QCOMPARE(pages[0].networkPhone, QStringLiteral("555-1000^PA"));
        QCOMPARE(pages[0].baudRate, QStringLiteral("300")); // an empty speed reads as 300, as for one user
        QCOMPARE(pages[0].size, 80);
        // The whole entry is sorted: "b;" (an empty pager ID) comes before "B;555...".
        QCOMPARE(pages[1].pagerPhone, QStringLiteral("^")); // an empty pager ID
        QCOMPARE(pages[1].networkPhone, QStringLiteral("555-3000^"));
        QCOMPARE(pages[2].pagerPhone, QStringLiteral("5550201^5550202^5550202^"));
        QCOMPARE(pages[2].baudRate, QStringLiteral("1200"));
        QCOMPARE(pages[3].networkPhone, QStringLiteral("555-4000^")); // numeric batched like the rest
        QCOMPARE(pages[3].pagerPhone, QStringLiteral("99^"));
        for (const QueuedPage& page : pages) {
            QCOMPARE(page.message, QStringLiteral("Firedrill^^"));
            QCOMPARE(page.name, QStringLiteral("Group: Night Shift"));
            QVERIFY(page.isGroup);
            QCOMPARE(page.retries, 3);
        }
        core::Desk& desk = form->desk();
        desk.MsgLogT().refresh();
        desk.MsgLogT().last();
        QCOMPARE(desk.MsgLogT().fieldText(QStringLiteral("USERNAME")), QStringLiteral("Group: Night Shift"));
        QCOMPARE(desk.MsgLogT().fieldText(QStringLiteral("MSG")), QStringLiteral("Fire\r\ndrill"));
        QVERIFY(form->composition.recipients()->names().contains(QStringLiteral("Group: Night Shift")));
        QCOMPARE(form->composition.tickedNames(), QStringList());
    }

    void carrierMissingIsRefusedByName()
    {
        auto form = formWith(QStringLiteral("Ops"), "Al\r\nBo\r\n", [](core::Desk& desk) {
            addUser(desk, QStringLiteral("Al"), QStringLiteral("A"), QStringLiteral("1111"));
            addUser(desk, QStringLiteral("Bo"), QStringLiteral("Gone"), QStringLiteral("2222"));
            addCarrier(desk, QStringLiteral("A"), QStringLiteral("555"), QString(), 80, QString());
        });
        QVERIFY(form);
        send(*form, QStringLiteral("Group: Ops"));
        const QList<QueuedPage> pages = queuedPages(form->desk().SendMsgs());
        QCOMPARE(pages.size(), 1);
        QCOMPARE(pages[0].pagerPhone, QStringLiteral("1111^"));
        const QStringList lines = form->statusLines;
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines[0].contains(QStringLiteral("Carrier Gone of group Ops")), qPrintable(lines[0]));
    }

    void nothingToSend_data()
    {
        QTest::addColumn<QString>("group");
        QTest::addColumn<bool>("fileMade");
        QTest::addColumn<QByteArray>("members");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("box");
        QTest::addColumn<int>("logs");
        QTest::newRow("no member file") << "Ops" << false << QByteArray() << "Hi" << "Group Ops doesn't exist." << 0;
        QTest::newRow("no member left") << "Ops" << true << QByteArray("Gone\r\n") << "Hi" << "" << 1;
        QTest::newRow("empty message") << "Ops" << true << QByteArray("Al\r\n") << "" << "Enter message to send" << 1;
        QTest::newRow("outside the folder") << "../x" << false << QByteArray() << "Hi" << "Group ../x doesn't exist." << 0;
    }
    void nothingToSend()
    {
        QFETCH(QString, group);
        QFETCH(bool, fileMade);
        QFETCH(QByteArray, members);
        QFETCH(QString, text);
        QFETCH(QString, box);
        // A member file one folder up must not be taken for the group "../x".
        QTemporaryDir outer;
        auto form = formWith(group, members, [](core::Desk& desk) {
            addUser(desk, QStringLiteral("Al"), QStringLiteral("A"), QStringLiteral("1111"));
            addCarrier(desk, QStringLiteral("A"), QStringLiteral("555"), QString(), 80, QString());
        });
        QVERIFY(form);
        if (!fileMade)
            QVERIFY(QFile::remove(compose::memberFilePath(dir_->path(), group)));
        QFile up(dir_->filePath(QStringLiteral("../x.GRP")));
        const bool madeUp = group == QStringLiteral("../x") && up.open(QIODevice::WriteOnly);
        if (madeUp) {
            up.write("Al\r\n");
            up.close();
        }
        form->composition.setMessageLog(true);
        // The send command itself refuses an empty editor; the preparation's own check is reached
        // by its other callers.
        if (text.isEmpty()) {
            form->deskSession.sendToRecipient(QStringLiteral("Group: ") + group, QString());
        } else {
            send(*form, QStringLiteral("Group: ") + group, text);
        }
        if (madeUp)
            up.remove();
        QCOMPARE(form->boxTexts(), box.isEmpty() ? QStringList() : QStringList { box });
        QCOMPARE(form->desk().SendMsgs().rowCount(), 0);
        form->desk().MsgLogT().refresh();
        QTEST(int(form->desk().MsgLogT().recordCount()), "logs");
    }

    // A group of 1,000 members among 10,000 users is prepared well within a fraction of a second.
    void largeGroupIsQuick()
    {
        QByteArray members;
        auto form = formWith(QStringLiteral("All"), QByteArray(), [&members](core::Desk& desk) {
            for (int i = 0; i < 10000; ++i) {
                const QString name = QStringLiteral("User %1").arg(i, 5, 10, QLatin1Char('0'));
                addUser(desk, name, i % 2 ? QStringLiteral("A") : QStringLiteral("B"), QString::number(1000 + i));
                if (i % 10 == 0)
                    members += name.toLatin1() + "\r\n";
            }
            addCarrier(desk, QStringLiteral("A"), QStringLiteral("555"), QString(), 80, QString());
            addCarrier(desk, QStringLiteral("B"), QStringLiteral("556"), QString(), 80, QString());
        });
        QVERIFY(form);
        QVERIFY(compose::writeMemberFile(compose::memberFilePath(dir_->path(), QStringLiteral("All")),
                    QString::fromLatin1(members).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts))
                    .isEmpty());
        // Its time is a figure of bench/directory_bench.
        form->deskSession.sendToRecipient(QStringLiteral("Group: All"), QStringLiteral("Hi"));
        // Every tenth user is on B: 5,100 characters of pager IDs make 11 pages of whole IDs.
        QCOMPARE(form->desk().SendMsgs().rowCount(), 11);
    }
};

QTEST_MAIN(tst_GroupPrep)
#include "tst_groupprep.moc"
