#pragma once

#include <QByteArray>
#include <QString>
#include <vector>

namespace store {

// One field of a DBF table. `offset` is the field's place in the record image, counting the
// deletion flag as byte 0.
struct FieldDef {
    QByteArray name;  // upper case, at most 10 characters
    char type = 'C';  // 'C' character, 'N' numeric, 'L' logical (1 byte), 'M' memo (10-byte block number)
    int width = 0;
    int decimals = 0;
    int offset = 0;
};

// Parses a field-definition string such as "USERNAME,C,30;HOST_CHARS,N,3,0;MSG,M;": one entry a
// field, name, type letter, width and (numeric) decimals separated by commas, each entry ended by a
// semicolon. Memo and logical fields take no width (they are 10 bytes and 1 byte: "ENABLED,L;"). Throws StoreError on a malformed entry.
std::vector<FieldDef> parseFieldDefinitions(const QString& definitions);

// Record length of a table with these fields: the deletion flag plus every width.
int recordLength(const std::vector<FieldDef>& fields);

} // namespace store
