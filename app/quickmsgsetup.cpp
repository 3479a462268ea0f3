#include "app/quickmsgsetup.h"

#include "app/mainform.h"
#include "compose/composition.h"
#include "directories/quickmsgform.h"

#include <QAction>
#include <QPushButton>

namespace {

// Text put in by a quick message may pass the typing limit by this much.
constexpr int kRaisedLimit = compose::Composition::MaxTyped + 200;

directories::TQuickMsgF* quickForm(TMainForm& mainForm, bool selectionOnly)
{
    for (auto* form : mainForm.findChildren<directories::TQuickMsgF*>()) {
        if ((form->objectName() == QStringLiteral("QuickMsgDialog")) == selectionOnly)
            return form;
    }
    auto* form = new directories::TQuickMsgF(mainForm.desk().QuickMsgT(), selectionOnly, &mainForm);
    QObject::connect(form, &directories::TQuickMsgF::helpRequested, &mainForm, &TMainForm::showHelpTopic);
    QObject::connect(form, &directories::TQuickMsgF::messageUsed, &mainForm,
        [&mainForm](const QString& text) {
            mainForm.composition().setText(text.left(kRaisedLimit));
            mainForm.focusMessageEditor();
        });
    return form;
}

void showBeside(QWidget* window)
{
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace

void CreateQuickMsgForms(TMainForm& mainForm)
{
    mainForm.QuickMsgMenu->setEnabled(true);
    QObject::connect(mainForm.QuickMsgMenu, &QAction::triggered, &mainForm,
        [&mainForm] { showBeside(quickForm(mainForm, false)); });
    mainForm.quickButton->setEnabled(true);
    QObject::connect(
        mainForm.quickButton, &QPushButton::clicked, &mainForm, [&mainForm] { showBeside(quickForm(mainForm, true)); });
}
