#pragma once

#include <cstdint>

namespace store {

class CdxIndex;
class DbfFile;

// Checks of an index's contents against its table's records (the start-up step's, besides the
// structural check). Each throws StoreError naming the index file and the tag at the first
// disagreement.

// Every tag, key by key, against what a rebuild from the records would hold (a unique tag's key
// may name its lowest-numbered live record, or its lowest-numbered record as other engines keep
// it): for tables that stay small (directories), where a walk of every tag costs a few milliseconds.
void checkEveryKey(CdxIndex& index, DbfFile& table);

// At a cost that does not grow with the table: each plain tag holds the keys of the last `recent`
// records, and the first and last entries of every tag name records that exist and have those
// keys. An index that lags its table (records added without it) fails.
void checkRecentKeys(CdxIndex& index, DbfFile& table, uint32_t recent = 16);

} // namespace store
