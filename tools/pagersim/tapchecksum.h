#pragma once

#include <QByteArray>
#include <QByteArrayView>

namespace pagersim {

// The TAP block checksum: the sum of the 7-bit values of every character from STX through the block's
// terminator, low 12 bits, as three characters 0x30 + nibble, most significant nibble first.
QByteArray tapChecksum(QByteArrayView blockThroughTerminator);

} // namespace pagersim
