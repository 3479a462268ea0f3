#pragma once

// HTTP requests to the listener through Qt's client, waited for while the session's event loop runs.

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSslConfiguration>
#include <QTest>
#include <QUrlQuery>

namespace intaketest {

struct HttpResult {
    int status = 0; // 0: no answer (the connection failed or was closed)
    QByteArray body;
    QJsonObject json;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QByteArray retryAfter;
    QByteArray wwwAuthenticate;
};

class HttpClient {
public:
    explicit HttpClient(quint16 port, bool tls = false)
        : base_(QStringLiteral("%1://127.0.0.1:%2").arg(tls ? QStringLiteral("https") : QStringLiteral("http")).arg(port))
    {
    }

    // Trusts `certificates` for https.
    void trust(const QList<QSslCertificate>& certificates)
    {
        ssl_ = QSslConfiguration::defaultConfiguration();
        ssl_.setCaCertificates(certificates);
    }

    HttpResult post(const QString& path, const QByteArray& body, const QByteArray& token = QByteArray(),
        const QByteArray& contentType = "application/json")
    {
        QNetworkRequest request = make(path, token);
        if (!contentType.isEmpty())
            request.setHeader(QNetworkRequest::ContentTypeHeader, contentType);
        return wait(manager_.post(request, body));
    }
    HttpResult get(const QString& path, const QByteArray& token)
    {
        return wait(manager_.get(make(path, token)));
    }

private:
    QNetworkRequest make(const QString& path, const QByteArray& token)
    {
        QNetworkRequest request(QUrl(base_ + path));
        if (!token.isEmpty())
            request.setRawHeader("Authorization", "Bearer " + token);
        if (!ssl_.isNull())
            request.setSslConfiguration(ssl_);
        request.setTransferTimeout(20000);
        return request;
    }
    HttpResult wait(QNetworkReply* reply)
    {
        (void)QTest::qWaitFor([reply] { return reply->isFinished(); }, 25000);
        HttpResult r;
        r.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        r.body = reply->readAll();
        r.json = QJsonDocument::fromJson(r.body).object();
        r.error = reply->error();
        r.retryAfter = reply->rawHeader("Retry-After");
        r.wwwAuthenticate = reply->rawHeader("WWW-Authenticate");
        reply->deleteLater();
        return r;
    }

    QString base_;
    QNetworkAccessManager manager_;
    QSslConfiguration ssl_;
};

} // namespace intaketest
