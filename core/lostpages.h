#pragma once

#include <QString>
#include <QStringList>

namespace core {

// Pages a runner kept aside when the data folder stopped being its own (its lock file was removed
// or replaced, so another runner may own the pending file now): a file in the pending file's
// layout, with its side file, beside the pending file: "PendMsgs.lost-PID", PID the process that
// wrote it. The next runner to start takes its pages into its pending queue.

// A name for the lost pages of process `pid` in `folder` that no file has yet: "PendMsgs.lost-PID",
// else "PendMsgs.lost-PID-2" and so on.
QString lostPagesPath(const QString& folder, qint64 pid);

// The files of lost pages in `folder`, in name order: regular files only, neither their side files
// nor copies kept aside.
QStringList lostPagesFiles(const QString& folder);

} // namespace core
