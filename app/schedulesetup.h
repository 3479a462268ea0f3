#pragma once

class TMainForm;
// Enables "Send L&ater": its first press makes the "Pager Scheduling" window on the main window's
// desk, composition and clock; every press shows it. Once made, the window's clock follows the
// delivery timer's ticks and its status lines go to the main window's status list. Enables
// "SchedMsgs" too: it and the scheduling window's "&ScheduledMsgs" show the one "Scheduled
// Messages" window, made on first use.
void CreateScheduleForm(TMainForm& mainForm);
