#include "app/groupsetup.h"

#include "app/deskwindows.h"
#include "app/mainform.h"
#include "directories/groupsform.h"

#include <QAction>

directories::TGroupsForm* CreateGroupsForm(TMainForm& mainForm)
{
    auto* form = new directories::TGroupsForm(mainForm.desk(), &mainForm);
    // It lives with the main window: a Groups window left open does not keep the program running.
    form->setAttribute(Qt::WA_QuitOnClose, false);
    QObject::connect(form, &directories::TGroupsForm::statusMessage, &mainForm, &TMainForm::Show_Status);
    QObject::connect(form, &directories::TGroupsForm::helpRequested, &mainForm, &TMainForm::showHelpTopic);
    QObject::connect(form, &directories::TGroupsForm::closed, &mainForm, &TMainForm::ReadUsersList);

    mainForm.GroupsMenu->setEnabled(true);
    QObject::connect(mainForm.GroupsMenu, &QAction::triggered, form, [form] {
        // Beside the main window, not modal.
        DeskWindows::bringUp(form);
    });
    return form;
}
