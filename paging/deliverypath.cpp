#include "deliverypath.h"

#include <QUrl>

namespace paging {

PathMethod pathMethod(const QString& method)
{
    const QString m = method.trimmed().toUpper();
    if (m == QLatin1String("MODEM"))
        return PathMethod::Modem;
    if (m == QLatin1String("TAPIP"))
        return PathMethod::TapIp;
    if (m == QLatin1String("SNPP"))
        return PathMethod::Snpp;
    if (m == QLatin1String("WCTP"))
        return PathMethod::Wctp;
    return PathMethod::Invalid;
}

bool parseHostPort(const QString& address, QString* host, quint16* port)
{
    const QString a = address.trimmed();
    const qsizetype colon = a.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return false;
    const QString digits = a.mid(colon + 1);
    if (digits.isEmpty() || digits.size() > 5)
        return false;
    for (const QChar c : digits)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    const uint number = digits.toUInt();
    QString h = a.left(colon).trimmed();
    if (h.startsWith(QLatin1Char('[')) && h.endsWith(QLatin1Char(']')))
        h = h.mid(1, h.size() - 2).trimmed(); // an IPv6 address
    else if (h.contains(QLatin1Char(':')))
        return false; // an IPv6 address without brackets: where its port starts is a guess
    if (number == 0 || number > 65535 || h.isEmpty() || h.contains(QLatin1Char(' ')))
        return false;
    if (host)
        *host = h;
    if (port)
        *port = quint16(number);
    return true;
}

bool checkPath(const DeliveryPath& path, QString* why)
{
    auto bad = [why](const QString& reason) {
        if (why)
            *why = reason;
        return false;
    };
    const QString address = path.address.trimmed();
    switch (pathMethod(path.method)) {
    case PathMethod::Invalid:
        return bad(QStringLiteral("unknown method \"%1\"").arg(path.method.trimmed().left(12)));
    case PathMethod::Modem:
        break;
    case PathMethod::TapIp:
    case PathMethod::Snpp:
        if (!parseHostPort(address, nullptr, nullptr))
            return bad(QStringLiteral("bad address \"%1\"").arg(address.left(20)));
        break;
    case PathMethod::Wctp: {
        const QUrl url(address, QUrl::StrictMode);
        const QString scheme = url.scheme().toLower();
        if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
            return bad(QStringLiteral("not an http(s) URL"));
        if (url.host().isEmpty())
            return bad(QStringLiteral("no host in the URL"));
        break;
    }
    }
    if (path.maxChars < 0)
        return bad(QStringLiteral("negative page size"));
    return true;
}

QString shownAddress(const DeliveryPath& path)
{
    const QString address = path.address.trimmed();
    if (pathMethod(path.method) != PathMethod::Wctp)
        return address;
    const QUrl url(address);
    return url.password().isEmpty() ? address : url.toString(QUrl::RemovePassword);
}

QString describe(const DeliveryPath& path)
{
    switch (pathMethod(path.method)) {
    case PathMethod::Modem:
        return QStringLiteral("modem");
    case PathMethod::TapIp:
        return QStringLiteral("TAPIP ") + path.address.trimmed();
    case PathMethod::Snpp:
        return QStringLiteral("SNPP ") + path.address.trimmed();
    case PathMethod::Wctp:
        return QStringLiteral("WCTP ") + shownAddress(path);
    case PathMethod::Invalid:
        break;
    }
    return path.method.trimmed();
}

} // namespace paging
