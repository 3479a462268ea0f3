#pragma once

// WCTP over HTTP or HTTPS for the paging library's worker threads: each call blocks its caller until
// the server's answer, the deadline or a cancel. The exchange goes through libcurl on a fresh
// connection that is never reused, so a request is sent once: a connection that closes before the
// answer is an outcome, never a reason to post again (a page could reach the pager twice). Names
// resolve on libcurl's resolver thread within the deadline, and a cancel ends a resolve at once. TLS
// uses the system's certificates; a certificate that does not verify is a failure naming the host,
// never passed over.

#include "wctpmessage.h"

#include <QString>
#include <QUrl>

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
    // What a finished exchange came to: libcurl's CURLCODE, the HTTP status, whether the answer was
    // refused for its size, and libcurl's own words.
    static Result exchanged(int curlCode, int httpStatus, bool tooLarge, const QString& said, const QString& host);

    WctpTarget m_target;
    int m_cancelFd;
    QByteArray m_lastBody;
};

} // namespace paging
