#include "app/usersetup.h"

#include "app/mainform.h"
#include "core/desk.h"
#include "directories/pagercompform.h"
#include "directories/usersform.h"

#include <QAction>

namespace {

template <typename Form> void showOnMenu(TMainForm& mainForm, QAction* menu, Form* form)
{
    QObject::connect(form, &directories::DirectoryForm::helpRequested, &mainForm, &TMainForm::showHelpTopic);
    menu->setEnabled(true);
    QObject::connect(menu, &QAction::triggered, form, [form] {
        // Beside the main window, not modal.
        form->show();
        form->raise();
        form->activateWindow();
    });
}

} // namespace

directories::TUsersForm* CreateUsersForm(TMainForm& mainForm)
{
    auto* form = new directories::TUsersForm(mainForm.desk().BUsersT(), mainForm.desk().PagerCompT(), &mainForm);
    showOnMenu(mainForm, mainForm.UsersMenu, form);
    QObject::connect(form, &directories::DirectoryForm::closed, &mainForm, &TMainForm::ReadUsersList);
    return form;
}

directories::TPagerCompForm* CreatePagerCompForm(TMainForm& mainForm)
{
    auto* form = new directories::TPagerCompForm(mainForm.desk(), &mainForm);
    showOnMenu(mainForm, mainForm.CarriersMenu, form);
    return form;
}
