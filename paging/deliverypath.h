#pragma once

#include <QList>
#include <QString>

namespace paging {

// One way of reaching a carrier. A page with several paths tries them in order within one attempt:
// a retryable failure on one goes on to the next, anything else ends the attempt.
//   MODEM  the engine's own port, modem and NetworkPhone (ADDRESS unused)
//   TAPIP  the TAP 1.8 session over TCP to ADDRESS "host:port", no modem dialogue; PASSWORD is the
//          TAP password
//   SNPP   the SNPP server at ADDRESS "host:port" as LOGIN with PASSWORD
//   WCTP   the WCTP server at ADDRESS (an http:// or https:// URL) as LOGIN with PASSWORD
struct DeliveryPath {
    QString method;
    QString address;
    QString login;
    QString password;
    int maxChars = 0; // characters per page on this path; 0: the page's MessageSize
    QString number; // how a refusal names the path ("04"); empty: its place in the list
};

enum class PathMethod { Invalid, Modem, TapIp, Snpp, Wctp };

// The method named by `method` (any case, blanks around it ignored); Invalid for any other name.
PathMethod pathMethod(const QString& method);

// True when the path can be tried; otherwise `why` (when given) says what is wrong in a few words.
bool checkPath(const DeliveryPath& path, QString* why = nullptr);

// "host:port" split; false unless the host is non-empty and the port is 1 to 65535.
bool parseHostPort(const QString& address, QString* host, quint16* port);

// The address as it may be shown and kept outside its field: a password inside a WCTP URL is left out.
QString shownAddress(const DeliveryPath& path);

// The words for a status line: "SNPP paging.example.net:444", "WCTP https://host/wctp",
// "TAPIP host:port", "modem".
QString describe(const DeliveryPath& path);

} // namespace paging
