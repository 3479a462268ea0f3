#pragma once

#include "intake/httpexchange.h"

#include <QHostAddress>
#include <QObject>
#include <functional>
#include <memory>

class QTimer;
struct MHD_Daemon;

namespace intake {

// The HTTP listener on libmicrohttpd. The library reads and parses the requests on a thread of its
// own; each whole request waits, its connection suspended, for this object's thread (the
// session's), which takes every request waiting at that moment in one go and hands them to the
// handler together (so that their pages are made durable by one write), then resumes each
// connection with its answer. The library's thread never waits on the session's, so closing cannot
// deadlock: the requests still waiting are answered 503 first.
//
// Limits: connections (maxConnections(); the process's open-file limit raised to fit), a
// connection idle for idleTimeout() seconds is closed, so is one whose request is not whole within
// requestDeadline() (a client that drips its bytes), a body over the limit is answered 413 as it
// arrives, and each connection's headers live in a bounded pool.
class HttpServer : public QObject {
    Q_OBJECT

public:
    // The answers to the requests, one for each, in their order.
    using Handler = std::function<QList<HttpAnswer>(const QList<HttpRequest>&)>;

    static constexpr int kMaxConnections = 2000;
    static constexpr int kIdleSeconds = 15;
    static constexpr int kRequestDeadlineMs = 30 * 1000;
    static constexpr size_t kConnectionMemory = 32 * 1024;

    HttpServer(Handler handler, qint64 maxBody, QObject* parent = nullptr);
    ~HttpServer() override;

    // Listens on `address`:`port` (0: any free port); HTTPS when both PEM texts are given. An empty
    // text, or why it could not.
    QString listen(const QHostAddress& address, quint16 port, const QByteArray& certificatePem = QByteArray(),
        const QByteArray& keyPem = QByteArray());
    void close();
    quint16 port() const;
    bool isListening() const { return daemon_ != nullptr; }

    // Take effect at the next listen().
    void setMaxConnections(int count) { maxConnections_ = count; }
    int maxConnections() const { return maxConnections_; }
    void setIdleTimeout(int seconds) { idleSeconds_ = seconds; }
    void setRequestDeadline(int ms) { requestDeadlineMs_ = ms; }
    int connectionCount() const;

    struct Shared;
    struct Exchange;

private:
    // Answers every request waiting.
    void drain();
    void resume(quint64 id, const HttpAnswer& answer);
    void enforceDeadline();

    Handler handler_;
    std::unique_ptr<Shared> shared_;
    MHD_Daemon* daemon_ = nullptr;
    QTimer* watch_;
    int maxConnections_ = kMaxConnections;
    int idleSeconds_ = kIdleSeconds;
    int requestDeadlineMs_ = kRequestDeadlineMs;
    QByteArray certificate_;
    QByteArray key_;

    friend struct Callbacks;
};

} // namespace intake
