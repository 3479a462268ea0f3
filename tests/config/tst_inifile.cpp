#include "config/inifile.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using config::IniFile;

class tst_IniFile : public QObject {
    Q_OBJECT

private:
    QString writeFile(const QByteArray& content)
    {
        const QString path = dir_->filePath(QStringLiteral("pager.ini"));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            qFatal("cannot write test file");
        file.write(content);
        return path;
    }
    QByteArray fileBytes(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    std::unique_ptr<QTemporaryDir> dir_;

private slots:
    void init()
    {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
    }

    void read_data();
    void read();
    void readMissingFileGivesDefault();
    void readUnreadableFileGivesDefault();
    void write_data();
    void write();
    void writeCreatesFileAndFolder();
    void writeRefusesUnusableNames_data();
    void writeRefusesUnusableNames();
    void writeKeepsUnreadableFile();
    void fileOverTheBoundIsNotReadAndSaveReplacesIt();
    void writeThenReadRoundTrip_data();
    void writeThenReadRoundTrip();
    void pagerIniLivesInTheUsersConfigFolder();
};

void tst_IniFile::read_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");

    const QByteArray sys = "[System]\nComPort=COM2\nSendMessages=0\n";
    QTest::newRow("plain") << sys << "System"
                           << "ComPort"
                           << "COM2";
    QTest::newRow("section case") << sys << "SYSTEM"
                                  << "ComPort"
                                  << "COM2";
    QTest::newRow("key case") << sys << "System"
                              << "sendmessages"
                              << "0";
    QTest::newRow("missing key") << sys << "System"
                                 << "OutsideLine"
                                 << "<default>";
    QTest::newRow("missing section") << sys << "Other"
                                     << "ComPort"
                                     << "<default>";
    QTest::newRow("key of another section") << QByteArray("[A]\nk=1\n[B]\nx=2\n") << "B"
                                            << "k"
                                            << "<default>";
    QTest::newRow("empty value is not the default") << QByteArray("[System]\nSendMessages=\n") << "System"
                                                    << "SendMessages"
                                                    << "";
    QTest::newRow("blanks around") << QByteArray("  [ System ]  \n  ComPort  =  COM3  \n") << "System"
                                   << "ComPort"
                                   << "COM3";
    QTest::newRow("quotes dropped") << QByteArray("[System]\nOutsideLine=\" 9 \"\n") << "System"
                                    << "OutsideLine"
                                    << " 9 ";
    QTest::newRow("single quote kept") << QByteArray("[System]\nOutsideLine=\"9\n") << "System"
                                       << "OutsideLine"
                                       << "\"9";
    QTest::newRow("value holding =") << QByteArray("[System]\nModemInitString=AT&F=1~\n") << "System"
                                     << "ModemInitString"
                                     << "AT&F=1~";
    QTest::newRow("crlf lines") << QByteArray("[System]\r\nComPort=TAPI\r\n") << "System"
                                << "ComPort"
                                << "TAPI";
    QTest::newRow("no final line end") << QByteArray("[System]\nComPort=COM4") << "System"
                                       << "ComPort"
                                       << "COM4";
    QTest::newRow("comment is no key") << QByteArray("[System]\n;ComPort=COM1\n") << "System"
                                       << ";ComPort"
                                       << "<default>";
    QTest::newRow("junk skipped") << QByteArray("garbage\n[System]\n\x01\x02 junk\nComPort=COM1\n")
                                  << "System"
                                  << "ComPort"
                                  << "COM1";
    QTest::newRow("first of two") << QByteArray("[System]\nk=1\nk=2\n") << "System"
                                  << "k"
                                  << "1";
    QTest::newRow("repeated section") << QByteArray("[System]\na=1\n[Other]\n[system]\nb=2\n") << "System"
                                      << "b"
                                      << "2";
    QTest::newRow("windows-1252") << QByteArray("[System]\nName=Caf\xe9 \x80\n") << "System"
                                  << "Name" << QString::fromUtf8("Café €");
}

