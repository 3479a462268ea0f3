#pragma once

#include <QByteArray>
#include <QString>

namespace store {

// Windows-1252, the code page of every text the tables hold. Qt's converters only know it when
// built with ICU, so the store carries its own exact table: it differs from Latin-1 only in
// 0x80-0x9F. The five unassigned bytes there map to the C1 controls of the same value, so every
// byte string survives a round trip; characters outside the code page encode as '?'.
QString fromCp1252(const char* data, qsizetype size);
inline QString fromCp1252(const QByteArray& bytes)
{
    return fromCp1252(bytes.constData(), bytes.size());
}
QByteArray toCp1252(const QString& text);

} // namespace store
