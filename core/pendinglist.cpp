#include "core/pendinglist.h"

#include "core/deliverymarks.h"
#include "core/deliverystatus.h"
#include "core/page.h"
#include "core/pagenotes.h"
#include "store/connection.h"
#include "store/fieldnames.h"
#include "store/memtable.h"
#include "store/schema.h"
#include "store/storeerror.h"
#include "store/table.h"

namespace core {

std::optional<QSet<QString>> carrierNames(const store::Connection& connection)
{
    try {
        store::Table carriers;
        carriers.setConnection(connection);
        carriers.setTableName(store::pageCompSchema().openedAs);
        carriers.open();
        QSet<QString> names;
        for (carriers.first(); !carriers.eof(); carriers.next())
            names.insert(carriers.fieldText(store::pagecomp::PagerComp));
        return names;
    } catch (const store::StoreError&) {
        return std::nullopt;
    }
}

QList<PendingEntry> pendingEntries(const store::TMemTable& pending, const PageNotes& notes,
    const DeliveryMarks& marks, const std::optional<QSet<QString>>& carriers)
{
    QList<PendingEntry> entries;
    entries.reserve(pending.rowCount());
    // Notes of pages that say the same to the same pager are met in queue order.
    PageNotes left = notes;
    for (int row = 0; row < pending.rowCount(); ++row) {
        Page page = pageAt(pending, row);
        left.fill(page);
        const PageNotes::Attempts attempts = left.attempts(page);
        left.forget(page);
        PendingEntry entry;
        entry.recipient = page.userOrGroupName;
        entry.pagerId = page.pagerIds().join(QStringLiteral(", "));
        entry.carrier = page.carrier;
        entry.attempts = attempts.count;
        entry.lastAttempt = attempts.last;
        entry.reason = attempts.reason;
        entry.message = page.shownText();
        entry.maybeDelivered = marks.contains(page);
        if (!page.carrier.isEmpty() && carriers && !carriers->contains(page.carrier)) {
            entry.reason = QStringLiteral("Carrier %1 no longer exists: a resend goes through the modem%2")
                               .arg(page.carrier, entry.reason.isEmpty() ? QString() : QStringLiteral("; ") + entry.reason);
        }
        entries << entry;
    }
    return entries;
}

QStringList pendingColumnTitles()
{
    return { QStringLiteral("Recipient"), QStringLiteral("Pager ID"), QStringLiteral("Carrier"),
        QStringLiteral("Attempts"), QStringLiteral("Last attempt"), QStringLiteral("Reason"), QStringLiteral("Message") };
}

QStringList pendingColumnTexts(const PendingEntry& entry)
{
    return { entry.recipient, entry.pagerId, entry.carrier, QString::number(entry.attempts),
        entry.lastAttempt.isValid() ? changedText(entry.lastAttempt) : QString(), entry.reason, entry.message };
}

} // namespace core
