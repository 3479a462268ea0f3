#pragma once

#include "compose/preparation.h"
#include "core/page.h"
#include "intake/alertbook.h"
#include "intake/gate.h"
#include "intake/ratelimit.h"
#include "intake/recipients.h"

#include <QDateTime>
#include <QJsonArray>
#include <QMap>
#include <QList>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

namespace core {
class Desk;
}
namespace store {
class Table;
}

namespace intake {

// The gate in front of the desk's session: what programs hand over becomes pages through the same
// preparation as the operator's (compose::MessagePreparation::prepareReported), queued at the end
// of the send queue with their DLVSTAT rows, and an answer is given only once the pending file
// holding them is written and synced. SOURCES, ALERTS, DLVSTAT, BUSERS and GROUPS are read through
// handles of the gate's own, so that no window's current record moves under the operator.
class SessionGate : public Gate {
public:
    // What the gate asks of the session around it.
    struct Services {
        // The pages of one recipient item prepared and queued, and what became of them.
        std::function<compose::PreparedPages(const QString& item, const QString& text)> prepare;
        // One line for the status list.
        std::function<void(const QString&)> say;
        // Now, for the rate, the alerts' times and HOLD.
        std::function<QDateTime()> clock;
        // Why the session takes no pages now (it lost its folder), or an empty text.
        std::function<QString()> closedReason;
    };

    SessionGate(core::Desk& desk, Services services);
    ~SessionGate() override;

    std::optional<Source> authenticate(const QString& name, const QByteArray& token) override;
    QString resolveRecipient(const QString& typed) override;
    Queued submit(const Source& source, const PageRequest& request) override;
    AlertAnswer alert(const Source& source, const AlertEvent& event) override;
    QJsonObject status(const Source& source, const QString& dedupKey, quint32 row) override;
    void beginBatch() override;
    QString commitBatch() override;

    // The status line of an intake page: "From monitoring (HTTP): [FIRING:1] Disk full on db1 →
    // Group: Night Shift".
    static QString fromLine(const Source& source, const QString& text, const QString& item);

private:
    // Opens the gate's own handles on the desk's folder the first time (throws store::StoreError).
    void openTables();
    QDateTime now() const;
    // Why nothing can be queued now, or an empty text.
    QString unavailableReason();
    // submit(); `pages` (when given) gets the LOGREC of what it queued.
    Queued submitNoting(const Source& source, const PageRequest& request, QString* pages);
    // What the open batch did, taken back when its commit fails.
    struct Batch {
        int sendQueueStart = 0; // the send queue's rows before it
        QList<core::Page> pages; // queued by it
        QStringList said; // the status lines of its pages, said once they are on disk
        QList<std::function<void()>> undo; // its changes of ALERTS and of the rate, newest last
    };
    // Runs `call` (a Queued or an AlertAnswer) inside the open batch, or inside a batch of its own
    // committed after it: its answer says Unavailable when that commit fails.
    template <typename Call> auto inBatch(Call call);
    // Takes the batch's pages out of the send queue, marks their rows REFUSED and undoes its changes.
    void takeBack(Batch& batch, const QString& failure);
    // The pages of `text` to every item queued into the batch; or nothing queued.
    Queued queue(const Source& source, const QStringList& items, const QString& text, QString* pages);
    // A scheduled record for every item, due at `at`.
    Queued schedule(const Source& source, const QStringList& items, const QString& text, const QDateTime& at);
    AlertAnswer trigger(const Source& source, const AlertEvent& event);
    AlertAnswer settle(const Source& source, const AlertEvent& event);
    // The batch puts `before` back over its record when its commit fails.
    void keepUndo(const AlertRow& before);
    // Whether DLVSTAT row `row` is one of `source`'s pages.
    bool owns(const Source& source, quint32 row);
    QJsonArray rowsJson(const QList<quint32>& rows);

    core::Desk& desk_;
    Services services_;
    RateLimit rate_;
    std::unique_ptr<RecipientFinder> recipients_;
    std::unique_ptr<store::Table> sources_;
    std::unique_ptr<store::Table> alerts_;
    std::unique_ptr<store::Table> dlvstat_;
    // The DLVSTAT rows of this run's pages and the source that asked for each (an alert's rows are
    // found through ALERTS at any time).
    QMap<quint32, QString> rowSources_;
    std::optional<Batch> batch_;
    static constexpr qsizetype kRowsKept = 100000;
};

} // namespace intake
