#include "intake/httpserver.h"

#include "intake/httpendpoints.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QHash>
#include <QMutex>
#include <QSet>
#include <QThread>
#include <QTimer>

#include <microhttpd.h>

#include <arpa/inet.h>
#include <cstdarg>
#include <cstring>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace intake {

namespace {

// What is read and dropped of a body past the limit before its connection is closed unanswered.
constexpr qint64 kDrainBytes = 1024 * 1024;

// How long close() lets the answers to the requests it cut short go out.
constexpr int kStopGraceMs = 1000;

// Descriptors kept free beside the connections: the tables, the pending file, the other listener.
constexpr rlim_t kOtherFiles = 256;

// Raises the process's open-file limit so that `connections` fit beside its other files; the number
// of connections that fit.
int fitOpenFiles(int connections)
{
    rlimit limit {};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return connections;
    const rlim_t wanted = rlim_t(connections) + kOtherFiles;
    if (limit.rlim_cur < wanted) {
        limit.rlim_cur = limit.rlim_max == RLIM_INFINITY ? wanted : std::min(wanted, limit.rlim_max);
        setrlimit(RLIMIT_NOFILE, &limit);
        getrlimit(RLIMIT_NOFILE, &limit);
    }
    if (limit.rlim_cur >= wanted)
        return connections;
    return int(std::max<rlim_t>(limit.rlim_cur, kOtherFiles + 16) - kOtherFiles);
}

QByteArray mediaType(const char* contentType)
{
    if (!contentType)
        return {};
    QByteArray type(contentType);
    if (const qsizetype semicolon = type.indexOf(';'); semicolon >= 0)
        type.truncate(semicolon);
    return type.trimmed().toLower();
}

} // namespace

struct HttpServer::Exchange {
    quint64 id = 0;
    MHD_Connection* connection = nullptr;
    HttpRequest request;
    QHash<QByteArray, QByteArray> fields;
    MHD_PostProcessor* post = nullptr;
    qint64 received = 0;
    bool tooLarge = false;
    bool handedOver = false;
    bool answered = false;
    HttpAnswer answer;

    ~Exchange()
    {
        if (post)
            MHD_destroy_post_processor(post);
    }
};

// What the library's thread and the session's share, behind one mutex.
struct HttpServer::Shared {
    struct Connection {
        int fd = -1;
        QElapsedTimer since; // the connection's current request began
        bool waiting = false; // handed to the session, suspended
    };

    HttpServer* server = nullptr;
    qint64 maxBody = 0;
    QMutex mutex;
    quint64 nextId = 1;
    QHash<quint64, Exchange*> suspended; // handed over, not yet answered
    QList<quint64> arrived; // handed over, not yet taken by the session's thread
    QSet<quint64> closing; // answered 503 by close(), not yet sent
    QHash<MHD_Connection*, Connection> connections;
    QByteArray log; // the library's messages while starting
    bool starting = false;
};

