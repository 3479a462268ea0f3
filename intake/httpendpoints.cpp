#include "intake/httpendpoints.h"

#include "intake/alertbodies.h"
#include "intake/currentfault.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace intake {

namespace {

HttpAnswer json(int status, const QJsonObject& object)
{
    HttpAnswer a;
    a.status = status;
    a.body = QJsonDocument(object).toJson(QJsonDocument::Compact);
    return a;
}

HttpAnswer failure(int status, const QString& state, const QString& message, const QStringList& errors = {})
{
    QJsonObject o { { "status", state }, { "message", message } };
    if (!errors.isEmpty())
        o.insert(QLatin1String("errors"), QJsonArray::fromStringList(errors));
    return json(status, o);
}


QJsonArray rows(const QList<quint32>& statusRows)
{
    QJsonArray out;
    for (quint32 row : statusRows)
        out.append(qint64(row));
    return out;
}

QByteArray bearerToken(const QByteArray& authorization)
{
    const QByteArray value = authorization.trimmed();
    if (value.size() < 7 || value.left(7).toLower() != "bearer ")
        return {};
    return value.mid(7).trimmed();
}

} // namespace

HttpEndpoints::HttpEndpoints(Gate& gate)
    : gate_(gate)
{
}

HttpAnswer HttpEndpoints::tooLarge(qint64 maxBody)
{
    HttpAnswer a = failure(413, QStringLiteral("too large"), QStringLiteral("The body is over %1 bytes").arg(maxBody));
    a.headers.append(std::pair<QByteArray, QByteArray>("Connection", "close"));
    return a;
}

HttpAnswer HttpEndpoints::unavailable(const QString& reason)
{
    return failure(503, QStringLiteral("unavailable"), reason);
}

QList<HttpAnswer> HttpEndpoints::answer(const QList<HttpRequest>& requests)
{
    struct Taken {
        qint64 started = 0; // ms into the batch
        bool authenticated = false;
        bool awaitsCommit = false;
    };
    QElapsedTimer clock;
    clock.start();
    QList<HttpAnswer> answers;
    QList<Taken> taken;
    gate_.beginBatch();
    for (const HttpRequest& request : requests) {
        Taken t;
        t.started = clock.elapsed();
        authenticated_ = false;
        awaitsCommit_ = false;
        try {
            answers << route(request);
        } catch (...) {
            answers << unavailable(QStringLiteral("The tables could not be written: ") + currentFault());
            awaitsCommit_ = false;
        }
        t.authenticated = authenticated_;
        t.awaitsCommit = awaitsCommit_;
        taken << t;
    }
    QString failure;
    try {
        failure = gate_.commitBatch();
    } catch (...) {
        failure = QStringLiteral("The tables could not be written: ") + currentFault();
    }
    // Every request is answered once the batch is written: an accepted one took from its start
    // until then, and a refused token is held back until it has taken as long.
    const qint64 end = clock.elapsed();
    for (qsizetype i = 0; i < answers.size(); ++i) {
        if (!failure.isEmpty() && taken[i].awaitsCommit)
            answers[i] = unavailable(failure);
        const double ms = double(end - taken[i].started);
        if (taken[i].authenticated)
            acceptedMs_ = acceptedMs_ == 0 ? ms : acceptedMs_ * 0.9 + ms * 0.1;
    }
    for (qsizetype i = 0; i < answers.size(); ++i) {
        if (!taken[i].authenticated && answers[i].status == 401)
            answers[i].delayMs = std::max(0, int(acceptedMs_ + 0.5) - int(end - taken[i].started));
    }
    return answers;
}

