#pragma once

#include <QByteArray>

namespace pagersim {

// The carrier's line is 7E1. The simulator's ports run 8N1, so the parity bit travels as bit 7 of every
// byte it sends, and every byte it receives is cut to its 7 data bits.

inline char withEvenParity(char c)
{
    const unsigned value = static_cast<unsigned char>(c) & 0x7Fu;
    const bool odd = __builtin_popcount(value) % 2 != 0;
    return static_cast<char>(odd ? (value | 0x80u) : value);
}

inline QByteArray withEvenParity(QByteArray bytes)
{
    for (char& c : bytes)
        c = withEvenParity(c);
    return bytes;
}

inline QByteArray toSevenBits(QByteArray bytes)
{
    for (char& c : bytes)
        c = static_cast<char>(c & 0x7F);
    return bytes;
}

} // namespace pagersim
