#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace intake {

// A program allowed to page through the desk: one row of SOURCES.
struct Source {
    QString name; // SOURCE
    QString kind; // "SNPP", "HTTP", "SPOOL" or "MAIL"
    // Where its pages go when a request names no recipient: a recipient list item ("Alice Demo",
    // "Group: Night Shift").
    QString recipient;
    int rateMin = 60; // pages a minute it may start (RATEMIN; 0 is read as 60)
    bool enabled = true;
};

// One message a program hands over.
struct PageRequest {
    // As the program typed them: a user name, a user's pager ID, a group name or "Group: " + a
    // group name ("_" stands for a blank, letter case is ignored). Empty: the source's recipient.
    QStringList recipients;
    QString text;
    // Valid: kept as a scheduled message due at that moment instead of paged now.
    QDateTime holdUntil;
};

// What became of a request: its pages are durably queued (the pending file written and synced)
// before the answer says Queued or Scheduled.
struct Queued {
    enum class Outcome {
        Queued, // pages at the end of the send queue
        Scheduled, // a scheduled message (PageRequest::holdUntil)
        None, // nothing to page (a duplicate trigger, an acknowledgement)
        UnknownRecipient, // `reason` names it; nothing was queued
        // Nothing could be paged for what the request says (an empty message, a recipient whose
        // carrier or pager ID the directory refuses); `reason` says why
        Refused,
        RateLimited, // over RATEMIN; nothing was queued; retry after `retryAfterSeconds`
        Unavailable, // the tables or the pending file could not be written; `reason` says why
    };
    Outcome outcome = Outcome::None;
    QString reason;
    // The DLVSTAT rows of the pages queued, one for each pager ID paged.
    QList<quint32> statusRows;
    int retryAfterSeconds = 0;

    bool accepted() const { return outcome == Outcome::Queued || outcome == Outcome::Scheduled || outcome == Outcome::None; }
    // Whether the answer holds only once its batch is committed (Gate::commitBatch()).
    bool awaitsCommit() const { return outcome == Outcome::Queued || outcome == Outcome::None; }
};

enum class AlertAction { Trigger, Acknowledge, Resolve };

// An alert raised, acknowledged or resolved by a monitoring program.
struct AlertEvent {
    AlertAction action = AlertAction::Trigger;
    // The program's key for the alert (a dedup_key, an Alertmanager groupKey). Empty for a
    // trigger: the gate makes one and answers it.
    QString dedupKey;
    // The page's text for a trigger ("[FIRING:2] Disk full on db1 …"); a resolve pages
    // "RESOLVED: " + the alert's summary.
    QString summary;
    // As in PageRequest::recipients; empty: the source's recipient.
    QString recipient;
};

struct AlertAnswer {
    Queued queued;
    QString dedupKey; // given or made
    QString state; // "OPEN", "ACKED" or "RESOLVED"
    int count = 0; // triggers seen while it was open
    bool duplicate = false; // a trigger for an alert already open: nobody was paged again
};

// Where the listeners hand what they receive: the desk's session behind one interface, called on
// the session's thread only. Every call returns once its pages are durably queued, or with the
// reason they are not.
class Gate {
public:
    virtual ~Gate() = default;

    // The enabled source whose token (or SNPP password) `token` is: `name` names it (SNPP's LOGI),
    // or, empty, it is found by its token alone (HTTP's bearer token, a routing key). Every stored
    // hash is compared in constant time, and a miss costs what a match costs.
    virtual std::optional<Source> authenticate(const QString& name, const QByteArray& token) = 0;
    // The recipient list item a program's recipient names (see PageRequest::recipients), or an
    // empty text when it names none.
    virtual QString resolveRecipient(const QString& typed) = 0;
    // Pages a message for `source`: its rate counted, each page said in the status list ("From
    // monitoring (HTTP): [FIRING:1] Disk full on db1 → Group: Night Shift").
    virtual Queued submit(const Source& source, const PageRequest& request) = 0;
    // An alert's trigger, acknowledgement or resolution, deduplicated in ALERTS.
    virtual AlertAnswer alert(const Source& source, const AlertEvent& event) = 0;
    // A batch of calls made durable together. From beginBatch() until commitBatch(), submit() and
    // alert() queue their pages and write their rows but do not write the pending file, and their
    // answers hold only once commitBatch() has written it, once for the whole batch. It returns an
    // empty text, or the reason it could not: then nothing of the batch stays queued (its DLVSTAT
    // rows say REFUSED, ALERTS is as before the batch), and every answer of the batch that said
    // Queued or None stands for Unavailable with that reason. Nothing else may run on the session's
    // thread in between (the delivery loop would send a page not yet on disk). Outside a batch,
    // each call is a batch of its own.
    virtual void beginBatch() = 0;
    virtual QString commitBatch() = 0;
    // The outcomes of the pages of one of `source`'s alerts (`dedupKey`) or of one DLVSTAT row
    // (`row`, when dedupKey is empty), for GET /v1/status: {"pages": [{"row", "recipient", "status",
    // "time"}, ...]}, for an alert also "dedup_key", "state", "summary", "count", "first", "last".
    // An empty object when `source` has no such alert or row (another source's are not shown).
    virtual QJsonObject status(const Source& source, const QString& dedupKey, quint32 row) = 0;
};

} // namespace intake
