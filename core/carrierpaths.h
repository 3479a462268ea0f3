#pragma once

#include "paging/deliverypath.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace core {

class Desk;

// The carrier's paths follow its record in PAGECOMP. Names compare as the 30-character PAGERCOMP
// fields hold them (case-sensitive, without trailing blanks). Two carrier records may share a name
// and then share its paths: while another carrier record still goes by the name, its paths stay.
// Each works on the desk's CARRPATH handle (re-read first; it is left in BY_CARRIER order) and
// returns how many paths it changed. Store failures throw StoreError.

// A carrier name as the PAGERCOMP fields hold it (Windows-1252, cut to the width, blank-padded): what
// the keys of the carrier's paths in BY_CARRIER begin with.
QByteArray carrierKey(const QString& name);

// Moves every path of `oldName` to `newName`, the carrier having been renamed.
int renameCarrierPaths(Desk& desk, const QString& oldName, const QString& newName);
// Deletes every path of `name`, the carrier having been deleted.
int deleteCarrierPaths(Desk& desk, const QString& name);
// The carrier's enabled paths in PATHNO order, as the paging component takes them (a MAXCHARS of 0:
// the carrier's HOST_CHARS; a refusal names the PATHNO). Read through a handle of its own, so that the carriers window's current
// path stays where it is.
QList<paging::DeliveryPath> enabledPaths(Desk& desk, const QString& carrier);

// The operator's commands on one carrier's paths. Each keeps the carrier's PATHNO "01" to "NN" in
// trial order without gaps (numbers another program left with gaps or twice are set right on the way)
// and leaves the handle on the path it names, so that a grid on the handle shows it current.
constexpr int kMaxPaths = 99; // PATHNO has two digits

// A new path after the carrier's last, off (a path half typed takes no page), MODEM, no page size of
// its own. Returns its PATHNO; empty, nothing added, when the carrier has kMaxPaths already.
QString addCarrierPath(Desk& desk, const QString& carrier);
// Deletes the path; those after it move up one. False when the carrier has no such path. The
// handle is left on the path that took its place (else the carrier's last, else where it was).
bool deleteCarrierPath(Desk& desk, const QString& carrier, const QString& pathNo);
// Swaps the path with the one before it (`steps` -1) or after it (+1). Returns its new PATHNO; empty,
// nothing moved, when there is no such path or it is first (last) already.
QString moveCarrierPath(Desk& desk, const QString& carrier, const QString& pathNo, int steps);

} // namespace core
