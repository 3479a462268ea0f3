#include "core/clocktext.h"

#include <QLocale>
#include <QRegularExpression>

namespace core {

QString longTimeText(const QTime& time)
{
    const QLocale locale; // the system's, unless the program chose another
    QString format = locale.timeFormat(QLocale::LongFormat);
    // Qt's long form may carry a time zone ("t"); the desk's clock shows the time only.
    static const QRegularExpression zone(QStringLiteral("\\s*\\bt+\\b\\s*"));
    format.replace(zone, QStringLiteral(" "));
    format = format.trimmed();
    // Separators are fixed, whatever the locale uses.
    static const QRegularExpression separator(QStringLiteral("(?<=[hHms])[.,](?=[hHms])"));
    format.replace(separator, QStringLiteral(":"));
    if (format.isEmpty())
        format = QStringLiteral("HH:mm:ss");
    return locale.toString(time, format);
}

QString dateStamp(const QDate& date)
{
    return QLocale::c().toString(date, QStringLiteral("MM'/'dd'/'yy")) + u' ';
}

QString timeStamp(const QTime& time)
{
    return QLocale::c().toString(time, QStringLiteral("hh':'mm AP")) + u' ';
}

} // namespace core
