#pragma once

#include <QString>
#include <stdexcept>

namespace store {

// The one error type the store raises. Its message is the store's own text (it names the file
// concerned where there is one) and is shown to the operator unchanged.
class StoreError : public std::runtime_error {
public:
    explicit StoreError(const QString& message);
    QString message() const { return message_; }

private:
    QString message_;
};

// A lock another program kept for longer than the store waits (a program stopped while it held a
// table's lock, say): "Table NAME is locked by another program".
class LockedError : public StoreError {
public:
    // `fileName`: the table's or its index's file.
    explicit LockedError(const QString& fileName);
};

} // namespace store
