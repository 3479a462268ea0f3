#pragma once

#include <QString>

// The users table's four fields, as the store tests create it.
inline const QString kUserFields = QStringLiteral("USERNAME,C,30;PAGERCOMP,C,30;GROUP,C,12;PAGER_ID,C,12;");
