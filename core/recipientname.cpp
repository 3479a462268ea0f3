#include "core/recipientname.h"

namespace core {

bool isGroupRecipient(const QString& item)
{
    return item.startsWith(QStringLiteral("Group:"));
}

QString groupNameOf(const QString& item)
{
    return item.mid(7, 16);
}

QString groupRecipient(const QString& groupName)
{
    return QStringLiteral("Group: ") + groupName;
}

QString recipientDisplayName(const QString& item)
{
    return isGroupRecipient(item) ? groupNameOf(item) : item;
}

} // namespace core
