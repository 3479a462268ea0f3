#include "compose/pageforms.h"

#include "compose/pagelib.h"
#include "core/queues.h"
#include "store/cp1252.h"
#include "store/memtable.h"
#include "store/storeerror.h"

#include <QLocale>

namespace compose {

bool isNumericCarrier(const QString& carrierName)
{
    return carrierName.compare(QStringLiteral("numeric"), Qt::CaseInsensitive) == 0;
}

QString carrierDialString(const QString& outsideLine, const QString& hostTel, const QString& hostPassword)
{
    return TrimRightBlanks(outsideLine) + hostTel + u'^' + hostPassword;
}

QString carrierBaudRate(const QString& hostSpeed)
{
    bool whole = false;
    const int speed = hostSpeed.trimmed().toInt(&whole, 10);
    if (!whole || speed < 300)
        return QStringLiteral("300");
    return hostSpeed.trimmed();
}

QString pageMessage(const QString& editorText)
{
    QString joined = editorText;
    joined.remove(u'\n');
    joined.replace(u'\t', u' '); // a control character the terminal would get raw
    return StripReturns(joined);
}

QString fittedMessage(const QString& message, bool group)
{
    return message.left(group ? kPageTextWidth - 2 : kPageTextWidth);
}

QString messageCutText(const QString& recipient, qsizetype kept)
{
    return QStringLiteral("Message to ") + recipient + QStringLiteral(" cut to ") + QString::number(kept)
        + QStringLiteral(" characters");
}

QStringList groupPagerPhones(const QStringList& pagerIds)
{
    QStringList values;
    QString value;
    for (const QString& id : pagerIds) {
        const QString entry = StripDashes(id) + u'^';
        if (!value.isEmpty() && value.size() + entry.size() > kPagerPhoneWidth) {
            values << value;
            value.clear();
        }
        value += entry;
    }
    if (!value.isEmpty())
        values << value;
    return values;
}

QString loggedMessage(const QString& editorText)
{
    QString text = editorText;
    text.remove(u'\r');
    text.replace(u'\n', QStringLiteral("\r\n"));
    return text;
}

QString logDate(const QDate& date)
{
    return QLocale::c().toString(date, QStringLiteral("yyyy'/'MM'/'dd"));
}

QString logTime(const QTime& time)
{
    return QLocale::c().toString(time, QStringLiteral("hh':'mm':'ss AP"));
}

Page userPage(const UserPageInput& input)
{
    Page page;
    page.messageToSend = fittedMessage(pageMessage(input.editorText), false);
    page.networkPhone = carrierDialString(input.outsideLine, input.hostTel, input.hostPassword);
    page.baudRate = carrierBaudRate(input.hostSpeed);
    page.pagerPhone = StripDashes(input.pagerId);
    page.userOrGroupName = input.userName;
    page.messageSize = input.hostChars;
    page.retries = input.deliveryRetries;
    if (isNumericCarrier(input.userCarrier)) {
        page.baudRate = u'B' + page.baudRate;
        page.networkPhone = QStringLiteral("#,");
        page.messageSize = input.directMesgDelay;
    }
    return page;
}

QStringList messageFileLines(const QByteArray& bytes)
{
    static const QByteArray byteOrderMark("\xEF\xBB\xBF");
    const QString text = bytes.startsWith(byteOrderMark) ? QString::fromUtf8(bytes.mid(byteOrderMark.size()))
                                                         : store::fromCp1252(bytes);
    QStringList lines;
    qsizetype start = 0;
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const QChar c = text.at(i);
        if (c != u'\r' && c != u'\n')
            continue;
        lines << text.mid(start, i - start);
        if (c == u'\r' && i + 1 < size && text.at(i + 1) == u'\n')
            ++i;
        start = i + 1;
    }
    if (start < size)
        lines << text.mid(start);
    return lines;
}

QString messageFromFileLines(const QStringList& lines)
{
    return lines.mid(2, 4).join(QString());
}

QString fromLine(const QString& from, const QString& text, const QString& item)
{
    constexpr qsizetype kShownText = 100;
    QString first = text.section(u'\n', 0, 0).trimmed();
    if (first.size() > kShownText)
        first = first.left(kShownText) + QStringLiteral("...");
    return QStringLiteral("From %1: %2 \u2192 %3").arg(from, first, item);
}

} // namespace compose
