#include "core/deliverymarks.h"

#include "core/page.h"
#include "store/memtable.h"
#include "store/regularfile.h"

#include <QCryptographicHash>
#include <QList>

namespace core {

QByteArray DeliveryMarks::fingerprint(const Page& page)
{
    QCryptographicHash hash(QCryptographicHash::Sha1);
    for (const QString& part : { page.networkPhone, page.pagerPhone, page.baudRate,
             QString::number(page.messageSize), page.messageToSend, page.userOrGroupName }) {
        hash.addData(part.toUtf8());
        hash.addData(QByteArrayView("\0", 1));
    }
    return hash.result().toHex();
}

QString DeliveryMarks::sideFilePath(const QString& pendingPath)
{
    return pendingPath + QStringLiteral(".maybe");
}

void DeliveryMarks::load(const QString& sideFilePath)
{
    marks_.clear();
    const store::WholeFile file = store::readWholeFile(sideFilePath, 4 * store::kMiB, false);
    if (!file.read())
        return;
    for (const QByteArray& line : file.bytes.split('\n')) {
        const QByteArray mark = line.trimmed();
        if (mark.size() == 40)
            marks_.insert(mark);
    }
}

QList<Page> DeliveryMarks::markedPages(const store::TMemTable& queue) const
{
    QList<Page> marked;
    for (int row = 0; !marks_.isEmpty() && row < queue.rowCount(); ++row) {
        const Page page = pageAt(queue, row);
        if (contains(page))
            marked << page;
    }
    return marked;
}

QByteArray DeliveryMarks::textFor(const store::TMemTable& queue) const
{
    QByteArray text;
    for (const Page& page : markedPages(queue))
        text += fingerprint(page) + '\n';
    return text;
}

} // namespace core
