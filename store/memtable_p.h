#pragma once

// Internals of TMemTable shared by its table operations (memtable.cpp) and its file form
// (memtablefile.cpp).

#include "store/memtable.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <vector>

namespace store {

struct TMemTable::Impl {
    struct Row {
        QByteArray image;
        QList<QByteArray> blobs; // one entry per blob-like field, in field order
    };

    std::vector<MemFieldDef> fields;
    QList<MemIndexDef> indexes;
    int slotsSize = 0;
    std::vector<int> blobFields; // indexes into `fields` of the blob-like fields

    State state = State::Inactive;
    std::vector<Row> rows;
    int current = -1;
    bool eof = true;
    bool bof = true;
    Row buffer;
    bool modified = false;

    int rowSize() const { return slotsSize + BookkeepingSize; }
    Row blankRow() const
    {
        Row row;
        row.image = QByteArray(rowSize(), '\0');
        for (size_t i = 0; i < blobFields.size(); ++i)
            row.blobs.append(QByteArray());
        return row;
    }
    // Takes new definitions (already laid out).
    void define(std::vector<MemFieldDef> defs, int slotBytes)
    {
        fields = std::move(defs);
        slotsSize = slotBytes;
        blobFields.clear();
        for (size_t i = 0; i < fields.size(); ++i)
            if (fields[i].isBlob())
                blobFields.push_back(static_cast<int>(i));
    }
    int blobOrdinal(int field) const
    {
        for (size_t i = 0; i < blobFields.size(); ++i)
            if (blobFields[i] == field)
                return static_cast<int>(i);
        return -1;
    }
};

} // namespace store
