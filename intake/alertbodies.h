#pragma once

#include "intake/gate.h"

#include <QJsonObject>
#include <QStringList>

namespace intake {

// What a monitoring program's webhook body asks for, or the errors that make it invalid.
struct AlertBody {
    AlertEvent event;
    QStringList errors; // empty when the body is valid
    QString routingKey; // the Events API v2 body's token
};

// Alertmanager's webhook body (version "4"; Grafana's is the same shape with version "1"): one
// notification of a group of alerts, keyed by its groupKey. "firing" triggers the alert with
// "[FIRING:N] " + the first alert's summary (its summary annotation, else its alertname on its
// instance), "+K more" when there are others; "resolved" resolves it.
AlertBody alertmanagerBody(const QJsonObject& body, const QString& version);

// The Events API v2 body: routing_key, event_action ("trigger", "acknowledge", "resolve"),
// dedup_key (needed for the last two) and for a trigger payload.summary, payload.severity
// ("critical", "error", "warning", "info") and payload.source. The errors name the fields as that
// API does ("'payload.summary' is missing or blank").
AlertBody eventsV2Body(const QJsonObject& body);

} // namespace intake
