#include "wctpserver.h"

#include "exchange.h"
#include "faults.h"

#include <QDateTime>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QTimer>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

namespace pagersim {

namespace {

const QString kVersion = QStringLiteral("wctp-dtd-v1r3");

// What the client asked for, read from its document.
struct Operation {
    // "submit", "query", "versionquery", or empty when the document is no operation this server takes
    QString kind;
    QString problem; // why not
    QString senderId;
    QString authorizationCode;
    QString recipientId;
    QString text;
    QString trackingNumber;
    QString inquirer;
};

Operation readOperation(const QByteArray& body)
{
    Operation op;
    QXmlStreamReader r(body);
    bool root = false;
    while (!r.atEnd()) {
        r.readNext();
        if (!r.isStartElement())
            continue;
        const auto name = r.name();
        const auto attr = [&r](const char* a) { return r.attributes().value(QLatin1String(a)).toString(); };
        if (!root) {
            root = true;
            if (name != u"wctp-Operation") {
                op.problem = QStringLiteral("root is not wctp-Operation");
                return op;
            }
            if (attr("wctpVersion") != kVersion) {
                op.problem = QStringLiteral("wctpVersion \"%1\"").arg(attr("wctpVersion"));
                op.kind = QStringLiteral("version");
                return op;
            }
        } else if (name == u"wctp-SubmitClientMessage") {
            op.kind = QStringLiteral("submit");
        } else if (name == u"wctp-ClientOriginator") {
            op.senderId = attr("senderID");
        } else if (name == u"wctp-Recipient") {
            op.recipientId = attr("recipientID");
            op.authorizationCode = attr("authorizationCode");
        } else if (name == u"wctp-Alphanumeric") {
            op.text = r.readElementText();
        } else if (name == u"wctp-ClientQuery") {
            op.kind = QStringLiteral("query");
            op.senderId = attr("senderID");
            op.recipientId = attr("recipientID");
            op.trackingNumber = attr("trackingNumber");
        } else if (name == u"wctp-VersionQuery") {
            op.kind = QStringLiteral("versionquery");
            op.inquirer = attr("inquirer");
        }
    }
    if (r.hasError()) {
        op.kind.clear();
        op.problem = QStringLiteral("not XML: %1").arg(r.errorString());
    } else if (op.kind.isEmpty()) {
        op.problem = QStringLiteral("no operation this server takes");
    }
    return op;
}

QByteArray document(const std::function<void(QXmlStreamWriter&)>& content)
{
    QByteArray out;
    QXmlStreamWriter w(&out);
    w.writeStartDocument();
    w.writeStartElement(QStringLiteral("wctp-Operation"));
    w.writeAttribute(QStringLiteral("wctpVersion"), kVersion);
    content(w);
    w.writeEndElement();
    w.writeEndDocument();
    return out;
}

void writeFailure(QXmlStreamWriter& w, int code, const QString& text)
{
    w.writeStartElement(QStringLiteral("wctp-Failure"));
    w.writeAttribute(QStringLiteral("errorCode"), QString::number(code));
    w.writeAttribute(QStringLiteral("errorText"), text);
    w.writeCharacters(text);
    w.writeEndElement();
}

QByteArray httpResponse(int status, const QByteArray& reason, const QByteArray& body)
{
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason + "\r\nContent-Type: text/xml; charset=utf-8"
        + "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

// One connection: a request read whole, one answer, closed.
class WctpCall : public QObject {
public:
    WctpCall(QTcpSocket* socket, Exchange* exchange, WctpServer* server)
        : QObject(server)
        , m_socket(socket)
        , m_exchange(exchange)
        , m_server(server)
    {
        m_socket->setParent(this);
        m_call = m_exchange->beginCall();
        m_faults = m_exchange->faultsFor(m_call);
        m_exchange->record(m_call,
            { { QStringLiteral("event"), QStringLiteral("connect") }, { QStringLiteral("via"), QStringLiteral("wctp") } });
        connect(m_socket, &QTcpSocket::readyRead, this, &WctpCall::readAvailable);
        connect(m_socket, &QTcpSocket::disconnected, this, &WctpCall::onDisconnected);
        m_idle.setSingleShot(true);
        connect(&m_idle, &QTimer::timeout, this, [this] { m_socket->abort(); onDisconnected(); });
        m_idle.start(WctpServer::kIdleTimeoutMs);
        readAvailable();
    }

    bool isDrained() const { return !m_socket || m_socket->bytesToWrite() == 0; }

private:
    void readAvailable()
    {
        if (m_answered)
            return;
        m_buffer += m_socket->readAll();
        if (!m_buffer.isEmpty() && !(m_buffer.at(0) >= 'A' && m_buffer.at(0) <= 'Z'))
            return answerHttp(400, "Bad Request"); // no request line (a TLS hello on this plain port)
        const qsizetype headerEnd = m_buffer.indexOf("\r\n\r\n");
        if (headerEnd < 0) {
            if (m_buffer.size() > WctpServer::kMaxHeaderBytes)
                answerHttp(431, "Request Header Fields Too Large");
            return;
        }
        const QList<QByteArray> lines = m_buffer.left(headerEnd).split('\n');
        const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
        qint64 length = -1;
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines.at(i).trimmed();
            const qsizetype colon = line.indexOf(':');
            if (colon > 0 && line.left(colon).trimmed().toLower() == "content-length")
                length = line.mid(colon + 1).trimmed().toLongLong();
        }
        if (requestLine.size() != 3 || !requestLine.at(2).startsWith("HTTP/1."))
            return answerHttp(400, "Bad Request");
        if (requestLine.at(0) != "POST")
            return answerHttp(405, "Method Not Allowed");
        if (requestLine.at(1) != "/wctp")
            return answerHttp(404, "Not Found");
        if (length < 0)
            return answerHttp(411, "Length Required");
        if (length > WctpServer::kMaxBodyBytes)
            return answerHttp(413, "Content Too Large");
        if (m_buffer.size() - headerEnd - 4 < length)
            return; // the rest of the body is still on its way
        answer(m_buffer.mid(headerEnd + 4, length));
    }

    void answerHttp(int status, const QByteArray& reason)
    {
        send(httpResponse(status, reason, QByteArray()));
    }

    void answer(const QByteArray& body)
    {
        m_answered = true;
        if (m_faults.closeUnanswered) {
            m_socket->abort();
            onDisconnected();
            return;
        }
        if (m_faults.silentTerminal)
            return; // the request is read; no answer ever comes
        if (m_faults.garbage) {
            QByteArray noise; // printable bytes, never markup: an HTTP answer whose body is no XML
            auto* random = QRandomGenerator::global();
            for (int i = random->bounded(40, 400); i > 0; --i) {
                const char c = char(random->bounded(0x21, 0x7F));
                noise += c == '<' ? '#' : c;
            }
            send(httpResponse(200, "OK", noise));
            return;
        }
        const Operation op = readOperation(body);
        if (op.kind == u"submit")
            send(httpResponse(200, "OK", submit(op)));
        else if (op.kind == u"query")
            send(httpResponse(200, "OK", query(op)));
        else if (op.kind == u"versionquery")
            send(httpResponse(200, "OK", version(op)));
        else
            send(httpResponse(200, "OK", document([&op](QXmlStreamWriter& w) {
                w.writeStartElement(QStringLiteral("wctp-Confirmation"));
                writeFailure(w, op.kind == u"version" ? 303 : 301, op.problem);
                w.writeEndElement();
            })));
    }

    QByteArray submitFailure(int code, const QString& text)
    {
        return document([&](QXmlStreamWriter& w) {
            w.writeStartElement(QStringLiteral("wctp-SubmitClientResponse"));
            writeFailure(w, code, text);
            w.writeEndElement();
        });
    }

    QByteArray submit(const Operation& op)
    {
        const bool accepted = !op.senderId.isEmpty() && !m_faults.badPassword
            && (m_exchange->password.isNull() || op.authorizationCode == m_exchange->password);
        m_exchange->record(m_call,
            { { QStringLiteral("event"), QStringLiteral("login") }, { QStringLiteral("sender"), op.senderId },
                { QStringLiteral("password"), op.authorizationCode }, { QStringLiteral("accepted"), accepted } });
        if (op.senderId.isEmpty())
            return submitFailure(401, QStringLiteral("Invalid senderID"));
        if (!accepted)
            return submitFailure(404, QStringLiteral("Invalid authorizationCode"));
        if (op.recipientId.isEmpty() || m_faults.invalidIds.contains(op.recipientId)) {
            m_exchange->record(m_call,
                { { QStringLiteral("event"), QStringLiteral("refused") }, { QStringLiteral("id"), op.recipientId },
                    { QStringLiteral("reason"), QStringLiteral("invalid id") } });
            return submitFailure(403, QStringLiteral("Invalid recipientID"));
        }
        if (m_faults.wctpFailCode > 0) {
            m_exchange->record(m_call,
                { { QStringLiteral("event"), QStringLiteral("refused") }, { QStringLiteral("id"), op.recipientId },
                    { QStringLiteral("reason"), QStringLiteral("wctp %1").arg(m_faults.wctpFailCode) } });
            return submitFailure(m_faults.wctpFailCode, QStringLiteral("Refused by fault"));
        }
        const QString tracking = m_server->issue();
        ++m_pages;
        m_exchange->record(m_call,
            { { QStringLiteral("event"), QStringLiteral("page") }, { QStringLiteral("id"), op.recipientId },
                { QStringLiteral("text"), op.text }, { QStringLiteral("tracking"), tracking } });
        return document([&](QXmlStreamWriter& w) {
            w.writeStartElement(QStringLiteral("wctp-SubmitClientResponse"));
            w.writeStartElement(QStringLiteral("wctp-ClientSuccess"));
            w.writeAttribute(QStringLiteral("successCode"), QStringLiteral("200"));
            w.writeAttribute(QStringLiteral("successText"), QStringLiteral("Accepted"));
            w.writeAttribute(QStringLiteral("trackingNumber"), tracking);
            w.writeCharacters(QStringLiteral("Accepted"));
            w.writeEndElement();
            w.writeEndElement();
        });
    }

    QByteArray query(const Operation& op)
    {
        const QString state = m_server->stateOf(op.trackingNumber);
        m_exchange->record(m_call,
            { { QStringLiteral("event"), QStringLiteral("query") }, { QStringLiteral("tracking"), op.trackingNumber },
                { QStringLiteral("state"), state.isEmpty() ? QStringLiteral("unknown") : state } });
        return document([&](QXmlStreamWriter& w) {
            w.writeStartElement(QStringLiteral("wctp-ClientQueryResponse"));
            if (m_server->pollMinutes() > 0)
                w.writeAttribute(QStringLiteral("minNextPollInterval"), QString::number(m_server->pollMinutes()));
            if (state.isEmpty()) {
                writeFailure(w, 500, QStringLiteral("Unknown trackingNumber"));
            } else {
                w.writeStartElement(QStringLiteral("wctp-ClientMessage"));
                w.writeStartElement(QStringLiteral("wctp-ClientStatusInfo"));
                w.writeStartElement(QStringLiteral("wctp-ClientResponseHeader"));
                w.writeAttribute(QStringLiteral("responseTimestamp"),
                    QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs));
                w.writeEmptyElement(QStringLiteral("wctp-Originator"));
                w.writeAttribute(QStringLiteral("senderID"), op.senderId);
                w.writeEmptyElement(QStringLiteral("wctp-Recipient"));
                w.writeAttribute(QStringLiteral("recipientID"), op.recipientId);
                w.writeEndElement();
                w.writeEmptyElement(QStringLiteral("wctp-Notification"));
                w.writeAttribute(QStringLiteral("type"), state);
                w.writeEndElement();
                w.writeEndElement();
            }
            w.writeEndElement();
        });
    }

