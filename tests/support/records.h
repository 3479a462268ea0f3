#pragma once

#include "core/desk.h"

#include "store/connection.h"
#include "store/fieldnames.h"
#include "store/table.h"

#include <QString>
#include <QStringList>

// Records seeded through the store, as the directory windows would write them.
namespace testsupport {

// Users and carriers appended through the store, as the directory windows would.
inline void addUser(core::Desk& desk, const QString& name, const QString& carrier, const QString& pagerId)
{
    desk.BUsersT().append();
    desk.BUsersT().setFieldText(store::busers::UserName, name);
    desk.BUsersT().setFieldText(store::busers::PagerComp, carrier);
    desk.BUsersT().setFieldText(store::busers::PagerId, pagerId);
    desk.BUsersT().post();
}

inline void addCarrier(core::Desk& desk, const QString& name, const QString& tel, const QString& speed,
    int chars, const QString& password)
{
    desk.PagerCompT().append();
    desk.PagerCompT().setFieldText(store::pagecomp::PagerComp, name);
    desk.PagerCompT().setFieldText(store::pagecomp::HostTel, tel);
    desk.PagerCompT().setFieldText(store::pagecomp::HostSpeed, speed);
    desk.PagerCompT().setFieldInt(store::pagecomp::HostChars, chars);
    desk.PagerCompT().setFieldText(store::pagecomp::HostPassword, password);
    desk.PagerCompT().post();
}

// Delivery path PATHNO of `carrier`, logged in as "desk" with `password`.
inline void addPath(core::Desk& desk, const QString& carrier, const QString& pathNo, const QString& method,
    const QString& address, const QString& password = QString(), bool enabled = true)
{
    using namespace store::carrpath;
    store::Table& paths = desk.CarrPathT();
    paths.append();
    paths.setFieldText(PagerComp, carrier);
    paths.setFieldText(PathNo, pathNo);
    paths.setFieldText(Method, method);
    paths.setFieldText(Address, address);
    paths.setFieldText(Login, QStringLiteral("desk"));
    paths.setFieldText(Password, password);
    paths.setFieldBool(Enabled, enabled);
    paths.post();
}

inline void addGroup(core::Desk& desk, const QString& name)
{
    desk.GroupsT().append();
    desk.GroupsT().setFieldText(store::groups::Group, name);
    desk.GroupsT().post();
}

// The records of the message log, read afresh.
inline int logCount(core::Desk& desk)
{
    int count = 0;
    desk.MsgLogT().refresh();
    for (desk.MsgLogT().first(); !desk.MsgLogT().eof(); desk.MsgLogT().next())
        ++count;
    return count;
}

// Every visible record of `table` in `tag` order, as "FIELD1|FIELD2|..." lines, read from disk by a
// handle of its own.
inline QStringList onDisk(const QString& folder, const QString& table, const QString& tag, const QStringList& fields)
{
    store::Table t;
    t.setConnection(store::Connection(folder));
    t.setTableName(table);
    t.setIndexName(tag);
    t.open();
    QStringList rows;
    for (t.first(); !t.eof(); t.next()) {
        QStringList row;
        for (const QString& f : fields)
            row << t.fieldText(f);
        rows << row.join(u'|');
    }
    return rows;
}

} // namespace testsupport
