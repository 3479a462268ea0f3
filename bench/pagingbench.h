#pragma once

// What the paging benches share: the carrier simulator run as a process, and a receiver that waits
// for the end of one page of the paging library.

#include "paging/pagingapi.h"
#include "paging/pagestatus.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QMap>
#include <QProcess>
#include <QStringList>

namespace bench {

// Receives the library's status (1363) and finished (1364) events of the page on `port`; on the
// finished event the page's final code is in `code` and `loop` ends.
class FinishWaiter : public QObject {
public:
    explicit FinishWaiter(QByteArray pagePort)
        : port(std::move(pagePort))
    {
    }
    QEventLoop loop;
    QByteArray port;
    int code = -1;

protected:
    bool event(QEvent* e) override
    {
        const bool finished = e->type() == paging::eventType(1364);
        if (!finished && e->type() != paging::eventType(1363))
            return QObject::event(e);
        // Every event reads the status it announced, as the desk does.
        int c = 0;
        char text[paging::kStatusTextSize];
        GetPageStatus(port.constData(), &c, text);
        if (finished) {
            code = c;
            loop.quit();
        }
        return true;
    }
};

// Starts the simulator (`program`, or the build's when empty) with `args` and returns what it said
// before READY, by its first word: "DEVICE", "TCP", "SNPP", "WCTP". Empty when it did not start.
inline QMap<QByteArray, QByteArray> startSimulator(QProcess& process, QString program, const QStringList& args)
{
    if (program.isEmpty())
        program = QCoreApplication::applicationDirPath() + QStringLiteral("/../tools/pagersim/pagersim");
    process.start(program, args + QStringList { QStringLiteral("--quiet") });
    QByteArray out;
    while (!out.contains("READY") && process.waitForReadyRead(5000))
        out += process.readAllStandardOutput();
    QMap<QByteArray, QByteArray> said;
    for (const QByteArray& line : out.split('\n')) {
        const qsizetype blank = line.indexOf(' ');
        if (blank > 0)
            said.insert(line.left(blank), line.mid(blank + 1).trimmed());
    }
    return out.contains("READY") ? said : QMap<QByteArray, QByteArray>();
}

} // namespace bench
