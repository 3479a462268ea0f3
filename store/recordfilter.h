#pragma once

#include <QByteArray>
#include <QString>

namespace store {

// The filter expressions a handle understands: FIELD = value, where value is one or more string
// literals joined by "+", each delimited by "...", '...' or [...] (xBase has no escapes, so a text
// holding every delimiter is written as a concatenation).
struct FilterExpression {
    QByteArray field; // upper case
    QString value;

    // Throws StoreError for anything else.
    static FilterExpression parse(const QString& expression);
    // FIELD = "value" with a delimiter the value lacks; a value holding all three is split into
    // literals that each lack theirs, so the filter always matches exactly `value`.
    static QString build(const QString& field, const QString& value);
};

} // namespace store
