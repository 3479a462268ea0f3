#pragma once

#include "core/page.h"

#include <QByteArray>
#include <QDate>
#include <QString>
#include <QStringList>
#include <QTime>

namespace store {
class TMemTable;
}

namespace compose {

// The text forms of a page's fields, shared by every preparation (single user, message file, and
// later group and pager-ID pages), without any window or table.

// A carrier is numeric when its name, compared without regard to case, is "numeric".
bool isNumericCarrier(const QString& carrierName);

// The carrier dial string: the outside-line digits without their trailing blanks, the carrier's
// telephone number, "^", the carrier's password. Dashes stay.
QString carrierDialString(const QString& outsideLine, const QString& hostTel, const QString& hostPassword);

// The line speed of an alphanumeric page: the carrier's speed when it is a whole number of 300 or
// more, else "300". A speed that is not a whole number ("12OO", "fast") reads like an empty one, so
// a page is never queued with a speed the engine cannot use.
QString carrierBaudRate(const QString& hostSpeed);

// The message of a page: the editor's lines joined with nothing between them, carriage returns
// removed, tabs made blanks. `editorText` is the editor's plain text (lines separated by "\n").
QString pageMessage(const QString& editorText);

// What the send queue's MessageToSend and PagerPhone hold.
constexpr qsizetype kPageTextWidth = 500;
constexpr qsizetype kPagerPhoneWidth = 500;

// The part of `message` that one page carries: its first 500 characters, or 498 for a group page,
// whose text must keep the "^^" that makes it a group page.
QString fittedMessage(const QString& message, bool group);

// The status line that tells the operator a message was cut to fit a page.
QString messageCutText(const QString& recipient, qsizetype kept);

// A group's pager IDs on one carrier as PagerPhone values: each ID followed by "^", as many whole IDs
// as fit in PagerPhone a value, in the order given. Dashes are taken out of the IDs first.
QStringList groupPagerPhones(const QStringList& pagerIds);

// The message as the log keeps it: the editor's text with its line breaks as CR LF.
QString loggedMessage(const QString& editorText);

// The log's date and time: "yyyy/MM/dd" and "hh:mm:ss AM" (12-hour clock), whatever the locale.
QString logDate(const QDate& date);
QString logTime(const QTime& time);

// One record of the send queue, and its appending: the desk's one page type.
using core::Page;
using core::appendPage;

// What a single-user page is built from: the user's and the carrier's fields (read without trailing
// blanks) and the working settings.
struct UserPageInput {
    QString userName;
    QString userCarrier; // the user's PAGERCOMP, which decides a numeric page
    QString pagerId;
    QString hostTel;
    QString hostSpeed;
    int hostChars = 0;
    QString hostPassword;
    QString outsideLine;
    QString editorText;
    int deliveryRetries = 3;
    int directMesgDelay = 10;
};

// The page for one user: the alphanumeric forms, then, for a numeric carrier, "B" + speed, the
// dial string "#," and the numeric delay as the page size.
Page userPage(const UserPageInput& input);

// The lines of a message file: Windows-1252 text, or UTF-8 after the byte-order mark some programs
// put first (the mark is no part of the first line); lines ended by CR LF, CR alone or LF alone; a
// line end at the very end of the file starts no further line.
QStringList messageFileLines(const QByteArray& bytes);

// The message of a message file: its lines 3 to 6 joined with nothing between them.
QString messageFromFileLines(const QStringList& lines);

// The status line of a page another program asked for: "From " + who asked + ": " + the first line
// of the text (cut to 100 characters) + " \u2192 " + the recipient item.
QString fromLine(const QString& from, const QString& text, const QString& item);

} // namespace compose
