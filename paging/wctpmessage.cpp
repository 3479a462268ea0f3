#include "wctpmessage.h"

#include "pagestatus.h"

#include <QXmlStreamReader>
#include <QXmlStreamWriter>

namespace paging::wctp {

namespace {

void begin(QXmlStreamWriter& w)
{
    w.writeStartDocument();
    w.writeStartElement(QStringLiteral("wctp-Operation"));
    w.writeAttribute(QStringLiteral("wctpVersion"), QLatin1String(kVersion));
}

// Characters XML 1.0 cannot carry at all (most controls below 0x20, U+FFFE, U+FFFF) would make the
// document ill-formed; they go as blanks. Tab, LF and CR are kept.
QString xmlSafe(const QString& text)
{
    QString out = text;
    for (QChar& c : out)
        if ((c.unicode() < 0x20 && c != u'\t' && c != u'\n' && c != u'\r') || c.unicode() >= 0xFFFE)
            c = u' ';
    return out;
}

QString attribute(const QXmlStreamReader& r, const char* name)
{
    return r.attributes().value(QLatin1String(name)).toString();
}

// Reads up to the root element; false (with the reason) when the body is no wctp-Operation.
bool openOperation(QXmlStreamReader& r, QString* problem)
{
    while (!r.atEnd()) {
        r.readNext();
        if (r.isStartElement()) {
            if (r.name() == u"wctp-Operation")
                return true;
            *problem = QStringLiteral("root element %1, not wctp-Operation").arg(r.name().toString());
            return false;
        }
    }
    *problem = r.hasError() ? QStringLiteral("not XML: %1").arg(r.errorString()) : QStringLiteral("empty answer");
    return false;
}

// The rest of the document must parse too: a truncated answer is no answer.
bool finish(QXmlStreamReader& r, QString* problem)
{
    while (!r.atEnd())
        r.readNext();
    if (r.hasError() && r.error() != QXmlStreamReader::NoError) {
        *problem = QStringLiteral("not XML: %1").arg(r.errorString());
        return false;
    }
    return true;
}

} // namespace

QByteArray writeSubmit(const Submit& s)
{
    QByteArray out;
    QXmlStreamWriter w(&out);
    begin(w);
    w.writeStartElement(QStringLiteral("wctp-SubmitClientMessage"));
    w.writeStartElement(QStringLiteral("wctp-SubmitClientHeader"));
    w.writeStartElement(QStringLiteral("wctp-ClientOriginator"));
    w.writeAttribute(QStringLiteral("senderID"), xmlSafe(s.senderId));
    w.writeEndElement();
    w.writeEmptyElement(QStringLiteral("wctp-Recipient"));
    w.writeAttribute(QStringLiteral("recipientID"), xmlSafe(s.recipientId));
    if (!s.authorizationCode.isEmpty())
        w.writeAttribute(QStringLiteral("authorizationCode"), xmlSafe(s.authorizationCode));
    w.writeEndElement(); // header
    w.writeStartElement(QStringLiteral("wctp-Payload"));
    w.writeTextElement(QStringLiteral("wctp-Alphanumeric"), xmlSafe(s.text));
    w.writeEndElement();
    w.writeEndElement(); // submit
    w.writeEndDocument();
    return out;
}

QByteArray writeQuery(const Query& q)
{
    QByteArray out;
    QXmlStreamWriter w(&out);
    begin(w);
    w.writeEmptyElement(QStringLiteral("wctp-ClientQuery"));
    w.writeAttribute(QStringLiteral("senderID"), xmlSafe(q.senderId));
    w.writeAttribute(QStringLiteral("recipientID"), xmlSafe(q.recipientId));
    w.writeAttribute(QStringLiteral("trackingNumber"), xmlSafe(q.trackingNumber));
    w.writeEndDocument();
    return out;
}

SubmitAnswer readSubmitAnswer(const QByteArray& body)
{
    SubmitAnswer a;
    QXmlStreamReader r(body);
    if (!openOperation(r, &a.problem))
        return a;
    bool inAnswer = false; // inside wctp-SubmitClientResponse or wctp-Confirmation
    bool found = false;
    while (!r.atEnd() && !r.hasError()) {
        r.readNext();
        if (!r.isStartElement())
            continue;
        const auto name = r.name();
        if (name == u"wctp-SubmitClientResponse" || name == u"wctp-Confirmation") {
            inAnswer = true;
        } else if (inAnswer && !found && (name == u"wctp-ClientSuccess" || name == u"wctp-Success")) {
            found = true;
            a.success = true;
            a.trackingNumber = attribute(r, "trackingNumber").trimmed();
        } else if (inAnswer && !found && name == u"wctp-Failure") {
            found = true;
            bool ok = false;
            a.errorCode = attribute(r, "errorCode").trimmed().toInt(&ok);
            a.errorText = attribute(r, "errorText");
            if (a.errorText.isEmpty())
                a.errorText = r.readElementText().trimmed();
            if (!ok) {
                a.problem = QStringLiteral("wctp-Failure without a numeric errorCode");
                return a;
            }
        }
    }
    if (!finish(r, &a.problem))
        return a;
    if (!found) {
        a.problem = QStringLiteral("no wctp-ClientSuccess or wctp-Failure in the answer");
        return a;
    }
    if (a.success && a.trackingNumber.isEmpty()) {
        a.problem = QStringLiteral("wctp-ClientSuccess without a trackingNumber");
        return a;
    }
    a.wellFormed = true;
    return a;
}

QString deliveryName(Delivery d)
{
    switch (d) {
    case Delivery::Queued:
        return QStringLiteral("QUEUED");
    case Delivery::Delivered:
        return QStringLiteral("DELIVERED");
    case Delivery::Read:
        return QStringLiteral("READ");
    case Delivery::Failed:
        return QStringLiteral("FAILED");
    case Delivery::Unknown:
        break;
    }
    return QStringLiteral("UNKNOWN");
}

QueryAnswer readQueryAnswer(const QByteArray& body)
{
    QueryAnswer a;
    QXmlStreamReader r(body);
    if (!openOperation(r, &a.problem))
        return a;
    bool inResponse = false;
    bool found = false;
    while (!r.atEnd() && !r.hasError()) {
        r.readNext();
        if (!r.isStartElement())
            continue;
        const auto name = r.name();
        if (name == u"wctp-ClientQueryResponse" || name == u"wctp-Confirmation") {
            inResponse = true;
            bool ok = false;
            const int minutes = attribute(r, "minNextPollInterval").trimmed().toInt(&ok);
            if (ok && minutes > 0)
                a.nextPollSeconds = minutes * 60;
        } else if (inResponse && (name == u"wctp-ClientResponseHeader" || name == u"wctp-ResponseHeader")) {
            const QString stamp = attribute(r, "responseTimestamp").trimmed();
            if (!stamp.isEmpty())
                a.when = QDateTime::fromString(stamp, Qt::ISODateWithMs);
        } else if (inResponse && !found && name == u"wctp-Notification") {
            const QString type = attribute(r, "type").trimmed().toUpper();
            if (type == u"QUEUED")
                a.state = Delivery::Queued;
            else if (type == u"DELIVERED")
                a.state = Delivery::Delivered;
            else if (type == u"READ")
                a.state = Delivery::Read;
            else {
                a.problem = QStringLiteral("unknown notification type \"%1\"").arg(type);
                return a;
            }
            found = true;
        } else if (inResponse && !found && name == u"wctp-Failure") {
            bool ok = false;
            a.errorCode = attribute(r, "errorCode").trimmed().toInt(&ok);
            a.errorText = attribute(r, "errorText");
            if (!ok) {
                a.problem = QStringLiteral("wctp-Failure without a numeric errorCode");
                return a;
            }
            a.state = Delivery::Failed;
            found = true;
        }
    }
    if (!finish(r, &a.problem))
        return a;
    if (!inResponse) {
        a.problem = QStringLiteral("no wctp-ClientQueryResponse in the answer");
        return a;
    }
    a.wellFormed = true; // a response with nothing in it yet: state Unknown
    return a;
}

int failureStatus(int errorCode)
{
    if (errorCode == 401 || errorCode == 402 || errorCode == 404)
        return LoginRefused;
    if (errorCode == 403)
        return InvalidPagerId;
    if (errorCode >= 600)
        return WctpServerBusy;
    return WctpRefused;
}

} // namespace paging::wctp
