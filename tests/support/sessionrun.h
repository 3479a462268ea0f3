#pragma once

#include "compose/composition.h"
#include "core/desk.h"
#include "session/desksession.h"

#include <QDateTime>
#include <QStringList>

// The desk session on a data folder, as plimopagerd and the main window run it, with what the
// windows would show kept: the status lines (newest first), the texts of the information boxes and
// of the error boxes. The clock is `now`; ticks are given by the test with tick().
namespace testsupport {

class SessionRun {
public:
    explicit SessionRun(const QString& dataFolder)
        : deskSession(dataFolder)
        , composition(deskSession.composition())
    {
        deskSession.clock = [this] { return now; };
        QObject::connect(&deskSession, &session::DeskSession::statusLine,
            [this](const QString& text) { statusLines.prepend(text); });
        QObject::connect(&deskSession, &session::DeskSession::infoRequested, [this](const QString& text) {
            boxes << text;
            infos << text;
        });
        QObject::connect(&deskSession, &session::DeskSession::errorRaised, [this](const QString& text) {
            boxes << text;
            errors << text;
        });
        openError = deskSession.open();
    }

    core::Desk& desk() { return deskSession.desk(); }
    void tick() { deskSession.tick(); }
    // Every box in the order shown: information and errors.
    QStringList boxTexts() const { return boxes; }

    session::DeskSession deskSession;
    compose::Composition& composition;
    QString openError;
    QDateTime now = QDateTime::currentDateTime();
    QStringList statusLines;
    QStringList infos;
    QStringList errors;

private:
    QStringList boxes;
};

} // namespace testsupport
