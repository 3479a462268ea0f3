#include "core/recipientname.h"

#include <QTest>

class tst_RecipientName : public QObject {
    Q_OBJECT

private slots:
    void items_data();
    void items();
    void groupItemIsBuiltWithOneBlank();
};

void tst_RecipientName::items_data()
{
    QTest::addColumn<QString>("item");
    QTest::addColumn<bool>("group");
    QTest::addColumn<QString>("shown");
    QTest::newRow("user") << "Ann Lee" << false << "Ann Lee";
    QTest::newRow("group") << "Group: Night Shift" << true << "Night Shift";
    QTest::newRow("user named Group:x goes as a group") << "Group:x" << true << "";
    QTest::newRow("name cut at 16") << "Group: ABCDEFGHIJKLMNOPQ" << true << "ABCDEFGHIJKLMNOP";
    QTest::newRow("prefix is exact") << "group: night" << false << "group: night";
}

void tst_RecipientName::items()
{
    QFETCH(QString, item);
    QTEST(core::isGroupRecipient(item), "group");
    QTEST(core::recipientDisplayName(item), "shown");
}

void tst_RecipientName::groupItemIsBuiltWithOneBlank()
{
    QCOMPARE(core::groupRecipient(QStringLiteral("Night")), QStringLiteral("Group: Night"));
    QCOMPARE(core::groupNameOf(core::groupRecipient(QStringLiteral("Night"))), QStringLiteral("Night"));
}

QTEST_GUILESS_MAIN(tst_RecipientName)
#include "tst_recipientname.moc"
