#include "mailtext.h"

#include <QByteArrayList>
#include <QList>
#include <QRegularExpression>
#include <QStringDecoder>

#include <optional>

namespace mailtext {

namespace {

// Multiparts nest; a mail nested deeper than this is not walked further.
constexpr int kDeepestPart = 8;

// A header or body part of a mail: its headers, unfolded, and the bytes after the blank line.
struct Entity {
    QList<std::pair<QByteArray, QByteArray>> headers;
    QByteArray body;

    QByteArray header(const char* name) const
    {
        for (const auto& [key, value] : headers) {
            if (key.compare(name, Qt::CaseInsensitive) == 0)
                return value;
        }
        return {};
    }
};

QByteArray withoutCr(QByteArray line)
{
    if (line.endsWith('\r'))
        line.chop(1);
    return line;
}

Entity splitEntity(const QByteArray& raw)
{
    Entity entity;
    qsizetype at = 0;
    while (at < raw.size()) {
        qsizetype end = raw.indexOf('\n', at);
        if (end < 0)
            end = raw.size();
        const QByteArray line = withoutCr(raw.mid(at, end - at));
        at = end + 1;
        if (line.isEmpty())
            break;
        if ((line.startsWith(' ') || line.startsWith('\t')) && !entity.headers.isEmpty()) {
            entity.headers.last().second += line; // a folded line goes on its header
            continue;
        }
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            entity.headers.append({ line.left(colon).trimmed(), line.mid(colon + 1).trimmed() });
    }
    entity.body = at < raw.size() ? raw.mid(at) : QByteArray();
    return entity;
}

// "text/plain; charset=\"utf-8\"": the type in lower case and the parameters by lower-case name.
struct ContentType {
    QByteArray type;
    QList<std::pair<QByteArray, QByteArray>> parameters;

    QByteArray parameter(const char* name) const
    {
        for (const auto& [key, value] : parameters) {
            if (key == name)
                return value;
        }
        return {};
    }
};

ContentType parseContentType(const QByteArray& value, const QByteArray& fallback)
{
    // Split at the semicolons outside quotes.
    QByteArrayList pieces { QByteArray() };
    bool quoted = false;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const char c = value.at(i);
        if (quoted && c == '\\' && i + 1 < value.size()) {
            pieces.last() += value.at(++i);
            continue;
        }
        if (c == '"')
            quoted = !quoted;
        else if (c == ';' && !quoted)
            pieces << QByteArray();
        else
            pieces.last() += c;
    }
    ContentType type;
    type.type = pieces.first().trimmed().toLower();
    if (type.type.isEmpty() || !type.type.contains('/'))
        type.type = fallback;
    for (qsizetype i = 1; i < pieces.size(); ++i) {
        const qsizetype equals = pieces.at(i).indexOf('=');
        if (equals > 0)
            type.parameters.append({ pieces.at(i).left(equals).trimmed().toLower(), pieces.at(i).mid(equals + 1).trimmed() });
    }
    return type;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Quoted-printable (RFC 2045): "=XX" is a byte, "=" at a line's end joins it to the next; an "="
// that is neither is kept as it is. With `underscoreBlank` (an encoded word's Q form) "_" is a blank.
QByteArray fromQuotedPrintable(const QByteArray& in, bool underscoreBlank)
{
    QByteArray out;
    out.reserve(in.size());
    for (qsizetype i = 0; i < in.size(); ++i) {
        const char c = in.at(i);
        if (c == '_' && underscoreBlank) {
            out += ' ';
        } else if (c != '=') {
            out += c;
        } else if (i + 2 < in.size() && hexValue(in.at(i + 1)) >= 0 && hexValue(in.at(i + 2)) >= 0) {
            out += char(hexValue(in.at(i + 1)) * 16 + hexValue(in.at(i + 2)));
            i += 2;
        } else {
            // A soft line break: blanks may stand between the "=" and the line's end.
            qsizetype j = i + 1;
            while (j < in.size() && (in.at(j) == ' ' || in.at(j) == '\t'))
                ++j;
            if (j < in.size() && in.at(j) == '\r')
                ++j;
            if (j < in.size() && in.at(j) == '\n')
                i = j;
            else if (j >= in.size())
                i = j - 1;
            else
                out += c;
        }
    }
    return out;
}

// UTF-8 when the bytes are valid UTF-8 (mail software sends unlabelled 8-bit text so), else
// ISO-8859-1, which reads any byte.
QString utf8OrLatin1(const QByteArray& bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
    const QString text = utf8(bytes);
    return utf8.hasError() ? QString::fromLatin1(bytes) : text;
}

QString decodeCharset(const QByteArray& bytes, QByteArray charset)
{
    // RFC 2231 puts a language after a "*".
    charset = charset.left(charset.indexOf('*')).trimmed().toLower();
    if (charset.isEmpty() || charset == "us-ascii" || charset == "ascii")
        return utf8OrLatin1(bytes);
    if (charset == "iso-8859-1" || charset == "latin1" || charset == "iso8859-1")
        return QString::fromLatin1(bytes);
    QStringDecoder decoder(charset.constData(), QStringConverter::Flag::Stateless);
    if (!decoder.isValid())
        return utf8OrLatin1(bytes);
    return decoder(bytes);
}

QByteArray unquoted(QByteArray value)
{
    value = value.trimmed();
    if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"'))
        value = value.mid(1, value.size() - 2);
    return value;
}

// The text of the first text/plain part of `entity` that is no attachment, decoded.
std::optional<QString> firstPlainText(const Entity& entity, int depth, const QByteArray& defaultType)
{
    const ContentType type = parseContentType(entity.header("Content-Type"), defaultType);
    if (type.type.startsWith("multipart/")) {
        const QByteArray boundary = unquoted(type.parameter("boundary"));
        if (boundary.isEmpty() || depth >= kDeepestPart)
            return std::nullopt;
        const QByteArray delimiter = "--" + boundary;
        // The parts between the delimiter lines; what stands before the first and after the last
        // ("--boundary--") is no part.
        QList<QByteArray> parts;
        bool inPart = false;
        qsizetype at = 0;
        const QByteArray& body = entity.body;
        while (at < body.size()) {
            qsizetype end = body.indexOf('\n', at);
            if (end < 0)
                end = body.size();
            const QByteArray line = withoutCr(body.mid(at, end - at));
            const QByteArray trimmed = QByteArray(line).replace('\t', ' ').trimmed();
            if (trimmed == delimiter + "--")
                break;
            if (trimmed == delimiter) {
                parts << QByteArray();
                inPart = true;
            } else if (inPart) {
                parts.last() += body.mid(at, end + 1 - at);
            }
            at = end + 1;
        }
        const QByteArray partDefault = type.type == "multipart/digest" ? "message/rfc822" : "text/plain";
        for (const QByteArray& part : std::as_const(parts)) {
            if (std::optional<QString> text = firstPlainText(splitEntity(part), depth + 1, partDefault))
                return text;
        }
        return std::nullopt;
    }
    if (type.type != "text/plain")
        return std::nullopt;
    if (entity.header("Content-Disposition").trimmed().toLower().startsWith("attachment"))
        return std::nullopt;
    const QByteArray encoding = entity.header("Content-Transfer-Encoding").trimmed().toLower();
    QByteArray bytes = entity.body;
    if (encoding == "base64") {
        QByteArray letters;
        for (const char c : std::as_const(bytes)) {
            if (!QChar::isSpace(uchar(c)))
                letters += c;
        }
        bytes = QByteArray::fromBase64(letters);
    } else if (encoding == "quoted-printable") {
        bytes = fromQuotedPrintable(bytes, false);
    }
    return decodeCharset(bytes, unquoted(type.parameter("charset")));
}

// Control characters as blanks, runs of blanks as one.
QString oneLine(QString text)
{
    for (QChar& c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f || c.category() == QChar::Other_Control)
            c = u' ';
    }
    return text.simplified();
}

} // namespace

