#include "dialstring.h"

namespace paging::dialstring {

std::optional<QByteArray> dialCharacters(const QString& number)
{
    QByteArray out;
    for (QChar c : number) {
        const char16_t u = c.toUpper().unicode();
        if ((u >= '0' && u <= '9') || u == '*' || u == '#' || u == ',' || u == 'W' || u == '@' || u == '!'
            || u == 'P' || u == 'T')
            out.append(char(u));
        else if (u != ' ' && u != '-' && u != '(' && u != ')' && u != '.')
            return std::nullopt;
    }
    return out;
}

bool isDialable(const QByteArray& dial)
{
    for (char c : dial)
        if ((c >= '0' && c <= '9') || c == '*' || c == '#')
            return true;
    return false;
}

std::optional<QByteArray> dialableCharacters(const QString& number)
{
    std::optional<QByteArray> dial = dialCharacters(number);
    if (dial && !isDialable(*dial))
        dial.reset();
    return dial;
}

QByteArray toneDigits(const QString& message)
{
    QByteArray out;
    for (QChar c : message) {
        const char16_t u = c.unicode();
        if ((u >= '0' && u <= '9') || u == '*' || u == '#')
            out.append(char(u));
    }
    return out;
}

QString numberPart(const QString& networkPhone)
{
    return networkPhone.section(QLatin1Char('^'), 0, 0);
}

QString passwordPart(const QString& networkPhone)
{
    const qsizetype caret = networkPhone.indexOf(QLatin1Char('^'));
    return caret < 0 ? QString() : networkPhone.mid(caret + 1);
}

QString networkPhone(const QString& number, const QString& password)
{
    return password.isEmpty() ? number : number + QLatin1Char('^') + password;
}

} // namespace paging::dialstring
