#pragma once

#include "intake/gate.h"
#include "intake/httpexchange.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <optional>

namespace intake {

// The HTTP endpoints, on the session's thread: a request in, its answer out, the gate called
// between.
//   POST /v1/alertmanager, POST /v1/grafana   webhook bodies (alertbodies.h), Bearer token
//   POST /v2/enqueue                          the Events API v2 body, its routing_key the token
//   POST /v1/page                             {"to": ..., "text": ...} as JSON or a form, Bearer token
//   GET  /v1/status?dedup_key=...|row=...     the outcomes of an alert's or a row's pages
// 202 only once the gate has queued the pages; 401 for a missing or wrong token (held back as long
// as an accepted request takes), 415 for a body that is not JSON where JSON is wanted, 429 with
// Retry-After over the source's rate, 503 when the tables cannot be written.
class HttpEndpoints {
public:
    explicit HttpEndpoints(Gate& gate);

    // The answers to requests that arrived together, in their order: their pages are queued in one
    // batch of the gate, made durable by one write before any of them is answered 202; when that
    // write fails, every one the batch accepted is answered 503.
    QList<HttpAnswer> answer(const QList<HttpRequest>& requests);

    // What the server says of a body over the limit, before any of it reaches here.
    static HttpAnswer tooLarge(qint64 maxBody);
    static HttpAnswer unavailable(const QString& reason);

private:
    HttpAnswer route(const HttpRequest& request);
    HttpAnswer alertmanager(const HttpRequest& request, const QString& version);
    HttpAnswer enqueue(const HttpRequest& request);
    HttpAnswer page(const HttpRequest& request);
    HttpAnswer status(const HttpRequest& request);
    // The HTTP source `token` is, or the 401.
    std::optional<Source> authenticate(const QByteArray& token, HttpAnswer* refused);
    // The JSON object of a request's body, or the 415 / 400 in `refused`.
    std::optional<QJsonObject> jsonBody(const HttpRequest& request, HttpAnswer* refused);
    HttpAnswer queuedAnswer(const Queued& queued, const QJsonObject& accepted);

    Gate& gate_;
    // How long the accepted requests took here, their batch's write included, smoothed: a refused
    // token waits as long.
    double acceptedMs_ = 0;
    bool authenticated_ = false;
    bool awaitsCommit_ = false; // the answer holds once the batch is written

};

} // namespace intake