struct Callbacks {
    static MHD_Result queue(MHD_Connection* connection, const HttpAnswer& answer)
    {
        MHD_Response* response = MHD_create_response_from_buffer(
            size_t(answer.body.size()), const_cast<char*>(answer.body.constData()), MHD_RESPMEM_MUST_COPY);
        if (!response)
            return MHD_NO;
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "application/json");
        for (const auto& [name, value] : answer.headers)
            MHD_add_response_header(response, name.constData(), value.constData());
        const MHD_Result queued = MHD_queue_response(connection, unsigned(answer.status), response);
        MHD_destroy_response(response);
        return queued;
    }

    static MHD_Result field(void* cls, MHD_ValueKind, const char* key, const char*, const char*, const char*,
        const char* data, uint64_t, size_t size)
    {
        auto* ex = static_cast<HttpServer::Exchange*>(cls);
        if (key && data)
            ex->fields[QByteArray(key)].append(data, qsizetype(size));
        return MHD_YES;
    }

    static MHD_Result queryArgument(void* cls, MHD_ValueKind, const char* key, const char* value)
    {
        if (key)
            static_cast<HttpRequest*>(cls)->query.insert(QString::fromUtf8(key), QString::fromUtf8(value ? value : ""));
        return MHD_YES;
    }

    static MHD_Result access(void* cls, MHD_Connection* connection, const char* url, const char* method,
        const char*, const char* uploadData, size_t* uploadSize, void** context)
    {
        auto* shared = static_cast<HttpServer::Shared*>(cls);
        auto* ex = static_cast<HttpServer::Exchange*>(*context);
        if (!ex) {
            ex = new HttpServer::Exchange;
            *context = ex;
            ex->connection = connection;
            ex->request.method = method;
            ex->request.path = QString::fromUtf8(url);
            MHD_get_connection_values(connection, MHD_GET_ARGUMENT_KIND, &Callbacks::queryArgument, &ex->request);
            ex->request.authorization
                = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_AUTHORIZATION);
            ex->request.contentType
                = mediaType(MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_TYPE));
            // A declared length over the limit is refused before a byte of the body is read.
            if (const char* length = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH)) {
                bool ok = false;
                const qint64 declared = QByteArray(length).trimmed().toLongLong(&ok);
                if (!ok || declared > shared->maxBody) {
                    ex->tooLarge = true;
                    ex->answered = true;
                    return queue(connection, HttpEndpoints::tooLarge(shared->maxBody));
                }
            }
            if (ex->request.contentType == "application/x-www-form-urlencoded"
                || ex->request.contentType == "multipart/form-data") {
                ex->post = MHD_create_post_processor(connection, 8 * 1024, &Callbacks::field, ex);
                ex->request.form = ex->post != nullptr;
            }
            return MHD_YES;
        }
        if (*uploadSize != 0) {
            const size_t size = std::exchange(*uploadSize, 0);
            ex->received += qint64(size);
            if (ex->received > shared->maxBody) {
                // A body without a declared length that outgrows the limit: the library answers only
                // once the request is whole, so the rest is read and dropped, and a body that goes on
                // well beyond the limit loses its connection without an answer.
                ex->tooLarge = true;
                ex->request.body.clear();
                return ex->received > shared->maxBody + kDrainBytes ? MHD_NO : MHD_YES;
            }
            if (ex->post)
                return MHD_post_process(ex->post, uploadData, size);
            ex->request.body.append(uploadData, qsizetype(size));
            return MHD_YES;
        }
        if (ex->tooLarge)
            return ex->answered ? MHD_YES : queue(connection, HttpEndpoints::tooLarge(shared->maxBody));
        if (ex->answered)
            return queue(connection, ex->answer);
        if (ex->handedOver)
            return MHD_YES;
        for (auto it = ex->fields.cbegin(); it != ex->fields.cend(); ++it)
            ex->request.fields.insert(QString::fromUtf8(it.key()), QString::fromUtf8(it.value()));
        ex->fields.clear();
        ex->handedOver = true;
        // Suspended before the session's thread can see it, which may resume it at once.
        MHD_suspend_connection(connection);
        bool first = false;
        {
            QMutexLocker lock(&shared->mutex);
            ex->id = shared->nextId++;
            shared->suspended.insert(ex->id, ex);
            shared->connections[connection].waiting = true;
            first = shared->arrived.isEmpty();
            shared->arrived.append(ex->id);
        }
        // One call asked of the session's thread for all the requests arriving until it runs.
        if (first) {
            HttpServer* server = shared->server;
            QMetaObject::invokeMethod(server, [server] { server->drain(); }, Qt::QueuedConnection);
        }
        return MHD_YES;
    }

    static void completed(void* cls, MHD_Connection* connection, void** context, MHD_RequestTerminationCode)
    {
        auto* shared = static_cast<HttpServer::Shared*>(cls);
        auto* ex = static_cast<HttpServer::Exchange*>(*context);
        *context = nullptr;
        QMutexLocker lock(&shared->mutex);
        if (ex) {
            shared->suspended.remove(ex->id);
            shared->closing.remove(ex->id);
        }
        if (auto it = shared->connections.find(connection); it != shared->connections.end()) {
            it->waiting = false;
            it->since.start(); // the next request on this connection has its own deadline
        }
        lock.unlock();
        delete ex;
    }

    static void connectionChange(void* cls, MHD_Connection* connection, void**, MHD_ConnectionNotificationCode code)
    {
        auto* shared = static_cast<HttpServer::Shared*>(cls);
        QMutexLocker lock(&shared->mutex);
        if (code == MHD_CONNECTION_NOTIFY_STARTED) {
            HttpServer::Shared::Connection c;
            if (const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD))
                c.fd = info->connect_fd;
            c.since.start();
            shared->connections.insert(connection, c);
        } else {
            shared->connections.remove(connection); // before the library closes its socket
        }
    }

    static void log(void* cls, const char* format, va_list arguments)
    {
        auto* shared = static_cast<HttpServer::Shared*>(cls);
        char text[512];
        std::vsnprintf(text, sizeof text, format, arguments);
        QMutexLocker lock(&shared->mutex);
        if (shared->starting && shared->log.size() < 2048)
            shared->log += QByteArray(text).trimmed() + ' ';
    }
};

