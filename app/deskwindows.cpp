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
#include <QWidget>
#include <QWindow>

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

void DeskWindows::bringUp(QWidget* window)
{
    window->show();
    window->raise();
    window->activateWindow();
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

namespace {

// The frame's margins around `window`'s client area, as the platform knows them now (none before a
// window manager has framed the window, or without one).
QMargins frameOf(const QWidget* window)
{
    const QWindow* handle = window->windowHandle();
    return handle ? handle->frameMargins() : QMargins();
}

// Puts `window`'s client area at `client`, whatever Qt holds of its frame meanwhile (a move places
// the frame once Qt knows it, the client area before).
void moveClientTo(QWidget* window, const QPoint& client)
{
    window->move(client + window->pos() - window->geometry().topLeft());
}

} // namespace

void DeskWindows::place(QWidget* window)
{
    const QString key = window->objectName();
    const QRect saved = places_->value(key + QStringLiteral("/geometry")).toRect();
    QPoint corner; // where the window's frame goes
    if (saved.isValid() && onAScreen(saved)) {
        if (window->minimumSize() != window->maximumSize())
            window->resize(saved.size());
        corner = saved.topLeft();
    } else if (window != main_) {
        corner = besideMainWindow(main_, window);
    } else {
        return;
    }
    const QMargins frame = frameOf(window);
    if (!frame.isNull()) {
        moveClientTo(window, corner + QPoint(frame.left(), frame.top()));
        return;
    }
    // The window has just been made and the window manager has not framed it yet: its frame will
    // surround the client area where it is put (a window put at the screen's top would have its
    // title bar off the screen, and come back a title bar higher at every start). The client goes
    // where the frame will leave it, by the frame of a window already framed (the main window's);
    // once this window's own frame is known, its frame is put on the corner.
    const QMargins guess = window != main_ && main_->isVisible() ? frameOf(main_) : QMargins();
    corners_.insert(window, corner); // before the move, whose own event is no place to remember
    moveClientTo(window, corner + QPoint(guess.left(), guess.top()));
    QTimer::singleShot(3000, this, [this, window] {
        if (watched_.contains(window))
            settle(window, true);
    });
}

bool DeskWindows::settle(QWidget* window, bool last)
{
    if (!corners_.contains(window))
        return true;
    const QMargins frame = frameOf(window);
    if (frame.isNull() && !last)
        return false;
    const QPoint client = corners_.take(window) + QPoint(frame.left(), frame.top());
    if (window->geometry().topLeft() != client)
        moveClientTo(window, client);
    return true;
}

void DeskWindows::remember(QWidget* window)
{
    // The frame's corner, from the platform's frame (Qt's own view of it may lag behind).
    const QMargins frame = frameOf(window);
    const QPoint corner = window->geometry().topLeft() - QPoint(frame.left(), frame.top());
    places_->setValue(window->objectName() + QStringLiteral("/geometry"), QRect(corner, window->size()));
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
