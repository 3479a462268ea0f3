#include "wctpdelivery.h"

#include "debuglog.h"
#include "pagestatus.h"

#include <QSet>

namespace paging {

WctpOutcome deliverWctp(const WctpTarget& target, const PagePlan& plan, int cancelFd, DebugLog& log,
    const std::function<void(int, const QString&)>& report)
{
    WctpOutcome out;
    if (plan.numeric) {
        out.code = BadParameters; // a numeric page needs a modem to tone-dial the digits
        out.detail = QStringLiteral("a numeric page cannot go through WCTP");
        return out;
    }
    WctpClient client(target, cancelFd);
    QSet<int> refusedPlaces;
    QSet<int> deliveredPlaces;
    QHash<int, int> pageOfPlace;
    bool refusedSingle = false;
    int failure = 0;
    const QList<PageItem>& items = plan.items;
    for (qsizetype index = 0; index < items.size() && !failure; ++index) {
        const PageItem& item = items.at(index);
        if (refusedPlaces.contains(item.place))
            continue; // the rest of a refused ID's pages
        const int page = ++pageOfPlace[item.place];
        report(SendingPage, sendingPageText(int(index) + 1, int(items.size())));
        log.note(QStringLiteral("WCTP submit to %1 for %2, page %3").arg(target.url.toString(), item.pagerId).arg(page));
        const WctpClient::SubmitResult r = client.submit(item.pagerId, item.text);
        if (!client.lastBody().isEmpty())
            log.received(client.lastBody());
        if (r.status) {
            failure = r.status;
            out.detail = r.detail;
            if (r.sent && (r.status == ServerNotResponding || r.status == ConnectionLost || r.status == BadServerAnswer
                    || r.status == Cancelled))
                out.unsure = true;
            log.note(QStringLiteral("WCTP exchange failed: %1 %2").arg(statusText(r.status), r.detail));
            break;
        }
        if (r.answer.success) {
            deliveredPlaces.insert(item.place);
            out.tickets.append({ item.place, item.pagerId, page, r.answer.trackingNumber });
            continue;
        }
        const int code = wctp::failureStatus(r.answer.errorCode);
        const QString said = QStringLiteral("WCTP %1 %2").arg(r.answer.errorCode).arg(r.answer.errorText);
        log.note(QStringLiteral("refused: %1").arg(said));
        if (code == InvalidPagerId) {
            refusedPlaces.insert(item.place);
            if (plan.group)
                report(InvalidPagerId, groupResultText(item.place, r.answer.errorCode, statusText(InvalidPagerId)));
            else
                refusedSingle = true;
            continue;
        }
        failure = code; // login, document or server trouble: the same for every page that follows
        out.detail = said;
    }

    if (failure) {
        out.code = failure;
        if (!plan.group && !deliveredPlaces.isEmpty())
            out.unsure = true;
        if (plan.group && failure != Cancelled) // each ID not reached gets the reason
            for (int place = 1; place <= plan.pagerIds.size(); ++place)
                if (!deliveredPlaces.contains(place) && !refusedPlaces.contains(place))
                    report(failure, groupResultText(place, 0, statusText(failure)));
        return out;
    }
    if (plan.group)
        out.code = refusedPlaces.isEmpty() ? int(Successful) : int(GroupBadIds);
    else
        out.code = refusedSingle ? int(InvalidPagerId) : int(Successful);
    return out;
}

} // namespace paging
