#include "compose/preparation.h"
#include "config/inifile.h"
#include "store/memtable.h"
#include "support/sessionrun.h"
#include "support/records.h"
#include "support/undeletablefolder.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

#include <sys/stat.h>
#include <unistd.h>

using namespace testsupport;

class tst_MessageFile : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> dir_;
    QString previousCurrent_;
    QTemporaryDir home_; // the settings file of these tests lives here, apart from other suites'
    std::unique_ptr<SessionRun> form_;

    static QString fileName() { return compose::MessagePreparation::messageFileName(); }
    static void drop(const QByteArray& bytes)
    {
        QFile file(fileName());
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(bytes), bytes.size());
    }
    void consume() { form_->deskSession.takeMessageFile(); }
    QStringList status() const { return form_->statusLines; }
    store::TMemTable& send() { return form_->desk().SendMsgs(); }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(home_.isValid());
        qputenv("HOME", QFile::encodeName(home_.path()));
        previousCurrent_ = QDir::currentPath();
    }
    // The tables in "data", the current directory "work": the file is looked for in the current
    // directory, not beside the tables.
    void init()
    {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        const QDir root(dir_->path());
        QVERIFY(root.mkpath(QStringLiteral("data")) && root.mkpath(QStringLiteral("work")));
        QVERIFY(QDir::setCurrent(root.filePath(QStringLiteral("work"))));
        {
            core::Desk desk(root.filePath(QStringLiteral("data")));
            QCOMPARE(desk.open(), QString());
            addUser(desk, QStringLiteral("JOHN SMITH"), QStringLiteral("Other"), QStringLiteral("555-0100"));
            addCarrier(desk, QStringLiteral("Metro Paging"), QStringLiteral("1-800-555-0101"),
                QStringLiteral("1200"), 80, QStringLiteral("PW"));
            addCarrier(desk, QStringLiteral("Other"), QStringLiteral("555-9999"), QStringLiteral("2400"), 120,
                QStringLiteral("OT"));
            addCarrier(
                desk, QStringLiteral("Slow"), QStringLiteral("555-1111"), QStringLiteral("x"), 0, QString());
        }
        form_ = std::make_unique<SessionRun>(root.filePath(QStringLiteral("data")));
        QCOMPARE(form_->openError, QString());
    }
    void cleanup()
    {
        QFile::remove(config::pagerIniPath());
        form_.reset();
        QDir::setCurrent(previousCurrent_);
        dir_.reset();
    }

    void intake_data();
    void intake();
    void aFileWhosePageCannotBeQueuedWaits();
    void aNulByteOrAByteOrderMark();
    void noFileDoesNothing();
    void onePagePerFile();
    void theTimerTakesTheFileInWhenIdle();
    void outsideLineButNotTheRetriesSetting();
    void garbage_data();
    void garbage();
    void folderIsLeftAlonePipeAndLinkAreDeletedUnread();
    void unreadableFileIsConsumedAndReported();
    void undeletableFileIsNotPagedAndReportedOnce();
};

