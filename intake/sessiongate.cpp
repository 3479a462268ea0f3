#include "intake/sessiongate.h"

#include "compose/pageforms.h"
#include "core/deliverystatus.h"
#include "core/desk.h"
#include "intake/sourceregistry.h"
#include "schedule/schedulemessage.h"
#include "store/schema.h"
#include "store/storeerror.h"
#include "store/table.h"

#include <QJsonObject>
#include <QUuid>

namespace intake {

namespace {

std::unique_ptr<store::Table> handleOn(const store::Connection& connection, const store::TableSchema& schema)
{
    auto table = std::make_unique<store::Table>();
    store::bindHandle(*table, connection, schema);
    table->open();
    return table;
}

Queued refusedWith(Queued::Outcome outcome, const QString& reason)
{
    Queued answer;
    answer.outcome = outcome;
    answer.reason = reason;
    return answer;
}

Queued& queuedOf(Queued& answer)
{
    return answer;
}

Queued& queuedOf(AlertAnswer& answer)
{
    return answer.queued;
}

// A recipient as a program typed it, quoted in an answer: one line, bounded.
QString quoted(const QString& typed)
{
    QString shown = typed.left(60);
    for (QChar& c : shown) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = u'?';
    }
    return shown;
}

} // namespace

SessionGate::SessionGate(core::Desk& desk, Services services)
    : desk_(desk)
    , services_(std::move(services))
{
}

SessionGate::~SessionGate() = default;

QString SessionGate::fromLine(const Source& source, const QString& text, const QString& item)
{
    return compose::fromLine(QStringLiteral("%1 (%2)").arg(source.name, source.kind), text, item);
}

QDateTime SessionGate::now() const
{
    return services_.clock ? services_.clock() : QDateTime::currentDateTime();
}

void SessionGate::openTables()
{
    const store::Connection& connection = desk_.Plimo32();
    if (!recipients_)
        recipients_ = std::make_unique<RecipientFinder>(connection);
    if (!sources_)
        sources_ = handleOn(connection, store::sourcesSchema());
    if (!alerts_)
        alerts_ = handleOn(connection, store::alertsSchema());
    if (!dlvstat_)
        dlvstat_ = handleOn(connection, store::dlvStatSchema());
}

QString SessionGate::unavailableReason()
{
    if (services_.closedReason) {
        if (const QString reason = services_.closedReason(); !reason.isEmpty())
            return reason;
    }
    if (!desk_.isOpen())
        return QStringLiteral("The desk's tables are not open: %1").arg(desk_.startupError());
    if (!desk_.pendingFile().following())
        return QStringLiteral("The pending messages are not written now (%1 could not be read at start, or the "
                              "desk is closing)")
            .arg(core::Desk::pendingFileName());
    return {};
}

std::optional<Source> SessionGate::authenticate(const QString& name, const QByteArray& token)
{
    try {
        openTables();
        return SourceRegistry(*sources_).authenticate(name, token);
    } catch (const store::StoreError& e) {
        if (services_.say)
            services_.say(QStringLiteral("Sources could not be read: ") + e.message());
        return std::nullopt;
    }
}

QString SessionGate::resolveRecipient(const QString& typed)
{
    try {
        openTables();
        return recipients_->find(typed);
    } catch (const store::StoreError&) {
        return {};
    }
}

void SessionGate::beginBatch()
{
    Batch batch;
    batch.sendQueueStart = desk_.SendMsgs().rowCount();
    batch_ = std::move(batch);
}

QString SessionGate::commitBatch()
{
    if (!batch_)
        return {};
    Batch batch = std::move(*batch_);
    batch_.reset();
    // One write makes every page of the batch durable; a batch that queued nothing has nothing to
    // make durable.
    const QString failure = batch.pages.isEmpty() ? QString() : desk_.pendingFile().writeNow();
    if (!failure.isEmpty()) {
        takeBack(batch, failure);
        return failure;
    }
    for (const QString& line : std::as_const(batch.said))
        services_.say(line);
    return {};
}

