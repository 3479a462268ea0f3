#pragma once

#include "pacer.h"

#include <QByteArray>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <memory>

namespace pagersim {

// The pseudo-terminal that a client opens as its serial port. The simulator keeps a slave descriptor
// of its own open, so the device survives a client closing and reopening it. Bytes read from the
// client come out cut to 7 bits; bytes sent get their even-parity bit. With a speed set, both
// directions are held to it: reading waits (the client's bytes stay in the device) and so does writing.
class PtyLine : public QObject {
    Q_OBJECT
public:
    explicit PtyLine(QObject* parent = nullptr);
    ~PtyLine() override;

    bool open(QString* error);
    QString devicePath() const { return m_path; }
    // Characters a second each way; 0 for no limit. Set before open().
    void setCharsPerSecond(int cps);

    void send(const QByteArray& bytes);
    // Nothing is waiting to be written.
    bool isDrained() const { return m_pending.isEmpty(); }

signals:
    void received(const QByteArray& bytes);
    // The last client closed the device (what a modem sees as DTR dropping). What was still waiting
    // for that client has been thrown away.
    void clientGone();

private:
    void readAvailable();
    void writePending();
    void watchEvents();

    int m_master = -1;
    int m_slave = -1;
    int m_watch = -1; // inotify on the device node: clients opening and closing it
    int m_clients = 0;
    std::unique_ptr<QSocketNotifier> m_watchNotifier;
    QString m_path;
    std::unique_ptr<QSocketNotifier> m_readNotifier;
    std::unique_ptr<QSocketNotifier> m_writeNotifier;
    Pacer m_readPacer;
    Pacer m_writePacer;
    QTimer m_readResume;
    QTimer m_writeResume;
    QByteArray m_pending;
};

} // namespace pagersim
