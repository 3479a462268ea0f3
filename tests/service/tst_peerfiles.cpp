// Tables another xBase engine wrote (peer-files/dbfcdx), opened by the desk's start-up step and by
// a pass of plimopagerd: every file stays byte for byte as it was and nothing is said about them.
// This program's store then reads what that engine reads (peer-files/dbfcdx-walk, one file a
// table): the fields, every tag with its keys in order (deleted records' keys left out), every live
// record and memo.
#include "core/desk.h"
#include "store/cdxindex.h"
#include "store/cp1252.h"
#include "store/table.h"
#include "support/filebytes.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <set>

namespace {

const QString kPeerFiles = QStringLiteral(PLIMO_SOURCE_DIR "/tests/service/peer-files");

// Bytes as the walk files write them: printable ASCII as it is, the rest as \xHH.
QString quoted(const QByteArray& bytes)
{
    QString out(u'"');
    for (const char c : bytes)
        out += uchar(c) >= 0x20 && uchar(c) < 0x7F
            ? QString(QLatin1Char(c))
            : QStringLiteral("\\x%1").arg(uchar(c), 2, 16, QLatin1Char('0'));
    return out + u'"';
}

} // namespace

class tst_PeerFiles : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir_;
    QString data_;

    // The walk of table `base` as this program's store reads it, in the walk files' lines: the
    // record count, the fields, the tags, each tag's keys of live records in order, the records.
    QStringList walkOf(const QString& base)
    {
        const store::Connection connection(data_);
        store::Table t;
        t.setConnection(connection);
        t.setTableName(base + QStringLiteral(".dbf"));
        t.open();
        QStringList lines { QStringLiteral("table\trecords=%1").arg(t.recordCount()) }, records;
        for (const store::FieldDef& f : t.fields())
            lines << QStringLiteral("field\t%1\t%2\t%3\t%4")
                         .arg(QLatin1String(f.name), QString(QLatin1Char(f.type)))
                         .arg(f.width)
                         .arg(f.decimals);
        std::set<uint32_t> live;
        for (t.first(); !t.eof(); t.next()) {
            live.insert(t.recNo());
            QString rec = QStringLiteral("rec\t%1").arg(t.recNo());
            QStringList memos;
            for (const store::FieldDef& f : t.fields()) {
                const QByteArray value = store::toCp1252(t.fieldText(QLatin1String(f.name)));
                if (f.type == 'M')
                    memos << QStringLiteral("mval\t%1\t%2\t%3\t%4")
                                 .arg(t.recNo())
                                 .arg(QLatin1String(f.name))
                                 .arg(value.size())
                                 .arg(quoted(value));
                else
                    rec += QStringLiteral("\t%1=%2").arg(QLatin1String(f.name),
                        quoted(f.type == 'N' ? value.rightJustified(f.width) : value.leftJustified(f.width)));
            }
            records << rec << memos;
        }
        const auto index = store::CdxIndex::openIfExists(
            connection.resolve(base + QStringLiteral(".cdx")), store::CdxIndex::Access::Shared);
        const std::vector<store::CdxTag*> tags = index ? index->tags() : std::vector<store::CdxTag*>();
        for (size_t i = 0; i < tags.size(); ++i)
            lines << QStringLiteral("tag\t%1\t%2\t%3\tunique=%4\tfor=")
                         .arg(i + 1)
                         .arg(QLatin1String(tags[i]->name()), QLatin1String(tags[i]->expression()),
                             tags[i]->unique() ? u"T" : u"F");
        store::CdxEntry e;
        for (store::CdxTag* tag : tags)
            for (bool ok = tag->first(e); ok; ok = tag->next(e))
                if (live.count(e.recno))
                    lines << QStringLiteral("key\t%1\t%2\t%3")
                                 .arg(QLatin1String(tag->name()), quoted(e.key))
                                 .arg(e.recno);
        return lines << records;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        data_ = dir_.filePath(QStringLiteral("data"));
        QVERIFY(QDir().mkpath(data_));
        for (const QFileInfo& f : QDir(kPeerFiles + QStringLiteral("/dbfcdx")).entryInfoList(QDir::Files)) {
            QVERIFY(QFile::copy(f.filePath(), data_ + u'/' + f.fileName()));
            QVERIFY(QFile::setPermissions(data_ + u'/' + f.fileName(), QFile::ReadOwner | QFile::WriteOwner));
        }
        {
            core::Desk desk(data_);
            QCOMPARE(desk.open(), QString());
            QCOMPARE(desk.startupNotices(), QStringList());
            QCOMPARE(desk.startupFaults(), QStringList());
        }
        QProcess pass;
        pass.setProcessChannelMode(QProcess::MergedChannels);
        pass.start(QStringLiteral(PLIMO_BINARY_DIR "/service/plimopagerd"),
            { QStringLiteral("--data"), data_, QStringLiteral("--config"),
                dir_.filePath(QStringLiteral("pager.ini")), QStringLiteral("--once") });
        QVERIFY(pass.waitForFinished(60000));
        const QString said = QString::fromUtf8(pass.readAll());
        QCOMPARE(pass.exitCode(), 0);
        QVERIFY2(!said.contains(QRegularExpression(
                     QStringLiteral("\\.(dbf|cdx|fpt)\\b"), QRegularExpression::CaseInsensitiveOption)),
            qPrintable(said));
    }

    void readAsTheirEngineReads_data()
    {
        QTest::addColumn<QString>("table");
        for (const char* table :
            { "Busers", "Groups", "Modems", "MsgLog2", "PageComp", "QuickMsg", "SchedMs2" })
            QTest::newRow(table) << QString::fromLatin1(table);
    }
    void readAsTheirEngineReads()
    {
        QFETCH(QString, table);
        // Their lines of what is compared (their seeks, counts and header details left aside).
        QStringList walk;
        for (const QString& line : QString::fromLatin1(
                 testsupport::fileBytes(
                     QStringLiteral("%1/dbfcdx-walk/%2.walk").arg(kPeerFiles, table.toLower())))
                                       .split(u'\n', Qt::SkipEmptyParts)) {
            const QString kind = line.section(u'\t', 0, 0);
            if (kind == u"table")
                walk << line.section(u'\t', 0, 1);
            else if (QStringList { "field", "tag", "key", "rec", "mval" }.contains(kind))
                walk << line;
        }
        QCOMPARE(walkOf(table), walk);
    }

    // Last, after every read above.
    void keptByteForByte()
    {
        const QFileInfoList files = QDir(kPeerFiles + QStringLiteral("/dbfcdx")).entryInfoList(QDir::Files);
        QCOMPARE(files.size(), 16);
        for (const QFileInfo& f : files)
            QVERIFY2(
                testsupport::fileBytes(data_ + u'/' + f.fileName()) == testsupport::fileBytes(f.filePath()),
                qPrintable(f.fileName()));
    }
};

QTEST_GUILESS_MAIN(tst_PeerFiles)
#include "tst_peerfiles.moc"
