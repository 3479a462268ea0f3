#include "app/deskapplication.h"
#include "store/storeerror.h"

#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

// The application's last net: an error a handler or a timer lets go is shown in the standard error
// box, and the program goes on.
class tst_DeskApplication : public QObject {
    Q_OBJECT

private slots:
    void errorsFromTimersAndHandlersAreShown();
};

void tst_DeskApplication::errorsFromTimersAndHandlersAreShown()
{
    auto* app = qobject_cast<DeskApplication*>(QCoreApplication::instance());
    QVERIFY(app);
    QSignalSpy caught(app, &DeskApplication::errorCaught);
    QStringList shown;
    QTimer answer;
    connect(&answer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            shown << box->windowTitle() + u'|' + box->text();
            box->accept();
        }
    });
    answer.start(10);

    QTimer::singleShot(0, [] { throw store::StoreError(QStringLiteral("Table BUSERS.DBF: disk gone")); });
    QTRY_COMPARE(shown, QStringList { "PlimoPager32 V4.00|Table BUSERS.DBF: disk gone" });

    QPushButton button;
    connect(&button, &QPushButton::clicked, [] { throw std::runtime_error("out of room"); });
    button.show();
    QTest::mouseClick(&button, Qt::LeftButton);
    QTRY_COMPARE(shown.size(), 2);
    QCOMPARE(shown.last(), QStringLiteral("PlimoPager32 V4.00|out of room"));
    QCOMPARE(caught.size(), 2);

    // The event loop runs on.
    bool ran = false;
    QTimer::singleShot(0, [&] { ran = true; });
    QTRY_VERIFY(ran);
}

int main(int argc, char** argv)
{
    DeskApplication app(argc, argv);
    tst_DeskApplication suite;
    return QTest::qExec(&suite, argc, argv);
}

#include "tst_deskapplication.moc"
