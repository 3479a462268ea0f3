#pragma once

#include "store/fielddef.h"

#include <QByteArray>
#include <cstdint>
#include <vector>

namespace store {

// A tag's key expression: field names joined by "+" ("MUSTSEND+DDATE+DTIME"), matched without
// regard to case. The key of a record is the raw bytes of those fields, one after another.
class KeyExpression {
public:
    KeyExpression() = default;
    // Throws StoreError (naming `context`) for an empty part, an unknown field, a memo or a
    // logical field.
    KeyExpression(const QByteArray& expression, const std::vector<FieldDef>& fields, const QString& context);

    int keyLength() const { return keyLength_; }
    const std::vector<int>& fieldIndexes() const { return indexes_; }
    // The key of a record image (deletion flag at byte 0).
    QByteArray keyOf(const char* record) const;
    // The same, written to `key` (keyLength() bytes).
    void keyInto(const char* record, uint8_t* key) const;

private:
    std::vector<int> indexes_;
    std::vector<std::pair<int, int>> slices_; // offset, width
    int keyLength_ = 0;
};

} // namespace store
