#include "tapframe.h"

#include "tapconstants.h"

namespace paging::tapframe {

namespace {
char closestAscii(QChar c)
{
    switch (c.unicode()) {
    case 0x2018:
    case 0x2019:
    case 0x201A:
    case 0x2032:
        return '\'';
    case 0x201C:
    case 0x201D:
    case 0x201E:
    case 0x00AB:
    case 0x00BB:
        return '"';
    case 0x2010:
    case 0x2011:
    case 0x2012:
    case 0x2013:
    case 0x2014:
    case 0x2212:
        return '-';
    case 0x00A0:
    case 0x2002:
    case 0x2003:
    case 0x2009:
        return ' ';
    case 0x00D7:
        return 'x';
    default:
        break;
    }
    const QChar::Decomposition tag = c.decompositionTag();
    const QString decomposed = c.decomposition();
    if ((tag == QChar::Canonical || tag == QChar::Wide || tag == QChar::Font || tag == QChar::NoBreak)
        && !decomposed.isEmpty() && decomposed.at(0).unicode() < 0x80 && decomposed.at(0).unicode() >= 0x20)
        return char(decomposed.at(0).unicode());
    return '?';
}
} // namespace

QByteArray toSevenBit(const QString& text)
{
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i; // one character outside the BMP: one "?"
        out.append(c.unicode() < 0x80 ? char(c.unicode()) : closestAscii(c));
    }
    return out;
}

QByteArray escapeField(const QByteArray& field)
{
    QByteArray out;
    out.reserve(field.size());
    for (char ch : field) {
        const auto b = static_cast<unsigned char>(ch) & 0x7F;
        if (b < 0x20) {
            out.append(SUB);
            out.append(char(b + 0x40));
        } else {
            out.append(char(b));
        }
    }
    return out;
}

QByteArray unescapeField(const QByteArray& field)
{
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field.at(i) == SUB && i + 1 < field.size()) {
            out.append(char(field.at(++i) - 0x40));
        } else {
            out.append(field.at(i));
        }
    }
    return out;
}

QByteArray checksum(const QByteArray& block)
{
    unsigned sum = 0;
    for (char ch : block)
        sum += static_cast<unsigned char>(ch) & 0x7F;
    sum &= 0xFFF;
    QByteArray out(3, '0');
    out[0] = char(0x30 + ((sum >> 8) & 0xF));
    out[1] = char(0x30 + ((sum >> 4) & 0xF));
    out[2] = char(0x30 + (sum & 0xF));
    return out;
}

namespace {
QByteArray finishBlock(const QByteArray& content, char terminator)
{
    QByteArray block;
    block.append(STX).append(content).append(terminator);
    block.append(checksum(block)).append(CR);
    return block;
}
} // namespace

QList<QByteArray> buildBlocks(const QList<QByteArray>& escapedFields)
{
    QList<QByteArray> blocks;
    QByteArray content;
    for (const QByteArray& field : escapedFields) {
        qsizetype pos = 0;
        for (;;) {
            const qsizetype rest = field.size() - pos;
            const qsizetype room = tap::kMaxBlockContent - content.size();
            if (rest + 1 <= room) {
                content.append(field.mid(pos)).append(CR);
                break;
            }
            if (room <= 1) { // not even one character of the field and its end: a new block
                blocks.append(finishBlock(content, ETB));
                content.clear();
                continue;
            }
            qsizetype take = room;
            if (field.at(pos + take - 1) == SUB) // never part an escape pair
                --take;
            content.append(field.mid(pos, take));
            pos += take;
            blocks.append(finishBlock(content, US));
            content.clear();
        }
    }
    blocks.append(finishBlock(content, ETX));
    return blocks;
}

QList<QByteArray> pageBlocks(const QString& pagerId, const QString& text)
{
    return buildBlocks({ escapeField(toSevenBit(pagerId)), escapeField(toSevenBit(text)) });
}

QStringList splitMessage(const QString& text, int pageSize)
{
    if (pageSize <= 0 || text.size() <= pageSize)
        return { text };
    QStringList pages;
    for (qsizetype pos = 0; pos < text.size(); pos += pageSize)
        pages.append(text.mid(pos, pageSize));
    return pages;
}

} // namespace paging::tapframe
