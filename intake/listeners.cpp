#include "intake/listeners.h"

#include "intake/httpendpoints.h"
#include "intake/httpserver.h"
#include "intake/snppserver.h"
#include "store/regularfile.h"

#include <QHostAddress>
#include <QSslCertificate>
#include <QSslKey>

namespace intake {

namespace {

constexpr qint64 kMaxPemFile = 1024 * 1024;

// The certificate and key PEM files, checked; the fault names the file that would not do.
struct TlsFiles {
    QByteArray certificate;
    QByteArray key;
    QString fault;
};

TlsFiles readTlsFiles(const config::IntakeSettings& settings)
{
    TlsFiles out;
    const store::WholeFile certificate = store::readWholeFile(settings.tlsCertificate, kMaxPemFile);
    const store::WholeFile key = store::readWholeFile(settings.tlsKey, kMaxPemFile);
    if (!certificate.read())
        out.fault = certificate.exists ? certificate.fault : QStringLiteral("%1 is missing").arg(settings.tlsCertificate);
    else if (!key.read())
        out.fault = key.exists ? key.fault : QStringLiteral("%1 is missing").arg(settings.tlsKey);
    else if (QSslCertificate::fromData(certificate.bytes, QSsl::Pem).isEmpty())
        out.fault = QStringLiteral("%1 holds no PEM certificate").arg(settings.tlsCertificate);
    else if (QSslKey(key.bytes, QSsl::Rsa).isNull() && QSslKey(key.bytes, QSsl::Ec).isNull())
        out.fault = QStringLiteral("%1 holds no PEM private key (RSA or EC, without a pass phrase)").arg(settings.tlsKey);
    out.certificate = certificate.bytes;
    out.key = key.bytes;
    return out;
}

} // namespace

Listeners::Listeners(Gate& gate, QObject* parent)
    : QObject(parent)
    , gate_(gate)
    , endpoints_(std::make_unique<HttpEndpoints>(gate))
{
}

Listeners::~Listeners()
{
    stop();
}

HttpServer* Listeners::http() const
{
    return http_ && http_->isListening() ? http_.get() : nullptr;
}

QStringList Listeners::start(const config::IntakeSettings& settings)
{
    stop();
    QStringList lines;
    if (settings.snppPort == 0 && settings.httpPort == 0)
        return lines;
    const QHostAddress address(settings.listen);
    const auto where = [&](quint16 port) {
        return (address.protocol() == QAbstractSocket::IPv6Protocol ? QLatin1Char('[') + settings.listen + QLatin1Char(']')
                                                                    : settings.listen)
            + QLatin1Char(':') + QString::number(port);
    };
    TlsFiles tls;
    if (settings.tls())
        tls = readTlsFiles(settings);
    const QString scheme = settings.tls() ? QStringLiteral(" (TLS)") : QString();

    if (settings.snppPort != 0) {
        snpp_ = std::make_unique<SnppServer>(gate_, settings.maxBody);
        QString fault = address.isNull() ? QStringLiteral("%1 is not an address").arg(settings.listen) : tls.fault;
        if (fault.isEmpty()) {
            std::optional<QSslConfiguration> configuration;
            if (settings.tls()) {
                configuration = QSslConfiguration::defaultConfiguration();
                configuration->setLocalCertificateChain(QSslCertificate::fromData(tls.certificate, QSsl::Pem));
                QSslKey key(tls.key, QSsl::Rsa);
                configuration->setPrivateKey(key.isNull() ? QSslKey(tls.key, QSsl::Ec) : key);
                configuration->setPeerVerifyMode(QSslSocket::VerifyNone);
            }
            fault = snpp_->listen(address, settings.snppPort, configuration);
        }
        snppRunning_ = fault.isEmpty();
        lines << (snppRunning_ ? QStringLiteral("SNPP listener on %1%2").arg(where(snpp_->port()), scheme)
                               : QStringLiteral("SNPP listener not started on %1: %2").arg(where(settings.snppPort), fault));
    }
    if (settings.httpPort != 0) {
        http_ = std::make_unique<HttpServer>(
            [this](const QList<HttpRequest>& requests) { return endpoints_->answer(requests); }, settings.maxBody);
        QString fault = address.isNull() ? QStringLiteral("%1 is not an address").arg(settings.listen) : tls.fault;
        if (fault.isEmpty()) {
            // The library reads the PEM texts as C strings.
            fault = settings.tls() ? http_->listen(address, settings.httpPort, tls.certificate + '\0', tls.key + '\0')
                                   : http_->listen(address, settings.httpPort);
        }
        lines << (fault.isEmpty() ? QStringLiteral("HTTP listener on %1%2").arg(where(http_->port()), scheme)
                                  : QStringLiteral("HTTP listener not started on %1: %2").arg(where(settings.httpPort), fault));
    }
    return lines;
}

void Listeners::stop()
{
    if (http_)
        http_->close();
    http_.reset();
    if (snpp_)
        snpp_->close();
    snpp_.reset();
    snppRunning_ = false;
}

} // namespace intake

#include "moc_listeners.cpp"