HttpAnswer HttpEndpoints::route(const HttpRequest& request)
{
    struct Endpoint {
        const char* path;
        const char* method;
    };
    static const Endpoint endpoints[] = { { "/v1/alertmanager", "POST" }, { "/v1/grafana", "POST" },
        { "/v2/enqueue", "POST" }, { "/v1/page", "POST" }, { "/v1/status", "GET" } };
    for (const Endpoint& e : endpoints) {
        if (request.path != QLatin1String(e.path))
            continue;
        if (request.method != e.method) {
            HttpAnswer a = failure(405, QStringLiteral("method not allowed"),
                QStringLiteral("%1 takes %2 only").arg(request.path, QLatin1String(e.method)));
            a.headers.append(std::pair<QByteArray, QByteArray>("Allow", e.method));
            return a;
        }
        if (request.path == QLatin1String("/v1/alertmanager"))
            return alertmanager(request, QStringLiteral("4"));
        if (request.path == QLatin1String("/v1/grafana"))
            return alertmanager(request, QStringLiteral("1"));
        if (request.path == QLatin1String("/v2/enqueue"))
            return enqueue(request);
        if (request.path == QLatin1String("/v1/page"))
            return page(request);
        return status(request);
    }
    return failure(404, QStringLiteral("not found"), QStringLiteral("No such endpoint: ") + request.path);
}

std::optional<Source> HttpEndpoints::authenticate(const QByteArray& token, HttpAnswer* refused)
{
    std::optional<Source> source;
    if (!token.isEmpty())
        source = gate_.authenticate(QString(), token);
    if (source && source->kind.compare(QLatin1String("HTTP"), Qt::CaseInsensitive) == 0) {
        authenticated_ = true;
        return source;
    }
    *refused = failure(401, QStringLiteral("unauthorized"), QStringLiteral("A valid token is required"));
    refused->headers.append(std::pair<QByteArray, QByteArray>("WWW-Authenticate", "Bearer realm=\"PlimoPager32\""));
    return std::nullopt;
}

