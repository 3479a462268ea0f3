// "Alert Sources" offscreen on a desk of its own: a source added or given a new token shows the
// token once in its box and keeps only the hash; the old token stops working; Delete asks first.
#include "core/desk.h"
#include "intake/alertsourcesform.h"
#include "intake/sourceregistry.h"
#include "models/tablemodel.h"
#include "store/fieldnames.h"
#include "support/boxanswerer.h"
#include "support/datafolder.h"
#include "support/records.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>

using namespace testsupport;

class tst_AlertSourcesForm : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<DataFolder> dir_;

    // Runs `command`, takes the token from the box it shows, and closes the box.
    static QByteArray tokenShownBy(intake::AlertSourcesForm& form, const std::function<void()>& command)
    {
        QByteArray token;
        const auto connection = QObject::connect(&form, &intake::AlertSourcesForm::tokenShown, &form, [&] {
            auto* box = form.findChild<intake::TokenBox*>();
            if (!box)
                return;
            token = box->tokenField()->text().toLatin1();
            // The token is selected, ready to be copied, and cannot be edited.
            if (!box->tokenField()->isReadOnly() || box->tokenField()->selectedText() != box->tokenField()->text())
                token = "not selected or editable";
            box->accept();
        });
        command();
        QObject::disconnect(connection);
        return token;
    }

    // Whether any file of the data folder holds `bytes`.
    bool anyFileHolds(const QByteArray& bytes) const
    {
        QDirIterator files(dir_->path(), QDir::Files);
        while (files.hasNext()) {
            QFile file(files.next());
            if (file.open(QIODevice::ReadOnly) && file.readAll().contains(bytes))
                return true;
        }
        return false;
    }

private slots:
    void init()
    {
        dir_ = std::make_unique<DataFolder>();
        QVERIFY(dir_->isValid());
    }
    void cleanup() { dir_.reset(); }

    void tokensAreShownOnceAndStoredHashed()
    {
        core::Desk desk(dir_->path());
        QVERIFY(desk.open().isEmpty());
        addCarrier(desk, QStringLiteral("Land"), QStringLiteral("5550101"), QStringLiteral("1200"), 80, QString());
        addUser(desk, QStringLiteral("Alice Demo"), QStringLiteral("Land"), QStringLiteral("1001"));
        intake::AlertSourcesForm form(desk);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));

        const QByteArray first = tokenShownBy(
            form, [&] { form.addSource(QStringLiteral("monitoring"), QStringLiteral("HTTP"), QStringLiteral("alice_demo")); });
        QCOMPARE(first.size(), 43);
        QAbstractItemModel* model = form.grid()->model();
        QTRY_COMPARE(model->rowCount(), 1);
        QStringList shown;
        for (int c = 0; c < 4; ++c)
            shown << model->index(0, c).data().toString().trimmed();
        QCOMPARE(shown, (QStringList { "monitoring", "HTTP", "Alice Demo", "0" }));
        QCOMPARE(model->index(0, 4).data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
        QCOMPARE(onDisk(dir_->path(), QStringLiteral("SOURCES.DBF"), QString(), { store::sources::Secret }),
            QStringList { QString::fromLatin1(intake::secretOf(first)) });
        QVERIFY(!anyFileHolds(first));

        form.grid()->setCurrentIndex(model->index(0, 0));
        const auto yes = [](QMessageBox* box) { box->button(QMessageBox::Yes)->click(); };
        onNextBox(yes); // "Give source monitoring a new token?"
        const QByteArray second = tokenShownBy(form, [&] { form.setTokenOfCurrent(); });
        QCOMPARE(second.size(), 43);
        QVERIFY(second != first);
        QVERIFY(!anyFileHolds(second));
        intake::SourceRegistry registry(desk.SourcesT());
        QVERIFY(!registry.authenticate(QString(), first));
        QVERIFY(registry.authenticate(QStringLiteral("monitoring"), second));

        // A name taken or a recipient nobody is: said, nothing added, no token shown.
        {
            BoxCatcher said;
            form.addSource(QStringLiteral("MONITORING"), QStringLiteral("HTTP"), QStringLiteral("Alice Demo"));
            form.addSource(QStringLiteral("other"), QStringLiteral("HTTP"), QStringLiteral("Nobody"));
            QCOMPARE(said.texts().size(), 2);
            QVERIFY(said.texts().at(0).contains(QStringLiteral("already")));
            QCOMPARE(model->rowCount(), 1);
        }

        onNextBox(yes); // "Delete source monitoring?"
        form.deleteCurrent();
        QTRY_COMPARE(model->rowCount(), 0);
        QVERIFY(!registry.authenticate(QString(), second));
    }
};

QTEST_MAIN(tst_AlertSourcesForm)
#include "tst_alertsourcesform.moc"
