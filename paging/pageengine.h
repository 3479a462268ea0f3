#pragma once

#include "deliverypath.h"
#include "wctpdelivery.h"

#include <QList>
#include <QObject>
#include <QString>

#include <functional>

namespace paging {

// The paging component: one page at a time through the paging library. Set the properties, call
// Send(); the library's status events raise OnStatus and its finished event OnFinished. A handler is
// "assigned" when the std::function holds a target; the signals are emitted as well.
class TPageEngine : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString BaudRate MEMBER BaudRate)
    Q_PROPERTY(QString ComPort MEMBER ComPort)
    Q_PROPERTY(QString Debugfile MEMBER Debugfile)
    Q_PROPERTY(QString dial_initstr MEMBER dial_initstr)
    Q_PROPERTY(QString Modem_initstr MEMBER Modem_initstr)
    Q_PROPERTY(QString MessageToSend MEMBER MessageToSend)
    Q_PROPERTY(qint32 MessageSize MEMBER MessageSize)
    Q_PROPERTY(QString NetworkPhone MEMBER NetworkPhone)
    Q_PROPERTY(QString PagerPhone MEMBER PagerPhone)
    Q_PROPERTY(qint32 StatusCode READ statusCode)
    Q_PROPERTY(QString StatusText READ statusText)

public:
    using Handler = std::function<void(TPageEngine* sender)>;
    using ErrorReporter = std::function<void(const QString& message)>;

    static constexpr int StatusMessageId = 1363;
    static constexpr int FinishedMessageId = 1364;
    static constexpr int kWaitPolls = 40;
    static constexpr int kWaitPollMs = 250;

    explicit TPageEngine(QObject* parent = nullptr);
    ~TPageEngine() override;

    // Events, in the order the component lists them.
    Handler OnAbort;
    Handler OnFinished;
    Handler OnInitError;
    Handler OnStatus;

    QString BaudRate = QStringLiteral("300");
    QString ComPort = QStringLiteral("TAPI");
    QString Debugfile;
    QString dial_initstr;
    QString Modem_initstr;
    QString MessageToSend = QStringLiteral("Put Message Here ");
    qint32 MessageSize = 80;
    QString NetworkPhone;
    QString PagerPhone;
    // A WCTP carrier (http:// or https:// URL) in place of the port and modem; its LOGIN and PASSWORD.
    // ComPort then only names the page.
    QString WctpUrl;
    QString WctpLogin;
    QString WctpPassword;

    // The carrier's paths in the order they are tried within one attempt (see deliverypath.h). Empty:
    // the port, modem and WCTP properties above alone say how the page goes. Set: they go through the
    // paths (MODEM stands for ComPort, NetworkPhone and the modem strings); ComPort still names the page.
    QList<DeliveryPath> Paths;

    // After a WCTP page has finished: the tracking number of every page accepted.
    QStringList trackingNumbers() const;
    QList<WctpTicket> wctpTickets() const;
    // After the page has finished: the path that delivered it (describe(), e.g. "SNPP host:444"), or
    // after a failure the path the attempt ended on; empty when the page had no paths.
    QString deliveredVia() const;
    // After a failed page: it may have been delivered all the same (paging::mayHaveDelivered()).
    bool mayHaveBeenDelivered() const;

    qint32 statusCode() const { return m_statusCode; }
    QString statusText() const { return m_statusText; }

    virtual void Send();
    void Abort();

    // Where errors raised inside event handlers go (default: qWarning). Returns the previous one.
    static ErrorReporter setErrorReporter(ErrorReporter reporter);

signals:
    void aborted();
    void finished();
    void initError();
    void statusChanged();

protected:
    bool event(QEvent* e) override;

private:
    void onStatusMessage();
    void onFinishedMessage();
    int pollStatus(); // GetPageStatus into StatusCode/StatusText
    void raise(const Handler& handler, void (TPageEngine::*signal)(), const char* name);
    // The name the library knows the page by: the port, or for paths without a modem and no port
    // set, a name of their own.
    QByteArray key() const;

    qint32 m_statusCode = 0;
    QString m_statusText;
};

} // namespace paging
