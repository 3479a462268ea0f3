#pragma once

class TMainForm;
namespace schedule {
class ScheduledScan;
}

// Makes the scheduled-message scan on the main window's desk and preparations (their composition), on the
// window's clock, and hands it to the delivery loop's ScheduledScan hook. The scan lives as long as
// the window.
schedule::ScheduledScan* CreateScheduledScan(TMainForm& mainForm);