void SessionGate::takeBack(Batch& batch, const QString& failure)
{
    // The program is told to try again: a page of the batch sent now would then go twice. Nothing
    // ran between the batch's first page and its commit, so its pages are the end of the queue.
    store::TMemTable& sendQueue = desk_.SendMsgs();
    while (sendQueue.rowCount() > batch.sendQueueStart) {
        sendQueue.last();
        sendQueue.deleteRow();
    }
    for (const core::Page& page : std::as_const(batch.pages))
        desk_.outcomes().setAll(page, core::kRefused);
    for (const QString& line : std::as_const(batch.said))
        services_.say(line + QStringLiteral(": not queued: ") + failure);
    try {
        while (!batch.undo.isEmpty())
            batch.undo.takeLast()();
    } catch (const store::StoreError& e) {
        services_.say(QStringLiteral("The alerts of a batch not queued could not be taken back: ") + e.message());
    }
}

template <typename Call> auto SessionGate::inBatch(Call call)
{
    const bool own = !batch_;
    if (own)
        beginBatch();
    // A call that throws is answered Unavailable by its caller: what it added to the batch goes.
    Batch added;
    added.sendQueueStart = desk_.SendMsgs().rowCount();
    const qsizetype pages = batch_->pages.size();
    const qsizetype said = batch_->said.size();
    const qsizetype undo = batch_->undo.size();
    const auto takeBackAdded = [&](const QString& failure) {
        added.pages = batch_->pages.mid(pages);
        added.said = batch_->said.mid(said);
        added.undo = batch_->undo.mid(undo);
        batch_->pages.resize(pages);
        batch_->said.resize(said);
        batch_->undo.resize(undo);
        takeBack(added, failure);
        if (own)
            batch_.reset();
    };
    auto answer = [&] {
        try {
            return call();
        } catch (const store::StoreError& e) {
            takeBackAdded(e.message());
            throw;
        } catch (...) {
            takeBackAdded(QStringLiteral("The tables could not be written"));
            throw;
        }
    }();
    if (own) {
        if (const QString failure = commitBatch(); !failure.isEmpty() && queuedOf(answer).awaitsCommit())
            queuedOf(answer) = refusedWith(Queued::Outcome::Unavailable, failure);
    }
    return answer;
}

Queued SessionGate::submit(const Source& source, const PageRequest& request)
{
    return inBatch([&] { return submitNoting(source, request, nullptr); });
}

Queued SessionGate::submitNoting(const Source& source, const PageRequest& request, QString* pages)
{
    try {
        if (const QString reason = unavailableReason(); !reason.isEmpty())
            return refusedWith(Queued::Outcome::Unavailable, reason);
        openTables();
        QStringList items;
        const QStringList typed = request.recipients.isEmpty() ? QStringList { source.recipient } : request.recipients;
        for (const QString& one : typed) {
            const QString item = recipients_->find(one);
            if (item.isEmpty())
                return refusedWith(
                    Queued::Outcome::UnknownRecipient, QStringLiteral("Unknown recipient: %1").arg(quoted(one)));
            if (!items.contains(item))
                items << item;
        }
        if (compose::pageMessage(request.text).trimmed().isEmpty())
            return refusedWith(Queued::Outcome::Refused, QStringLiteral("The message is empty"));
        const QDateTime moment = now();
        if (const int wait = rate_.retryAfter(source.name, source.rateMin, moment); wait > 0) {
            Queued answer = refusedWith(Queued::Outcome::RateLimited,
                QStringLiteral("%1 may start %2 pages a minute").arg(source.name).arg(source.rateMin));
            answer.retryAfterSeconds = wait;
            return answer;
        }
        const Queued answer = request.holdUntil.isValid() && request.holdUntil > moment
            ? schedule(source, items, request.text, request.holdUntil)
            : queue(source, items, request.text, pages);
        if (answer.accepted()) {
            rate_.count(source.name, moment);
            if (batch_)
                batch_->undo << [this, name = source.name, moment] { rate_.uncount(name, moment); };
        }
        return answer;
    } catch (const store::StoreError& e) {
        return refusedWith(Queued::Outcome::Unavailable, e.message());
    }
}

