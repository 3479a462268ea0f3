#pragma once

#include <QString>

namespace paging::tcpline {

// "tcp:HOST:PORT" split; false when the name is not of that form.
bool parse(const QString& portName, QString* host, quint16* port);

// Connects to HOST:PORT within `timeoutMs`, giving up at once when `cancelFd` becomes readable.
// Returns a non-blocking socket or -1; `error` says why.
int connect(const QString& host, quint16 port, int timeoutMs, int cancelFd, QString* error);

} // namespace paging::tcpline
