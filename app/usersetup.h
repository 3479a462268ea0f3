#pragma once

class TMainForm;
namespace directories {
class TUsersForm;
class TPagerCompForm;
}

// Makes the Users and Carriers windows on the main window's shared handles, enables "&Users" and
// "&Carriers" (created once, shown again on every use, not modal) and rebuilds the recipient list
// whenever the Users window closes.
directories::TUsersForm* CreateUsersForm(TMainForm& mainForm);
directories::TPagerCompForm* CreatePagerCompForm(TMainForm& mainForm);
