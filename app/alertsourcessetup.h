#pragma once

class TMainForm;
namespace intake {
class AlertSourcesForm;
}

// Makes the "Alert Sources" window on the main window's sources handle and enables System >
// "&Alert Sources", which shows the one window, not modal.
intake::AlertSourcesForm* CreateAlertSourcesForm(TMainForm& mainForm);
