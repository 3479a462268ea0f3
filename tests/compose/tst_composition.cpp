#include "compose/composition.h"
#include "compose/recipientlist.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

class tst_Composition : public QObject {
    Q_OBJECT

private slots:
    void listIsSortedAsTheOperatorReadsIt();
    void refreshAddsOnlyUnlistedNamesAndKeepsTicks();
    void rebuildDropsTicks();
    void tickAndUntickTakeOneOfTwinItems();
    void checkStateThroughTheModel();
    void switchesAndTextSignalOnChangeOnly();
};

void tst_Composition::listIsSortedAsTheOperatorReadsIt()
{
    compose::RecipientList list;
    QAbstractItemModelTester tester(&list, QAbstractItemModelTester::FailureReportingMode::QtTest);
    list.rebuild({ "zed", "Group: Night", "Adam", "adam", "Mary" });
    QCOMPARE(list.names(), QStringList({ "Adam", "adam", "Group: Night", "Mary", "zed" }));
}

void tst_Composition::refreshAddsOnlyUnlistedNamesAndKeepsTicks()
{
    compose::RecipientList list;
    QAbstractItemModelTester tester(&list, QAbstractItemModelTester::FailureReportingMode::QtTest);
    list.rebuild({ "Mary", "zed" });
    QVERIFY(list.tick(QStringLiteral("Mary")));
    list.addMissing({ "MARY", "Bea", "zed", "Carl", "bea" });
    QCOMPARE(list.names(), QStringList({ "Bea", "Carl", "Mary", "zed" }));
    QCOMPARE(list.tickedNames(), QStringList { "Mary" });
}

void tst_Composition::rebuildDropsTicks()
{
    compose::RecipientList list;
    list.rebuild({ "Ann", "Ann" });
    QVERIFY(list.tick(QStringLiteral("Ann")));
    list.rebuild({ "Ann", "Bob" });
    QCOMPARE(list.tickedNames(), QStringList());
}

void tst_Composition::tickAndUntickTakeOneOfTwinItems()
{
    compose::RecipientList list;
    list.rebuild({ "Ann", "Bob", "Ann" });
    QVERIFY(list.tick(QStringLiteral("Ann")));
    QVERIFY(list.tick(QStringLiteral("Ann")));
    QVERIFY(!list.tick(QStringLiteral("Ann"))); // both are ticked
    QVERIFY(!list.tick(QStringLiteral("ann"))); // names are exact
    QCOMPARE(list.tickedNames(), QStringList({ "Ann", "Ann" }));
    QVERIFY(list.untick(QStringLiteral("Ann")));
    QCOMPARE(list.tickedNames(), QStringList { "Ann" });
    list.untickAll();
    QCOMPARE(list.tickedNames(), QStringList());
    QVERIFY(!list.untick(QStringLiteral("Ann")));
}

void tst_Composition::checkStateThroughTheModel()
{
    compose::RecipientList list;
    list.rebuild({ "Ann", "Bob" });
    QSignalSpy changed(&list, &QAbstractItemModel::dataChanged);
    const QModelIndex bob = list.index(1);
    QVERIFY(list.flags(bob) & Qt::ItemIsUserCheckable);
    QVERIFY(list.setData(bob, Qt::Checked, Qt::CheckStateRole));
    QCOMPARE(bob.data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
    QCOMPARE(list.tickedNames(), QStringList { "Bob" });
    QVERIFY(!list.setData(bob, QStringLiteral("Bo"), Qt::EditRole)); // names are not edited here
    QCOMPARE(changed.size(), 1);
}

void tst_Composition::switchesAndTextSignalOnChangeOnly()
{
    compose::Composition composition;
    QSignalSpy text(&composition, &compose::Composition::textChanged);
    QSignalSpy group(&composition, &compose::Composition::selectByGroupChanged);
    composition.setText(QStringLiteral("Fire"));
    composition.appendText(QStringLiteral(" drill"));
    composition.setText(QStringLiteral("Fire drill"));
    QCOMPARE(composition.text(), QStringLiteral("Fire drill"));
    QCOMPARE(text.size(), 2);
    composition.setSelectByGroup(true);
    composition.setSelectByGroup(true);
    composition.setSelectByGroup(false);
    QCOMPARE(group.size(), 2);
    QSignalSpy selected(&composition, &compose::Composition::textSelected);
    QCOMPARE(composition.selectedText(), QStringLiteral("Fire drill"));
    QCOMPARE(selected.size(), 1);
}

QTEST_GUILESS_MAIN(tst_Composition)
#include "tst_composition.moc"
