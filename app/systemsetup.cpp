#include "app/systemsetup.h"

#include "app/mainform.h"
#include "config/systemform.h"
#include "directories/modinitform.h"

#include <QAction>
#include <QMessageBox>

config::TSystemForm* CreateSystemForm(TMainForm& mainForm)
{
    auto* form = new config::TSystemForm(mainForm.desk().Settings(), mainForm.desk().ModemsT(), mainForm.desk().dataDirectory(), &mainForm);
    // It lives with the main window: a System window left open does not keep the program running.
    form->setAttribute(Qt::WA_QuitOnClose, false);
    mainForm.SystemForm = form;

    QObject::connect(form, &config::TSystemForm::statusMessage, &mainForm, &TMainForm::Show_Status);
    QObject::connect(form, &config::TSystemForm::helpRequested, &mainForm, &TMainForm::showHelpTopic);
    QObject::connect(
        form, &config::TSystemForm::errorReported, &mainForm, [form, &mainForm](const QString& text) {
            QMessageBox::critical(form, mainForm.windowTitle(), text);
        });

    // "&Modem_Initialization" shows the modem models window on the same ModemsT handle, not modal.
    auto* modems = new directories::TModInitForm(mainForm.desk().ModemsT(), &mainForm);
    QObject::connect(modems, &directories::DirectoryForm::helpRequested, &mainForm, &TMainForm::showHelpTopic);
    form->ModemInitMenu->setEnabled(true);
    QObject::connect(form->ModemInitMenu, &QAction::triggered, modems, [modems] {
        modems->show();
        modems->raise();
        modems->activateWindow();
    });

    mainForm.SetupMenu->setEnabled(true);
    QObject::connect(mainForm.SetupMenu, &QAction::triggered, form, [form] {
        // Beside the main window, not modal.
        form->show();
        form->raise();
        form->activateWindow();
    });
    return form;
}
