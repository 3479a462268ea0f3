#pragma once

namespace pagersim {

// The control characters of the modem dialogue and of TAP's blocks.
inline constexpr char STX = 0x02;
inline constexpr char ETX = 0x03;
inline constexpr char EOT = 0x04;
inline constexpr char ACK = 0x06;
inline constexpr char LF = 0x0A;
inline constexpr char CR = 0x0D;
inline constexpr char NAK = 0x15;
inline constexpr char ETB = 0x17;
inline constexpr char SUB = 0x1A;
inline constexpr char ESC = 0x1B;
inline constexpr char RS = 0x1E;
inline constexpr char US = 0x1F;

} // namespace pagersim
