#pragma once

#include <QHash>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QSet>

class QSettings;
class QWidget;

// What the desk's windows share beyond their own contents:
// - each window (the main window and every non-modal window made on it) keeps its size and place
//   between runs, in "windows.ini" beside the settings file (the place is the corner of the window's
//   frame, title bar included): at its first showing in a run it takes them back when that place is
//   on a screen, its frame on the saved corner; a non-modal window otherwise opens beside the main
//   window, never over its menu (the main window then keeps the place the system gives it);
// - Esc that no control of a non-modal window took (a cell editor takes it to cancel its edit)
//   closes the window, as its Exit does.
class DeskWindows : public QObject {
    Q_OBJECT

public:
    // Watches `mainWindow` and the windows made on it from now on.
    explicit DeskWindows(QWidget* mainWindow);
    ~DeskWindows() override;

    // Where `window` goes at its first showing, when it has no saved place on a screen: to the right
    // of the main window, else to its left, else below its menu bar, within the main window's screen.
    static QPoint besideMainWindow(const QWidget* mainWindow, const QWidget* window);
    // A menu command's non-modal window: shown (placed as above at its first showing), in front,
    // with the keyboard.
    static void bringUp(QWidget* window);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void watch(QWidget* window);
    void place(QWidget* window);
    void remember(QWidget* window);
    // A window placed from windows.ini whose frame was not known yet: once it is, the frame goes to
    // the saved corner. False while the frame is still unknown.
    bool settle(QWidget* window, bool last);

    QWidget* main_;
    QSettings* places_;
    QSet<QWidget*> watched_;
    QSet<QWidget*> placed_;
    // The saved frame corners of windows whose frame was unknown when they were placed.
    QHash<QWidget*, QPoint> corners_;
};
