#include "wctpclient.h"

#include "pagestatus.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSocketNotifier>
#include <QSslError>
#include <QTimer>

#include <poll.h>

namespace paging {

namespace {
bool cancelled(int fd)
{
    if (fd < 0)
        return false;
    pollfd p { fd, POLLIN, 0 };
    return ::poll(&p, 1, 0) > 0;
}
} // namespace

WctpClient::WctpClient(const WctpTarget& target, int cancelFd)
    : m_target(target)
    , m_cancelFd(cancelFd)
    , m_manager(std::make_unique<QNetworkAccessManager>())
{
    m_manager->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy); // a 3xx is an answer, not a hop
}

WctpClient::~WctpClient() = default;

namespace {
// The answer read from the body of a successful post; an answer that is no such document is
// BadServerAnswer naming the host.
template <typename Out, typename Reader>
Out answered(const WctpClient::Result& posted, const QByteArray& body, const QString& host, Reader read)
{
    Out r;
    static_cast<WctpClient::Result&>(r) = posted;
    if (r.status)
        return r;
    r.answer = read(body);
    if (!r.answer.wellFormed) {
        r.status = BadServerAnswer;
        r.detail = QStringLiteral("%1: %2").arg(host, r.answer.problem);
    }
    return r;
}
} // namespace

WctpClient::SubmitResult WctpClient::submit(const QString& recipientId, const QString& text)
{
    const Result posted = post(wctp::writeSubmit({ m_target.login, m_target.password, recipientId, text }));
    return answered<SubmitResult>(posted, m_lastBody, m_target.url.host(), wctp::readSubmitAnswer);
}

WctpClient::QueryResult WctpClient::query(const QString& recipientId, const QString& trackingNumber)
{
    const Result posted = post(wctp::writeQuery({ m_target.login, recipientId, trackingNumber }));
    return answered<QueryResult>(posted, m_lastBody, m_target.url.host(), wctp::readQueryAnswer);
}

WctpClient::VersionResult WctpClient::version(const QString& inquirer)
{
    const Result posted = post(wctp::writeVersionQuery(inquirer));
    return answered<VersionResult>(posted, m_lastBody, m_target.url.host(), wctp::readVersionAnswer);
}

