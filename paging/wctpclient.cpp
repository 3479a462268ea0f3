#include "wctpclient.h"

#include "pagestatus.h"

#include <curl/curl.h>

#include <memory>

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
{
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

namespace {

// libcurl's global state, made once for the process.
void initCurl()
{
    static const bool done = [] {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        return true;
    }();
    (void)done;
}

struct Exchange {
    QByteArray body;
    bool tooLarge = false;
};

// Keeps the answer's body; one larger than any WCTP document stops the transfer as it arrives.
size_t keepBody(char* data, size_t size, size_t count, void* user)
{
    auto* exchange = static_cast<Exchange*>(user);
    const size_t length = size * count;
    if (exchange->body.size() + qint64(length) > WctpClient::kMaxAnswer) {
        exchange->tooLarge = true;
        return 0; // libcurl ends the transfer with a write error
    }
    exchange->body.append(data, qsizetype(length));
    return length;
}

struct EasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiDeleter {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

} // namespace

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

    initCurl();
    const std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    const std::unique_ptr<CURLM, MultiDeleter> multi(curl_multi_init());
    if (!easy || !multi)
        return { BadParameters, QStringLiteral("no HTTP client could be made") };
    const std::unique_ptr<curl_slist, ListDeleter> headers([] {
        curl_slist* list = curl_slist_append(nullptr, (QByteArray("Content-Type: ") + wctp::kContentType).constData());
        return curl_slist_append(list, "Expect:"); // the body goes with the request, no 100-continue wait
    }());
    Exchange exchange;
    char errorText[CURL_ERROR_SIZE] = {};
    const QByteArray url = m_target.url.toEncoded();
    const long deadlineMs = std::max(1, m_target.deadlineMs);
    CURL* e = easy.get();
    curl_easy_setopt(e, CURLOPT_URL, url.constData());
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_PROXY, ""); // straight to the carrier, whatever the environment says
    curl_easy_setopt(e, CURLOPT_FRESH_CONNECT, 1L);
    curl_easy_setopt(e, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(e, CURLOPT_QUICK_EXIT, 1L); // a resolve given up is left to its thread, not waited for
    curl_easy_setopt(e, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, deadlineMs);
    curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, deadlineMs); // a 3xx is an answer, not a hop: no redirects
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(e, CURLOPT_POSTFIELDS, document.constData());
    curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(document.size()));
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, keepBody);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &exchange);
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, errorText);
    curl_multi_add_handle(multi.get(), e);

    bool wasCancelled = false;
    int running = 1;
    while (running) {
        if (curl_multi_perform(multi.get(), &running) != CURLM_OK || !running)
            break;
        curl_waitfd cancel { m_cancelFd, CURL_WAIT_POLLIN, 0 };
        curl_multi_poll(multi.get(), m_cancelFd >= 0 ? &cancel : nullptr, m_cancelFd >= 0 ? 1 : 0, 1000, nullptr);
        if (cancel.revents & CURL_WAIT_POLLIN) {
            wasCancelled = true;
            break;
        }
    }
    CURLcode done = CURLE_OK;
    int left = 0;
    bool finished = false;
    while (CURLMsg* message = curl_multi_info_read(multi.get(), &left)) {
        if (message->msg == CURLMSG_DONE) {
            done = message->data.result;
            finished = true;
        }
    }
    curl_off_t uploaded = 0;
    curl_easy_getinfo(e, CURLINFO_SIZE_UPLOAD_T, &uploaded);
    long httpStatus = 0;
    curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &httpStatus);
    curl_multi_remove_handle(multi.get(), e);

    const QString said = QString::fromUtf8(errorText).trimmed();
    Result r;
    if (wasCancelled)
        r = { Cancelled, QString() };
    else if (!finished)
        r = { ConnectionLost, QStringLiteral("the exchange with %1 ended: %2").arg(host, said) };
    else
        r = exchanged(done, int(httpStatus), exchange.tooLarge, said, host);
    r.sent = uploaded >= curl_off_t(document.size());
    if (r.status == Successful)
        m_lastBody = exchange.body;
    return r;
}

WctpClient::Result WctpClient::exchanged(int curlCode, int httpStatus, bool tooLarge, const QString& said, const QString& host)
{
    switch (CURLcode(curlCode)) {
    case CURLE_OK:
        break;
    case CURLE_WRITE_ERROR:
        if (tooLarge)
            return { BadServerAnswer, QStringLiteral("the answer of %1 is larger than %2 bytes").arg(host).arg(kMaxAnswer) };
        return { BadServerAnswer, QStringLiteral("%1: %2").arg(host, said) };
    case CURLE_COULDNT_RESOLVE_HOST:
        return { ServerUnavailable, QStringLiteral("%1: Host not found").arg(host) };
    case CURLE_COULDNT_CONNECT:
        return { ServerUnavailable, QStringLiteral("%1: %2").arg(host, said) };
    case CURLE_OPERATION_TIMEDOUT:
        return { ServerNotResponding, QStringLiteral("no answer from %1 in time: %2").arg(host, said) };
    case CURLE_PEER_FAILED_VERIFICATION:
        return { TlsFailure, QStringLiteral("certificate of %1 does not verify: %2").arg(host, said) };
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_USE_SSL_FAILED:
        return { TlsFailure, QStringLiteral("no TLS session with %1: %2").arg(host, said) };
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_PARTIAL_FILE:
        return { ConnectionLost, QStringLiteral("%1 closed the connection without a whole answer").arg(host) };
    default:
        return { BadServerAnswer, QStringLiteral("%1: %2").arg(host, said) };
    }
    if (httpStatus == 0)
        return { BadServerAnswer, QStringLiteral("%1 gave no HTTP answer").arg(host) };
    if (httpStatus >= 500)
        return { ServerUnavailable, QStringLiteral("HTTP %1 from %2").arg(httpStatus).arg(host) };
    if (httpStatus != 200)
        return { HttpError, QStringLiteral("HTTP %1 from %2").arg(httpStatus).arg(host) };
    return { Successful, QString() };
}

} // namespace paging