HttpServer::HttpServer(Handler handler, qint64 maxBody, QObject* parent)
    : QObject(parent)
    , handler_(std::move(handler))
    , shared_(std::make_unique<Shared>())
    , watch_(new QTimer(this))
{
    shared_->server = this;
    shared_->maxBody = maxBody;
    watch_->setInterval(500);
    connect(watch_, &QTimer::timeout, this, &HttpServer::enforceDeadline);
}

HttpServer::~HttpServer()
{
    close();
}

QString HttpServer::listen(const QHostAddress& address, quint16 port, const QByteArray& certificatePem, const QByteArray& keyPem)
{
    close();
    sockaddr_storage storage {};
    unsigned flags = MHD_USE_AUTO_INTERNAL_THREAD | MHD_ALLOW_SUSPEND_RESUME | MHD_USE_ERROR_LOG;
    if (address.protocol() == QAbstractSocket::IPv4Protocol) {
        auto* in = reinterpret_cast<sockaddr_in*>(&storage);
        in->sin_family = AF_INET;
        in->sin_port = htons(port);
        in->sin_addr.s_addr = htonl(address.toIPv4Address());
    } else if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&storage);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(port);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&in6->sin6_addr, &bytes, sizeof bytes);
        flags |= MHD_USE_IPv6;
    } else {
        return QStringLiteral("%1 is not an address to listen on").arg(address.toString());
    }
    const bool tls = !certificatePem.isEmpty() || !keyPem.isEmpty();
    if (tls) {
        if (MHD_is_feature_supported(MHD_FEATURE_TLS) != MHD_YES)
            return QStringLiteral("the HTTP library was built without TLS");
        flags |= MHD_USE_TLS;
        certificate_ = certificatePem; // NUL-terminated, kept while the server runs
        key_ = keyPem;
    }
    const int connections = fitOpenFiles(maxConnections_);
    {
        QMutexLocker lock(&shared_->mutex);
        shared_->log.clear();
        shared_->starting = true;
    }
    MHD_OptionItem options[] = {
        { MHD_OPTION_EXTERNAL_LOGGER, intptr_t(&Callbacks::log), shared_.get() },
        { MHD_OPTION_SOCK_ADDR, 0, &storage },
        { MHD_OPTION_CONNECTION_LIMIT, connections, nullptr },
        { MHD_OPTION_CONNECTION_TIMEOUT, idleSeconds_, nullptr },
        { MHD_OPTION_CONNECTION_MEMORY_LIMIT, intptr_t(kConnectionMemory), nullptr },
        { MHD_OPTION_NOTIFY_COMPLETED, intptr_t(&Callbacks::completed), shared_.get() },
        { MHD_OPTION_NOTIFY_CONNECTION, intptr_t(&Callbacks::connectionChange), shared_.get() },
        { tls ? MHD_OPTION_HTTPS_MEM_CERT : MHD_OPTION_END, 0, const_cast<char*>(certificate_.constData()) },
        { tls ? MHD_OPTION_HTTPS_MEM_KEY : MHD_OPTION_END, 0, const_cast<char*>(key_.constData()) },
        { MHD_OPTION_END, 0, nullptr },
    };
    daemon_ = MHD_start_daemon(flags, port, nullptr, nullptr, &Callbacks::access, shared_.get(),
        MHD_OPTION_ARRAY, options, MHD_OPTION_END);
    QMutexLocker lock(&shared_->mutex);
    shared_->starting = false;
    if (!daemon_) {
        const QString why = QString::fromLocal8Bit(shared_->log.trimmed());
        return why.isEmpty() ? QStringLiteral("the HTTP server could not start") : why;
    }
    watch_->start();
    return {};
}

