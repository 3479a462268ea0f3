#include "core/statuslist.h"

#include "core/clocktext.h"
#include "core/recipientname.h"

#include <QLocale>

namespace core {

namespace {

const QString kSuccessful = QStringLiteral("Successful ");

} // namespace

QString rewriteStatus(const QString& message, const StatusContext& context)
{
    if (message == kSuccessful) {
        const QString to = context.sendByPager ? context.byPagerId : recipientDisplayName(context.pageName);
        return QStringLiteral("Sent to ") + to + QStringLiteral(": ") + context.firstLine.left(55)
            + QStringLiteral("...");
    }
    if (message.startsWith(QStringLiteral("GroupRes"))) {
        // "GroupRes", one separator, then "place:result".
        const QString rest = message.mid(9, 50);
        const qsizetype colon = rest.indexOf(u':');
        const QString place = colon < 0 ? QString() : rest.left(colon);
        const QString result = colon < 0 ? rest : rest.mid(colon + 1, 50);
        const QString group = recipientDisplayName(context.pageName);
        if (result == kSuccessful)
            return QStringLiteral("Sent to Group ") + group + QStringLiteral(" at ") + place
                + QStringLiteral(":  ") + context.firstLine.left(40) + QStringLiteral("...");
        if (result.mid(3, 7) == QStringLiteral("Invalid"))
            return QStringLiteral("Partially Sent to Group ") + group + QStringLiteral(": at ") + place
                + QStringLiteral(": Status: ") + result;
        return QStringLiteral("Not Sent to Group ") + group + QStringLiteral(": at ") + place
            + QStringLiteral(": Status: ") + result;
    }
    return message;
}

QString shownText(QString text)
{
    for (QChar& c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = u'?';
    }
    return text;
}

QString stampStatus(const QTime& time, const QString& text)
{
    // In the clock's own form, so a line reads against the clock beside it.
    return u' ' + longTimeText(time) + QStringLiteral(":  ") + text;
}

StatusHistory::StatusHistory()
{
    clear();
}

void StatusHistory::add(const QString& line)
{
    for (int i = kHistory - 1; i >= 1; --i)
        lines_[i] = lines_[i - 1];
    lines_[0] = line;
}

void StatusHistory::clear()
{
    lines_ = QStringList(kLines, QString());
}

} // namespace core
