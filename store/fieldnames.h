#pragma once

#include <QString>

// The field names of the desk's tables, one namespace a table, written once for every reader and
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

// A carrier's delivery paths, tried in PATHNO order ("01" to "99"). METHOD is one of "MODEM",
// "TAPIP", "SNPP", "WCTP"; ADDRESS is "host:port" or an http/https URL; MAXCHARS 0 takes the
// carrier's HOST_CHARS.
namespace carrpath {
inline const QString PagerComp = QStringLiteral("PAGERCOMP");
inline const QString PathNo = QStringLiteral("PATHNO");
inline const QString Method = QStringLiteral("METHOD");
inline const QString Address = QStringLiteral("ADDRESS");
inline const QString Login = QStringLiteral("LOGIN");
inline const QString Password = QStringLiteral("PASSWORD");
inline const QString MaxChars = QStringLiteral("MAXCHARS");
inline const QString Enabled = QStringLiteral("ENABLED");
} // namespace carrpath

// The delivery status of a page: LOGREC is the message log record's number, zero-padded to the
// field's width, blank when the page was not logged; STATUS is one of "ACCEPTED", "QUEUED",
// "DELIVERED", "READ", "FAILED"; CHANGED is "yyyy/mm/dd hh:mm:ss".
namespace dlvstat {
inline const QString LogRec = QStringLiteral("LOGREC");
inline const QString PagerId = QStringLiteral("PAGER_ID");
inline const QString UserName = QStringLiteral("USERNAME");
inline const QString Method = QStringLiteral("METHOD");
inline const QString Address = QStringLiteral("ADDRESS");
inline const QString Tracking = QStringLiteral("TRACKING");
inline const QString Status = QStringLiteral("STATUS");
inline const QString Changed = QStringLiteral("CHANGED");
} // namespace dlvstat

} // namespace store
