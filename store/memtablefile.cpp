// The file form of TMemTable: text lines ended by a single CR, then the binary row images.
//
//   [INFO] CR  Version=2 CR  [FIELD] CR  one "name;type;size;required" line per field
//   [INDEX] CR  one "name;fields;options" line per index  [DATA] CR
//   row count (32-bit little-endian)  row images  CR [BLOB] CR  blob values (32-bit length, bytes)

#include "store/memtable.h"

#include "store/cp1252.h"
#include "store/memtable_p.h"
#include "store/storeerror.h"
#include "store/systemfile.h"

#include <QFile>

#include <QtEndian>

namespace store {

namespace {

const QString OpenText = QStringLiteral("Cannot perform this operation on an open dataset");

constexpr int FileVersion = 2;

// Consumes the file from the front, a line at a time.
class LineReader {
public:
    explicit LineReader(const QByteArray& bytes)
        : bytes_(bytes)
    {
    }

    // The next line without its CR; a line feed at its start is dropped (and reported in `hadLf`),
    // so CR LF files read as CR files do.
    bool next(QByteArray& line, bool& hadLf)
    {
        if (pos_ >= bytes_.size())
            return false;
        hadLf = bytes_.at(pos_) == '\n';
        if (hadLf)
            ++pos_;
        const qsizetype cr = bytes_.indexOf('\r', pos_);
        const qsizetype end = cr < 0 ? bytes_.size() : cr;
        line = bytes_.mid(pos_, end - pos_);
        pos_ = cr < 0 ? bytes_.size() : cr + 1;
        return true;
    }

    // Binary data follows a header line. In a CR LF file the LF after that line's CR belongs to the
    // line end, not to the data; a CR-only file never has one there, so a data byte 10 is safe.
    void skipLineFeedIf(bool crlf)
    {
        if (crlf && pos_ < bytes_.size() && bytes_.at(pos_) == '\n')
            ++pos_;
    }