void tst_MessageFile::intake_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("status"); // "" = a page is queued
    QTest::addColumn<QString>("pagerPhone");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("networkPhone");
    QTest::addColumn<QString>("baudRate");
    QTest::addColumn<int>("size");

    const QString noInfo = QStringLiteral("File plimomsgs.txt does not contain required information.");
    const QString tooShort = QStringLiteral("Message from file is too short");
    // clang-format off
    QTest::newRow("user by name, carrier of line 2") << QByteArray("JOHN SMITH\r\nMetro Paging\r\nCall the office\r\n")
        << "" << "5550100" << "From File 555-0100" << "Call the office" << "1-800-555-0101^PW" << "1200" << 80;
    QTest::newRow("pager ID") << QByteArray("555-0199\nMetro Paging\nCall\n")
        << "" << "5550199" << "From File 555-0199" << "Call" << "1-800-555-0101^PW" << "1200" << 80;
    QTest::newRow("user name differs in case is a pager ID") << QByteArray("John Smith\nOther\nHi")
        << "" << "John Smith" << "From File John Smith" << "Hi" << "555-9999^OT" << "2400" << 120;
    QTest::newRow("CR line ends") << QByteArray("12\rOther\rA\rB\r")
        << "" << "12" << "From File 12" << "AB" << "555-9999^OT" << "2400" << 120;
    QTest::newRow("odd speed reads as 300") << QByteArray("12\nSlow\nA")
        << "" << "12" << "From File 12" << "A" << "555-1111^" << "300" << 0;
    QTest::newRow("ten lines") << QByteArray("1\nOther\n3\n4\n5\n6\n7\n8\n9\n10\n")
        << "" << "1" << "From File 1" << "3456" << "555-9999^OT" << "2400" << 120;
    QTest::newRow("line 3 empty") << QByteArray("1\nOther\n\nfour\n")
        << "" << "1" << "From File 1" << "four" << "555-9999^OT" << "2400" << 120;
    QTest::newRow("Windows-1252") << QByteArray("1\nOther\nCaf\xe9 \x80 5\n")
        << "" << "1" << "From File 1" << QStringLiteral("Caf\u00e9 \u20ac 5") << "555-9999^OT" << "2400" << 120;
    QTest::newRow("empty pager ID is no error") << QByteArray("\nOther\nHi\n")
        << "" << "" << "From File " << "Hi" << "555-9999^OT" << "2400" << 120;
    QTest::newRow("long name cut to the field") << QByteArray("123456789012345678901234567890\nOther\nHi")
        << "" << "123456789012345678901234567890" << "From File 12345678901234567890" << "Hi" << "555-9999^OT"
        << "2400" << 120;
    QTest::newRow("two lines") << QByteArray("1\nOther\n") << noInfo << "" << "" << "" << "" << "" << 0;
    QTest::newRow("empty file") << QByteArray() << noInfo << "" << "" << "" << "" << "" << 0;
    QTest::newRow("two lines and a blank one") << QByteArray("1\nOther\n\n") << tooShort
        << "" << "" << "" << "" << "" << 0;
    QTest::newRow("lines 3 to 6 empty, 7 not") << QByteArray("1\nOther\n\n\n\n\nseven\n") << tooShort
        << "" << "" << "" << "" << "" << 0;
    QTest::newRow("unknown carrier") << QByteArray("1\nNowhere\nHi\n") << "Paging carrier Nowhere not found."
        << "" << "" << "" << "" << "" << 0;
    QTest::newRow("carrier differs in case") << QByteArray("1\nmetro paging\nHi\n")
        << "Paging carrier metro paging not found." << "" << "" << "" << "" << "" << 0;
    // clang-format on
}

void tst_MessageFile::intake()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, status);
    drop(bytes);
    consume();
    QVERIFY(!QFile::exists(fileName()));
    if (!status.isEmpty()) {
        QCOMPARE(this->status(), QStringList { status });
        QCOMPARE(send().rowCount(), 0);
        return;
    }
    QCOMPARE(this->status(), QStringList());
    QCOMPARE(send().rowCount(), 1);
    send().first();
    QTEST(send().fieldText(QStringLiteral("PagerPhone")), "pagerPhone");
    QTEST(send().fieldText(QStringLiteral("UserOrGroupName")), "name");
    QTEST(send().fieldText(QStringLiteral("MessageToSend")), "message");
    QTEST(send().fieldText(QStringLiteral("NetworkPhone")), "networkPhone");
    QTEST(send().fieldText(QStringLiteral("BaudRate")), "baudRate");
    QTEST(send().fieldInt(QStringLiteral("MessageSize")), "size");
    QCOMPARE(send().fieldInt(QStringLiteral("Retries")), 2);
    QCOMPARE(send().fieldBool(QStringLiteral("IsGroup")), false);
}

void tst_MessageFile::noFileDoesNothing()
{
    consume();
    QCOMPARE(status(), QStringList());
    QCOMPARE(send().rowCount(), 0);
    // The file beside the tables is not the one looked for.
    QFile beside(QDir(dir_->path()).filePath(QStringLiteral("data/plimomsgs.txt")));
    QVERIFY(beside.open(QIODevice::WriteOnly));
    beside.write("1\nOther\nHi\n");
    beside.close();
    consume();
    QCOMPARE(send().rowCount(), 0);
    QVERIFY(beside.exists());
}

void tst_MessageFile::onePagePerFile()
{
    drop("1\nOther\nfirst\n");
    consume();
    consume(); // consumed: the second call finds nothing
    drop("2\nOther\nsecond\n");
    consume();
    QCOMPARE(send().rowCount(), 2);
    send().last();
    QCOMPARE(send().fieldText(QStringLiteral("MessageToSend")), QStringLiteral("second"));
}

