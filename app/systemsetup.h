#pragma once

class TMainForm;
namespace config {
class TSystemForm;
}

// Makes the System Configuration window on the main window's modem handle and data folder, kept in
// mainForm.SystemForm for the rest of the run, and wires it in: "S&ystem" > "Setup" shows it, its
// "In debug mode" goes to the status list, its help to the help window, its store failures to the
// error box, its "&Modem_Initialization" to the Modem Initialization Strings window.
config::TSystemForm* CreateSystemForm(TMainForm& mainForm);