QString decodeEncodedWords(const QByteArray& header)
{
    static const QRegularExpression word(QStringLiteral(R"(=\?([^?\s]+)\?([bBqQ])\?([^?\s]*)\?=)"));
    const QString latin = QString::fromLatin1(header);
    QString out;
    qsizetype at = 0;
    bool lastWasEncoded = false;
    for (auto it = word.globalMatch(latin); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        const QString between = latin.mid(at, match.capturedStart() - at);
        // Blanks between two encoded words are no part of the text.
        if (!(lastWasEncoded && between.trimmed().isEmpty()))
            out += utf8OrLatin1(between.toLatin1());
        const QByteArray charset = match.captured(1).toLatin1();
        const QByteArray text = match.captured(3).toLatin1();
        const QByteArray bytes = match.captured(2).compare(u"b", Qt::CaseInsensitive) == 0
            ? QByteArray::fromBase64(text)
            : fromQuotedPrintable(text, true);
        out += decodeCharset(bytes, charset);
        at = match.capturedEnd();
        lastWasEncoded = true;
    }
    out += utf8OrLatin1(latin.mid(at).toLatin1());
    return out;
}

MailText readMail(const QByteArray& mail)
{
    const Entity entity = splitEntity(mail);
    MailText text;
    text.subject = oneLine(decodeEncodedWords(entity.header("Subject")));
    const QString plain = firstPlainText(entity, 0, "text/plain").value_or(QString());
    QStringList lines;
    qsizetype size = 0;
    for (QString line : plain.split(QRegularExpression(QStringLiteral("\r\n|\r|\n")))) {
        // A signature ends what is read.
        if (line == u"-- " || line == u"--")
            break;
        line = oneLine(line);
        if (line.isEmpty())
            continue;
        lines << line;
        size += line.size() + 1;
        if (size >= kMessageLimit)
            break;
    }
    text.body = lines.join(u' ');
    return text;
}

QString MailText::message() const
{
    const QString joined = subject.isEmpty() || body.isEmpty() ? subject + body : subject + QStringLiteral(": ") + body;
    return joined.left(kMessageLimit);
}

} // namespace mailtext
