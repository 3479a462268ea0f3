#pragma once

#include <QString>

#include <cstdint>

namespace config {
class TSystemForm;
}
namespace paging {
class TPageEngine;
}

namespace core {

class Desk;

// What the engine parameters are made from: the System Configuration window's controls as they
// stand, saved or not.
struct EngineSettings {
    QString comport;
    bool debug = false;
    QString modemInit;
    bool pulseDial = false;
    QString deliveryRetries;
    QString directMesgDelay;

    // The controls of `form`; without a window, the settings it would show after reading pager.ini
    // (Debug clear).
    static EngineSettings fromSystemForm(const config::TSystemForm* form);
};

// The two values that preparation writes into new queue rows.
struct EngineValues {
    int32_t deliveryRetries = 3; // 1 to 3
    int32_t directMesgDelay = 10; // 4 or more
};

// Copies `settings` into the engine's ComPort, Debugfile (set to "debug.txt" when Debug is ticked and
// never cleared), Modem_initstr (the init string followed by "~", or empty) and dial_initstr ("ATDP"
// for pulse dialling, or empty), and returns the retries (10 when not a whole number, then 1 to 3)
// and the numeric delay (10 when not a whole number, then at least 4).
EngineValues applyEngineSettings(const EngineSettings& settings, paging::TPageEngine& engine);

// Before each page and before the send command prepares pages: the System window's current
// settings into desk.Engine1, desk.DeliveryRetriesValue and desk.DirectMesgDelayValue.
void SetEngineParams(Desk& desk, const config::TSystemForm* form);
// The same with the System window of the run (config::TSystemForm::instance()).
void SetEngineParams(Desk& desk);

} // namespace core
