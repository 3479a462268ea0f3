#pragma once

#include <QString>

#include <cstdint>

namespace config {
class SystemSettings;
}
namespace paging {
class TPageEngine;
}

namespace core {

class Desk;

// What the engine parameters are made from: the working settings as they stand, saved or not.
struct EngineSettings {
    QString comport;
    bool debug = false;
    QString modemInit;
    bool pulseDial = false;
    QString deliveryRetries;
    QString directMesgDelay;

    static EngineSettings from(const config::SystemSettings& settings);
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

// Before each page and before the send command prepares pages: the desk's working settings
// (desk.Settings(), which the System window edits) into desk.Engine1(), desk.DeliveryRetriesValue() and
// desk.DirectMesgDelayValue().
void SetEngineParams(Desk& desk);

} // namespace core
