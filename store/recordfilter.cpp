#include "store/recordfilter.h"

#include "store/storeerror.h"

#include <QStringList>

namespace store {

namespace {

[[noreturn]] void malformed(const QString& expression, const char* why)
{
    throw StoreError(QStringLiteral("Invalid filter \"%1\": %2").arg(expression, QLatin1String(why)));
}

QChar closingOf(QChar open)
{
    return open == u'[' ? QChar(u']') : open;
}

QString literal(const QString& text)
{
    for (QChar open : { QChar(u'"'), QChar(u'\''), QChar(u'[') }) {
        if (!text.contains(closingOf(open)))
            return open + text + closingOf(open);
    }
    return {};
}

} // namespace

FilterExpression FilterExpression::parse(const QString& expression)
{
    FilterExpression f;
    qsizetype i = 0;
    const qsizetype n = expression.size();
    const auto skipBlanks = [&] {
        while (i < n && expression[i].isSpace())
            ++i;
    };
    skipBlanks();
    const qsizetype nameStart = i;
    while (i < n && (expression[i].isLetterOrNumber() || expression[i] == u'_')
        && expression[i].unicode() < 0x80)
        ++i;
    if (i == nameStart || expression[nameStart].isDigit())
        malformed(expression, "a field name must come first");
    f.field = expression.mid(nameStart, i - nameStart).toUpper().toLatin1();
    skipBlanks();
    if (i >= n || expression[i] != u'=')
        malformed(expression, "\"=\" expected after the field name");
    ++i;
    if (i < n && expression[i] == u'=') // "==" is the exact comparison; this one is exact anyway
        ++i;
    for (;;) {
        skipBlanks();
        if (i >= n)
            malformed(expression, "a quoted value expected");
        const QChar open = expression[i];
        if (open != u'"' && open != u'\'' && open != u'[')
            malformed(expression, "the value must be quoted with \", ' or [ ]");
        const qsizetype close = expression.indexOf(closingOf(open), i + 1);
        if (close < 0)
            malformed(expression, "the quoted value is not closed");
        f.value += expression.mid(i + 1, close - i - 1);
        i = close + 1;
        skipBlanks();
        if (i >= n)
            break;
        if (expression[i] != u'+')
            malformed(expression, "unexpected text after the value");
        ++i;
    }
    return f;
}

QString FilterExpression::build(const QString& field, const QString& value)
{
    QString single = literal(value);
    if (!single.isEmpty() || value.isEmpty())
        return field + QStringLiteral(" = ") + (value.isEmpty() ? QStringLiteral("\"\"") : single);
    // Every delimiter occurs: split at each double quote; the pieces between hold none and go in
    // "...", each double quote goes alone in '...'.
    QStringList pieces;
    qsizetype start = 0;
    for (;;) {
        const qsizetype quote = value.indexOf(u'"', start);
        const QString head = value.mid(start, quote < 0 ? -1 : quote - start);
        if (!head.isEmpty())
            pieces << literal(head);
        if (quote < 0)
            break;
        pieces << QStringLiteral("'\"'");
        start = quote + 1;
    }
    return field + QStringLiteral(" = ") + pieces.join(QStringLiteral(" + "));
}

} // namespace store
