#pragma once

#include "compose/composition.h"
#include "compose/preparation.h"
#include "core/deliveryloop.h"
#include "core/desk.h"
#include "core/statuslist.h"
#include "schedule/scheduledscan.h"
#include "store/storeerror.h"

#include <QDateTime>
#include <QStringList>

// The desk without its windows, wired as the program wires it: the tables, the composition, the
// preparations, the delivery loop with the message-file intake and the scheduled scan, on a clock
// the test sets. What the windows would show is kept: the status lines (newest first), the texts of
// the information boxes and of the error boxes. A tick is given by the test with tick().
namespace testsupport {

class DeskRun {
public:
    explicit DeskRun(const QString& dataFolder)
        : desk_(dataFolder)
        , openError(desk_.open())
        , preparation(desk_, composition, services())
        , loop(desk_, desk_.Engine1)
        , scan(desk_, preparation)
    {
        loop.ReadPageMsgFromFile = [this] { return preparation.ReadPageMsgFromFile(); };
        loop.ScheduledScan = [this] { scan.run(); };
        QObject::connect(&loop, &core::DeliveryLoop::status, [this](const QString& text) { status(text); });
        scan.clock = [this] { return now; };
        scan.showStatus = [this](const QString& text) { status(text); };
        if (openError.isEmpty())
            composition.recipients()->rebuild(desk_.recipientNames());
    }

    core::Desk& desk() { return desk_; }

    // One tick of the delivery timer at `now`; a fault is kept as an error box would show it.
    void tick()
    {
        try {
            if (desk_.tick(now.time()).idle)
                loop.idleTick(now.time());
        } catch (const store::StoreError& e) {
            errors << e.message();
        } catch (const std::exception& e) {
            errors << QString::fromLocal8Bit(e.what());
        }
    }
    // Every box in the order shown: information and errors.
    QStringList boxTexts() const { return boxes; }

private:
    compose::DeskServices services()
    {
        compose::DeskServices s;
        s.showStatus = [this](const QString& text) { status(text); };
        s.showInfo = [this](const QString& text) { boxes << text; infos << text; };
        s.showError = [this](const QString& text) { boxes << text; errors << text; };
        return s;
    }
    void status(const QString& text)
    {
        core::StatusContext context;
        context.sendByPager = composition.sendByPager();
        context.pageName = loop.deliveredName();
        context.firstLine = composition.text().section(u'\n', 0, 0);
        statusLines.prepend(core::rewriteStatus(text, context));
    }

    core::Desk desk_;

public:
    const QString openError;
    compose::Composition composition;
    compose::MessagePreparation preparation;
    core::DeliveryLoop loop;
    schedule::ScheduledScan scan;
    QDateTime now = QDateTime::currentDateTime();
    QStringList statusLines;
    QStringList infos;
    QStringList errors;

private:
    QStringList boxes;
};

} // namespace testsupport
