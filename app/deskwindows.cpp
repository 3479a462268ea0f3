#include "app/deskwindows.h"

#include "config/inifile.h"

#include <QChildEvent>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMainWindow>
#include <QMenuBar>
#include <QScreen>
#include <QSettings>
#include <QTimer>
#include <QWindow>
#include <QWidget>

namespace {

QString placesPath()
{
    return QFileInfo(config::pagerIniPath()).dir().filePath(QStringLiteral("windows.ini"));
}

bool onAScreen(const QRect& frame)
{
    // The title bar must be reachable: the top middle of the frame lies on some screen.
    const QPoint grip(frame.center().x(), frame.top() + 8);
    for (const QScreen* screen : QGuiApplication::screens())
        if (screen->availableGeometry().contains(grip))
            return true;
    return false;
}

} // namespace

DeskWindows::DeskWindows(QWidget* mainWindow)
    : QObject(mainWindow)
    , main_(mainWindow)
    , places_(new QSettings(placesPath(), QSettings::IniFormat, this))
{
    watch(mainWindow);
}

DeskWindows::~DeskWindows() = default;

void DeskWindows::watch(QWidget* window)
{
    if (watched_.contains(window))
        return;
    watched_.insert(window);
    window->installEventFilter(this);
    connect(window, &QObject::destroyed, this, [this, window] {
        watched_.remove(window);
        placed_.remove(window);
        corners_.remove(window);
    });
}

QPoint DeskWindows::besideMainWindow(const QWidget* mainWindow, const QWidget* window)
{
    const QRect main = mainWindow->frameGeometry();
    const QScreen* screen = mainWindow->screen();
    const QRect room = screen ? screen->availableGeometry() : main;
    // The window's frame is not known before it first shows: its size plus what the main
    // window's frame adds.
    const QSize frameExtra = main.size() - mainWindow->size();
    const QSize size = window->size() + frameExtra;
    if (main.right() + 1 + size.width() <= room.right() + 1)
        return { main.right() + 1, qBound(room.top(), main.top(), room.bottom() + 1 - size.height()) };
    if (main.left() - size.width() >= room.left())
        return { main.left() - size.width(), qBound(room.top(), main.top(), room.bottom() + 1 - size.height()) };
    // No room at either side: over the main window, below its menu bar.
    int menuBottom = main.top() + frameExtra.height();
    if (const auto* mainForm = qobject_cast<const QMainWindow*>(mainWindow); mainForm && mainForm->menuBar())
        menuBottom = mainForm->menuBar()->mapToGlobal(QPoint(0, mainForm->menuBar()->height())).y();
    const int x = qBound(room.left(), main.left() + 24, qMax(room.left(), room.right() + 1 - size.width()));
    const int y = qBound(room.top(), menuBottom + 4, qMax(room.top(), room.bottom() + 1 - size.height()));
    return { x, y };
}

void DeskWindows::place(QWidget* window)
{
    const QString key = window->objectName();
    const QRect saved = places_->value(key + QStringLiteral("/geometry")).toRect();
    if (saved.isValid() && onAScreen(saved)) {
        if (window->minimumSize() != window->maximumSize())
            window->resize(saved.size());
        // The window has just been made and the window manager has not framed it yet: a move now
        // places its client area, which the frame then surrounds (a window saved at the screen's
        // top would come back a title bar higher at every start, its title bar off the screen). The
        // client goes where the frame will leave it, by the frame of a window already framed (the
        // main window's); once this window's own frame is known, its frame is put on the corner.
        const QPoint corner = saved.topLeft();
        // Where the platform knows the frame already, a move places the frame.
        if (window->frameGeometry().topLeft() != window->geometry().topLeft()) {
            window->move(corner);
            return;
        }
        QPoint client = corner;
        if (window != main_ && main_->isVisible())
            client += main_->geometry().topLeft() - main_->frameGeometry().topLeft();
        window->move(client);
        corners_.insert(window, corner);
        QTimer::singleShot(3000, this, [this, window] {
            if (watched_.contains(window))
                settle(window, true);
        });
        return;
    }
    if (window != main_)
        window->move(besideMainWindow(main_, window));
}

bool DeskWindows::settle(QWidget* window, bool last)
{
    if (!corners_.contains(window))
        return true;
    const QWindow* handle = window->windowHandle();
    const QMargins frame = handle ? handle->frameMargins() : QMargins();
    if (frame.isNull() && !last)
        return false;
    const QPoint corner = corners_.take(window);
    // Without a frame (no window manager) the client's corner is the frame's.
    if (window->frameGeometry().topLeft() != corner)
        window->move(corner);
    return true;
}

void DeskWindows::remember(QWidget* window)
{
    places_->setValue(window->objectName() + QStringLiteral("/geometry"), QRect(window->pos(), window->size()));
}

bool DeskWindows::eventFilter(QObject* watched, QEvent* event)
{
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget)
        return false;
    switch (event->type()) {
    case QEvent::ChildPolished: {
        // The windows made on the main window (and on its windows) are watched too; modal ones
        // (boxes, the By Pager ID dialog) are left where they put themselves.
        auto* child = qobject_cast<QWidget*>(static_cast<QChildEvent*>(event)->child());
        if (child && child->isWindow() && !child->objectName().isEmpty())
            watch(child);
        break;
    }
    case QEvent::Show:
        if (widget->isWindow() && !widget->isModal() && !widget->objectName().isEmpty()
            && !placed_.contains(widget)) {
            placed_.insert(widget);
            place(widget);
        }
        break;
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::WindowActivate:
        if (!widget->isWindow() || !widget->isVisible() || !placed_.contains(widget) || widget->isModal())
            break;
        // A window still being put on its saved corner is not remembered on its way there; by its
        // activation its frame is known, or there is none.
        if (!settle(widget, event->type() == QEvent::WindowActivate))
            break;
        if (event->type() != QEvent::WindowActivate)
            remember(widget);
        break;
    case QEvent::KeyPress: {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (widget != main_ && widget->isWindow() && !widget->isModal() && key->key() == Qt::Key_Escape
            && key->modifiers() == Qt::NoModifier && !qobject_cast<QDialog*>(widget)) {
            widget->close();
            return true;
        }
        break;
    }
    default:
        break;
    }
    return false;
}
