#include "intake/snppdialogue.h"

#include "intake/currentfault.h"

#include <QTimeZone>

#include <algorithm>

namespace intake {

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

SnppDialogue::Answer say(const char* line, bool close = false)
{
    return { QByteArray(line) + "\r\n", close };
}

SnppDialogue::Answer say(const QString& line, bool close = false)
{
    QByteArray bytes = line.toUtf8();
    bytes.replace('\r', ' ').replace('\n', ' ');
    return { bytes + "\r\n", close };
}

// A client's text: UTF-8 when it is that, otherwise taken byte for byte as Latin-1.
QString text(const QByteArray& bytes)
{
    const QString utf8 = QString::fromUtf8(bytes);
    return utf8.contains(QChar::ReplacementCharacter) ? QString::fromLatin1(bytes) : utf8;
}


} // namespace

SnppDialogue::SnppDialogue(Gate& gate, qint64 maxBody)
    : gate_(gate)
    , maxBody_(maxBody)
{
}

QByteArray SnppDialogue::greeting()
{
    return "220 PlimoPager32 SNPP server ready\r\n";
}

QByteArray SnppDialogue::overlongReply()
{
    return "421 Line too long, Goodbye\r\n";
}

QByteArray SnppDialogue::idleReply()
{
    return "421 Timeout, Goodbye\r\n";
}

QDateTime SnppDialogue::holdTime(const QByteArray& when, const QByteArray& gmtDifference)
{
    if ((when.size() != 10 && when.size() != 12) || !std::all_of(when.begin(), when.end(), isDigit))
        return {};
    const auto two = [&](int at) { return when.mid(at, 2).toInt(); };
    const QDate date(2000 + two(0), two(2), two(4));
    const QTime time(two(6), two(8), when.size() == 12 ? two(10) : 0);
    if (!date.isValid() || !time.isValid())
        return {};
    if (gmtDifference.isEmpty())
        return QDateTime(date, time);
    const QByteArray digits = gmtDifference.mid(1);
    if ((gmtDifference[0] != '+' && gmtDifference[0] != '-') || (digits.size() != 2 && digits.size() != 4)
        || !std::all_of(digits.begin(), digits.end(), isDigit))
        return {};
    const int minutes = digits.left(2).toInt() * 60 + (digits.size() == 4 ? digits.mid(2).toInt() : 0);
    if (minutes > 14 * 60)
        return {};
    const int seconds = (gmtDifference[0] == '-' ? -60 : 60) * minutes;
    return QDateTime(date, time, QTimeZone(seconds)).toLocalTime();
}

SnppDialogue::Answer SnppDialogue::line(QByteArray received)
{
    if (received.endsWith('\r'))
        received.chop(1);
    // A CR or NUL within a line would let a command hide another, or cut a text short.
    if (received.contains('\r') || received.contains('\0'))
        return say("421 Control character in a command, Goodbye", true);
    if (inData_)
        return dataLine(received);
    const qsizetype blank = received.indexOf(' ');
    const QByteArray verb = (blank < 0 ? received : received.left(blank)).toUpper();
    const QByteArray argument = blank < 0 ? QByteArray() : received.mid(blank + 1).trimmed();
    return command(verb, argument);
}

