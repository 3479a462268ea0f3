// The grids' table model without a window, under Qt's model tester: rows read in blocks as they are
// asked for, another handle's appends and deletions followed, a block that cannot be read said once,
// a computed column, the rows of one key range (one carrier's paths) with a check box column.
#include "core/carrierpaths.h"
#include "core/desk.h"
#include "models/tablemodel.h"
#include "store/fieldnames.h"
#include "store/storeerror.h"
#include "support/datafolder.h"
#include "support/logrecords.h"
#include "support/records.h"

#include <QAbstractItemModelTester>
#include <QFile>
#include <QSignalSpy>
#include <QTest>

using namespace testsupport;

class tst_TableModel : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<DataFolder> dir_;

    // Every row's message, asked for as a view would, with the event loop let run between blocks.
    static QStringList shownMessages(models::TableModel& model)
    {
        QStringList shown;
        for (int pass = 0; pass < 3; ++pass) {
            shown.clear();
            for (int row = 0; row < model.rowCount(); ++row) {
                shown << model.index(row, 1).data().toString();
                if (row % 64 == 0)
                    QCoreApplication::processEvents();
            }
            QCoreApplication::processEvents();
        }
        return shown;
    }

private slots:
    void init()
    {
        dir_ = std::make_unique<DataFolder>();
        QVERIFY(dir_->isValid());
    }
    void cleanup() { dir_.reset(); }

    void anotherHandlesAppendsAndDeletionsAreFollowed()
    {
        core::Desk shared(dir_->path());
        QCOMPARE(shared.open(), QString());
        models::TableModel model(shared.MsgLogT(), { store::msglog::UserName, store::msglog::Msg });
        // The rows of deleted records a block finds go in one removal from the end, the rows after
        // them shifting up (one removal a batch keeps a million-row view quick); the tester's check
        // of the rows beside a removal counts that shift, so here it warns instead of failing.
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Warning);
        QCOMPARE(model.rowCount(), 0);

        // Another handle, as another window or program: 3,000 records, then every 7th and the last
        // 100 deleted.
        {
            core::Desk other(dir_->path());
            QCOMPARE(other.open(), QString());
            for (int i = 0; i < 3000; ++i) {
                addLogRecord(other, QStringLiteral("2031/05/14"), QStringLiteral("10:00:00 AM"), QStringLiteral("U"),
                    QStringLiteral("m%1").arg(i, 4, 10, QChar(u'0')));
                if (i % 7 == 3 || i >= 2900)
                    other.MsgLogT().deleteRecord();
            }
        }
        // Read again, as a window does when it is activated.
        shared.MsgLogT().refresh();
        model.reload();
        QStringList expected;
        for (int i = 0; i < 2900; ++i) {
            if (i % 7 != 3)
                expected << QStringLiteral("m%1").arg(i, 4, 10, QChar(u'0'));
        }
        QCOMPARE(shownMessages(model), expected);
        // A move of the shared handle is the model's current row.
        shared.MsgLogT().last();
        QTRY_COMPARE(model.currentRow(), model.rowCount() - 1);
    }

    void anotherHandlesAppendsPassTheStrictTester()
    {
        core::Desk shared(dir_->path());
        QCOMPARE(shared.open(), QString());
        models::TableModel model(shared.MsgLogT(), { store::msglog::UserName, store::msglog::Msg });
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        core::Desk other(dir_->path());
        QCOMPARE(other.open(), QString());
        QStringList expected;
        for (int round = 0; round < 2; ++round) {
            for (int i = 0; i < 1500; ++i) {
                const QString text = QStringLiteral("r%1-%2").arg(round).arg(i, 4, 10, QChar(u'0'));
                addLogRecord(other, QStringLiteral("2031/05/14"), QStringLiteral("10:00:00 AM"), QStringLiteral("U"), text);
                expected << text;
            }
            shared.MsgLogT().refresh();
            model.reload();
            QCOMPARE(shownMessages(model), expected);
        }
    }

    void keyRangeShowsOnlyItsKeys()
    {
        using namespace store::carrpath;
        core::Desk desk(dir_->path());
        QCOMPARE(desk.open(), QString());
        store::Table& paths = desk.CarrPathT();
        const auto add = [&paths](const QString& carrier, const QString& address, bool enabled) {
            paths.append();
            paths.setFieldText(PagerComp, carrier);
            paths.setFieldText(PathNo, QStringLiteral("01"));
            paths.setFieldText(Address, address);
            paths.setFieldBool(Enabled, enabled);
            paths.post();
        };
        // More than the model reads whole between two other carriers (one of whose names begins
        // with the other's), every tenth deleted: read in blocks that do not begin on the range.
        add(QStringLiteral("Ace"), QStringLiteral("before"), true);
        QStringList expected;
        for (int i = 0; i < 2100; ++i) {
            const QString address = QStringLiteral("m%1").arg(i, 4, 10, QChar(u'0'));
            add(QStringLiteral("Metro"), address, i % 2 == 0);
            if (i % 10 == 3)
                paths.deleteRecord();
            else
                expected << address;
        }
        add(QStringLiteral("Metro Two"), QStringLiteral("after"), true);
        add(QStringLiteral("Zed"), QStringLiteral("last"), true);

        models::TableModel model(paths, { PagerComp, Address, Enabled });
        model.setColumnCheckable(2);
        // The deleted records' rows go in batches from the end, as above: warnings, not failures.
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Warning);
        const auto [from, to] = models::TableModel::keyRange(core::carrierKey(QStringLiteral("Metro")));
        model.setKeyRange(from, to);
        QStringList shown = shownMessages(model);
        shown.sort();
        QCOMPARE(shown, expected);
        QCOMPARE(model.index(0, 0).data().toString(), QStringLiteral("Metro"));
        QCOMPARE(model.index(0, 2).data().toString(), QString()); // the box says it
        QCOMPARE(model.index(0, 2).data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
        QVERIFY(model.flags(model.index(0, 2)) & Qt::ItemIsUserCheckable);

        // A bare prefix takes every name that begins with it.
        const auto [metros, afterMetros] = models::TableModel::keyRange("Metro");
        model.setKeyRange(metros, afterMetros);
        QCOMPARE(shownMessages(model).size(), expected.size() + 1);
        model.setKeyRange(from, from);
        QCOMPARE(model.rowCount(), 0);
        model.setKeyRange(from, to);

        // The shared handle outside the range has no row; inside, its row.
        paths.first();
        QTRY_COMPARE(model.currentRow(), -1);
        QVERIFY(paths.locate(Address, QStringLiteral("m0005")));
        QTRY_VERIFY(model.currentRow() >= 0);
        const int row = model.currentRow();
        QCOMPARE(model.index(row, 1).data().toString(), QStringLiteral("m0005"));
        // A tick is written without an editor to close.
        QCOMPARE(model.index(row, 2).data(Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
        QVERIFY(model.setData(model.index(row, 2), Qt::Checked, Qt::CheckStateRole));
        QTRY_COMPARE(paths.state(), store::Table::State::Browse);
        QVERIFY(testsupport::onDisk(dir_->path(), "CARRPATH.DBF", "", { "ADDRESS", "ENABLED" })
                    .contains("m0005|T"));

        model.clearKeyRange();
        QCOMPARE(shownMessages(model).size(), expected.size() + 3); // Ace, Metro Two, Zed
    }

    void aBlockThatCannotBeReadIsSaidOnce()
    {
        core::Desk shared(dir_->path());
        QCOMPARE(shared.open(), QString());
        for (int i = 0; i < 2100; ++i)
            addLogRecord(shared, QStringLiteral("2031/05/14"), QStringLiteral("10:00:00 AM"), QStringLiteral("U"),
                QStringLiteral("m%1").arg(i));
        models::TableModel model(shared.MsgLogT(), { store::msglog::UserName, store::msglog::Msg });
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy errors(&model, &models::TableModel::storeError);
        QFile memos(dir_->filePath(QStringLiteral("MSGLOG2.fpt")));
        QVERIFY(memos.open(QIODevice::ReadWrite));
        QVERIFY(memos.seek(memos.size() / 4));
        memos.write(QByteArray(int(memos.size() / 2), '\xff'));
        memos.close();
        shownMessages(model);
        QCOMPARE(errors.size(), 1);
        QVERIFY(errors.constFirst().constFirst().toString().contains(QStringLiteral("MSGLOG2.fpt")));
    }

    // A computed column: a record's value is asked for once, when its row is, and again after
    // computedColumnsChanged(); it cannot be edited; a store error it throws leaves the cell empty
    // and is said once.
    void aComputedColumnIsAskedForOncePerRecord()
    {
        core::Desk shared(dir_->path());
        QCOMPARE(shared.open(), QString());
        for (int i = 0; i < 300; ++i)
            addLogRecord(shared, QStringLiteral("2031/05/14"), QStringLiteral("10:00:00 AM"), QStringLiteral("U"),
                QStringLiteral("m%1").arg(i));
        models::TableModel model(shared.MsgLogT(), { store::msglog::Msg });
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy errors(&model, &models::TableModel::storeError);
        QList<uint32_t> asked;
        QString word = QStringLiteral("old");
        QCOMPARE(model.addComputedColumn(QStringLiteral("Word"), [&](uint32_t recNo) {
            asked << recNo;
            if (word.isEmpty())
                throw store::StoreError(QStringLiteral("DLVSTAT.DBF cannot be read"));
            return word + QString::number(recNo);
        }), 1);
        asked.clear();
        QCOMPARE(model.index(250, 1).data().toString(), QStringLiteral("old251"));
        QCOMPARE(model.index(250, 1).data().toString(), QStringLiteral("old251"));
        QCOMPARE(asked, QList<uint32_t>({ 251 }));
        QVERIFY(!(model.flags(model.index(250, 1)) & Qt::ItemIsEditable));
        QVERIFY(!model.setData(model.index(250, 1), QStringLiteral("typed")));

        word = QStringLiteral("new");
        model.computedColumnsChanged();
        QCOMPARE(model.index(250, 1).data().toString(), QStringLiteral("new251"));
        word.clear();
        model.computedColumnsChanged();
        QCOMPARE(model.index(250, 1).data().toString(), QString());
        QCOMPARE(model.index(251, 1).data().toString(), QString());
        QTRY_COMPARE(errors.size(), 1);
        QCOMPARE(model.index(250, 0).data().toString(), QStringLiteral("m250"));
    }
};

QTEST_GUILESS_MAIN(tst_TableModel)
#include "tst_tablemodel.moc"
