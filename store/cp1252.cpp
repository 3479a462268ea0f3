#include "store/cp1252.h"

#include <array>

namespace store {

namespace {

// Code points of 0x80-0x9F; 0 marks the unassigned bytes (they stay C1 controls).
constexpr std::array<char16_t, 32> kHigh = {
    0x20AC,
    0,
    0x201A,
    0x0192,
    0x201E,
    0x2026,
    0x2020,
    0x2021,
    0x02C6,
    0x2030,
    0x0160,
    0x2039,
    0x0152,
    0,
    0x017D,
    0,
    0,
    0x2018,
    0x2019,
    0x201C,
    0x201D,
    0x2022,
    0x2013,
    0x2014,
    0x02DC,
    0x2122,
    0x0161,
    0x203A,
    0x0153,
    0,
    0x017E,
    0x0178,
};

char16_t decodeByte(unsigned char b)
{
    if (b >= 0x80 && b <= 0x9F && kHigh[b - 0x80] != 0)
        return kHigh[b - 0x80];
    return b;
}

char encodeUnit(char16_t u)
{
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF))
        return static_cast<char>(u);
    for (int i = 0; i < 32; ++i) {
        if (kHigh[i] == u)
            return static_cast<char>(0x80 + i);
    }
    if (u >= 0x80 && u <= 0x9F && kHigh[u - 0x80] == 0)
        return static_cast<char>(u);
    return '?';
}

} // namespace

QString fromCp1252(const char* data, qsizetype size)
{
    QString text(size, Qt::Uninitialized);
    QChar* out = text.data();
    for (qsizetype i = 0; i < size; ++i)
        out[i] = QChar(decodeByte(static_cast<unsigned char>(data[i])));
    return text;
}

QByteArray toCp1252(const QString& text)
{
    // Text of plain ASCII (nearly all of it) is the same bytes in the code page.
    const char16_t* units = reinterpret_cast<const char16_t*>(text.constData());
    qsizetype ascii = 0;
    while (ascii < text.size() && units[ascii] < 0x80)
        ++ascii;
    QByteArray bytes(text.size(), Qt::Uninitialized);
    char* out = bytes.data();
    for (qsizetype i = 0; i < ascii; ++i)
        out[i] = char(units[i]);
    if (ascii == text.size())
        return bytes;
    bytes.truncate(ascii);
    for (qsizetype i = ascii; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i; // one character outside the code page: one '?'
        bytes.append(encodeUnit(c.unicode()));
    }
    return bytes;
}

} // namespace store
