#pragma once

class TMainForm;
namespace msglog {
class TMsgLogF;
}

// Makes the "Message Log" window on the main window's log handle and composition and enables
// "&MsgLog": each use opens the log table when it is closed and shows the one window, not modal. A
// resend writes the user into the main window's user lookup and its labels.
msglog::TMsgLogF* CreateMsgLogForm(TMainForm& mainForm);
