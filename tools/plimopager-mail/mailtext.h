#pragma once

#include <QByteArray>
#include <QString>

// The text a mail makes for a page: its subject and the first lines of its first text/plain part,
// as a mail reader would show them.
namespace mailtext {

// The largest part of a mail read; the rest is not looked at.
inline constexpr qsizetype kMailReadLimit = 1024 * 1024;
// The most characters the message takes (a page holds far fewer; the desk cuts it to fit).
inline constexpr qsizetype kMessageLimit = 1000;

struct MailText {
    QString subject; // RFC 2047 encoded words decoded
    QString body; // the first text/plain lines, joined by blanks, up to a signature
    // Subject and body as one line, "subject: body", within kMessageLimit.
    QString message() const;
};

// Reads a whole mail (headers, a blank line, the body): quoted-printable and base64 bodies,
// multipart/* walked by boundary to the first text/plain part, the charsets UTF-8, ISO-8859-1 and
// US-ASCII (and whatever else the system's converters know; an unknown one is read as UTF-8 when
// valid, else as ISO-8859-1).
MailText readMail(const QByteArray& mail);

// The header text with its RFC 2047 encoded words ("=?utf-8?Q?Caf=C3=A9?=") decoded.
QString decodeEncodedWords(const QByteArray& header);

} // namespace mailtext
