#include "pagingapi.h"

#include "pagejob.h"
#include "pagestatus.h"

#include <QDeadlineTimer>
#include <QThread>

#include <cstring>
#include <map>
#include <mutex>

namespace paging {

namespace {
ProtocolTimings g_timings;
std::mutex g_timingsMutex;

// Pages by port name. A finished page stays until the next page on its port, so its final status
// can still be read.
class Registry {
public:
    ~Registry()
    {
        std::lock_guard lock(mutex);
        for (auto& [port, job] : jobs)
            job->cancel();
        jobs.clear(); // joins every worker
    }
    std::mutex mutex;
    std::map<QString, std::unique_ptr<PageJob>> jobs;
};

Registry& registry()
{
    static Registry r;
    return r;
}

QString portKey(const char* comPort)
{
    return QString::fromUtf8(comPort ? comPort : "").trimmed().toUpper();
}
QString text(const char* s)
{
    return QString::fromUtf8(s ? s : "");
}

void copyText(const QString& t, char* buffer, int size)
{
    if (!buffer)
        return;
    QByteArray bytes; // whole characters only, at most size - 1 bytes
    for (qsizetype i = 0; i < t.size();) {
        const qsizetype n = t.at(i).isHighSurrogate() && i + 1 < t.size() ? 2 : 1;
        const QByteArray piece = t.mid(i, n).toUtf8();
        if (bytes.size() + piece.size() > size - 1)
            break;
        bytes += piece;
        i += n;
    }
    std::memcpy(buffer, bytes.constData(), size_t(bytes.size()));
    buffer[bytes.size()] = '\0';
}
} // namespace

ProtocolTimings protocolTimings()
{
    std::lock_guard lock(g_timingsMutex);
    return g_timings;
}

void setProtocolTimings(const ProtocolTimings& timings)
{
    std::lock_guard lock(g_timingsMutex);
    g_timings = timings;
}

void detachReceiver(QObject* window)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    for (auto& [port, job] : r.jobs)
        job->state()->detach(window);
}

bool pageUnderWay(const char* comPort)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    auto it = r.jobs.find(portKey(comPort));
    return it != r.jobs.end() && !it->second->state()->finished();
}

bool waitForPage(const char* comPort, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        if (!pageUnderWay(comPort))
            return true;
        if (deadline.hasExpired())
            return false;
        QThread::msleep(10);
    }
}

} // namespace paging

using namespace paging;

namespace {
int startJob(const PageRequest& request, const std::optional<WctpTarget>& wctp, const QList<DeliveryPath>& paths,
    char* resultBuffer, QObject* window, int statusMessageId, int finishedMessageId)
{
    auto refuse = [resultBuffer](int code, const QString& why) {
        copyText(why.isEmpty() ? statusText(code) : statusText(code) + QStringLiteral(": ") + why,
            resultBuffer, kResultBufferSize);
        return code;
    };
    const QString key = request.comPort.trimmed().toUpper();
    if (key.isEmpty())
        return refuse(BadParameters, QStringLiteral("no port"));

    PagePlan plan;
    QString why;
    if (const int code = planPage(request, &plan, &why))
        return refuse(code, why);
    QList<PathPlan> pathPlans;
    for (qsizetype i = 0; i < paths.size(); ++i) // all checked before any is tried
        if (!checkPath(paths.at(i), &why))
            return refuse(BadParameters,
                QStringLiteral("path %1: %2")
                    .arg(paths.at(i).number.isEmpty() ? QString::number(i + 1) : paths.at(i).number, why));
    for (const DeliveryPath& path : paths) {
        PathPlan p { path, plan };
        if (path.maxChars > 0) {
            PageRequest sized = request;
            sized.messageSize = QString::number(path.maxChars);
            p.plan = PagePlan();
            planPage(sized, &p.plan, &why); // the same request but its page size: it plans as it did
        }
        pathPlans.append(p);
    }

    Registry& r = registry();
    std::unique_ptr<PageJob> previous;
    {
        std::lock_guard lock(r.mutex);
        auto it = r.jobs.find(key);
        if (it != r.jobs.end()) {
            if (!it->second->state()->finished())
                return refuse(PortBusy, QString());
            previous = std::move(it->second);
            r.jobs.erase(it);
        }
        auto job = std::make_unique<PageJob>(
            request, plan, window, QEvent::User + statusMessageId, QEvent::User + finishedMessageId);
        if (wctp)
            job->setWctp(*wctp);
        job->setPaths(pathPlans);
        job->start();
        r.jobs.emplace(key, std::move(job));
    }
    previous.reset(); // its worker has ended: joining returns at once
    copyText(statusText(OpeningPort), resultBuffer, kResultBufferSize);
    return 0;
}
} // namespace

int StartPage(const char* comPort, const char* baudRate, const char* modemInitString,
    const char* dialInitString, const char* networkPhone, const char* pagerPhone, const char* messageSize,
    const char* message, const char* debugFile, char* resultBuffer, QObject* window, int statusMessageId,
    int finishedMessageId)
{
    const PageRequest request { text(comPort).trimmed(), text(baudRate), text(modemInitString),
        text(dialInitString), text(networkPhone), text(pagerPhone), text(messageSize), text(message),
        text(debugFile) };
    return startJob(request, std::nullopt, {}, resultBuffer, window, statusMessageId, finishedMessageId);
}

namespace paging {
int startWctpPage(const char* key, const WctpTarget& target, const char* pagerPhone, const char* messageSize,
    const char* message, const char* debugFile, char* resultBuffer, QObject* window, int statusMessageId,
    int finishedMessageId)
{
    const PageRequest request { text(key).trimmed(), QString(), QString(), QString(), QString(), text(pagerPhone),
        text(messageSize), text(message), text(debugFile) };
    return startJob(request, target, {}, resultBuffer, window, statusMessageId, finishedMessageId);
}

int startPathsPage(const PageRequest& request, const QList<DeliveryPath>& paths, char* resultBuffer,
    QObject* window, int statusMessageId, int finishedMessageId)
{
    PageRequest r = request;
    r.comPort = r.comPort.trimmed();
    return startJob(r, std::nullopt, paths, resultBuffer, window, statusMessageId, finishedMessageId);
}

QString deliveredVia(const char* key)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    auto it = r.jobs.find(portKey(key));
    return it == r.jobs.end() ? QString() : it->second->state()->deliveredVia();
}

bool mayHaveDelivered(const char* key)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    auto it = r.jobs.find(portKey(key));
    return it != r.jobs.end() && it->second->state()->unsure();
}

QList<WctpTicket> wctpTickets(const char* key)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    auto it = r.jobs.find(portKey(key));
    return it == r.jobs.end() ? QList<WctpTicket>() : it->second->state()->tickets();
}
} // namespace paging

int GetPageStatus(const char* comPort, int* code, char* text)
{
    int c = Cancelled;
    QString t = QStringLiteral("No page in progress");
    int result = 1;
    {
        Registry& r = registry();
        std::lock_guard lock(r.mutex);
        auto it = r.jobs.find(portKey(comPort));
        if (it != r.jobs.end())
            result = it->second->state()->read(&c, &t);
    }
    if (code)
        *code = c;
    copyText(t, text, kStatusTextSize);
    return result;
}

int CancelPage(const char* comPort)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    auto it = r.jobs.find(portKey(comPort));
    if (it == r.jobs.end())
        return 1;
    it->second->cancel();
    return 0;
}
