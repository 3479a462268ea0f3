#include "config/intakesettings.h"

#include "config/inifile.h"

#include <QStringList>

namespace config {

IntakeSettings IntakeSettings::read(QString* faults)
{
    const IniFile ini(pagerIniPath());
    IntakeSettings s;
    QStringList wrong;
    const auto port = [&](const QString& key) -> quint16 {
        const QString text = ini.readString(Section, key, QStringLiteral("0"));
        bool ok = false;
        const uint value = text.toUInt(&ok);
        if (ok && value <= 65535)
            return quint16(value);
        wrong << QStringLiteral("%1=%2 is not a port (0 to 65535): off").arg(key, text);
        return 0;
    };
    s.listen = ini.readString(Section, ListenKey, DefaultListen);
    if (s.listen.isEmpty())
        s.listen = DefaultListen;
    s.snppPort = port(SnppPortKey);
    s.httpPort = port(HttpPortKey);
    s.tlsCertificate = ini.readString(Section, TlsCertificateKey);
    s.tlsKey = ini.readString(Section, TlsKeyKey);
    const QString body = ini.readString(Section, MaxBodyKey, QString::number(DefaultMaxBody));
    bool ok = false;
    const qint64 maxBody = body.toLongLong(&ok);
    if (ok && maxBody > 0)
        s.maxBody = maxBody;
    else
        wrong << QStringLiteral("%1=%2 is not a size in bytes: %3").arg(MaxBodyKey, body).arg(DefaultMaxBody);
    if (faults)
        *faults = wrong.join(QStringLiteral("; "));
    return s;
}

} // namespace config
