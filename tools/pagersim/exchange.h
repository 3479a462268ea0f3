#pragma once

#include "faults.h"

#include <QJsonObject>
#include <QObject>

namespace pagersim {

class Transcript;

// The carrier's side of every call, whichever line it came in on: numbers the calls, gives each its
// faults, writes the transcript and counts the calls that ended.
class Exchange : public QObject {
    Q_OBJECT
public:
    Exchange(Transcript* transcript, FaultPlan faults, QObject* parent = nullptr);

    // The number the next call will get; faults that act before a call starts (the modem's) use it.
    int nextCall() const { return m_started + 1; }
    CallFaults faultsFor(int call) const { return m_faults.forCall(call); }

    int beginCall();
    // Writes EVENT with the call's number added.
    void record(int call, QJsonObject event);
    void recordModemCommand(const QString& command);
    void endCall(int call, int pages);

    int endedCalls() const { return m_ended; }

    // The password logins are checked against; a null string accepts any.
    QString password;
    // The speed reported with CONNECT.
    int connectBaud = 9600;

signals:
    void callEnded(int endedCalls);

private:
    Transcript* m_transcript;
    FaultPlan m_faults;
    int m_started = 0;
    int m_ended = 0;
};

} // namespace pagersim
