#include "wctpmessage.h"

#include "pagestatus.h"

#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <functional>

namespace paging::wctp {

namespace {

// A wctp-Operation document whose content `body` writes.
QByteArray operation(const std::function<void(QXmlStreamWriter&)>& body)
{
    QByteArray out;
    QXmlStreamWriter w(&out);
    w.writeStartDocument();
    w.writeStartElement(QStringLiteral("wctp-Operation"));
    w.writeAttribute(QStringLiteral("wctpVersion"), QLatin1String(kVersion));
    body(w);
    w.writeEndDocument();
    return out;
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

// A wctp-Failure's errorCode and errorText (its content when the attribute is missing); false (with
// the reason) when the code is no number.
bool readFailure(QXmlStreamReader& r, int* code, QString* text, QString* problem)
{
    bool ok = false;
    *code = attribute(r, "errorCode").trimmed().toInt(&ok);
    *text = attribute(r, "errorText");
    if (!ok)
        *problem = QStringLiteral("wctp-Failure without a numeric errorCode");
    else if (text->isEmpty())
        *text = r.readElementText().trimmed();
    return ok;
}

// Hands each element below the root to `element`, which returns false to give the document up (its
// reason said); false too when the body is no whole wctp-Operation document.
bool readElements(
    const QByteArray& body, QString* problem, const std::function<bool(QXmlStreamReader&)>& element)
{
    QXmlStreamReader r(body);
    if (!openOperation(r, problem))
        return false;
    while (!r.atEnd() && !r.hasError()) {
        r.readNext();
        if (r.isStartElement() && !element(r))
            return false;
    }
    return finish(r, problem);
}

} // namespace

QByteArray writeSubmit(const Submit& s)
{
    return operation([&s](QXmlStreamWriter& w) {
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
    });
}

QByteArray writeQuery(const Query& q)
{
    return operation([&q](QXmlStreamWriter& w) {
        w.writeEmptyElement(QStringLiteral("wctp-ClientQuery"));
        w.writeAttribute(QStringLiteral("senderID"), xmlSafe(q.senderId));
        w.writeAttribute(QStringLiteral("recipientID"), xmlSafe(q.recipientId));
        w.writeAttribute(QStringLiteral("trackingNumber"), xmlSafe(q.trackingNumber));
    });
}

QByteArray writeVersionQuery(const QString& inquirer)
{
    return operation([&inquirer](QXmlStreamWriter& w) {
        w.writeEmptyElement(QStringLiteral("wctp-VersionQuery"));
        w.writeAttribute(QStringLiteral("inquirer"), xmlSafe(inquirer));
        w.writeAttribute(QStringLiteral("dateTime"),
            QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")));
    });
}

VersionAnswer readVersionAnswer(const QByteArray& body)
{
    VersionAnswer a;
    bool found = false;
    const bool read = readElements(body, &a.problem, [&](QXmlStreamReader& r) {
        const auto name = r.name();
        if (name == u"wctp-VersionResponse") {
            found = true;
            a.responder = attribute(r, "responder").trimmed();
        } else if (name == u"wctp-DTDSupport") {
            const QString dtd = attribute(r, "dtdName").trimmed();
            const QString support = attribute(r, "supportType").trimmed();
            if (!dtd.isEmpty())
                a.dtds << (support.isEmpty() ? dtd : QStringLiteral("%1 (%2)").arg(dtd, support));
        } else if (name == u"wctp-Failure" && !found) {
            // A server that takes no version query says so with a failure (in a wctp-Confirmation).
            found = true;
            return readFailure(r, &a.errorCode, &a.errorText, &a.problem);
        }
        return true;
    });
    if (!read)
        return a;
    if (!found) {
        a.problem = QStringLiteral("no wctp-VersionResponse or wctp-Failure in the answer");
        return a;
    }
    a.wellFormed = true;
    return a;
}

SubmitAnswer readSubmitAnswer(const QByteArray& body)
{
    SubmitAnswer a;
    bool inAnswer = false; // inside wctp-SubmitClientResponse or wctp-Confirmation
    bool found = false;
    const bool read = readElements(body, &a.problem, [&](QXmlStreamReader& r) {
        const auto name = r.name();
        if (name == u"wctp-SubmitClientResponse" || name == u"wctp-Confirmation") {
            inAnswer = true;
        } else if (inAnswer && !found && (name == u"wctp-ClientSuccess" || name == u"wctp-Success")) {
            found = true;
            a.success = true;
            a.trackingNumber = attribute(r, "trackingNumber").trimmed();
        } else if (inAnswer && !found && name == u"wctp-Failure") {
            found = true;
            return readFailure(r, &a.errorCode, &a.errorText, &a.problem);
        }
        return true;
    });
    if (!read)
        return a;
    if (!found) {
        a.problem = QStringLiteral("no wctp-ClientSuccess or wctp-Failure in the answer");
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
    bool inResponse = false;
    bool found = false;
    const bool read = readElements(body, &a.problem, [&](QXmlStreamReader& r) {
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
                return false;
            }
            found = true;
        } else if (inResponse && !found && name == u"wctp-Failure") {
            if (!readFailure(r, &a.errorCode, &a.errorText, &a.problem))
                return false;
            a.state = Delivery::Failed;
            found = true;
        }
        return true;
    });
    if (!read)
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
