#pragma once

#include <QList>
#include <QSet>
#include <QString>

namespace pagersim {

// What goes wrong on one call. Built from the command line's fault list for a given call number.
struct CallFaults {
    // The modem's answer to a dial instead of CONNECT; empty for a normal call.
    QByteArray dialResult;
    bool modemError = false; // every command but a hang-up answered ERROR
    bool modemSilent = false; // no answer at all in command mode
    bool badPassword = false; // every login refused
    QSet<QString> invalidIds; // pager IDs answered RS
    int nakFirstBlocks = 0; // the first N blocks of the call are NAKed whatever their checksum
    bool nakAlways = false;
    int dropAfterBlocks = -1; // the line drops once this many blocks were accepted; -1 never
    bool silentTerminal = false;
    bool noGoAhead = false;
    int maxPages = -1; // pages accepted before 112 ends the session; -1 no limit
    bool garbage = false;
    int slowAckMs = 0; // delay before each reply of the terminal (and of the SNPP and WCTP servers)
    bool snpp421 = false; // the SNPP server greets with 421 and closes
    bool snpp554 = false; // the SNPP server answers SEND with 554
    bool closeUnanswered = false; // WCTP: the connection is closed after the request, no answer
    int wctpFailCode = 0; // WCTP: every submit answered wctp-Failure with this errorCode
};

// The --fault list: NAME[=ARG][:COUNT], COUNT the number of calls, from the first, that a fault applies to.
class FaultPlan {
public:
    // Adds one fault; returns false with a message for an unknown name or a malformed argument.
    bool add(const QString& text, QString* error);
    CallFaults forCall(int call) const;
    bool isEmpty() const { return m_faults.isEmpty(); }

private:
    struct Fault {
        QString name;
        QString arg;
        int calls = 0; // 0: every call
    };
    static bool apply(const Fault& fault, CallFaults& faults, QString* error);
    QList<Fault> m_faults;
};

} // namespace pagersim
