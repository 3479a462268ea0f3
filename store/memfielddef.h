#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <vector>

namespace store {

// Type codes of in-memory table fields, as they appear in the field items and in the file.
enum class MemFieldType : int {
    Unknown = 0,
    Text = 1,
    SmallInt = 2,
    Integer = 3,
    Word = 4,
    Boolean = 5,
    Float = 6,
    Currency = 7,
    Bcd = 8,
    Date = 9,
    Time = 10,
    DateTime = 11,
    Bytes = 12,
    VarBytes = 13,
    AutoInc = 14,
    Blob = 15,
    Memo = 16,
    Graphic = 17,
    FormattedMemo = 18,
    OleObject = 19,
    DbOleObject = 20,
    TypedBinary = 21,
    Cursor = 22,
};

// One field of an in-memory table. `offset` and `slotSize` place the field's slot in a row image;
// the slot's last byte is the presence byte (1 = the field holds a value).
struct MemFieldDef {
    QString name;
    MemFieldType type = MemFieldType::Text;
    int size = 1;
    bool required = false;
    int offset = 0;
    int slotSize = 0;

    // "Name;type;size;required", the form of the definition items and of the file's field lines.
    QString item() const;
    // Blob-like fields keep their values outside the row image, in the file's blob section.
    bool isBlob() const;
};

struct MemIndexDef {
    QString name;
    QString fields;
    int options = 0;

    // "name;fields;options", the form of the file's index lines.
    QString line() const;
    // Indexes that the table makes for itself (range and filter views) are never written to a file.
    bool isInternal() const;
};

// Parses one definition item "Name;type;size;required" (missing parts: type 1, size 1, not
// required). Throws StoreError on an empty name or a type or size that is not a number.
MemFieldDef parseMemFieldItem(const QString& item);

// Parses an index line "name;fields;options" (options 0 when missing or not a number). Key fields
// may themselves be separated by ";": everything between the name and a numeric last part is the
// field list.
MemIndexDef parseMemIndexLine(const QString& line);

// Checks the fields and places their slots one after the other (offset and slotSize). Throws
// StoreError for a refused type ("Field '%s' is of unknown type", "Field '%s' is of an unsupported
// type"), a bad size, a name given twice, or no field at all. Returns the size of the slots.
int layoutMemFields(std::vector<MemFieldDef>& fields);

} // namespace store