Queued SessionGate::queue(const Source& source, const QStringList& items, const QString& text, QString* pages)
{
    store::TMemTable& sendQueue = desk_.SendMsgs();
    const int before = sendQueue.rowCount();
    QList<core::Page> queued;
    QList<quint32> refusedRows;
    QStringList said;
    QStringList itemsQueued;
    QString logRecord;
    QString failure;
    for (const QString& item : items) {
        compose::PreparedPages prepared;
        try {
            prepared = services_.prepare(item, text);
        } catch (const std::exception& e) {
            const auto* storeError = dynamic_cast<const store::StoreError*>(&e);
            failure = storeError ? storeError->message() : QString::fromLocal8Bit(e.what());
            break;
        }
        queued += prepared.pages;
        refusedRows += prepared.refusedRows;
        said += prepared.said;
        if (!prepared.logRecord.isEmpty())
            logRecord = prepared.logRecord;
        if (!prepared.pages.isEmpty())
            itemsQueued << item;
    }
    QList<quint32> rows;
    for (const core::Page& page : std::as_const(queued)) {
        for (const quint32 row : page.statusRows) {
            // A page without its row would have no outcome to answer with.
            if (row == 0 && failure.isEmpty())
                failure = QStringLiteral("The delivery status (DLVSTAT) could not be written");
            rows << row;
        }
    }
    if (!failure.isEmpty()) {
        // Nothing of the request stays queued (the pages it queued are the end of the queue).
        Batch own;
        own.sendQueueStart = before;
        own.pages = queued;
        for (const QString& item : items)
            own.said << fromLine(source, text, item);
        takeBack(own, failure);
        return refusedWith(Queued::Outcome::Unavailable, failure);
    }
    for (const quint32 row : rows + refusedRows) {
        if (row != 0)
            rowSources_.insert(row, source.name);
    }
    while (rowSources_.size() > kRowsKept)
        rowSources_.erase(rowSources_.begin());
    if (pages)
        *pages = pagesKey(logRecord, rows + refusedRows);
    if (queued.isEmpty()) {
        said.removeDuplicates();
        return refusedWith(Queued::Outcome::Refused,
            said.isEmpty() ? QStringLiteral("Nothing could be paged") : said.join(QStringLiteral("; ")));
    }
    // Said once the batch is on disk.
    batch_->pages += queued;
    for (const QString& item : std::as_const(itemsQueued))
        batch_->said << fromLine(source, text, item);
    Queued answer;
    answer.outcome = Queued::Outcome::Queued;
    answer.statusRows = rows;
    return answer;
}

Queued SessionGate::schedule(const Source& source, const QStringList& items, const QString& text, const QDateTime& at)
{
    for (const QString& item : items) {
        schedule::appendScheduledRecord(desk_, at, item, text);
        services_.say(fromLine(source, text, item)
            + QStringLiteral(", scheduled for %1").arg(at.toString(QStringLiteral("yyyy/MM/dd hh:mm:ss"))));
    }
    Queued answer;
    answer.outcome = Queued::Outcome::Scheduled;
    if (!desk_.ScheduledSendingEnabled())
        answer.reason = QStringLiteral("Scheduled sending is off: the message goes once it is on");
    return answer;
}

AlertAnswer SessionGate::alert(const Source& source, const AlertEvent& event)
{
    try {
        if (const QString reason = unavailableReason(); !reason.isEmpty()) {
            AlertAnswer answer;
            answer.dedupKey = event.dedupKey;
            answer.queued = refusedWith(Queued::Outcome::Unavailable, reason);
            return answer;
        }
        openTables();
        return inBatch([&] { return event.action == AlertAction::Trigger ? trigger(source, event) : settle(source, event); });
    } catch (const store::StoreError& e) {
        AlertAnswer answer;
        answer.dedupKey = event.dedupKey;
        answer.queued = refusedWith(Queued::Outcome::Unavailable, e.message());
        return answer;
    }
}

AlertAnswer SessionGate::trigger(const Source& source, const AlertEvent& event)
{
    AlertAnswer answer;
    answer.dedupKey = event.dedupKey.isEmpty() ? QUuid::createUuid().toString(QUuid::WithoutBraces) : event.dedupKey;
    AlertBook book(*alerts_);
    const QString key = alertKey(source.name, answer.dedupKey);
    const QDateTime moment = now();
    if (std::optional<AlertRow> open = book.latest(key, source.name); open && open->state != kResolved) {
        // The same alert again while it is open: counted, nobody paged again.
        const AlertRow before = *open;
        open->count += 1;
        open->last = moment;
        book.update(*open);
        keepUndo(before);
        answer.state = open->state;
        answer.count = open->count;
        answer.duplicate = true;
        return answer;
    }
    // The row first, so that a second trigger meanwhile finds it; taken back when nothing was
    // queued, so that the program's retry pages.
    AlertRow row;
    row.key = key;
    row.source = source.name;
    row.state = kOpen;
    row.summary = event.summary;
    row.first = moment;
    row.last = moment;
    row.count = 1;
    book.append(row);
    PageRequest request;
    if (!event.recipient.isEmpty())
        request.recipients << event.recipient;
    request.text = event.summary;
    answer.queued = submitNoting(source, request, &row.pages);
    if (answer.queued.outcome != Queued::Outcome::Queued) {
        book.remove(row.recNo);
        return answer;
    }
    book.update(row);
    if (batch_)
        batch_->undo << [this, recNo = row.recNo] { AlertBook(*alerts_).remove(recNo); };
    answer.state = row.state;
    answer.count = row.count;
    return answer;
}

