#pragma once

#include "config/intakesettings.h"
#include "intake/gate.h"

#include <QObject>
#include <QStringList>
#include <memory>

namespace intake {

class HttpEndpoints;
class HttpServer;
class SnppServer;

// The network listeners of a session, as pager.ini's [Intake] section sets them: the SNPP server and
// the HTTP server, both handing what they receive to the session's gate on the session's thread.
// One that cannot start (a port taken, a certificate that does not load) is one status line; the
// other runs all the same.
class Listeners : public QObject {
    Q_OBJECT

public:
    explicit Listeners(Gate& gate, QObject* parent = nullptr);
    ~Listeners() override;

    // Starts what `settings` asks for (stopping what ran before); one status line for each listener
    // started or not, none when no port is set.
    QStringList start(const config::IntakeSettings& settings);
    void stop();

    // Null while that listener does not run.
    SnppServer* snpp() const { return snppRunning_ ? snpp_.get() : nullptr; }
    HttpServer* http() const;

private:
    Gate& gate_;
    std::unique_ptr<HttpEndpoints> endpoints_;
    std::unique_ptr<SnppServer> snpp_;
    std::unique_ptr<HttpServer> http_;
    bool snppRunning_ = false;
};

} // namespace intake
