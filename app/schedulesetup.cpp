#include "app/schedulesetup.h"

#include "app/mainform.h"
#include "core/deliveryloop.h"
#include "schedule/scheduledscan.h"

#include <QObject>

schedule::ScheduledScan* CreateScheduledScan(TMainForm& mainForm)
{
    auto* scan = new schedule::ScheduledScan(mainForm.desk(), mainForm.preparation());
    scan->clock = [&mainForm] { return mainForm.currentDateTime(); };
    scan->showStatus = [&mainForm](const QString& text) { mainForm.Show_Status(text); };
    mainForm.delivery().ScheduledScan = [scan] { scan->run(); };
    QObject::connect(&mainForm, &QObject::destroyed, [scan] { delete scan; });
    return scan;
}
