#include "store/storeerror.h"

#include <QFileInfo>

namespace store {

StoreError::StoreError(const QString& message)
    : std::runtime_error(message.toStdString()), message_(message)
{
}

LockedError::LockedError(const QString& fileName)
    : StoreError(QStringLiteral("Table %1 is locked by another program")
                     .arg(QFileInfo(fileName).completeBaseName().toUpper()))
{
}

} // namespace store
