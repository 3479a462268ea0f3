#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// The bytes of TAP 1.8: 7-bit text, escaping, checksum, blocks and the splitting of long messages.
namespace paging::tapframe {

constexpr char STX = 0x02;
constexpr char ETX = 0x03;
constexpr char EOT = 0x04;
constexpr char ACK = 0x06;
constexpr char LF = 0x0A;
constexpr char CR = 0x0D;
constexpr char NAK = 0x15;
constexpr char ETB = 0x17;
constexpr char SUB = 0x1A;
constexpr char ESC = 0x1B;
constexpr char RS = 0x1E;
constexpr char US = 0x1F;

// Text as the 7-bit characters a terminal accepts. A character above 0x7F goes as its closest ASCII
// form when it has one (a letter with accents as the bare letter, typographic quotes and dashes as
// their plain forms), otherwise as "?". Control characters are kept; escapeField() makes them safe.
QByteArray toSevenBit(const QString& text);

// Every byte below 0x20 as SUB followed by the byte + 0x40, so no text can end a field or a block.
QByteArray escapeField(const QByteArray& field);
// The reverse, for reading what was framed.
QByteArray unescapeField(const QByteArray& field);

// Sum of the 7-bit values of `block` (STX through the terminator), low 12 bits, as three characters
// 0x30 + nibble, most significant first.
QByteArray checksum(const QByteArray& block);

// The blocks of one transaction: escaped fields each ended by CR, at most kMaxBlockContent characters
// of them per block; a field that does not fit continues in the next block (US), a block that is full
// after a whole field ends with ETB, the last with ETX. An escape pair is never cut.
QList<QByteArray> buildBlocks(const QList<QByteArray>& escapedFields);

// One page's blocks: pager ID and text.
QList<QByteArray> pageBlocks(const QString& pagerId, const QString& text);

// A message as consecutive pages of at most `pageSize` characters (the whole text when pageSize <= 0).
QStringList splitMessage(const QString& text, int pageSize);

} // namespace paging::tapframe
