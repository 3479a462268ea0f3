// MemTableModel over a TMemTable, checked by QAbstractItemModelTester while the table changes.

#include "store/memtable.h"
#include "store/memtablemodel.h"

#include <QAbstractItemModelTester>
#include <QItemSelectionModel>
#include <QSignalSpy>
#include <QTest>

using store::MemTableModel;
using store::TMemTable;

namespace {

const QStringList Items = { "Retries;3;0;0", "PagerPhone;1;500;0", "MessageToSend;1;500;0", "IsGroup;5;0;0",
    "UserOrGroupName;1;30;0" };

const QList<MemTableModel::Column> Columns
    = { { "UserOrGroupName", "User/Group Name" }, { "MessageToSend", "Message" }, { "PagerPhone", "" },
          { "Retries", "" }, { "IsGroup", "" }, { "NotThere", "Missing" } };

void addRow(TMemTable& t, const QString& name, int retries)
{
    t.append();
    t.setFieldText("UserOrGroupName", name);
    t.setFieldText("MessageToSend", "msg " + name);
    t.setFieldInt("Retries", retries);
    t.post();
}

QString cell(const MemTableModel& m, int row, int column)
{
    return m.data(m.index(row, column)).toString();
}

} // namespace

class tst_MemTableModel : public QObject {
    Q_OBJECT

private slots:
    void followsTableChanges();
    void headers();
    void selectionAndCurrentRow();
    void tableDestroyed();
};

void tst_MemTableModel::followsTableChanges()
{
    TMemTable t;
    t.setFieldDefinitions(Items);
    MemTableModel model(&t, Columns);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(model.rowCount(), 0); // closed
    QCOMPARE(model.columnCount(), 6);

    t.open();
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    addRow(t, "Ann", 3);
    addRow(t, "Bob", 2);
    addRow(t, "Cy", 1);
    QCOMPARE(inserted.size(), 3);
    QCOMPARE(model.rowCount(), 3);
    QCOMPARE(cell(model, 1, 0), QString("Bob"));
    QCOMPARE(cell(model, 1, 1), QString("msg Bob"));
    QCOMPARE(model.data(model.index(1, 3)).toInt(), 2);
    QCOMPARE(cell(model, 1, 4), QString()); // unset Boolean
    QCOMPARE(cell(model, 1, 5), QString()); // no such field: an empty column

    // A row being appended is not shown until it is posted.
    t.append();
    QCOMPARE(model.rowCount(), 3);
    t.cancel();

    t.setCurrentRow(1);
    t.edit();
    t.setFieldText("UserOrGroupName", "Bobby");
    t.setFieldBool("IsGroup", true);
    t.post();
    QCOMPARE(changed.size(), 1);
    QCOMPARE(changed.at(0).at(0).toModelIndex().row(), 1);
    QCOMPARE(cell(model, 1, 0), QString("Bobby"));
    QCOMPARE(cell(model, 1, 4), QString("True"));

    t.deleteRow();
    QCOMPARE(removed.size(), 1);
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(cell(model, 1, 0), QString("Cy"));
    t.first();
    t.deleteRow();
    t.deleteRow();
    QCOMPARE(model.rowCount(), 0);

    // Close and load reset the model; the file's rows appear.
    addRow(t, "Dee", 1);
    const QByteArray bytes = t.saveToBytes();
    t.close();
    QCOMPARE(model.rowCount(), 0);
    t.loadFromBytes(bytes, "mem");
    QCOMPARE(model.rowCount(), 1);
    QCOMPARE(cell(model, 0, 0), QString("Dee"));
    QCOMPARE(reset.size(), 2);
}

void tst_MemTableModel::headers()
{
    TMemTable t;
    t.setFieldDefinitions(Items);
    t.open();
    addRow(t, "Ann", 3);
    MemTableModel model(&t, Columns);
    QCOMPARE(model.headerData(0, Qt::Horizontal).toString(), QString("User/Group Name"));
    QCOMPARE(model.headerData(1, Qt::Horizontal).toString(), QString("Message"));
    QCOMPARE(model.headerData(2, Qt::Horizontal).toString(), QString("PagerPhone")); // the field name
    QCOMPARE(model.headerData(0, Qt::Vertical).toInt(), 1);
    QVERIFY(!model.headerData(6, Qt::Horizontal).isValid());
    QVERIFY(!(model.flags(model.index(0, 0)) & Qt::ItemIsEditable));
}

void tst_MemTableModel::selectionAndCurrentRow()
{
    TMemTable t;
    t.setFieldDefinitions(Items);
    t.open();
    addRow(t, "Ann", 3);
    addRow(t, "Bob", 2);
    addRow(t, "Cy", 1);
    MemTableModel model(&t, Columns);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QItemSelectionModel selection(&model);
    model.followSelection(&selection);
    QCOMPARE(selection.currentIndex().row(), 2); // the last posted row is current

    // Selecting a row in the grid makes it the table's current row...
    selection.setCurrentIndex(
        model.index(0, 1), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    QCOMPARE(t.currentRow(), 0);
    QCOMPARE(t.fieldText("UserOrGroupName"), QString("Ann"));

    // ...and the table's moves select the row.
    t.next();
    QCOMPARE(selection.currentIndex().row(), 1);
    QVERIFY(selection.isRowSelected(1, {}));

    // After a delete the following row is current and selected.
    t.deleteRow();
    QCOMPARE(t.fieldText("UserOrGroupName"), QString("Cy"));
    QCOMPARE(selection.currentIndex().row(), 1);
    QCOMPARE(cell(model, selection.currentIndex().row(), 0), QString("Cy"));
}

void tst_MemTableModel::tableDestroyed()
{
    auto* t = new TMemTable;
    t->setFieldDefinitions(Items);
    t->open();
    addRow(*t, "Ann", 3);
    MemTableModel model(t, Columns);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(model.rowCount(), 1);
    delete t;
    QCOMPARE(model.rowCount(), 0);
    QVERIFY(!model.table());
}

QTEST_GUILESS_MAIN(tst_MemTableModel)
#include "tst_memtablemodel.moc"