    // What this server is and the one WCTP version it takes; no credentials are asked for.
    QByteArray version(const Operation& op)
    {
        m_exchange->record(m_call,
            { { QStringLiteral("event"), QStringLiteral("versionquery") },
                { QStringLiteral("inquirer"), op.inquirer } });
        return document([&](QXmlStreamWriter& w) {
            w.writeStartElement(QStringLiteral("wctp-VersionResponse"));
            w.writeAttribute(QStringLiteral("responder"), QStringLiteral("pagersim"));
            w.writeAttribute(QStringLiteral("inquirer"), op.inquirer);
            w.writeEmptyElement(QStringLiteral("wctp-DTDSupport"));
            w.writeAttribute(QStringLiteral("dtdName"), kVersion);
            w.writeAttribute(QStringLiteral("supportType"), QStringLiteral("Supported"));
            w.writeEndElement();
        });
    }

    void send(const QByteArray& bytes)
    {
        m_answered = true;
        m_idle.stop();
        const auto write = [this, bytes] {
            if (m_ended)
                return;
            m_socket->write(bytes);
            m_socket->disconnectFromHost(); // sends what is buffered first
        };
        if (m_faults.slowAckMs > 0)
            QTimer::singleShot(m_faults.slowAckMs, this, write);
        else
            write();
    }

