#pragma once

// WCTP over HTTP or HTTPS for the paging library's worker threads: each call blocks its caller (it
// runs a local event loop on the calling thread) until the server's answer, the deadline or a cancel.
// TLS goes through Qt Network with the system's certificates; a certificate that does not verify is a
// failure naming the host, never passed over.

#include "wctpmessage.h"

#include <QString>
#include <QUrl>

#include <memory>

class QNetworkAccessManager;
class QNetworkReply;

namespace paging {

namespace wctp {
constexpr int kDeadlineMs = 30000; // a whole exchange (connect, TLS, request, answer)
// A tracking number is queried at the interval the server asks (minNextPollInterval) until DELIVERED,
// READ, a failure, or this long after its submit.
constexpr int kQueryGiveUpMinutes = 30;
}

// Where a WCTP carrier takes pages, and the credentials (the carrier's LOGIN and PASSWORD).
struct WctpTarget {
    QUrl url;
    QString login;
    QString password;
    int deadlineMs = wctp::kDeadlineMs;
};

class WctpClient {
public:
    // CANCELFD: an eventfd that turns readable on a cancel (-1: none). Build the client on the thread
    // that uses it.
    WctpClient(const WctpTarget& target, int cancelFd = -1);
    ~WctpClient();

    // The outcome of one exchange. `status` is 0 when the server's answer was read, else a failure code
    // of pagestatus.h (TLS, HTTP, unavailable, not responding, bad answer, connection lost, cancelled)
    // with `detail` saying what happened and naming the host.
    struct Result {
        int status = 0;
        QString detail;
        bool sent = false; // the request's body had left when the exchange ended
    };
    // The largest answer read; a larger one is refused as it arrives.
    static constexpr qint64 kMaxAnswer = 256 * 1024;
    struct SubmitResult : Result {
        wctp::SubmitAnswer answer;
    };
    struct QueryResult : Result {
        wctp::QueryAnswer answer;
    };
    struct VersionResult : Result {
        wctp::VersionAnswer answer;
    };

    SubmitResult submit(const QString& recipientId, const QString& text);
    QueryResult query(const QString& recipientId, const QString& trackingNumber);
    // wctp-VersionQuery as `inquirer`: no message goes, no credentials are sent.
    VersionResult version(const QString& inquirer);

    // The body of the last answer (for the debug file).
    QByteArray lastBody() const { return m_lastBody; }

private:
    Result post(const QByteArray& document);
    // What a finished reply came to.
    static Result exchanged(
        QNetworkReply* reply, bool https, bool encrypted, const QStringList& sslProblems, const QString& host);

    WctpTarget m_target;
    int m_cancelFd;
    std::unique_ptr<QNetworkAccessManager> m_manager;
    QByteArray m_lastBody;
};

} // namespace paging
