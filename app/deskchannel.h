#pragma once

#include <QObject>
#include <QString>

class QLocalServer;
class QWidget;

// The running desk's local channel: a desk started a second time on the same data folder asks the
// running one, through it, to bring its window to the front.
class DeskChannel : public QObject {
    Q_OBJECT

public:
    // Listens for the requests of later desks on `dataFolder`; `window` comes to the front on each.
    DeskChannel(const QString& dataFolder, QWidget* window);

    // The channel's name: one per user and data folder.
    static QString serverName(const QString& dataFolder);
    // Asks the desk running on `dataFolder` to come to the front; true when it answered.
    static bool raiseRunningDesk(const QString& dataFolder);

private:
    void answer();

    QLocalServer* server_;
    QWidget* window_;
};