void HttpServer::close()
{
    if (!daemon_)
        return;
    watch_->stop();
    // No new connection from here on; the listening socket is then ours to close.
    const MHD_socket listening = MHD_quiesce_daemon(daemon_);
    // Every request still waiting for the session is answered, and its connection resumed: the
    // library may only stop once none is suspended.
    QList<Exchange*> waiting;
    {
        QMutexLocker lock(&shared_->mutex);
        waiting = shared_->suspended.values();
        shared_->suspended.clear();
        shared_->arrived.clear();
        for (const Exchange* ex : std::as_const(waiting))
            shared_->closing.insert(ex->id);
    }
    for (Exchange* ex : waiting) {
        ex->answer = HttpEndpoints::unavailable(QStringLiteral("The desk is stopping"));
        ex->answered = true;
        MHD_resume_connection(ex->connection);
    }
    // Their answers go out on the library's thread, which waits on nothing of this one; a client
    // that takes none of it is not waited for long.
    const QDeadlineTimer deadline(kStopGraceMs);
    for (;;) {
        QMutexLocker lock(&shared_->mutex);
        if (shared_->closing.isEmpty() || deadline.hasExpired())
            break;
        lock.unlock();
        QThread::msleep(5);
    }
    MHD_stop_daemon(std::exchange(daemon_, nullptr));
    if (listening != MHD_INVALID_SOCKET)
        ::close(listening);
    QMutexLocker lock(&shared_->mutex);
    shared_->connections.clear();
    shared_->closing.clear();
}

quint16 HttpServer::port() const
{
    if (!daemon_)
        return 0;
    const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT);
    return info ? info->port : 0;
}

int HttpServer::connectionCount() const
{
    QMutexLocker lock(&shared_->mutex);
    return int(shared_->connections.size());
}

void HttpServer::drain()
{
    QList<quint64> ids;
    QList<HttpRequest> requests;
    {
        QMutexLocker lock(&shared_->mutex);
        for (const quint64 id : std::exchange(shared_->arrived, {})) {
            // The library's thread leaves a suspended exchange alone; one closed meanwhile is gone.
            if (const Exchange* ex = shared_->suspended.value(id)) {
                ids << id;
                requests << ex->request;
            }
        }
    }
    if (ids.isEmpty())
        return;
    const QList<HttpAnswer> answers = handler_(requests);
    for (qsizetype i = 0; i < ids.size(); ++i) {
        const HttpAnswer a = i < answers.size() ? answers.at(i) : HttpEndpoints::unavailable(QStringLiteral("No answer"));
        if (a.delayMs > 0)
            QTimer::singleShot(a.delayMs, this, [this, id = ids.at(i), a] { resume(id, a); });
        else
            resume(ids.at(i), a);
    }
}

void HttpServer::resume(quint64 id, const HttpAnswer& answer)
{
    QMutexLocker lock(&shared_->mutex);
    Exchange* ex = shared_->suspended.take(id);
    if (!ex || !daemon_)
        return;
    ex->answer = answer;
    ex->answered = true;
    if (auto it = shared_->connections.find(ex->connection); it != shared_->connections.end())
        it->waiting = false;
    lock.unlock();
    MHD_resume_connection(ex->connection);
}

void HttpServer::enforceDeadline()
{
    // A request not whole by its deadline (a client dripping its headers or body) loses its
    // connection: shutting the socket down makes the library close it. The socket is still the
    // library's: a connection's entry goes before its socket is closed.
    QMutexLocker lock(&shared_->mutex);
    for (const Shared::Connection& c : std::as_const(shared_->connections))
        if (!c.waiting && c.fd >= 0 && c.since.hasExpired(requestDeadlineMs_))
            ::shutdown(c.fd, SHUT_RDWR);
}

} // namespace intake

#include "moc_httpserver.cpp"
