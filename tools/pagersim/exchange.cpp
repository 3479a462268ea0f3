#include "exchange.h"

#include "transcript.h"

namespace pagersim {

Exchange::Exchange(Transcript* transcript, FaultPlan faults, QObject* parent)
    : QObject(parent)
    , m_transcript(transcript)
    , m_faults(std::move(faults))
{
}

int Exchange::beginCall()
{
    return ++m_started;
}

void Exchange::record(int call, QJsonObject event)
{
    event.insert(QStringLiteral("call"), call);
    m_transcript->write(event);
}

void Exchange::recordModemCommand(const QString& command)
{
    m_transcript->write(
        { { QStringLiteral("event"), QStringLiteral("modem") }, { QStringLiteral("command"), command } });
}

void Exchange::endCall(int call, int pages)
{
    record(call, { { QStringLiteral("event"), QStringLiteral("end") }, { QStringLiteral("pages"), pages } });
    ++m_ended;
    emit callEnded(m_ended);
}

} // namespace pagersim

#include "moc_exchange.cpp"
