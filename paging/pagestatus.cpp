#include "pagestatus.h"

namespace paging {

QString statusText(int code)
{
    switch (code) {
    case Successful:
        return QStringLiteral("Successful ");
    case PortNotAvailable:
        return QStringLiteral("Port not available");
    case ModemNotResponding:
        return QStringLiteral("Modem not responding");
    case BadDialString:
        return QStringLiteral("Bad dial string");
    case LoginRefused:
        return QStringLiteral("Terminal refused login");
    case PageRejected:
        return QStringLiteral("Page rejected by terminal");
    case InvalidPagerId:
        return QStringLiteral("Invalid pager ID");
    case Cancelled:
        return QStringLiteral("Cancelled");
    case PortBusy:
        return QStringLiteral("Port busy");
    case BadParameters:
        return QStringLiteral("Bad parameters");
    case ConnectionRefused:
        return QStringLiteral("Server not reached");
    case SnppUnavailable:
        return QStringLiteral("SNPP service not available");
    case SnppTransactionFailed:
        return QStringLiteral("SNPP transaction failed (554)");
    case SnppPageRefused:
        return QStringLiteral("SNPP page refused (550)");
    case TlsFailure:
        return QStringLiteral("TLS failure");
    case HttpError:
        return QStringLiteral("HTTP error");
    case WctpRefused:
        return QStringLiteral("WCTP submission refused");
    case WctpServerBusy:
        return QStringLiteral("WCTP server busy");
    case LineBusy:
        return QStringLiteral("Line busy");
    case NoCarrier:
        return QStringLiteral("No carrier");
    case NoAnswer:
        return QStringLiteral("No answer");
    case NoDialTone:
        return QStringLiteral("No dial tone");
    case TerminalNotResponding:
        return QStringLiteral("Terminal not responding");
    case TooManyErrors:
        return QStringLiteral("Too many transmission errors");
    case GroupBadIds:
        return QStringLiteral("Group page: bad pager IDs");
    case ConnectionLost:
        return QStringLiteral("Connection lost");
    case ServerUnavailable:
        return QStringLiteral("Server unavailable");
    case ServerNotResponding:
        return QStringLiteral("Server not responding");
    case BadServerAnswer:
        return QStringLiteral("Bad answer from server");
    case OpeningPort:
        return QStringLiteral("Opening port");
    case InitializingModem:
        return QStringLiteral("Initializing modem");
    case Dialing:
        return QStringLiteral("Dialing");
    case Connected:
        return QStringLiteral("Connected");
    case LoggingIn:
        return QStringLiteral("Logging in");
    case SendingPage:
        return QStringLiteral("Sending page");
    case HangingUp:
        return QStringLiteral("Hanging up");
    case PathFailed:
        return QStringLiteral("Path failed");
    default:
        return QStringLiteral("Unknown status %1").arg(code);
    }
}

QString sendingPageText(int page, int total)
{
    return QStringLiteral("Sending page %1 of %2").arg(page).arg(total);
}

QString pathFailedText(const QString& number, const QString& path, const QString& failure, const QString& next)
{
    return QStringLiteral("Path %1 %2 failed: %3; trying path %4").arg(number, path, failure, next);
}

QString groupResultText(int place, int response, const QString& reason)
{
    return QStringLiteral("GroupRes|%1:%2%3").arg(place).arg(response, 3, 10, QLatin1Char('0')).arg(reason);
}

} // namespace paging
