#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <utility>

namespace intake {

// One HTTP request as the server library parsed it, handed whole to the session's thread.
struct HttpRequest {
    QByteArray method;
    QString path;
    QMap<QString, QString> query;
    QByteArray authorization; // the Authorization header
    QByteArray contentType; // the media type, lower case, without its parameters
    QByteArray body; // a body that is not a form
    bool form = false; // the body was a form: its fields are in `fields`
    QMap<QString, QString> fields;
};

struct HttpAnswer {
    int status = 500;
    QByteArray body; // JSON
    QList<std::pair<QByteArray, QByteArray>> headers;
    // Held back this long before it goes (a refused token is answered as late as an accepted one).
    int delayMs = 0;
};

} // namespace intake
