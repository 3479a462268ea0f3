#pragma once

#include "intake/gate.h"

#include <QByteArray>
#include <QDateTime>
#include <QStringList>
#include <optional>

namespace intake {

// One SNPP session (RFC 1861, levels 1 and 2) without its connection: fed one received line at a
// time, it answers with reply lines and says when the session ends. A message goes to the gate at
// SEND, whose "250 Message queued" therefore means every page of it is durably queued.
//
// The login is required: a source of kind SNPP with its password (LOGI SOURCE PASSWORD). Commands:
// LOGI, PAGE (a user's pager ID, a user name or a group name, "_" for a blank), MESS, DATA, SUBJ,
// LEVE, HOLD, SEND, RESE, HELP, QUIT; anything else is 500. DATA's lines are joined by blanks (a page
// is one line), SUBJ goes before the message, LEVE is checked and not kept. A command line holding a control
// character (a CR or NUL within it), more than kMaxPagers PAGEs in one message or a message over
// the body limit end the session.
class SnppDialogue {
public:
    static constexpr int kMaxLine = 512; // bytes of one line with its CR LF
    static constexpr int kMaxPagers = 100; // PAGEs in one message
    static constexpr int kIdleMs = 60 * 1000; // silence before the session is ended

    struct Answer {
        QByteArray reply; // one or more lines, each ended by CR LF
        bool close = false; // the session ends after the reply
    };

    SnppDialogue(Gate& gate, qint64 maxBody);

    static QByteArray greeting();
    // The replies that end a session from outside a line: a line too long, and silence.
    static QByteArray overlongReply();
    static QByteArray idleReply();

    // One line as received, without its LF (a CR before the LF is taken off here).
    Answer line(QByteArray text);

    bool loggedIn() const { return source_.has_value(); }

    // A typed HOLD time (YYMMDDHHMM or YYMMDDHHMMSS, optionally a GMT difference "+HHMM" /
    // "-HHMM"); invalid when it is not one.
    static QDateTime holdTime(const QByteArray& when, const QByteArray& gmtDifference = QByteArray());

private:
    Answer command(const QByteArray& verb, const QByteArray& argument);
    Answer dataLine(const QByteArray& text);
    Answer send();
    void reset();

    Gate& gate_;
    qint64 maxBody_;
    std::optional<Source> source_;
    QStringList recipients_; // as typed, each one the gate knows
    int pageCommands_ = 0;
    QString message_;
    bool haveMessage_ = false;
    QString subject_;
    QDateTime hold_;
    bool inData_ = false;
    QByteArray data_;
};

} // namespace intake