SnppDialogue::Answer SnppDialogue::command(const QByteArray& verb, const QByteArray& argument)
{
    if (verb == "QUIT")
        return say("221 OK, Goodbye", true);
    if (verb == "HELP")
        return { "214 PlimoPager32 SNPP server (RFC 1861 levels 1 and 2)\r\n"
                 "214 LOGI <source> <password>   log in (required)\r\n"
                 "214 PAGE <pager ID | user | group>   blanks as _\r\n"
                 "214 MESS <text> | DATA   the message\r\n"
                 "214 SUBJ <text>  LEVE <0-11>  HOLD YYMMDDHHMM[SS] [+/-GMT difference]\r\n"
                 "214 SEND  RESE  HELP  QUIT\r\n"
                 "250 End of Help Information\r\n",
            false };
    if (verb == "LOGI") {
        const QList<QByteArray> words = argument.simplified().split(' ');
        if (words.size() < 2 || words[0].isEmpty())
            return say("550 Password required");
        std::optional<Source> source;
        try {
            source = gate_.authenticate(text(words[0]), words[1]);
        } catch (...) {
            return say(QStringLiteral("421 ") + currentFault() + QStringLiteral(", Goodbye"), true);
        }
        if (!source || source->kind.compare(QLatin1String("SNPP"), Qt::CaseInsensitive) != 0) {
            source_.reset();
            reset();
            return say("550 Access Denied");
        }
        source_ = source;
        reset();
        return say("250 Login Accepted");
    }
    if (verb == "RESE") {
        reset();
        return say("250 RESET OK");
    }
    static const QList<QByteArray> known { "PAGE", "MESS", "DATA", "SUBJ", "LEVE", "HOLD", "SEND" };
    if (!known.contains(verb))
        return say("500 Command Not Implemented, Try Again");
    if (!source_)
        return say("530 Log in first (LOGI source password)");

    if (verb == "PAGE") {
        if (++pageCommands_ > kMaxPagers)
            return say("421 Too many pagers in one message, Goodbye", true);
        const QByteArray id = argument.split(' ').value(0); // a pager password after the ID is not used
        if (id.isEmpty())
            return say("550 Error, Invalid Pager ID");
        const QString typed = text(id);
        QString item;
        try {
            item = gate_.resolveRecipient(typed);
        } catch (...) {
            return say(QStringLiteral("421 ") + currentFault() + QStringLiteral(", Goodbye"), true);
        }
        if (item.isEmpty())
            return say("550 Error, Invalid Pager ID");
        if (!recipients_.contains(typed, Qt::CaseInsensitive))
            recipients_ << typed;
        return say("250 Pager ID Accepted");
    }
    if (verb == "MESS" || verb == "DATA") {
        if (haveMessage_)
            return say("503 ERROR, Message Already Entered");
        if (verb == "DATA") {
            inData_ = true;
            data_.clear();
            return say("354 Begin Input; End with <CRLF>'.'<CRLF>");
        }
        if (argument.isEmpty())
            return say("550 ERROR, Invalid Message");
        message_ = text(argument);
        haveMessage_ = true;
        return say("250 Message OK");
    }
    if (verb == "SUBJ") {
        subject_ = text(argument);
        return say("250 Message Subject OK");
    }
    if (verb == "LEVE") {
        bool ok = false;
        const int level = argument.toInt(&ok);
        if (!ok || level < 0 || level > 11)
            return say("550 Error, Invalid Alert Level");
        return say("250 OK, Alert Level Accepted");
    }
    if (verb == "HOLD") {
        const QList<QByteArray> words = argument.simplified().split(' ');
        const QDateTime when = holdTime(words.value(0), words.value(1));
        if (!when.isValid())
            return say("550 Error, Invalid Delivery Date/Time");
        hold_ = when;
        return say("250 Delayed Messaging Selected");
    }
    return send(); // SEND
}

SnppDialogue::Answer SnppDialogue::dataLine(const QByteArray& received)
{
    if (received == ".") {
        inData_ = false;
        QByteArray body = std::exchange(data_, {});
        if (body.endsWith(' '))
            body.chop(1);
        if (body.trimmed().isEmpty())
            return say("550 ERROR, Invalid Message");
        message_ = text(body);
        haveMessage_ = true;
        return say("250 Message OK");
    }
    const QByteArray unstuffed = received.startsWith('.') ? received.mid(1) : received;
    if (data_.size() + unstuffed.size() + 1 > maxBody_)
        return say(QStringLiteral("554 Message over %1 bytes, Goodbye").arg(maxBody_), true);
    data_ += unstuffed + ' '; // a page is one line: the message's lines are joined by blanks
    return {};
}

SnppDialogue::Answer SnppDialogue::send()
{
    if (recipients_.isEmpty() || !haveMessage_)
        return say("503 Error, Pager ID or Message Incomplete");
    PageRequest request;
    request.recipients = recipients_;
    request.text = subject_.isEmpty() ? message_ : subject_ + QLatin1Char(' ') + message_;
    request.holdUntil = hold_;
    Queued queued;
    try {
        queued = gate_.submit(*source_, request);
    } catch (...) {
        reset();
        return say(QStringLiteral("554 Error, not queued: ") + currentFault());
    }
    reset();
    switch (queued.outcome) {
    case Queued::Outcome::Queued:
    case Queued::Outcome::Scheduled:
        return say("250 Message queued");
    case Queued::Outcome::RateLimited:
        return say(QStringLiteral("554 Error, too many pages a minute: try again in %1 seconds")
                       .arg(std::max(1, queued.retryAfterSeconds)));
    case Queued::Outcome::None:
        return say("554 Error, nothing to page");
    default:
        return say(QStringLiteral("554 Error, not queued: ") + queued.reason);
    }
}

void SnppDialogue::reset()
{
    recipients_.clear();
    pageCommands_ = 0;
    message_.clear();
    haveMessage_ = false;
    subject_.clear();
    hold_ = QDateTime();
    inData_ = false;
    data_.clear();
}

} // namespace intake
