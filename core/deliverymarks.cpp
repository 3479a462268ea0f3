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

QList<QByteArray> DeliveryMarks::fingerprints(const store::TMemTable& queue)
{
    QList<QByteArray> prints;
    prints.reserve(queue.rowCount());
    for (int row = 0; row < queue.rowCount(); ++row)
        prints << fingerprint(pageAt(queue, row));
    return prints;
}

void DeliveryMarks::read(const QByteArray& sideFileText)
{
    marks_.clear();
    for (const QByteArray& line : sideFileText.split('\n')) {
        const QByteArray mark = line.trimmed();
        if (mark.size() == 40)
            marks_.insert(mark);
    }
}

void DeliveryMarks::load(const QString& sideFilePath)
{
    const store::WholeFile file = store::readWholeFile(sideFilePath, kSideFileLimit, false);
    read(file.read() ? file.bytes : QByteArray());
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

QByteArray DeliveryMarks::textFor(const QList<QByteArray>& fingerprints) const
{
    QByteArray text;
    for (const QByteArray& print : fingerprints) {
        if (marks_.contains(print))
            text += print + '\n';
    }
    return text;
}

} // namespace core
