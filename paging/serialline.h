#pragma once

#include <QString>

namespace paging::serialline {

// The device a port name stands for: "COM1".."COM4" are /dev/ttyS0../dev/ttyS3, "TAPI" is the
// system's modem /dev/modem, a name starting with "/" is used as it is. Empty for anything else.
QString devicePath(const QString& portName);

// Opens `device` raw, 8N1, at `baud`, no flow control, hanging the line up on close (HUPCL), non-blocking.
// Returns the descriptor or -1; `error` says why.
int open(const QString& device, int baud, QString* error);

// Whether the speed is one the port can be set to.
bool isSupportedBaud(int baud);

} // namespace paging::serialline
