#pragma once

#include <QString>
#include <vector>

namespace core {

class Desk;

// One delivery path of a carrier, as CARRPATH holds it.
struct DeliveryPath {
    QString pathNo; // "01" to "99": the order of trial
    QString method; // "MODEM", "TAPIP", "SNPP", "WCTP"
    QString address; // "host:port", or an http or https URL
    QString login;
    QString password;
    int maxChars = 0; // 0: the carrier's HOST_CHARS
};

// The carrier's paths follow its record in PAGECOMP. Names compare as the 30-character PAGERCOMP
// fields hold them (case-sensitive, without trailing blanks). Two carrier records may share a name
// and then share its paths: while another carrier record still goes by the name, its paths stay.
// Each works on the desk's CARRPATH handle (re-read first; it is left in BY_CARRIER order) and
// returns how many paths it changed. Store failures throw StoreError.

// Moves every path of `oldName` to `newName`, the carrier having been renamed.
int renameCarrierPaths(Desk& desk, const QString& oldName, const QString& newName);
// Deletes every path of `name`, the carrier having been deleted.
int deleteCarrierPaths(Desk& desk, const QString& name);
// The carrier's enabled paths in PATHNO order.
std::vector<DeliveryPath> enabledPaths(Desk& desk, const QString& carrier);

} // namespace core