void tst_MessageFile::theTimerTakesTheFileInWhenIdle()
{
    drop("555-01\nOther\nBy the timer\n");
    core::BusyMark page = form_->desk().markPageInProgress(); // a page under way: the file waits
    form_->tick();
    QVERIFY(QFile::exists(fileName()));
    page.release();
    form_->tick();
    QVERIFY(!QFile::exists(fileName()));
    QCOMPARE(send().rowCount(), 1);
    send().first();
    QCOMPARE(send().fieldText(QStringLiteral("MessageToSend")), QStringLiteral("By the timer"));
}

void tst_MessageFile::outsideLineButNotTheRetriesSetting()
{
    form_->desk().Settings().setOutsideLine(QStringLiteral("9, "));
    form_->desk().Settings().setDeliveryRetries(QStringLiteral("1"));
    form_->desk().setEngineValues(1, form_->desk().DirectMesgDelayValue());
    drop("555-01\nOther\nHi\n");
    consume();
    QCOMPARE(send().rowCount(), 1);
    send().first();
    QCOMPARE(send().fieldText(QStringLiteral("NetworkPhone")), QStringLiteral("9,555-9999^OT"));
    QCOMPARE(send().fieldText(QStringLiteral("PagerPhone")), QStringLiteral("55501"));
    QCOMPARE(send().fieldInt(QStringLiteral("Retries")), 2);
}

void tst_MessageFile::garbage_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QRandomGenerator random(4711);
    QByteArray megabyte(1024 * 1024, Qt::Uninitialized);
    random.fillRange(reinterpret_cast<quint32*>(megabyte.data()), megabyte.size() / 4);
    QByteArray noLineEnds = megabyte;
    noLineEnds.replace('\n', 'x').replace('\r', 'y');
    QByteArray longLines
        = QByteArray(300000, 'A') + "\n" + QByteArray(300000, 'B') + "\n" + QByteArray(300000, 'C');
    QTest::newRow("NUL bytes") << QByteArray("55\0"
                                             "01\nOther\nA\0B\n",
        14);
    QTest::newRow("only NUL bytes") << QByteArray(4096, '\0');
    QTest::newRow("1 MB of random bytes") << megabyte;
    QTest::newRow("1 MB without line ends") << noLineEnds;
    QTest::newRow("very long lines") << longLines;
    QTest::newRow("control characters") << QByteArray("\x1b\x02\x03\nOther\n\x04\x1a\x7f\xff\n");
    QTest::newRow("over the read limit")
        << QByteArray("1\nOther\nHi\n") + QByteArray(compose::MessagePreparation::kMessageFileReadLimit, 'z');
}

void tst_MessageFile::garbage()
{
    QFETCH(QByteArray, bytes);
    drop(bytes);
    consume();
    QVERIFY(!QFile::exists(fileName()));
    QVERIFY(send().rowCount() <= 1);
    for (const QString& line : status())
        QVERIFY2(line.size() < 200, qPrintable(line.left(200)));
    if (send().rowCount() == 1) {
        send().first();
        QVERIFY(send().fieldText(QStringLiteral("MessageToSend")).size() <= 500);
        QCOMPARE(send().fieldInt(QStringLiteral("Retries")), 2);
    }
    // The desk goes on: the timer ticks, a good file afterwards is paged.
    form_->tick();
    const int before = send().rowCount();
    drop("1\nOther\nafter\n");
    consume();
    QCOMPARE(send().rowCount(), before + 1);
}

