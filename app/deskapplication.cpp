#include "app/deskapplication.h"

#include "compose/pagelib.h"
#include "store/storeerror.h"

#include <QMessageBox>
#include <QScopedValueRollback>

DeskApplication::DeskApplication(int& argc, char** argv)
    : QApplication(argc, argv)
{
}

bool DeskApplication::notify(QObject* receiver, QEvent* event)
{
    QString text;
    try {
        return QApplication::notify(receiver, event);
    } catch (const store::StoreError& e) {
        text = e.message();
    } catch (const std::exception& e) {
        text = QString::fromLocal8Bit(e.what());
    } catch (...) {
        text = QStringLiteral("Unknown error");
    }
    emit errorCaught(text);
    // Shown once the event that failed is over, not in the middle of its dispatch.
    QMetaObject::invokeMethod(
        this, [this, text] { showError(text); }, Qt::QueuedConnection);
    return false;
}

void DeskApplication::showError(const QString& text)
{
    // Timers go on while the box is open; a fault that repeats must not stack boxes on it.
    if (boxOpen_)
        return;
    const QScopedValueRollback open(boxOpen_, true);
    QMessageBox::critical(activeWindow(), compose::applicationTitle(), text);
}

#include "moc_deskapplication.cpp"
