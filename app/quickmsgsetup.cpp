#include "app/quickmsgsetup.h"

#include "app/deskwindows.h"
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

} // namespace

void CreateQuickMsgForms(TMainForm& mainForm)
{
    mainForm.QuickMsgMenu->setEnabled(true);
    QObject::connect(mainForm.QuickMsgMenu, &QAction::triggered, &mainForm,
        [&mainForm] { DeskWindows::bringUp(quickForm(mainForm, false)); });
    mainForm.quickButton->setEnabled(true);
    QObject::connect(mainForm.quickButton, &QPushButton::clicked, &mainForm,
        [&mainForm] { DeskWindows::bringUp(quickForm(mainForm, true)); });
}
