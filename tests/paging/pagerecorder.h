#pragma once

// A receiver for the paging library's events, as a window would be: on each status event it reads the
// status (GetPageStatus), on the finished event it reads the final one.

#include "paging/pagingapi.h"

#include <QElapsedTimer>
#include <QEvent>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>

class PageRecorder : public QObject {
public:
    static constexpr int kStatusId = 1363;
    static constexpr int kFinishedId = 1364;

    explicit PageRecorder(QByteArray port)
        : port(std::move(port))
    {
    }
    ~PageRecorder() override { paging::detachReceiver(this); }

    QByteArray port;
    QList<QPair<int, QString>> statuses;
    bool finished = false;
    int finishedCount = 0;
    int finalCode = -1;
    QString finalText;
    int finalReturn = -1;
    qint64 finishedAfterMs = -1;
    QElapsedTimer clock;

    int start(const QString& baud, const QString& init, const QString& dial, const QString& network,
        const QString& pager, int size, const QString& message, const QString& debug = QString(),
        QByteArray* result = nullptr)
    {
        char buffer[paging::kResultBufferSize];
        std::memset(buffer, 'x', sizeof buffer);
        clock.start();
        const int rc = StartPage(port.constData(), baud.toUtf8().constData(), init.toUtf8().constData(),
            dial.toUtf8().constData(), network.toUtf8().constData(), pager.toUtf8().constData(),
            QByteArray::number(size).constData(), message.toUtf8().constData(), debug.toUtf8().constData(),
            buffer, this, kStatusId, kFinishedId);
        if (result)
            *result = QByteArray(buffer, sizeof buffer);
        return rc;
    }

    int startWctp(const paging::WctpTarget& target, const QString& pager, int size, const QString& message)
    {
        char buffer[paging::kResultBufferSize];
        clock.start();
        return paging::startWctpPage(port.constData(), target, pager.toUtf8().constData(),
            QByteArray::number(size).constData(), message.toUtf8().constData(), "", buffer, this, kStatusId,
            kFinishedId);
    }

    QStringList texts() const
    {
        QStringList out;
        for (const auto& s : statuses)
            out.append(s.second);
        return out;
    }

protected:
    bool event(QEvent* e) override
    {
        if (e->type() == paging::eventType(kStatusId)) {
            int code = 0;
            char text[paging::kStatusTextSize];
            GetPageStatus(port.constData(), &code, text);
            statuses.append({ code, QString::fromUtf8(text) });
            return true;
        }
        if (e->type() == paging::eventType(kFinishedId)) {
            char text[paging::kStatusTextSize];
            finalReturn = GetPageStatus(port.constData(), &finalCode, text);
            finalText = QString::fromUtf8(text);
            finished = true;
            ++finishedCount;
            finishedAfterMs = clock.elapsed();
            return true;
        }
        return QObject::event(e);
    }
};