    qsizetype remaining() const { return bytes_.size() - pos_; }
    QByteArray take(qsizetype n)
    {
        const QByteArray part = bytes_.mid(pos_, n);
        pos_ += n;
        return part;
    }
    qint32 takeInt32()
    {
        const qint32 value = qFromLittleEndian<qint32>(bytes_.constData() + pos_);
        pos_ += 4;
        return value;
    }

private:
    const QByteArray& bytes_;
    qsizetype pos_ = 0;
};

bool lineHas(const QByteArray& line, const char* header)
{
    return line.contains(header);
}

// The version is the integer between "=" and the next ";" (or the end of the line).
int parseVersion(const QByteArray& line, const QString& name)
{
    const qsizetype eq = line.indexOf('=');
    const qsizetype semicolon = line.indexOf(';', eq + 1);
    const QByteArray text = line.mid(eq + 1, semicolon < 0 ? -1 : semicolon - eq - 1).trimmed();
    bool ok = false;
    const int version = text.toInt(&ok);
    if (!ok)
        throw StoreError(QStringLiteral("'%1' has an invalid version '%2'").arg(name, fromCp1252(text)));
    return version;
}

} // namespace

void TMemTable::loadFromFile(const QString& path)
{
    if (isOpen())
        throw StoreError(OpenText);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw StoreError(QStringLiteral("Cannot open '%1': %2").arg(path, file.errorString()));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw StoreError(QStringLiteral("Cannot read '%1': %2").arg(path, file.errorString()));
    loadFromBytes(bytes, path);
}

void TMemTable::loadFromBytes(const QByteArray& bytes, const QString& name)
{
    if (isOpen())
        throw StoreError(OpenText);

    enum class Section { None, Info, Field, Index, Data };
    Section section = Section::None;
    int version = 1;
    QStringList fieldItems;
    QList<MemIndexDef> indexes;
    LineReader reader(bytes);
    QByteArray line;
    bool hadLf = false;

    // Rows are read straight into the table, so that the ones before a fault stay loaded; the
    // table's listeners see one reset around the whole load.
    bool resetting = false;
    const auto finish = [&] {
        d->current = d->rows.empty() ? -1 : 0;
        d->bof = true;
        d->eof = d->rows.empty();
        emit reset();
        emit stateChanged(d->state);
        emit currentRowChanged(d->current);
    };
    const auto readData = [&](bool crlf) {
        reader.skipLineFeedIf(crlf);
        const int size = d->rowSize();
        const auto takeRow = [&] {
            Impl::Row row = d->blankRow();
            row.image = reader.take(size);
            row.image.replace(size - BookkeepingSize, BookkeepingSize, QByteArray(BookkeepingSize, '\0'));
            d->rows.push_back(std::move(row));
        };
        if (version >= 2) {
            if (reader.remaining() < 4)
                throw StoreError(QStringLiteral("'%1' is cut short: the row count is missing").arg(name));
            const qint32 count = reader.takeInt32();
            for (qint32 i = 0; i < count; ++i) {
                if (reader.remaining() < size)
                    throw StoreError(QStringLiteral("'%1' is cut short: %2 of its %3 rows are complete")
                                         .arg(name)
                                         .arg(i)
                                         .arg(count));
                takeRow();
            }
        } else {
            while (reader.remaining() >= size)
                takeRow();
        }
    };
    const auto readBlobs = [&](bool crlf) {
        reader.skipLineFeedIf(crlf);
        for (size_t r = 0; r < d->rows.size(); ++r) {
            for (size_t b = 0; b < d->blobFields.size(); ++b) {
                const qint32 length = reader.remaining() >= 4 ? reader.takeInt32() : -1;
                if (length < 0 || length > reader.remaining())
                    throw StoreError(
                        QStringLiteral("'%1' is cut short: the blob values of row %2 are incomplete")
                            .arg(name)
                            .arg(r + 1));
                d->rows[r].blobs[static_cast<int>(b)] = reader.take(length);
            }
        }
    };

    try {
        while (reader.next(line, hadLf)) {
            if (line.isEmpty())
                continue;
            if (section == Section::None && lineHas(line, "[INFO]")) {
                section = Section::Info;
            } else if ((section == Section::None || section == Section::Info) && lineHas(line, "[FIELD]")) {
                section = Section::Field;
            } else if (section == Section::Field && lineHas(line, "[INDEX]")) {
                section = Section::Index;
            } else if (section == Section::Index && lineHas(line, "[DATA]")) {
                std::vector<MemFieldDef> defs;
                for (const QString& item : fieldItems)
                    defs.push_back(parseMemFieldItem(item));
                const int slotBytes = layoutMemFields(defs);
                emit aboutToReset();
                resetting = true;
                d->define(std::move(defs), slotBytes);
                d->indexes = indexes;
                d->rows.clear();
                d->state = State::Browse;
                section = Section::Data;
                readData(hadLf);
            } else if (section == Section::Data && lineHas(line, "[BLOB]")) {
                readBlobs(hadLf);
                finish();
                return; // anything after the blob values is not read
            } else if (section == Section::Info) {
                version = parseVersion(line, name);
            } else if (section == Section::Field) {
                fieldItems.append(fromCp1252(line));
            } else if (section == Section::Index) {
                indexes.append(parseMemIndexLine(fromCp1252(line)));
            } else if (section == Section::Data) {
                // Bytes after the rows that are not the blob section: a row count that is wrong, or a
                // last row that was cut. Rows after this point cannot be told apart from noise.
                throw StoreError(version >= 2
                        ? QStringLiteral("'%1' holds data after its %2 rows that belongs to no row")
                              .arg(name)
                              .arg(d->rows.size())
                        : QStringLiteral("'%1' is cut short: an incomplete row follows its %2 rows")
                              .arg(name)
                              .arg(d->rows.size()));
            }
        }
        if (section != Section::Data)
            throw StoreError(QStringLiteral("'%1' has no data section").arg(name));
        if (!d->blobFields.empty())
            throw StoreError(QStringLiteral("'%1' is cut short: its blob section is missing").arg(name));
    } catch (...) {
        if (resetting)
            finish();
        throw;
    }
    finish();
}

QByteArray TMemTable::saveToBytes()
{
    if (!isOpen())
        throw StoreError(QStringLiteral("Cannot perform this operation on a closed dataset"));
    if (d->state == State::Edit || d->state == State::Insert) {
        if (d->modified)
            post();
        else
            cancel();
    }
    QByteArray out;
    const auto line = [&out](const QString& text) {
        out += toCp1252(text);
        out += '\r';
    };
    line(QStringLiteral("[INFO]"));
    line(QStringLiteral("Version=%1").arg(FileVersion));
    line(QStringLiteral("[FIELD]"));
    for (const MemFieldDef& f : d->fields)
        line(f.item());
    line(QStringLiteral("[INDEX]"));
    for (const MemIndexDef& index : d->indexes)
        if (!index.isInternal())
            line(index.line());
    line(QStringLiteral("[DATA]"));
    char word[4];
    qToLittleEndian<qint32>(static_cast<qint32>(d->rows.size()), word);
    // Room for the rows made once: appending them one by one would move the bytes so far each time.
    qsizetype blobBytes = 0;
    for (const Impl::Row& row : d->rows)
        for (const QByteArray& blob : row.blobs)
            blobBytes += 4 + blob.size();
    out.reserve(out.size() + 4 + qsizetype(d->rows.size()) * d->rowSize() + 8 + blobBytes);
    out.append(word, 4);
    for (const Impl::Row& row : d->rows)
        out += row.image;
    out += "\r[BLOB]\r";
    for (const Impl::Row& row : d->rows) {
        for (const QByteArray& blob : row.blobs) {
            qToLittleEndian<qint32>(static_cast<qint32>(blob.size()), word);
            out.append(word, 4);
            out += blob;
        }
    }
    return out;
}

void TMemTable::saveToFile(const QString& path)
{
    if (const QString failure = writeWholeFile(path, saveToBytes()); !failure.isEmpty())
        throw StoreError(QStringLiteral("Cannot write '%1': %2").arg(path, failure));
}

} // namespace store