void tst_IniFile::read()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, expected);
    const IniFile ini(writeFile(content));
    QCOMPARE(ini.readString(section, key, QStringLiteral("<default>")), expected);
}

void tst_IniFile::readMissingFileGivesDefault()
{
    const IniFile ini(dir_->filePath(QStringLiteral("none/pager.ini")));
    QCOMPARE(ini.readString("System", "SendMessages", "1"), QStringLiteral("1"));
    QCOMPARE(ini.readString("System", "ComPort"), QString());
}

void tst_IniFile::readUnreadableFileGivesDefault()
{
    // A folder where the file should be cannot be read as a file.
    const QString path = dir_->filePath(QStringLiteral("pager.ini"));
    QVERIFY(QDir().mkpath(path));
    QCOMPARE(IniFile(path).readString("System", "SendMessages", "1"), QStringLiteral("1"));
}

void tst_IniFile::write_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QByteArray>("after");

    QTest::newRow("update in place") << QByteArray("[System]\nComPort=COM1\nPulseDial=0\n") << "System"
                                     << "ComPort"
                                     << "COM3" << QByteArray("[System]\nComPort=COM3\nPulseDial=0\n");
    QTest::newRow("update keeps the key's spelling") << QByteArray("[system]\ncomport=COM1\n") << "SYSTEM"
                                                     << "COMPORT"
                                                     << "TAPI" << QByteArray("[system]\ncomport=TAPI\n");
    QTest::newRow("append key at the end of its section")
        << QByteArray("[System]\nComPort=COM1\n\n[Other]\nx=1\n") << "System"
        << "PulseDial"
        << "1" << QByteArray("[System]\nComPort=COM1\nPulseDial=1\n\n[Other]\nx=1\n");
    QTest::newRow("append key to empty section") << QByteArray("[System]\n[Other]\n") << "system"
                                                 << "ComPort"
                                                 << "COM2" << QByteArray("[System]\nComPort=COM2\n[Other]\n");
    QTest::newRow("append section at the end")
        << QByteArray("; settings\n[Other]\nx=1\n") << "System"
        << "SendMessages"
        << "0" << QByteArray("; settings\n[Other]\nx=1\n[System]\nSendMessages=0\n");
    QTest::newRow("no final line end") << QByteArray("[Other]\nx=1") << "System"
                                       << "k"
                                       << "v" << QByteArray("[Other]\nx=1\n[System]\nk=v\n");
    QTest::newRow("section without final line end") << QByteArray("[System]\na=1") << "System"
                                                    << "b"
                                                    << "2" << QByteArray("[System]\na=1\nb=2\n");
    QTest::newRow("crlf file stays crlf") << QByteArray("[System]\r\nComPort=COM1\r\n") << "System"
                                          << "PulseDial"
                                          << "1" << QByteArray("[System]\r\nComPort=COM1\r\nPulseDial=1\r\n");
    QTest::newRow("comments and junk kept")
        << QByteArray("; keep me\n[System]\n# and me\n\x7f junk line\nComPort=COM1\n") << "System"
        << "ComPort"
        << "COM2" << QByteArray("; keep me\n[System]\n# and me\n\x7f junk line\nComPort=COM2\n");
    QTest::newRow("commented key is not updated")
        << QByteArray("[System]\n;ComPort=COM1\n") << "System"
        << "ComPort"
        << "COM2" << QByteArray("[System]\n;ComPort=COM1\nComPort=COM2\n");
    QTest::newRow("line break in value becomes blank")
        << QByteArray("[System]\n") << "System"
        << "OutsideLine"
        << "9\r\n[Evil]" << QByteArray("[System]\nOutsideLine=9  [Evil]\n");
    QTest::newRow("empty value") << QByteArray("[System]\nSendMessages=1\n") << "System"
                                 << "SendMessages"
                                 << "" << QByteArray("[System]\nSendMessages=\n");
    QTest::newRow("windows-1252 written")
        << QByteArray() << "System"
        << "Name" << QString::fromUtf8("Café") << QByteArray("[System]\nName=Caf\xe9\n");
}

