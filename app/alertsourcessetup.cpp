#include "app/alertsourcessetup.h"

#include "app/mainform.h"
#include "intake/alertsourcesform.h"

#include <QAction>
#include <QMessageBox>

intake::AlertSourcesForm* CreateAlertSourcesForm(TMainForm& mainForm)
{
    auto* form = new intake::AlertSourcesForm(mainForm.desk(), &mainForm);
    // It lives with the main window: left open, it does not keep the program running.
    form->setAttribute(Qt::WA_QuitOnClose, false);
    QObject::connect(form, &intake::AlertSourcesForm::errorReported, &mainForm, [form, &mainForm](const QString& text) {
        QMessageBox::critical(form, mainForm.windowTitle(), text);
    });
    mainForm.AlertSourcesMenu->setEnabled(mainForm.desk().SourcesT().isOpen());
    QObject::connect(mainForm.AlertSourcesMenu, &QAction::triggered, form, [form] {
        form->show();
        form->raise();
        form->activateWindow();
    });
    return form;
}
