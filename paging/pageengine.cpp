#include "pageengine.h"

#include "pagingapi.h"

#include <algorithm>

#include <QEvent>
#include <QMetaMethod>
#include <QThread>

#include <exception>
#include <mutex>

namespace paging {

namespace {
std::mutex g_reporterMutex;
TPageEngine::ErrorReporter g_reporter;

void report(const QString& message)
{
    TPageEngine::ErrorReporter reporter;
    {
        std::lock_guard lock(g_reporterMutex);
        reporter = g_reporter;
    }
    if (reporter)
        reporter(message);
    else
        qWarning("%s", qPrintable(message));
}
} // namespace

TPageEngine::TPageEngine(QObject* parent)
    : QObject(parent)
{
}

TPageEngine::~TPageEngine()
{
    detachReceiver(this);
}

TPageEngine::ErrorReporter TPageEngine::setErrorReporter(ErrorReporter reporter)
{
    std::lock_guard lock(g_reporterMutex);
    std::swap(g_reporter, reporter);
    return reporter;
}

QByteArray TPageEngine::key() const
{
    // Paths that need no modem need no port: the page is known by a name of its own.
    const bool needsPort = Paths.isEmpty()
        || std::any_of(Paths.cbegin(), Paths.cend(),
            [](const DeliveryPath& path) { return pathMethod(path.method) == PathMethod::Modem; });
    if (ComPort.trimmed().isEmpty() && !needsPort)
        return QByteArrayLiteral("IP PATHS");
    return ComPort.toUtf8();
}

void TPageEngine::Send()
{
    char result[kResultBufferSize] = {};
    const int code = !Paths.isEmpty()
        ? startPathsPage(PageRequest { QString::fromUtf8(key()), BaudRate, Modem_initstr, dial_initstr, NetworkPhone, PagerPhone,
                             QString::number(MessageSize), MessageToSend, Debugfile },
              Paths, result, this, StatusMessageId, FinishedMessageId)
        : !WctpUrl.isEmpty()
        ? startWctpPage(ComPort.toUtf8().constData(),
              WctpTarget { QUrl(WctpUrl.trimmed()), WctpLogin, WctpPassword },
              PagerPhone.toUtf8().constData(), QByteArray::number(MessageSize).constData(),
              MessageToSend.toUtf8().constData(), Debugfile.toUtf8().constData(), result, this, StatusMessageId,
              FinishedMessageId)
        : StartPage(ComPort.toUtf8().constData(), BaudRate.toUtf8().constData(),
        Modem_initstr.toUtf8().constData(), dial_initstr.toUtf8().constData(),
        NetworkPhone.toUtf8().constData(), PagerPhone.toUtf8().constData(),
        QByteArray::number(MessageSize).constData(), MessageToSend.toUtf8().constData(),
        Debugfile.toUtf8().constData(), result, this, StatusMessageId, FinishedMessageId);
    result[kResultBufferSize - 1] = '\0';
    m_statusText = QString::fromUtf8(result).left(kResultBufferSize - 1);
    m_statusCode = code;
    if (code != 0)
        raise(OnInitError, &TPageEngine::initError, "OnInitError");
}

QStringList TPageEngine::trackingNumbers() const
{
    QStringList out;
    for (const WctpTicket& t : wctpTickets())
        out << t.trackingNumber;
    return out;
}

QList<WctpTicket> TPageEngine::wctpTickets() const
{
    return paging::wctpTickets(key().constData());
}

QString TPageEngine::deliveredVia() const
{
    return paging::deliveredVia(key().constData());
}

bool TPageEngine::mayHaveBeenDelivered() const
{
    return paging::mayHaveDelivered(key().constData());
}

void TPageEngine::Abort()
{
    CancelPage(key().constData());
    for (int i = 0; i < kWaitPolls; ++i) {
        if (pollStatus() == 1)
            break;
        QThread::msleep(kWaitPollMs);
    }
    raise(OnAbort, &TPageEngine::aborted, "OnAbort");
}

int TPageEngine::pollStatus()
{
    int code = 0;
    char text[kStatusTextSize] = {};
    const int result = GetPageStatus(key().constData(), &code, text);
    text[kStatusTextSize - 1] = '\0';
    m_statusCode = code;
    m_statusText = QString::fromUtf8(text);
    return result;
}

bool TPageEngine::event(QEvent* e)
{
    if (e->type() == eventType(StatusMessageId)) {
        onStatusMessage();
        return true;
    }
    if (e->type() == eventType(FinishedMessageId)) {
        onFinishedMessage();
        return true;
    }
    return QObject::event(e);
}

void TPageEngine::onStatusMessage()
{
    if (!OnStatus && !isSignalConnected(QMetaMethod::fromSignal(&TPageEngine::statusChanged)))
        return; // nobody listens: the library is not asked
    pollStatus();
    raise(OnStatus, &TPageEngine::statusChanged, "OnStatus");
}

void TPageEngine::onFinishedMessage()
{
    m_statusText = QStringLiteral("Finished");
    for (int i = 0; i < kWaitPolls; ++i) {
        if (pollStatus() != 0)
            break;
        QThread::msleep(kWaitPollMs);
    }
    raise(OnFinished, &TPageEngine::finished, "OnFinished");
}

void TPageEngine::raise(const Handler& handler, void (TPageEngine::*signal)(), const char* name)
{
    // An error in the owner's handler is reported and goes no further: never back into the library.
    try {
        if (handler)
            handler(this);
        emit(this->*signal)();
    } catch (const std::exception& ex) {
        report(QStringLiteral("%1: %2").arg(QLatin1String(name), QString::fromLocal8Bit(ex.what())));
    } catch (...) {
        report(QStringLiteral("%1: unknown error").arg(QLatin1String(name)));
    }
}

} // namespace paging

#include "moc_pageengine.cpp"