    void onDisconnected()
    {
        if (!m_ended) {
            m_ended = true;
            m_exchange->endCall(m_call, m_pages);
        }
        deleteLater();
    }

    QTcpSocket* m_socket;
    Exchange* m_exchange;
    WctpServer* m_server;
    CallFaults m_faults;
    QByteArray m_buffer;
    QTimer m_idle;
    int m_call = 0;
    int m_pages = 0;
    bool m_answered = false;
    bool m_ended = false;
};

} // namespace

WctpServer::WctpServer(Exchange* exchange, QObject* parent)
    : QObject(parent)
    , m_exchange(exchange)
{
    connect(&m_server, &QTcpServer::newConnection, this, &WctpServer::acceptCalls);
}

bool WctpServer::listen(quint16 port, QString* error)
{
    if (!m_server.listen(QHostAddress::LocalHost, port)) {
        *error = QStringLiteral("cannot listen on 127.0.0.1:%1: %2").arg(port).arg(m_server.errorString());
        return false;
    }
    return true;
}

void WctpServer::setDelays(int deliveredMs, int readMs)
{
    m_deliveredMs = deliveredMs;
    m_readMs = readMs;
}

bool WctpServer::isDrained() const
{
    return std::all_of(m_calls.cbegin(), m_calls.cend(), [](const QPointer<QObject>& call) {
        return !call || static_cast<WctpCall*>(call.data())->isDrained();
    });
}

QString WctpServer::issue()
{
    const QString number = m_trackingPrefix + QStringLiteral("W%1").arg(++m_issued, 6, 10, QLatin1Char('0'));
    m_tracking[number].start();
    return number;
}

QString WctpServer::stateOf(const QString& trackingNumber) const
{
    const auto it = m_tracking.constFind(trackingNumber);
    if (it == m_tracking.cend())
        return QString();
    const qint64 age = it->elapsed();
    if (m_deliveredMs < 0 || age < m_deliveredMs)
        return QStringLiteral("QUEUED");
    if (m_readMs >= 0 && age >= m_readMs)
        return QStringLiteral("READ");
    return QStringLiteral("DELIVERED");
}

void WctpServer::acceptCalls()
{
    m_calls.removeAll(QPointer<QObject>());
    while (QTcpSocket* socket = m_server.nextPendingConnection())
        m_calls.append(new WctpCall(socket, m_exchange, this));
}

} // namespace pagersim

#include "moc_wctpserver.cpp"
