#pragma once

#include <QDateTime>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

namespace store {
class Connection;
class TMemTable;
}

namespace core {

class DeliveryMarks;
class PageNotes;

// A pending page as the "Pending Messages" window and plimopagerd --pending show it: whom it is
// for, where it goes and what its attempts met. The dial string and its password are not shown.
struct PendingEntry {
    QString recipient; // the person, the pager ID typed, or the group
    QString pagerId; // its pager IDs, ", " between them
    QString carrier;
    int attempts = 0;
    QDateTime lastAttempt;
    QString reason; // the last status text it met
    QString message;
    bool maybeDelivered = false;
};

// The names of the carriers of PAGECOMP, read through a handle of its own; none when the table
// cannot be read (nothing is then said to be gone).
std::optional<QSet<QString>> carrierNames(const store::Connection& connection);

// The pending queue's rows with what the notes and marks say of them. A row whose carrier is not
// among `carriers` (when known) says so in its reason: it goes through the modem when resent.
QList<PendingEntry> pendingEntries(const store::TMemTable& pending, const PageNotes& notes,
    const DeliveryMarks& marks, const std::optional<QSet<QString>>& carriers);

// The columns shown, and an entry's texts in the same order.
QStringList pendingColumnTitles();
QStringList pendingColumnTexts(const PendingEntry& entry);

} // namespace core