AlertAnswer SessionGate::settle(const Source& source, const AlertEvent& event)
{
    AlertAnswer answer;
    answer.dedupKey = event.dedupKey;
    AlertBook book(*alerts_);
    std::optional<AlertRow> row = book.latest(alertKey(source.name, event.dedupKey), source.name);
    if (!row) {
        answer.queued.reason = QStringLiteral("No such alert");
        return answer;
    }
    answer.count = row->count;
    answer.state = row->state;
    if (row->state == kResolved || (event.action == AlertAction::Acknowledge && row->state == kAcked))
        return answer;
    const AlertRow before = *row;
    row->state = event.action == AlertAction::Acknowledge ? kAcked : kResolved;
    row->last = now();
    book.update(*row);
    keepUndo(before);
    answer.state = row->state;
    // The resolution goes where the alert went, when it went anywhere.
    if (event.action == AlertAction::Resolve && !before.pages.isEmpty()) {
        PageRequest request;
        if (!event.recipient.isEmpty())
            request.recipients << event.recipient;
        request.text = QStringLiteral("RESOLVED: ") + before.summary;
        answer.queued = submit(source, request);
        if (!answer.queued.accepted()) {
            // Still open: the program's retry resolves it.
            book.update(before);
            answer.state = before.state;
        }
    }
    return answer;
}

void SessionGate::keepUndo(const AlertRow& before)
{
    if (batch_)
        batch_->undo << [this, before] { AlertBook(*alerts_).update(before); };
}

bool SessionGate::owns(const Source& source, quint32 row)
{
    if (rowSources_.value(row).compare(source.name, Qt::CaseInsensitive) == 0 && rowSources_.contains(row))
        return true;
    for (const AlertRow& alert : AlertBook(*alerts_).ofSource(source.name)) {
        if (rowsOfPages(*dlvstat_, alert.pages).contains(row))
            return true;
    }
    return false;
}

QJsonArray SessionGate::rowsJson(const QList<quint32>& rows)
{
    QJsonArray pages;
    for (const quint32 recNo : rows) {
        const core::StatusRow row = core::statusRowAt(*dlvstat_, recNo);
        if (row.recNo == 0)
            continue;
        pages.append(QJsonObject { { QStringLiteral("row"), qint64(row.recNo) },
            { QStringLiteral("recipient"), row.userName }, { QStringLiteral("status"), row.status },
            { QStringLiteral("time"), row.changed.toString(Qt::ISODate) } });
    }
    return pages;
}

QJsonObject SessionGate::status(const Source& source, const QString& dedupKey, quint32 row)
{
    try {
        openTables();
        if (!dedupKey.isEmpty()) {
            const std::optional<AlertRow> alert
                = AlertBook(*alerts_).latest(alertKey(source.name, dedupKey), source.name);
            if (!alert)
                return {};
            const QString format = QStringLiteral("yyyy-MM-ddTHH:mm:ss");
            return QJsonObject { { QStringLiteral("dedup_key"), dedupKey }, { QStringLiteral("state"), alert->state },
                { QStringLiteral("summary"), alert->summary }, { QStringLiteral("count"), alert->count },
                { QStringLiteral("first"), alert->first.toString(format) },
                { QStringLiteral("last"), alert->last.toString(format) },
                { QStringLiteral("pages"), rowsJson(rowsOfPages(*dlvstat_, alert->pages)) } };
        }
        if (row == 0 || !owns(source, row))
            return {};
        const QJsonArray pages = rowsJson({ row });
        if (pages.isEmpty())
            return {};
        return QJsonObject { { QStringLiteral("pages"), pages } };
    } catch (const store::StoreError&) {
        return {};
    }
}

} // namespace intake
