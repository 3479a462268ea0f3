#pragma once

#include <QStringList>

namespace store {

class Table;
struct TableSchema;

// The fields the desk reads and writes, compared with the fields an open table holds: a table made
// or changed by another tool may lack one (a renamed column), hold it with another type, or with a
// smaller width than the desk writes. One sentence per such field, naming the table and the field;
// empty when every field is there as the desk needs it. Extra fields and wider ones are fine.
QStringList fieldFaults(const Table& handle, const TableSchema& schema);

} // namespace store
