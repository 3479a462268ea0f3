#pragma once

// Byte images of in-memory table files, put together by hand from the layout for the tests: a text
// slot of size N is N + 2 bytes (characters, zero, zero fill, presence byte), an integer 5, a
// Boolean 3, then 12 bookkeeping bytes; header lines end in CR.

#include <QByteArray>
#include <QList>
#include <QStringList>
#include <QtEndian>

namespace memtablebytes {

inline const QStringList PendingItems = {
    "Retries;3;0;0",
    "NetworkPhone;1;20;0",
    "PagerPhone;1;500;0",
    "BaudRate;1;10;0",
    "MessageSize;3;0;0",
    "MessageToSend;1;500;0",
    "IsGroup;5;0;0",
    "UserOrGroupName;1;30;0",
};
inline const QStringList SendItems = {
    "NetworkPhone;1;20;0",
    "PagerPhone;1;500;0",
    "BaudRate;1;10;0",
    "MessageSize;3;0;0",
    "MessageToSend;1;500;0",
    "IsGroup;5;0;0",
    "UserOrGroupName;1;30;0",
    "Retries;3;0;0",
};

inline QByteArray le32(qint32 value)
{
    char bytes[4];
    qToLittleEndian<qint32>(value, bytes);
    return QByteArray(bytes, 4);
}

// Text slot of size n: the characters, a terminating zero, zero fill up to n + 1 data bytes, then
// the presence byte.
inline QByteArray textSlot(int n, const QByteArray& chars, bool present = true)
{
    QByteArray slot = chars.left(n);
    slot.append(QByteArray(n + 1 - slot.size(), '\0'));
    slot.append(present ? '\1' : '\0');
    return slot;
}

inline QByteArray intSlot(qint32 value, bool present = true)
{
    return le32(present ? value : 0) + (present ? '\1' : '\0');
}

inline QByteArray boolSlot(quint16 value, bool present = true)
{
    char bytes[2];
    qToLittleEndian<quint16>(present ? value : 0, bytes);
    return QByteArray(bytes, 2) + (present ? '\1' : '\0');
}

inline const QByteArray Bookkeeping(12, '\0');

struct Page {
    QByteArray network, pager, baud;
    qint32 size = 0;
    QByteArray message;
    bool isGroup = false;
    QByteArray name;
    qint32 retries = 0;
};

inline const Page PageA { "9,5551234^PASS", "1234567", "1200", 80, "Call the office", false, "Ann Smith", 3 };
inline const Page PageB { "5559876^", "111^222^", "2400", 240, "Group meeting at 10^^", true,
    "Group: Night shift", 1 };

inline QByteArray pendingRow(const Page& p)
{
    return intSlot(p.retries) + textSlot(20, p.network) + textSlot(500, p.pager) + textSlot(10, p.baud)
        + intSlot(p.size) + textSlot(500, p.message) + boolSlot(p.isGroup) + textSlot(30, p.name)
        + Bookkeeping;
}

inline QByteArray sendRow(const Page& p)
{
    return textSlot(20, p.network) + textSlot(500, p.pager) + textSlot(10, p.baud) + intSlot(p.size)
        + textSlot(500, p.message) + boolSlot(p.isGroup) + textSlot(30, p.name) + intSlot(p.retries)
        + Bookkeeping;
}

inline QByteArray header(
    const QStringList& items, const QByteArray& versionLine = "Version=2", const QByteArray& eol = "\r")
{
    QByteArray out = "[INFO]" + eol + versionLine + eol + "[FIELD]" + eol;
    for (const QString& item : items)
        out += item.toLatin1() + eol;
    out += "[INDEX]" + eol + "[DATA]" + eol;
    return out;
}

inline const QByteArray Trailer = "\r[BLOB]\r";

inline QByteArray pendingFile(const QList<Page>& pages)
{
    QByteArray out = header(PendingItems) + le32(pages.size());
    for (const Page& p : pages)
        out += pendingRow(p);
    return out + Trailer;
}

} // namespace memtablebytes
