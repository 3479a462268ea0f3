// A carrier's paths as the operator's commands leave them on disk: trial numbers 01 to NN without
// gaps after every add, delete and move, read back with a handle of their own.
#include "core/carrierpaths.h"
#include "core/desk.h"
#include "store/table.h"
#include "support/datafolder.h"
#include "support/records.h"

#include <QTest>

class tst_CarrierPaths : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<testsupport::DataFolder> dir_;

    QStringList onDisk() const
    {
        return testsupport::onDisk(
            dir_->path(), "CARRPATH.DBF", "BY_CARRIER", { "PAGERCOMP", "PATHNO", "ADDRESS" });
    }
    // A new path of `carrier`, its address `address` typed on the record the command left current.
    static void add(core::Desk& desk, const QString& carrier, const QString& address)
    {
        QVERIFY(!core::addCarrierPath(desk, carrier).isEmpty());
        store::Table& paths = desk.CarrPathT();
        paths.edit();
        paths.setFieldText("ADDRESS", address);
        paths.post();
    }

private slots:
    void init()
    {
        dir_ = std::make_unique<testsupport::DataFolder>();
        QVERIFY(dir_->isValid());
    }
    void cleanup() { dir_.reset(); }

    void commandsKeepTrialOrder()
    {
        core::Desk desk(dir_->path());
        QCOMPARE(desk.open(), QString());
        store::Table& paths = desk.CarrPathT();
        add(desk, "Metro", "m1");
        add(desk, "Acme", "a1");
        add(desk, "Acme", "a2");
        add(desk, "Acme", "a3");
        if (QTest::currentTestFailed())
            return;
        // A new path is off and goes through the modem until the operator says otherwise.
        QCOMPARE(paths.fieldText("PATHNO"), QStringLiteral("03"));
        QCOMPARE(paths.fieldText("METHOD"), QStringLiteral("MODEM"));
        QCOMPARE(paths.fieldBool("ENABLED"), false);

        QCOMPARE(core::moveCarrierPath(desk, "Acme", "03", -1), QStringLiteral("02"));
        QCOMPARE(paths.fieldText("ADDRESS"), QStringLiteral("a3"));
        QCOMPARE(core::moveCarrierPath(desk, "Acme", "01", -1), QString()); // first already
        QCOMPARE(core::moveCarrierPath(desk, "Acme", "03", +1), QString()); // last already
        QCOMPARE(onDisk(), (QStringList { "Acme|01|a1", "Acme|02|a3", "Acme|03|a2", "Metro|01|m1" }));

        QVERIFY(core::deleteCarrierPath(desk, "Acme", "01"));
        QCOMPARE(paths.fieldText("ADDRESS"), QStringLiteral("a3")); // took its place
        QVERIFY(!core::deleteCarrierPath(desk, "Acme", "09"));
        QCOMPARE(onDisk(), (QStringList { "Acme|01|a3", "Acme|02|a2", "Metro|01|m1" }));

        // Another program left a gap: the next command closes it.
        {
            store::Table other;
            other.setConnection(store::Connection(dir_->path()));
            other.setTableName("CARRPATH.DBF");
            other.open();
            QVERIFY(other.locate("ADDRESS", "a2"));
            other.edit();
            other.setFieldText("PATHNO", "07");
            other.post();
        }
        add(desk, "Acme", "a4");
        QCOMPARE(onDisk(), (QStringList { "Acme|01|a3", "Acme|02|a2", "Acme|03|a4", "Metro|01|m1" }));
        QVERIFY(core::deleteCarrierPath(desk, "Acme", "3"));
        QCOMPARE(paths.fieldText("ADDRESS"), QStringLiteral("a2")); // the last one left
    }
};

QTEST_GUILESS_MAIN(tst_CarrierPaths)
#include "tst_carrierpaths.moc"
