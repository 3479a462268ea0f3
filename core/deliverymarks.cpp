#include "core/deliverymarks.h"

#include "core/page.h"
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

QByteArray DeliveryMarks::textFor(const QList<Page>& pages) const
{
    QByteArray text;
    for (const Page& page : pages) {
        const QByteArray mark = fingerprint(page);
        if (marks_.contains(mark))
            text += mark + '\n';
    }
    return text;
}

} // namespace core
