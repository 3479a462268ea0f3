#pragma once

#include <QString>

namespace config {

// The listeners through which other programs page through the desk: pager.ini's section "Intake".
// Nothing listens unless a port is set.
struct IntakeSettings {
    static inline const QString Section = QStringLiteral("Intake");
    static inline const QString ListenKey = QStringLiteral("Listen");
    static inline const QString SnppPortKey = QStringLiteral("SnppPort");
    static inline const QString HttpPortKey = QStringLiteral("HttpPort");
    static inline const QString TlsCertificateKey = QStringLiteral("TlsCertificate");
    static inline const QString TlsKeyKey = QStringLiteral("TlsKey");
    static inline const QString MaxBodyKey = QStringLiteral("MaxBody");

    static inline const QString DefaultListen = QStringLiteral("127.0.0.1");
    static constexpr qint64 DefaultMaxBody = 65536;

    QString listen = DefaultListen; // the address both listeners bind
    quint16 snppPort = 0; // 0: no SNPP listener
    quint16 httpPort = 0; // 0: no HTTP listener
    QString tlsCertificate; // PEM files: when both are set, both listeners speak TLS
    QString tlsKey;
    qint64 maxBody = DefaultMaxBody; // the largest request body or SNPP message taken, in bytes

    bool tls() const { return !tlsCertificate.isEmpty() && !tlsKey.isEmpty(); }

    // The section as pager.ini holds it. A port that is not a number from 0 to 65535 reads as 0 (off)
    // and is named in `faults`; so is a MaxBody that is not a number from 1 up (the default then).
    static IntakeSettings read(QString* faults = nullptr);
};

} // namespace config
