#pragma once

#include <QString>

namespace core {

// The one text that names a recipient in the recipient list, in the log's and the schedule's
// USERNAME and in a page's UserOrGroupName: a user name, or "Group: " followed by a group name.

// An item is a group exactly when its first six characters are "Group:" (a user whose name begins
// so is routed as a group too).
bool isGroupRecipient(const QString& item);
// The group name of a group item: its characters 8 to 23.
QString groupNameOf(const QString& item);
// The item of group `groupName`: "Group: " (with one blank) and the name.
QString groupRecipient(const QString& groupName);
// The name a status line gives a recipient: the group name of a group item, else the item itself.
QString recipientDisplayName(const QString& item);

} // namespace core