void tst_IniFile::write()
{
    QFETCH(QByteArray, before);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(QByteArray, after);
    const QString path = writeFile(before);
    QVERIFY(IniFile(path).writeString(section, key, value));
    QCOMPARE(fileBytes(path), after);
}

void tst_IniFile::writeCreatesFileAndFolder()
{
    const QString path = dir_->filePath(QStringLiteral("PlimoPager32/pager.ini"));
    const IniFile ini(path);
    QVERIFY(ini.writeString("System", "SendMessages", "0"));
    QVERIFY(ini.writeString("System", "ComPort", "COM1"));
    QCOMPARE(fileBytes(path), QByteArray("[System]\nSendMessages=0\nComPort=COM1\n"));
}

void tst_IniFile::writeRefusesUnusableNames_data()
{
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::newRow("empty section") << ""
                                   << "k";
    QTest::newRow("empty key") << "System"
                               << "  ";
    QTest::newRow("key with =") << "System"
                                << "a=b";
    QTest::newRow("key with line break") << "System"
                                         << "a\nb";
    QTest::newRow("section with ]") << "Sys]tem"
                                    << "k";
    QTest::newRow("section with line break") << "Sys\ntem"
                                             << "k";
    QTest::newRow("key like a comment") << "System"
                                        << ";k";
}

void tst_IniFile::writeRefusesUnusableNames()
{
    QFETCH(QString, section);
    QFETCH(QString, key);
    const QByteArray before("[System]\nk=1\n");
    const QString path = writeFile(before);
    QVERIFY(!IniFile(path).writeString(section, key, "v"));
    QCOMPARE(fileBytes(path), before);
}

void tst_IniFile::writeKeepsUnreadableFile()
{
    const QString path = writeFile("[System]\nk=1\n");
    QFile::setPermissions(path, QFileDevice::WriteOwner);
    QFile probe(path);
    if (probe.open(QIODevice::ReadOnly))
        QSKIP("running with rights that read any file");
    QVERIFY(!IniFile(path).writeString("System", "k", "2"));
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QCOMPARE(fileBytes(path), QByteArray("[System]\nk=1\n"));
}

void tst_IniFile::fileOverTheBoundIsNotReadAndSaveReplacesIt()
{
    const QString path = writeFile("[System]\nSendMessages=0\n;" + QByteArray(config::kIniFileLimit, 'x'));
    const IniFile ini(path);
    QCOMPARE(ini.readString("System", "SendMessages", "1"), QStringLiteral("1"));
    QCOMPARE(ini.fault(), path + QStringLiteral(" is larger than 1 MiB"));
    QVERIFY(ini.writeString("System", "ComPort", "COM2"));
    QCOMPARE(fileBytes(path), QByteArray("[System]\nComPort=COM2\n"));
    QCOMPARE(ini.fault(), QString());
}

void tst_IniFile::writeThenReadRoundTrip_data()
{
    QTest::addColumn<QString>("value");
    QTest::newRow("digits") << "9";
    QTest::newRow("init string") << "AT&F~ATE0V1~";
    QTest::newRow("inner blanks") << "a b  c";
    QTest::newRow("empty") << "";
}

void tst_IniFile::writeThenReadRoundTrip()
{
    QFETCH(QString, value);
    const IniFile ini(dir_->filePath(QStringLiteral("pager.ini")));
    QVERIFY(ini.writeString("System", "Key", value));
    QVERIFY(ini.writeString("System", "Other", "x"));
    QCOMPARE(ini.readString("system", "KEY", "<default>"), value);
}

void tst_IniFile::pagerIniLivesInTheUsersConfigFolder()
{
    QStandardPaths::setTestModeEnabled(true);
    const QString expected = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/PlimoPager32/pager.ini");
    QCOMPARE(config::pagerIniPath(), expected);
    QVERIFY(config::pagerIniPath().contains(QStringLiteral("qttest")));
}

QTEST_GUILESS_MAIN(tst_IniFile)
#include "tst_inifile.moc"