WctpClient::Result WctpClient::post(const QByteArray& document)
{
    m_lastBody.clear();
    const QString host = m_target.url.host();
    const bool https = m_target.url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
    if (!m_target.url.isValid() || host.isEmpty()
        || (!https && m_target.url.scheme().compare(QLatin1String("http"), Qt::CaseInsensitive) != 0))
        return { BadParameters, QStringLiteral("not an http or https URL: %1").arg(m_target.url.toString()) };
    if (cancelled(m_cancelFd))
        return { Cancelled, QString() };

    QNetworkRequest request(m_target.url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray(wctp::kContentType));
    request.setTransferTimeout(0); // the deadline below covers the whole exchange
    QEventLoop loop;
    QNetworkReply* reply = m_manager->post(request, document);
    bool encrypted = false;
    QStringList sslProblems;
    QObject::connect(reply, &QNetworkReply::encrypted, &loop, [&] { encrypted = true; });
    // Recorded, never ignored: the handshake then fails and the reply ends with an error.
    QObject::connect(reply, &QNetworkReply::sslErrors, &loop, [&](const QList<QSslError>& errors) {
        for (const QSslError& e : errors)
            sslProblems << e.errorString();
    });
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    bool sent = false;
    QObject::connect(reply, &QNetworkReply::uploadProgress, &loop,
        [&sent](qint64 done, qint64 total) { sent = sent || (total > 0 && done >= total); });
    // An answer larger than any WCTP document is not held: the download stops.
    bool tooLarge = false;
    auto checkSize = [&](qint64 received, qint64 total) {
        if (received > kMaxAnswer || total > kMaxAnswer) {
            tooLarge = true;
            loop.quit();
        }
    };
    QObject::connect(reply, &QNetworkReply::downloadProgress, &loop, checkSize);
    QObject::connect(reply, &QNetworkReply::readyRead, &loop, [&] { checkSize(reply->bytesAvailable(), -1); });
    // An exchange still under way when the loop ends, neither cancelled nor too large, ran out of time.
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadline.start(std::max(1, m_target.deadlineMs));
    std::unique_ptr<QSocketNotifier> cancel;
    bool wasCancelled = false;
    if (m_cancelFd >= 0) {
        cancel = std::make_unique<QSocketNotifier>(m_cancelFd, QSocketNotifier::Read);
        QObject::connect(cancel.get(), &QSocketNotifier::activated, &loop, [&] {
            wasCancelled = true;
            cancel->setEnabled(false); // the eventfd stays readable: one notice is enough
            loop.quit();
        });
    }
    if (!reply->isFinished())
        loop.exec();

    const std::unique_ptr<QNetworkReply, void (*)(QNetworkReply*)> owner(reply, [](QNetworkReply* r) {
        r->disconnect();
        r->abort();
        r->deleteLater();
    });
    Result r;
    if (reply->isFinished())
        r = exchanged(reply, https, encrypted, sslProblems, host);
    else if (wasCancelled)
        r = { Cancelled, QString() };
    else if (tooLarge)
        r = { BadServerAnswer, QStringLiteral("the answer of %1 is larger than %2 bytes").arg(host).arg(kMaxAnswer) };
    else
        r = { ServerNotResponding, QStringLiteral("no answer from %1 within %2 ms").arg(host).arg(m_target.deadlineMs) };
    r.sent = sent;
    if (r.status == Successful) {
        if (reply->bytesAvailable() > kMaxAnswer)
            r = { BadServerAnswer, QStringLiteral("the answer of %1 is larger than %2 bytes").arg(host).arg(kMaxAnswer), sent };
        else
            m_lastBody = reply->readAll();
    }
    return r;
}

WctpClient::Result WctpClient::exchanged(
    QNetworkReply* reply, bool https, bool encrypted, const QStringList& sslProblems, const QString& host)
{
    const QVariant httpStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const QNetworkReply::NetworkError error = reply->error();
    if (https && (!sslProblems.isEmpty() || error == QNetworkReply::SslHandshakeFailedError
                     || (!encrypted && !httpStatus.isValid() && error != QNetworkReply::ConnectionRefusedError
                         && error != QNetworkReply::HostNotFoundError))) {
        if (!sslProblems.isEmpty())
            return { TlsFailure,
                QStringLiteral("certificate of %1 does not verify: %2").arg(host, sslProblems.join(QStringLiteral("; "))) };
        return { TlsFailure, QStringLiteral("no TLS session with %1: %2").arg(host, reply->errorString()) };
    }
    if (httpStatus.isValid()) {
        const int code = httpStatus.toInt();
        if (code >= 500)
            return { ServerUnavailable, QStringLiteral("HTTP %1 from %2").arg(code).arg(host) };
        if (code != 200)
            return { HttpError, QStringLiteral("HTTP %1 from %2").arg(code).arg(host) };
    }
    switch (error) {
    case QNetworkReply::NoError:
        break;
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyNotFoundError:
        return { ServerUnavailable, QStringLiteral("%1: %2").arg(host, reply->errorString()) };
    case QNetworkReply::RemoteHostClosedError:
        return { ConnectionLost, QStringLiteral("%1 closed the connection without an answer").arg(host) };
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError:
        return { ServerNotResponding, QStringLiteral("%1: %2").arg(host, reply->errorString()) };
    default:
        return { BadServerAnswer, QStringLiteral("%1: %2").arg(host, reply->errorString()) };
    }
    if (!httpStatus.isValid())
        return { BadServerAnswer, QStringLiteral("%1 gave no HTTP answer").arg(host) };
    return { Successful, QString() };
}

} // namespace paging
