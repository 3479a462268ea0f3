#pragma once

#include <QString>
#include <QStringList>
#include <QTime>

namespace core {

// What one tick of the delivery timer puts on the main window (steps 1 to 3 of the tick).
struct TickDisplay {
    QString clock;            // the clock label, long time format
    bool idle = false;        // neither a page nor a scheduled scan is under way
    QString pendingCaption;   // set when idle: "Pending Msgs: " + count
    bool pendingAlert = false; // the count is 1 or more (shown in red)
};

// The main window's state without the window: the store connection, the seven table handles, the
// three in-memory tables and the flags that keep the timer, the send command and the scheduled scan
// apart. The window owns one Desk for the whole run.
class Desk {
public:
    // `dataDirectory` is where the tables live (a trailing "/" is added when missing); empty means
    // the default, defaultDataDirectory().
    explicit Desk(const QString& dataDirectory = QString());
    ~Desk();
    Desk(const Desk&) = delete;
    Desk& operator=(const Desk&) = delete;

    // The folder holding the program file, or, when that folder cannot be written (an installed
    // copy), the user's application-data folder; with a trailing "/".
    static QString defaultDataDirectory();
    QString dataDirectory() const { return dataDirectory_; }
    // True when the tables live in the application-data folder instead of beside the program.
    bool usesFallbackDataDirectory() const;

    // The creation steps, in order: create missing tables and index files, open the seven handles,
    // restore the pending queue from "PendMsgs.", read the scheduled-sending switch, clear the flags.
    // A failure stops the steps that follow; its text (the store's or the loader's own) is returned
    // and kept in startupError(). Returns an empty text on success.
    QString open();
    QString startupError() const { return startupError_; }

    // The recipient list's items: every USERNAME of BUSERS in its tag order, then "Group: " + every
    // GROUP of GROUPS.
    QStringList recipientNames();

    // Steps 1 to 3 of the one-second tick.
    TickDisplay tick(const QTime& now) const;

    bool PageInProgress = false;
    bool ScheduleScanActive = false;
    bool ScheduledSendingEnabled = true;

private:
    QString dataDirectory_;
    QString startupError_;
};

// The scheduled-sending switch from pager.ini: on unless "SendMessages" in "System" is exactly "0".
bool readScheduledSendingEnabled();

} // namespace core
