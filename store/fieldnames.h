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

// The programs allowed to page through the desk over the network or its folders. KIND is one of
// "SNPP", "HTTP", "SPOOL", "MAIL"; SECRET is the hex SHA-256 of the source's token (never the token
// itself); RECIPIENT is a recipient list item (a user name or "Group: " + a group); RATEMIN is the
// pages a minute it may start (0: 60).
namespace sources {
inline const QString Source = QStringLiteral("SOURCE");
inline const QString Kind = QStringLiteral("KIND");
inline const QString Secret = QStringLiteral("SECRET");
inline const QString Recipient = QStringLiteral("RECIPIENT");
inline const QString RateMin = QStringLiteral("RATEMIN");
inline const QString Enabled = QStringLiteral("ENABLED");
} // namespace sources

// The alerts the sources raised: ALERTKEY is the hex SHA-1 of the source's name followed by its
// dedup key; STATE is "OPEN", "ACKED" or "RESOLVED"; FIRST and LAST are "yyyy/mm/dd hh:mm:ss";
// COUNT the triggers seen while it was open; LOGREC finds the DLVSTAT rows of its page (the message
// log record's key, or "#" and the rows when the page was not logged; blank: nobody was paged).
namespace alerts {
inline const QString AlertKey = QStringLiteral("ALERTKEY");
inline const QString Source = QStringLiteral("SOURCE");
inline const QString State = QStringLiteral("STATE");
inline const QString Summary = QStringLiteral("SUMMARY");
inline const QString First = QStringLiteral("FIRST");
inline const QString Last = QStringLiteral("LAST");
inline const QString Count = QStringLiteral("COUNT");
inline const QString LogRec = QStringLiteral("LOGREC");
} // namespace alerts

} // namespace store
