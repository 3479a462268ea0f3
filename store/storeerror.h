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

} // namespace store
