#pragma once

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>

namespace paging {

class Line;

// The client side of an SNPP (RFC 1861, level 2) session on a TCP line that is already connected:
// greeting, optional login, transactions of PAGE commands, one message and SEND, then QUIT. Replies
// are read by their three-digit code only; every wait ends by its deadline, on cancel or when the
// server closes the connection. Text that is not a reply (noise, a banner) is skipped, so a server that
// sends only noise runs into the deadline like one that sends nothing.
//
// Level 2 lets several PAGE commands stand before one message: the message and SEND then go to every
// pager accepted since the last SEND (or RESE). That is how a group is sent here, one transaction per
// page of the message; the pager list is cleared with RESE before the next transaction rather than
// trusting every server to clear it after SEND.
class SnppSession {
public:
    struct Reply {
        int code = 0; // the reply's three-digit code; 0 when none came
        int failure = 0; // status code when no reply came (timeout, closed, cancelled)
        QByteArray text; // the reply line after the code
    };

    SnppSession(Line& line, int replyMs);

    // 0, or SnppUnavailable, TerminalNotResponding, ConnectionLost, Cancelled. greeting() is the
    // server's greeting as it came ("421 busy", "500 ..."), for the failure to name.
    int greet();
    QByteArray greeting() const { return m_greeting; }
    // LOGI; a server that does not know the command (500, 502) is taken as not needing it.
    // 0, or LoginRefused, SnppUnavailable and the failures of greet(). A 530 ("log in first") to a later
    // command is LoginRefused too: the server pages only for a login, and none (or no good one) was given.
    int login(const QString& loginId, const QString& password);
    // Option commands (LEVE, ALER, CALL, SUBJ ...) sent before each PAGE; an option the server does not
    // know is dropped for the rest of the session.
    void setOptions(const QList<QByteArray>& options) { m_options = options; }

    struct PageOutcome {
        bool accepted = false;
        int response = 0; // the server's code
        int failure = 0; // the session cannot go on: a status code
    };
    PageOutcome page(const QString& pagerId);
    // MESS when the text is one line that fits the command line, else DATA with dot-stuffing.
    // 0 or a status code.
    int message(const QString& text);
    int send();
    // RESE, then LOGI again after a login: a reset session may have forgotten it.
    int reset();
    // QUIT, the 221 awaited for a short while.
    void quit();

    // One command line (CR LF added) and its reply.
    Reply command(const QByteArray& line);
    Reply awaitReply(int ms);

    // What a reply that is not the one hoped for means for the whole attempt.
    static int failureOf(const Reply& reply, int otherwise);
    // The command's lines as sent: one MESS line, or the DATA lines with dot-stuffing (no final ".").
    static bool fitsOneLine(const QByteArray& text);
    static QList<QByteArray> dataLines(const QByteArray& text);
    // Text as ASCII for the command line: accented letters as bare letters, controls other than line
    // breaks as blanks, so no text can end a command early.
    static QByteArray toWire(const QString& text);

    bool closed() const;

private:
    bool takeLine(QByteArray* line);

    Line& m_line;
    int m_replyMs;
    QList<QByteArray> m_options;
    QSet<QByteArray> m_unsupported;
    QString m_login; // null until a LOGI was taken
    QString m_password;
    bool m_skipping = false; // the rest of an overlong line is being thrown away
    QByteArray m_greeting;
};

} // namespace paging
