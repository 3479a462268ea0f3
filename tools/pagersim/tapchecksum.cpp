#include "tapchecksum.h"

namespace pagersim {

QByteArray tapChecksum(QByteArrayView blockThroughTerminator)
{
    unsigned sum = 0;
    for (char c : blockThroughTerminator)
        sum += static_cast<unsigned char>(c) & 0x7Fu;
    sum &= 0xFFFu;
    QByteArray text(3, '0');
    text[0] = static_cast<char>(0x30 + ((sum >> 8) & 0xF));
    text[1] = static_cast<char>(0x30 + ((sum >> 4) & 0xF));
    text[2] = static_cast<char>(0x30 + (sum & 0xF));
    return text;
}

} // namespace pagersim
