#include "core/engineparams.h"

#include "config/systemsettings.h"
#include "core/desk.h"
#include "paging/pageengine.h"

namespace core {

EngineSettings EngineSettings::from(const config::SystemSettings& settings)
{
    EngineSettings engine;
    engine.comport = settings.comPort();
    engine.debug = settings.debug();
    engine.modemInit = settings.modemInitString();
    engine.pulseDial = settings.pulseDial();
    engine.deliveryRetries = settings.deliveryRetries();
    engine.directMesgDelay = settings.directMesgDelay();
    return engine;
}

EngineValues applyEngineSettings(const EngineSettings& settings, paging::TPageEngine& engine)
{
    engine.ComPort = settings.comport;
    // Once named, the debug file stays for the rest of the run.
    if (settings.debug)
        engine.Debugfile = QStringLiteral("debug.txt");
    engine.Modem_initstr = settings.modemInit.isEmpty() ? QString() : settings.modemInit + u'~';
    engine.dial_initstr = settings.pulseDial ? QStringLiteral("ATDP") : QString();

    EngineValues values;
    values.deliveryRetries = config::SystemSettings::deliveryRetriesValue(settings.deliveryRetries);
    values.directMesgDelay = config::SystemSettings::directMesgDelayValue(settings.directMesgDelay);
    return values;
}

void SetEngineParams(Desk& desk)
{
    const EngineValues values = applyEngineSettings(EngineSettings::from(desk.Settings()), desk.Engine1());
    desk.setEngineValues(values.deliveryRetries, values.directMesgDelay);
}

} // namespace core