std::optional<QJsonObject> HttpEndpoints::jsonBody(const HttpRequest& request, HttpAnswer* refused)
{
    const QByteArray& type = request.contentType;
    if (request.form || (!type.isEmpty() && type != "application/json" && !type.endsWith("+json"))) {
        *refused = failure(415, QStringLiteral("unsupported media type"),
            QStringLiteral("The body must be JSON (Content-Type: application/json)"));
        return std::nullopt;
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(request.body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        *refused = failure(400, QStringLiteral("invalid request"), QStringLiteral("The body is not a JSON object"),
            { error.error != QJsonParseError::NoError
                    ? QStringLiteral("%1 at byte %2").arg(error.errorString()).arg(error.offset)
                    : QStringLiteral("a JSON object is wanted") });
        return std::nullopt;
    }
    return document.object();
}

HttpAnswer HttpEndpoints::queuedAnswer(const Queued& queued, const QJsonObject& accepted)
{
    awaitsCommit_ = queued.awaitsCommit();
    switch (queued.outcome) {
    case Queued::Outcome::Queued:
    case Queued::Outcome::Scheduled:
    case Queued::Outcome::None:
        return json(202, accepted);
    case Queued::Outcome::RateLimited: {
        const int after = std::max(1, queued.retryAfterSeconds);
        HttpAnswer a = failure(429, QStringLiteral("throttled"),
            QStringLiteral("Too many pages a minute from this source: retry after %1 seconds").arg(after));
        a.headers.append(std::pair<QByteArray, QByteArray>("Retry-After", QByteArray::number(after)));
        return a;
    }
    case Queued::Outcome::Unavailable:
        return unavailable(queued.reason.isEmpty() ? QStringLiteral("The tables could not be written") : queued.reason);
    default: // an unknown recipient, or anything else the request itself is refused for
        return failure(400, QStringLiteral("invalid request"), queued.reason, { queued.reason });
    }
}

HttpAnswer HttpEndpoints::alertmanager(const HttpRequest& request, const QString& version)
{
    HttpAnswer refused;
    const std::optional<Source> source = authenticate(bearerToken(request.authorization), &refused);
    if (!source)
        return refused;
    const std::optional<QJsonObject> body = jsonBody(request, &refused);
    if (!body)
        return refused;
    const AlertBody parsed = alertmanagerBody(*body, version);
    if (!parsed.errors.isEmpty())
        return failure(400, QStringLiteral("invalid request"), QStringLiteral("The notification is invalid"), parsed.errors);
    const AlertAnswer a = gate_.alert(*source, parsed.event);
    return queuedAnswer(a.queued,
        { { "status", "success" },
            { "message", a.duplicate ? QStringLiteral("Alert already open: not paged again") : QStringLiteral("Event processed") },
            { "dedup_key", a.dedupKey }, { "state", a.state }, { "count", a.count }, { "duplicate", a.duplicate },
            { "rows", rows(a.queued.statusRows) } });
}

HttpAnswer HttpEndpoints::enqueue(const HttpRequest& request)
{
    // The token is the body's routing_key (or a Bearer token), so the body is read first: a body
    // that is not JSON is refused before any token is looked at.
    HttpAnswer refused;
    const std::optional<QJsonObject> body = jsonBody(request, &refused);
    if (!body) {
        if (refused.status == 400)
            return failure(400, QStringLiteral("invalid event"), QStringLiteral("Event object is invalid"),
                { QStringLiteral("The body is not a JSON object") });
        return refused;
    }
    const AlertBody parsed = eventsV2Body(*body);
    QByteArray token = parsed.routingKey.toUtf8();
    if (token.isEmpty())
        token = bearerToken(request.authorization);
    const std::optional<Source> source = authenticate(token, &refused);
    if (!source)
        return refused;
    QStringList errors = parsed.errors;
    if (parsed.routingKey.isEmpty() && !token.isEmpty())
        errors.removeAll(QStringLiteral("'routing_key' is missing or blank"));
    if (!errors.isEmpty())
        return failure(400, QStringLiteral("invalid event"), QStringLiteral("Event object is invalid"), errors);
    const AlertAnswer a = gate_.alert(*source, parsed.event);
    return queuedAnswer(a.queued, { { "status", "success" }, { "message", "Event processed" }, { "dedup_key", a.dedupKey } });
}

HttpAnswer HttpEndpoints::page(const HttpRequest& request)
{
    HttpAnswer refused;
    const std::optional<Source> source = authenticate(bearerToken(request.authorization), &refused);
    if (!source)
        return refused;
    QString to;
    QString text;
    if (request.form) {
        to = request.fields.value(QStringLiteral("to"));
        text = request.fields.value(QStringLiteral("text"));
    } else {
        const std::optional<QJsonObject> body = jsonBody(request, &refused);
        if (!body)
            return refused;
        to = body->value(QLatin1String("to")).toString();
        text = body->value(QLatin1String("text")).toString();
    }
    if (text.trimmed().isEmpty())
        return failure(400, QStringLiteral("invalid request"), QStringLiteral("Nothing to page"),
            { QStringLiteral("'text' is missing or blank") });
    PageRequest page;
    if (!to.trimmed().isEmpty())
        page.recipients << to.trimmed();
    page.text = text;
    const Queued queued = gate_.submit(*source, page);
    return queuedAnswer(queued,
        { { "status", queued.outcome == Queued::Outcome::Scheduled ? "scheduled" : "queued" },
            { "rows", rows(queued.statusRows) } });
}

HttpAnswer HttpEndpoints::status(const HttpRequest& request)
{
    HttpAnswer refused;
    const std::optional<Source> source = authenticate(bearerToken(request.authorization), &refused);
    if (!source)
        return refused;
    const QString key = request.query.value(QStringLiteral("dedup_key"));
    bool isRow = false;
    const quint32 row = request.query.value(QStringLiteral("row")).toUInt(&isRow);
    if (key.isEmpty() && (!isRow || row == 0))
        return failure(400, QStringLiteral("invalid request"), QStringLiteral("Name an alert or a row"),
            { QStringLiteral("'dedup_key' or 'row' is wanted") });
    const QJsonObject found = gate_.status(*source, key, key.isEmpty() ? row : 0);
    if (found.isEmpty())
        return failure(404, QStringLiteral("not found"), QStringLiteral("No such alert or row"));
    return json(200, found);
}

} // namespace intake
