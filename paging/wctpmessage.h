#pragma once

// The WCTP 1.3 documents the desk writes and the answers it reads, with Qt's XML stream classes.
// Transient-client mode: wctp-SubmitClientMessage to send one page to one recipient, wctp-ClientQuery
// to ask after a tracking number. No transport here (wctpclient.h carries them over HTTP).

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

namespace paging::wctp {

inline constexpr char kVersion[] = "wctp-dtd-v1r3";
inline constexpr char kContentType[] = "text/xml; charset=utf-8";

struct Submit {
    QString senderId; // LOGIN: wctp-ClientOriginator senderID
    // PASSWORD: wctp-Recipient authorizationCode (left out when empty). WCTP 1.3 gives a transient
    // client's originator no securityCode; the code that authorizes a submit goes with the recipient.
    QString authorizationCode;
    QString recipientId; // the pager ID
    QString text; // wctp-Alphanumeric
};

struct Query {
    QString senderId;
    QString recipientId;
    QString trackingNumber;
};

QByteArray writeSubmit(const Submit& submit);
QByteArray writeQuery(const Query& query);
// wctp-VersionQuery: what the server is and which WCTP versions it takes; it sends no message and
// needs no credentials, so a path can be tried with it.
QByteArray writeVersionQuery(const QString& inquirer);

// The answer to a version query: wctp-VersionResponse (its responder and the wctp-DTDSupport dtdName
// values, with their supportType), or a wctp-Failure from a server that takes no version query.
struct VersionAnswer {
    bool wellFormed = false;
    QString responder;
    QStringList dtds; // "wctp-dtd-v1r3 (Supported)"
    int errorCode = 0;
    QString errorText;
    QString problem;
};
VersionAnswer readVersionAnswer(const QByteArray& body);

// The answer to a submit: wctp-SubmitClientResponse (or a wctp-Confirmation, which a server sends for
// a request it could not take as one) holding wctp-ClientSuccess or wctp-Failure.
struct SubmitAnswer {
    bool wellFormed = false; // a WCTP document of a kind that answers a submit
    bool success = false;
    QString trackingNumber; // ClientSuccess trackingNumber
    int errorCode = 0; // wctp-Failure errorCode
    QString errorText;
    QString problem; // why it is not wellFormed
};
SubmitAnswer readSubmitAnswer(const QByteArray& body);

enum class Delivery { Unknown, Queued, Delivered, Read, Failed };
QString deliveryName(Delivery d); // "QUEUED", "DELIVERED", "READ", "FAILED", "UNKNOWN"

// The answer to a query: wctp-ClientQueryResponse with the tracking number's latest state (a
// wctp-ClientStatusInfo's wctp-Notification, its time from the wctp-ClientResponseHeader, or a
// wctp-Failure for the message or the query; wctp-NoMessages: no state yet).
struct QueryAnswer {
    bool wellFormed = false;
    Delivery state = Delivery::Unknown;
    QDateTime when; // the notification's time when the server gave one
    int errorCode = 0;
    QString errorText;
    int nextPollSeconds = 0; // minNextPollInterval (minutes on the wire), 0 when not given
    QString problem;
};
QueryAnswer readQueryAnswer(const QByteArray& body);

// A wctp-Failure's errorCode as a status code of the library (see pagestatus.h):
// 401 invalid senderID, 402 invalid securityCode, 404 invalid authorizationCode -> 4 (login refused);
// 403 invalid recipientID -> 6
// (invalid pager ID); 600 and up (the server's own trouble: busy, down, try later) -> 17, retryable;
// every other code (300s: the document refused, 400s: its content, 500s: the message) -> 16.
int failureStatus(int errorCode);

} // namespace paging::wctp