void tst_MessageFile::folderIsLeftAlonePipeAndLinkAreDeletedUnread()
{
    // Through the real tick, at a second that is no quarter minute. A folder of that name is said
    // once and left alone.
    form_->now = QDateTime(QDate::currentDate(), QTime(12, 0, 1));
    QVERIFY(QDir().mkdir(fileName()));
    form_->tick();
    form_->tick();
    QVERIFY(QFileInfo(fileName()).isDir());
    QCOMPARE(status().size(), 1);
    QVERIFY2(status()[0].endsWith(QStringLiteral("plimomsgs.txt is a folder, not a message file; it is left alone.")),
        qPrintable(status()[0]));
    QVERIFY(QDir().rmdir(fileName()));

    // A pipe (opening it would wait for a writer, and a writer would block), a dangling link, a
    // link loop, a link to a device, a link to a file elsewhere: each is said once and removed, the
    // link and never what it points to.
    QFile elsewhere(QStringLiteral("elsewhere.txt"));
    QVERIFY(elsewhere.open(QIODevice::WriteOnly));
    elsewhere.write("1\nOther\nNot from here\n");
    elsewhere.close();
    const QByteArray name = QFile::encodeName(fileName());
    const QList<std::pair<QString, std::function<bool()>>> odd = {
        { QStringLiteral("is a pipe, not a regular file"), [&] { return ::mkfifo(name.constData(), 0600) == 0; } },
        { QStringLiteral("is a symbolic link"), [&] { return ::symlink("nowhere.txt", name.constData()) == 0; } },
        { QStringLiteral("is a symbolic link"), [&] { return ::symlink(name.constData(), name.constData()) == 0; } },
        { QStringLiteral("is a symbolic link"), [&] { return ::symlink("/dev/zero", name.constData()) == 0; } },
        { QStringLiteral("is a symbolic link"),
            [&] { return QFile::link(QFileInfo(elsewhere).absoluteFilePath(), fileName()); } },
    };
    for (const auto& [said, make] : odd) {
        const qsizetype before = status().size();
        QVERIFY(make());
        form_->tick();
        form_->tick();
        QVERIFY(!QFileInfo(fileName()).exists() && !QFileInfo(fileName()).isSymLink());
        QCOMPARE(status().size(), before + 1);
        QVERIFY2(status()[0].endsWith(QStringLiteral("File plimomsgs.txt %1; it was deleted unread.").arg(said)),
            qPrintable(status()[0]));
    }
    QVERIFY(QFileInfo(QStringLiteral("elsewhere.txt")).isFile());
    QVERIFY(QFileInfo(QStringLiteral("/dev/zero")).exists());
    QCOMPARE(send().rowCount(), 0);
}

void tst_MessageFile::aFileWhosePageCannotBeQueuedWaits()
{
    // The carriers table cannot be read (as after a start that could not open it): the file stays,
    // the fault naming the table is said once, and the file is paged once the table is back.
    form_->now = QDateTime(QDate::currentDate(), QTime(12, 0, 1));
    form_->desk().PagerCompT().close();
    drop("1\nOther\nWaits\n");
    form_->tick();
    form_->tick();
    QVERIFY(QFile::exists(fileName()));
    QCOMPARE(form_->errors.size(), 1);
    QVERIFY2(form_->errors[0].startsWith(QStringLiteral("The message of plimomsgs.txt waits: Table "))
            && form_->errors[0].contains(QStringLiteral("PAGECOMP"), Qt::CaseInsensitive),
        qPrintable(form_->errors[0]));
    form_->desk().PagerCompT().open();
    form_->tick();
    QVERIFY(!QFile::exists(fileName()));
    QCOMPARE(send().rowCount(), 1);
}

void tst_MessageFile::aNulByteOrAByteOrderMark()
{
    const char withNul[] = "1\nOther\nhel\0lo\n";
    drop(QByteArray(withNul, sizeof withNul - 1));
    consume();
    QVERIFY(!QFile::exists(fileName()));
    QCOMPARE(status().size(), 1);
    QVERIFY(status()[0].endsWith(QStringLiteral("File plimomsgs.txt does not contain required information.")));
    QCOMPARE(send().rowCount(), 0);
    drop("\xEF\xBB\xBFJOHN SMITH\r\nOther\r\nHello\r\n");
    consume();
    QCOMPARE(send().rowCount(), 1);
    send().first();
    QCOMPARE(send().fieldText(QStringLiteral("PagerPhone")), QStringLiteral("5550100"));
}

void tst_MessageFile::unreadableFileIsConsumedAndReported()
{
    if (::geteuid() == 0)
        QSKIP("file permissions do not stop the super-user from reading");
    drop("1\nOther\nHi\n");
    QVERIFY(QFile::setPermissions(fileName(), QFileDevice::Permissions()));
    consume();
    QVERIFY(!QFile::exists(fileName()));
    QCOMPARE(status().size(), 1);
    QVERIFY2(status()[0].startsWith(QStringLiteral("File plimomsgs.txt could not be read")),
        qPrintable(status()[0]));
    QCOMPARE(send().rowCount(), 0);
}

void tst_MessageFile::undeletableFileIsNotPagedAndReportedOnce()
{
    drop("1\nOther\nHi\n");
    testsupport::UndeletableFolder folder(QStringLiteral("."));
    if (!folder.active())
        QSKIP("this file system cannot keep a file from being deleted");
    consume();
    consume();
    folder.release();
    QCOMPARE(send().rowCount(), 0); // a file that stays would be paged at every idle tick
    QCOMPARE(status().size(), 1);
    QVERIFY(QFile::exists(fileName()));
    consume(); // deletable again: paged now
    QCOMPARE(send().rowCount(), 1);
}

QTEST_MAIN(tst_MessageFile)
#include "tst_messagefile.moc"
