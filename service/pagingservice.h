#pragma once

#include "session/runnerlock.h"

#include <QObject>
#include <QString>
#include <memory>
#include <optional>

class QSocketNotifier;
class QTextStream;

namespace session {
class DeskSession;
}

namespace service {

enum ExitStatus {
    ExitDone = 0, // every page of the pass went, or a clean stop
    ExitPagesPending = 1, // pages of a --once pass stayed pending
    ExitCannotRun = 2, // folder held by another runner, its lock file lost, tables, options
};

// plimopagerd's run: the desk session on a data folder without a window, its status lines on
// standard output.
class PagingService : public QObject {
    Q_OBJECT

public:
    struct Options {
        QString dataFolder;
        bool dataFolderGiven = false; // named by --data: it must exist (the default is made when missing)
        QString configFile; // empty: the desk's pager.ini
        bool once = false;
        bool listPending = false;
        bool resendPending = false;
        // --add-source NAME KIND RECIPIENT: the source added, its token printed, nothing sent.
        struct NewSource {
            QString name;
            QString kind;
            QString recipient;
        };
        std::optional<NewSource> addSource;
    };

    explicit PagingService(Options options, QObject* parent = nullptr);
    ~PagingService() override;

    // The installed desk's per-user data folder.
    static QString defaultDataFolder();

    // Runs as the options say and returns the exit status.
    int run();

private:
    int listPending();
    // Adds the source of --add-source: its token the last line of standard output, all else said on
    // standard error.
    int addSource();
    int runOnce();
    int runService();
    // SIGTERM and SIGINT end the run through the event loop.
    void watchStopSignals();
    void stopOnSignal();
    void print(const QString& line);
    void printError(const QString& text);
    // The way out of a run whose lock file was removed or replaced: the queues kept in the file of
    // lost pages, and the status of a run that could not go on.
    int keepLostPages();
    // The queues saved for the way out; false (and said) when they could not be.
    bool saveQueues();

    Options options_;
    session::RunnerLock lock_;
    std::unique_ptr<session::DeskSession> session_;
    QSocketNotifier* signalNotifier_ = nullptr;
    bool stopped_ = false;
};

} // namespace service
