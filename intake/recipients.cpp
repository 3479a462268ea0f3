#include "intake/recipients.h"

#include "core/recipientname.h"
#include "store/cp1252.h"
#include "store/fieldnames.h"
#include "store/schema.h"

namespace intake {

namespace {

using namespace store;

// Pager IDs are typed with or without their dashes.
QString bareId(const QString& id)
{
    return QString(id).remove(u'-').trimmed();
}

} // namespace

RecipientFinder::RecipientFinder(const store::Connection& connection)
    : connection_(connection)
{
}

void RecipientFinder::open()
{
    for (auto [table, schema] : { std::pair { &users_, &busersSchema() }, std::pair { &groups_, &groupsSchema() } }) {
        if (table->isOpen()) {
            table->refresh();
            continue;
        }
        bindHandle(*table, connection_, *schema);
        table->open();
    }
}

QString RecipientFinder::find(const QString& typed)
{
    const QString asTyped = typed.trimmed();
    if (asTyped.isEmpty())
        return {};
    open();
    // As typed first: a name that holds a "_" of its own is found as it is.
    if (const QString item = findAsTyped(asTyped); !item.isEmpty())
        return item;
    const QString blanks = QString(asTyped).replace(u'_', u' ').simplified();
    return blanks == asTyped ? QString() : findAsTyped(blanks);
}

QString RecipientFinder::findAsTyped(const QString& typed)
{
    if (typed.startsWith(QStringLiteral("group:"), Qt::CaseInsensitive))
        return findGroup(typed.mid(6).trimmed());
    if (const QString user = findUser(typed); !user.isEmpty())
        return user;
    return findGroup(typed);
}

QString RecipientFinder::findUser(const QString& name)
{
    // The exact name through the unique tag; then the walk that ignores case and takes pager IDs.
    if (users_.seek(toCp1252(name)) && users_.fieldText(busers::UserName) == name)
        return name;
    const QString id = bareId(name);
    QString byId;
    for (users_.first(); !users_.eof(); users_.next()) {
        const QString user = users_.fieldText(busers::UserName);
        if (user.compare(name, Qt::CaseInsensitive) == 0)
            return user;
        if (byId.isEmpty() && !id.isEmpty() && bareId(users_.fieldText(busers::PagerId)).compare(id, Qt::CaseInsensitive) == 0)
            byId = user;
    }
    return byId;
}

QString RecipientFinder::findGroup(const QString& name)
{
    if (name.isEmpty())
        return {};
    for (groups_.first(); !groups_.eof(); groups_.next()) {
        const QString group = groups_.fieldText(groups::Group);
        if (group.compare(name, Qt::CaseInsensitive) == 0)
            return core::groupRecipient(group);
    }
    return {};
}

} // namespace intake
