#include "intake/alertbodies.h"

#include <QJsonArray>

namespace intake {

namespace {

// What a page says of one of Alertmanager's alerts.
QString alertSummary(const QJsonObject& alert)
{
    const QJsonObject annotations = alert.value(QLatin1String("annotations")).toObject();
    const QString summary = annotations.value(QLatin1String("summary")).toString().simplified();
    if (!summary.isEmpty())
        return summary;
    const QJsonObject labels = alert.value(QLatin1String("labels")).toObject();
    const QString name = labels.value(QLatin1String("alertname")).toString().simplified();
    const QString instance = labels.value(QLatin1String("instance")).toString().simplified();
    if (name.isEmpty())
        return instance;
    return instance.isEmpty() ? name : name + QStringLiteral(" on ") + instance;
}

} // namespace

AlertBody alertmanagerBody(const QJsonObject& body, const QString& version)
{
    AlertBody out;
    if (body.value(QLatin1String("version")).toString() != version)
        out.errors << QStringLiteral("'version' must be \"%1\"").arg(version);
    const QString status = body.value(QLatin1String("status")).toString();
    if (status == QLatin1String("firing"))
        out.event.action = AlertAction::Trigger;
    else if (status == QLatin1String("resolved"))
        out.event.action = AlertAction::Resolve;
    else
        out.errors << QStringLiteral("'status' must be \"firing\" or \"resolved\"");
    out.event.dedupKey = body.value(QLatin1String("groupKey")).toString();
    if (out.event.dedupKey.isEmpty())
        out.errors << QStringLiteral("'groupKey' is missing or blank");
    const QJsonValue alertsValue = body.value(QLatin1String("alerts"));
    if (!alertsValue.isArray() || alertsValue.toArray().isEmpty()) {
        out.errors << QStringLiteral("'alerts' is missing or empty");
        return out;
    }
    const QJsonArray alerts = alertsValue.toArray();
    int firing = 0;
    QString first;
    for (const QJsonValue& value : alerts) {
        const QJsonObject alert = value.toObject();
        if (alert.value(QLatin1String("status")).toString() == QLatin1String("firing"))
            ++firing;
        if (first.isEmpty())
            first = alertSummary(alert);
    }
    if (first.isEmpty())
        first = body.value(QLatin1String("groupLabels")).toObject().value(QLatin1String("alertname")).toString();
    if (first.isEmpty())
        out.errors << QStringLiteral("no alert has a summary annotation, an alertname or an instance");
    QString text = out.event.action == AlertAction::Trigger
        ? QStringLiteral("[FIRING:%1] %2").arg(std::max(firing, 1)).arg(first)
        : first;
    if (alerts.size() > 1)
        text += QStringLiteral(" +%1 more").arg(alerts.size() - 1);
    out.event.summary = text;
    return out;
}

AlertBody eventsV2Body(const QJsonObject& body)
{
    AlertBody out;
    out.routingKey = body.value(QLatin1String("routing_key")).toString();
    if (out.routingKey.isEmpty())
        out.errors << QStringLiteral("'routing_key' is missing or blank");
    const QString action = body.value(QLatin1String("event_action")).toString();
    if (action == QLatin1String("trigger"))
        out.event.action = AlertAction::Trigger;
    else if (action == QLatin1String("acknowledge"))
        out.event.action = AlertAction::Acknowledge;
    else if (action == QLatin1String("resolve"))
        out.event.action = AlertAction::Resolve;
    else
        out.errors << QStringLiteral("'event_action' must be one of trigger, acknowledge or resolve");
    const QJsonValue key = body.value(QLatin1String("dedup_key"));
    if (!key.isUndefined() && !key.isNull() && !key.isString())
        out.errors << QStringLiteral("'dedup_key' must be a string");
    out.event.dedupKey = key.toString();
    if (out.event.dedupKey.size() > 255)
        out.errors << QStringLiteral("'dedup_key' is longer than 255 characters");
    if (action != QLatin1String("trigger")) {
        if (out.event.dedupKey.isEmpty() && !action.isEmpty())
            out.errors << QStringLiteral("'dedup_key' is missing or blank");
        return out;
    }
    const QJsonValue payloadValue = body.value(QLatin1String("payload"));
    if (!payloadValue.isObject()) {
        out.errors << QStringLiteral("'payload' is missing or not an object");
        return out;
    }
    const QJsonObject payload = payloadValue.toObject();
    out.event.summary = payload.value(QLatin1String("summary")).toString().simplified();
    if (out.event.summary.isEmpty())
        out.errors << QStringLiteral("'payload.summary' is missing or blank");
    else if (out.event.summary.size() > 1024)
        out.errors << QStringLiteral("'payload.summary' is longer than 1024 characters");
    static const QStringList severities { "critical", "error", "warning", "info" };
    if (!severities.contains(payload.value(QLatin1String("severity")).toString()))
        out.errors << QStringLiteral("'payload.severity' must be one of critical, error, warning or info");
    if (payload.value(QLatin1String("source")).toString().trimmed().isEmpty())
        out.errors << QStringLiteral("'payload.source' is missing or blank");
    return out;
}

} // namespace intake
