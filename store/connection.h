#pragma once

#include <QString>

namespace store {

// The store connection: one folder holding the tables. File names are matched without regard to
// case, so "Busers.dbf", "BUSERS.DBF" and "busers.dbf" are one file whatever case it was created in.
class Connection {
public:
    Connection() = default;
    explicit Connection(const QString& folder);

    QString folder() const { return folder_; } // with a trailing '/'
    void setFolder(const QString& folder);

    // The path of the existing file whose name equals `fileName` without regard to case, or, when
    // there is none, folder + fileName as given. A name holding a path separator is refused
    // (StoreError): tables live in the folder itself.
    QString resolve(const QString& fileName) const;
    bool exists(const QString& fileName) const;
    // The path of the existing file whose name equals `fileName` without regard to case, or an
    // empty string when there is none (one look at the file system when the case matches).
    QString existingPath(const QString& fileName) const;
    // Throws StoreError for a name that is not a plain file name of the folder (path separators,
    // "." or "..", empty).
    static void checkFileName(const QString& fileName);

    // Creates an empty table from a field-definition string ("NAME,C,30;MSG,M;"): a FoxPro 2.x DBF,
    // with an FPT memo file when a memo field is defined, code page Windows-1252. Any existing file
    // of that name (in any case) is replaced, as are its memo and index files.
    void createTable(const QString& fileName, const QString& fieldDefinitions) const;

private:
    QString folder_;
};

} // namespace store
