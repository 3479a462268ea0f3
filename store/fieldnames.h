#pragma once

#include <QString>

// The field names of the seven tables, one namespace a table, written once for every reader and
// writer of the records; the schemas (schema.cpp) give them their types and build the tags on them.
namespace store {

namespace busers {
inline const QString UserName = QStringLiteral("USERNAME");
inline const QString PagerComp = QStringLiteral("PAGERCOMP");
inline const QString Group = QStringLiteral("GROUP");
inline const QString PagerId = QStringLiteral("PAGER_ID");
} // namespace busers

namespace pagecomp {
inline const QString PagerComp = QStringLiteral("PAGERCOMP");
inline const QString HostTel = QStringLiteral("HOST_TEL");
inline const QString HostSpeed = QStringLiteral("HOST_SPEED");
inline const QString HostChars = QStringLiteral("HOST_CHARS");
inline const QString HostPassword = QStringLiteral("HOST_PASSW");
} // namespace pagecomp

namespace groups {
inline const QString Group = QStringLiteral("GROUP");
inline const QString GroupExtra = QStringLiteral("GROUPEXTRA");
} // namespace groups

namespace quickmsg {
inline const QString MsgTitle = QStringLiteral("MSGTITLE");
inline const QString Msg = QStringLiteral("MSG");
} // namespace quickmsg

namespace modems {
inline const QString Modems = QStringLiteral("MODEMS");
inline const QString InitStr = QStringLiteral("INITSTR");
inline const QString Param2 = QStringLiteral("PARAM2");
} // namespace modems

// MSGLOG2 and SCHEDMS2 share one record layout.
namespace msglog {
inline const QString DDate = QStringLiteral("DDATE");
inline const QString DTime = QStringLiteral("DTIME");
inline const QString UserName = QStringLiteral("USERNAME");
inline const QString MustSend = QStringLiteral("MUSTSEND");
inline const QString Msg = QStringLiteral("MSG");
} // namespace msglog

namespace schedmsg = msglog;

} // namespace store
