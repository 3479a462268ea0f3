#include "compose/pagelib.h"

#include "config/systemsettings.h"

namespace compose {

namespace {

// The helpers that build page fields keep as much as the page buffers of the desk hold.
constexpr qsizetype kMaxFieldText = 3099;
constexpr qsizetype kMaxPadded = 200;

QChar upperAscii(QChar c)
{
    return (c >= u'a' && c <= u'z') ? QChar(c.unicode() - u'a' + u'A') : c;
}

} // namespace

QString applicationTitle()
{
    return QStringLiteral("PlimoPager32 V4.00");
}

QString TrimRightBlanks(const QString& text)
{
    qsizetype end = text.size();
    while (end > 0 && text.at(end - 1) == u' ')
        --end;
    return text.left(end);
}

QString StripDashes(const QString& text)
{
    QString result = text;
    result.remove(u'-');
    return result.left(kMaxFieldText);
}

QString StripReturns(const QString& text)
{
    QString result = text;
    result.remove(u'\r');
    return result.left(kMaxFieldText);
}

QString RemoveBlanks(const QString& text)
{
    QString result = text;
    result.remove(u' ');
    return result;
}

QString ZeroPad(int32_t number, uint16_t width)
{
    QString text = QString::number(number);
    const qsizetype target = std::min<qsizetype>(width, kMaxPadded);
    if (text.size() < target)
        text.prepend(QString(target - text.size(), u'0'));
    return text;
}

QString CapitalizeWords(const QString& text)
{
    QString result = text;
    const qsizetype length = result.size();
    if (length == 0)
        return result;
    qsizetype scan = 1; // 0-based: the character after the one capitalised first
    if (result.at(0) == u'.') {
        if (length == 1)
            return result;
        result[1] = upperAscii(result.at(1));
        scan = 2;
    } else {
        result[0] = upperAscii(result.at(0));
    }
    for (;;) {
        const qsizetype blank = result.indexOf(u' ', scan);
        if (blank < 0)
            break;
        const qsizetype word = blank + 1;
        // A word that begins in one of the last two positions keeps its case.
        if (word >= length - 2)
            break;
        result[word] = upperAscii(result.at(word));
        scan = word + 1;
    }
    return result;
}

bool InDebugMode(const config::SystemSettings& settings)
{
    return settings.debug();
}

} // namespace compose
