#pragma once

class TMainForm;
namespace directories {
class TGroupsForm;
}

// Makes the "Groups" window on the main window's desk, kept for the rest of the run, and wires it
// in: "Grou&ps" shows it, its help goes to the help window, its reports to the status list, and its
// closing rebuilds the recipient list.
directories::TGroupsForm* CreateGroupsForm(TMainForm& mainForm);
