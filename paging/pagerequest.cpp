#include "pagerequest.h"

#include "pagestatus.h"
#include "serialline.h"
#include "tapframe.h"

namespace paging {

int planPage(const PageRequest& r, PagePlan* plan, QString* why)
{
    auto bad = [why](const QString& reason) {
        if (why)
            *why = reason;
        return int(BadParameters);
    };

    QString baud = r.baudRate.trimmed();
    plan->numeric = baud.startsWith(QLatin1Char('B'), Qt::CaseInsensitive);
    if (plan->numeric)
        baud = baud.mid(1).trimmed();
    bool ok = false;
    plan->baud = baud.isEmpty() ? 300 : baud.toInt(&ok);
    if (!baud.isEmpty() && (!ok || !serialline::isSupportedBaud(plan->baud)))
        return bad(QStringLiteral("unsupported line speed \"%1\"").arg(r.baudRate));

    const QString size = r.messageSize.trimmed();
    plan->messageSize = size.isEmpty() ? 0 : size.toInt(&ok);
    if (!size.isEmpty() && !ok)
        return bad(QStringLiteral("message size \"%1\" is not a number").arg(r.messageSize));
    plan->messageSize = std::max(plan->messageSize, 0);

    const QString dialInit = r.dialInit.trimmed().toUpper();
    plan->pulse = dialInit.endsWith(QLatin1String("DP"));

    QString message = r.message;
    const QString ids = r.pagerPhone.trimmed();
    plan->group = ids.contains(QLatin1Char('^'));
    if (plan->group) {
        QStringList parts = ids.split(QLatin1Char('^'));
        if (parts.last().trimmed().isEmpty())
            parts.removeLast(); // every ID is followed by "^"
        for (const QString& id : parts) {
            if (id.trimmed().isEmpty())
                return bad(QStringLiteral("empty pager ID in the group"));
            plan->pagerIds.append(id.trimmed());
        }
        if (message.endsWith(QLatin1String("^^")))
            message.chop(2);
    } else if (!ids.isEmpty()) {
        plan->pagerIds.append(ids);
    }
    if (plan->pagerIds.isEmpty())
        return bad(QStringLiteral("no pager ID"));
    if (plan->numeric && plan->group)
        return bad(QStringLiteral("a numeric page goes to one pager"));

    plan->items.clear();
    if (plan->numeric) {
        plan->items.append({ 1, plan->pagerIds.first(), message });
        return Successful;
    }
    const QStringList pages = tapframe::splitMessage(message, plan->messageSize);
    for (int place = 0; place < plan->pagerIds.size(); ++place)
        for (const QString& text : pages)
            plan->items.append({ place + 1, plan->pagerIds.at(place), text });
    return Successful;
}

} // namespace paging
