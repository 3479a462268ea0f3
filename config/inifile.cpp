#include "config/inifile.h"

#include "store/regularfile.h"
#include "store/systemfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QStringEncoder>

#include <optional>

namespace config {

namespace {

constexpr auto kCodePage = "windows-1252";

// One line of the file as it stands: its bytes and the line end that followed it ("" for a last
// line without one), so that untouched lines are written back exactly.
struct Line {
    QByteArray text;
    QByteArray end;
};

struct Parsed {
    QList<Line> lines;
    QByteArray lineEnd = "\n"; // used for lines the write adds
};

QString decode(const QByteArray& bytes)
{
    QStringDecoder decoder(kCodePage);
    return decoder.isValid() ? QString(decoder(bytes)) : QString::fromLatin1(bytes);
}

QByteArray encode(const QString& text)
{
    QStringEncoder encoder(kCodePage, QStringConverter::Flag::Default);
    return encoder.isValid() ? QByteArray(encoder(text)) : text.toLatin1();
}

Parsed parse(const QByteArray& data)
{
    Parsed parsed;
    int crlf = 0;
    int lf = 0;
    qsizetype start = 0;
    while (start < data.size()) {
        const qsizetype nl = data.indexOf('\n', start);
        if (nl < 0) {
            parsed.lines.append({ data.mid(start), {} });
            break;
        }
        const bool cr = nl > start && data.at(nl - 1) == '\r';
        (cr ? crlf : lf)++;
        const qsizetype textEnd = cr ? nl - 1 : nl;
        parsed.lines.append({ data.mid(start, textEnd - start), cr ? "\r\n" : "\n" });
        start = nl + 1;
    }
    if (crlf > lf)
        parsed.lineEnd = "\r\n";
    return parsed;
}

// The section named by a header line ("[ System ]" gives "System"), or nothing for other lines.
std::optional<QString> sectionOf(const QByteArray& line)
{
    const QString text = decode(line).trimmed();
    if (!text.startsWith(u'['))
        return std::nullopt;
    const qsizetype close = text.indexOf(u']');
    if (close < 0)
        return std::nullopt;
    return text.mid(1, close - 1).trimmed();
}

struct KeyLine {
    QString key;
    QString value;
};

// The key and value of a "key=value" line; comments (";" or "#" first) and lines without "=" are
// not key lines.
std::optional<KeyLine> keyOf(const QByteArray& line)
{
    const QString text = decode(line);
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty() || trimmed.startsWith(u';') || trimmed.startsWith(u'#') || trimmed.startsWith(u'['))
        return std::nullopt;
    const qsizetype eq = text.indexOf(u'=');
    if (eq < 0)
        return std::nullopt;
    const QString key = text.left(eq).trimmed();
    if (key.isEmpty())
        return std::nullopt;
    QString value = text.mid(eq + 1).trimmed();
    if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'')
        && value.back() == value.front())
        value = value.mid(1, value.size() - 2);
    return KeyLine { key, value };
}

bool sameName(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

struct Found {
    qsizetype firstSection = -1; // header line of the first section of that name
    qsizetype sectionEnd = -1; // last non-blank line of that section (the header when empty)
    qsizetype keyLine = -1; // line holding the key, in any section of that name
    QString keyAsWritten;
    QString value;
};

Found find(const QList<Line>& lines, const QString& section, const QString& key)
{
    Found found;
    bool inSection = false;
    bool inFirstSection = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (const auto name = sectionOf(lines[i].text)) {
            inSection = sameName(*name, section);
            inFirstSection = inSection && found.firstSection < 0;
            if (inFirstSection) {
                found.firstSection = i;
                found.sectionEnd = i;
            }
            continue;
        }
        if (!inSection)
            continue;
        if (inFirstSection && !decode(lines[i].text).trimmed().isEmpty())
            found.sectionEnd = i;
        if (found.keyLine >= 0)
            continue;
        if (const auto kv = keyOf(lines[i].text); kv && sameName(kv->key, key)) {
            found.keyLine = i;
            found.keyAsWritten = kv->key;
            found.value = kv->value;
        }
    }
    return found;
}

bool hasLineBreak(const QString& text)
{
    return text.contains(u'\n') || text.contains(u'\r');
}

} // namespace

QString IniFile::fault() const
{
    return store::readWholeFile(path_, kIniFileLimit).fault;
}

IniFile::IniFile(const QString& path)
    : path_(path)
{
}

QString IniFile::readString(const QString& section, const QString& key, const QString& defaultValue) const
{
    const store::WholeFile file = store::readWholeFile(path_, kIniFileLimit);
    if (!file.read())
        return defaultValue;
    const Parsed parsed = parse(file.bytes);
    const Found found = find(parsed.lines, section.trimmed(), key.trimmed());
    return found.keyLine >= 0 ? found.value : defaultValue;
}

bool IniFile::writeString(const QString& section, const QString& key, const QString& value) const
{
    const QString sectionName = section.trimmed();
    const QString keyName = key.trimmed();
    if (sectionName.isEmpty() || keyName.isEmpty() || hasLineBreak(sectionName) || hasLineBreak(keyName)
        || sectionName.contains(u']') || keyName.contains(u'=') || keyName.startsWith(u'[')
        || keyName.startsWith(u';') || keyName.startsWith(u'#'))
        return false;
    QString cleanValue = value;
    cleanValue.replace(u'\r', u' ').replace(u'\n', u' ');

    // A regular file that cannot be read is never replaced; a pipe, a device or a file past the
    // bound holds no settings that were ever read, and the atomic write puts a regular file there.
    const store::WholeFile existing = store::readWholeFile(path_, kIniFileLimit);
    const QFileInfo info(path_);
    if (existing.exists && !existing.read() && info.isFile() && info.size() <= kIniFileLimit)
        return false;
    Parsed parsed = parse(existing.bytes);
    QList<Line>& lines = parsed.lines;
    const Found found = find(lines, sectionName, keyName);

    if (found.keyLine >= 0) {
        lines[found.keyLine].text = encode(found.keyAsWritten + u'=' + cleanValue);
    } else {
        const Line keyLine { encode(keyName + u'=' + cleanValue), parsed.lineEnd };
        qsizetype after = found.sectionEnd;
        if (after < 0) {
            // A new section goes at the end; a last line without a line end gets one first.
            after = lines.size() - 1;
            if (after >= 0 && lines[after].end.isEmpty())
                lines[after].end = parsed.lineEnd;
            lines.append({ encode(u'[' + sectionName + u']'), parsed.lineEnd });
            lines.append(keyLine);
        } else {
            if (lines[after].end.isEmpty())
                lines[after].end = parsed.lineEnd;
            lines.insert(after + 1, keyLine);
        }
    }

    QByteArray out;
    for (const Line& line : std::as_const(lines))
        out += line.text + line.end;

    const QString folder = QFileInfo(path_).absolutePath();
    if (!QDir().mkpath(folder))
        return false;
    return store::writeWholeFile(path_, out).isEmpty();
}

namespace {
QString& pagerIniOverride()
{
    static QString path;
    return path;
}
} // namespace

void setPagerIniPath(const QString& path)
{
    pagerIniOverride() = path;
}

QString pagerIniPath()
{
    if (!pagerIniOverride().isEmpty())
        return pagerIniOverride();
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/PlimoPager32/pager.ini");
}

} // namespace config
