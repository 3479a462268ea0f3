#include "app/msglogsetup.h"

#include "app/deskwindows.h"
#include "app/mainform.h"
#include "msglog/msglogform.h"
#include "store/storeerror.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>

msglog::TMsgLogF* CreateMsgLogForm(TMainForm& mainForm)
{
    msglog::ResendView view;
    view.showUserName = [&mainForm](const QString& name) {
        mainForm.userLookup->setCurrentIndex(mainForm.userLookup->findText(name));
    };
    view.showChosenUser = [&mainForm](const core::Desk::ChosenUser& user) {
        mainForm.pagerIdLabel->setText(user.pagerId);
        if (!user.carrier.isEmpty())
            mainForm.carrierLabel->setText(user.carrier);
    };
    auto* form = new msglog::TMsgLogF(mainForm.desk(), mainForm.composition(),
        [&mainForm](const QString& recipient, const QString& text) {
            mainForm.session().sendToRecipient(recipient, text);
        },
        std::move(view), &mainForm);
    QObject::connect(form, &directories::DirectoryForm::helpRequested, &mainForm, &TMainForm::showHelpTopic);
    QObject::connect(form, &msglog::TMsgLogF::messageUsed, &mainForm, &TMainForm::focusMessageEditor);
    mainForm.MsgLogMenu->setEnabled(true);
    QObject::connect(mainForm.MsgLogMenu, &QAction::triggered, form, [&mainForm, form] {
        store::Table& log = mainForm.desk().MsgLogT();
        if (!log.isOpen()) {
            try {
                log.open();
            } catch (const store::StoreError& e) {
                emit form->errorReported(e.message());
                return;
            }
        }
        DeskWindows::bringUp(form);
    });
    return form;
}
