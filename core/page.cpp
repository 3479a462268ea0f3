#include "core/page.h"

#include "core/queues.h"
#include "paging/pageengine.h"
#include "store/memtable.h"
#include "store/storeerror.h"

namespace core {

namespace {

QString field(const char* name)
{
    return QString::fromLatin1(name);
}

} // namespace

QString Page::shownText() const
{
    // A page from the pending queue has lost IsGroup: its pager IDs say it is a group page.
    const bool group = isGroup || pagerPhone.contains(u'^');
    return group && messageToSend.endsWith(QStringLiteral("^^")) ? messageToSend.chopped(2) : messageToSend;
}

QStringList Page::pagerIds() const
{
    const QString ids = pagerPhone.trimmed();
    if (!ids.contains(u'^'))
        return ids.isEmpty() ? QStringList() : QStringList { ids };
    QStringList parts = ids.split(u'^');
    if (parts.constLast().trimmed().isEmpty())
        parts.removeLast(); // every ID is followed by "^"
    for (QString& id : parts)
        id = id.trimmed();
    return parts;
}

QString Page::recipientAt(qsizetype index) const
{
    if (!pagerPhone.contains(u'^'))
        return userOrGroupName;
    const QString member = members.value(index);
    const QString who = member.isEmpty() ? pagerIds().value(index) : member;
    return who + QStringLiteral(" (") + userOrGroupName + u')';
}

QString Page::userNameAt(qsizetype index) const
{
    const QString member = members.value(index);
    return member.isEmpty() ? userOrGroupName : member;
}

void appendPage(store::TMemTable& queue, const Page& page)
{
    queue.append();
    try {
        queue.setFieldText(field(page::NetworkPhone), page.networkPhone);
        queue.setFieldText(field(page::PagerPhone), page.pagerPhone);
        queue.setFieldText(field(page::BaudRate), page.baudRate);
        queue.setFieldInt(field(page::MessageSize), page.messageSize);
        queue.setFieldText(field(page::MessageToSend), page.messageToSend);
        if (page.isGroup)
            queue.setFieldBool(field(page::IsGroup), true);
        queue.setFieldText(field(page::UserOrGroupName), page.userOrGroupName);
        queue.setFieldInt(field(page::Retries), page.retries);
        queue.post();
    } catch (const store::StoreError&) {
        queue.cancel();
        throw;
    }
}

Page currentPage(const store::TMemTable& queue)
{
    Page page;
    page.networkPhone = queue.fieldText(field(page::NetworkPhone));
    page.pagerPhone = queue.fieldText(field(page::PagerPhone));
    page.baudRate = queue.fieldText(field(page::BaudRate));
    page.messageSize = queue.fieldInt(field(page::MessageSize));
    page.messageToSend = queue.fieldText(field(page::MessageToSend));
    page.isGroup = queue.fieldBool(field(page::IsGroup));
    page.userOrGroupName = queue.fieldText(field(page::UserOrGroupName));
    page.retries = queue.fieldInt(field(page::Retries));
    return page;
}

Page pageAt(const store::TMemTable& queue, int row)
{
    auto value = [&](const char* name) { return queue.value(row, queue.fieldIndex(QString::fromLatin1(name))); };
    Page page;
    page.networkPhone = value(page::NetworkPhone).toString();
    page.pagerPhone = value(page::PagerPhone).toString();
    page.baudRate = value(page::BaudRate).toString();
    page.messageSize = value(page::MessageSize).toInt();
    page.messageToSend = value(page::MessageToSend).toString();
    page.isGroup = value(page::IsGroup).toBool();
    page.userOrGroupName = value(page::UserOrGroupName).toString();
    page.retries = value(page::Retries).toInt();
    return page;
}

void loadPage(const Page& page, paging::TPageEngine& engine)
{
    engine.MessageToSend = page.messageToSend;
    engine.NetworkPhone = page.networkPhone;
    engine.PagerPhone = page.pagerPhone;
    engine.MessageSize = page.messageSize;
    engine.BaudRate = page.baudRate;
}

} // namespace core
