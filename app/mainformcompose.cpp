// The main window's side of message composition: which controls and services the preparations use.
#include "app/mainform.h"

#include "app/messageedit.h"
#include "compose/pagelib.h"
#include "compose/preparation.h"
#include "config/systemform.h"
#include "core/engineparams.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

void TMainForm::connectComposition()
{
    compose::DeskControls controls;
    controls.window = this;
    controls.UsersList = UsersList;
    controls.message1 = message1;
    controls.messagelog = messagelog;
    controls.SendGroup = SendGroup;
    controls.SendByPager = SendByPager;
    controls.showStatus = [this](const QString& text) { Show_Status(text); };
    controls.showInfo = [this](const QString& text) { compose::ShowInfo(text, this); };
    controls.showError = [this](const QString& text) { showStandardError(text); };
    // The System window is made after this one; its fields are read when a page is prepared.
    controls.outsideLine = [this] { return SystemForm ? SystemForm->outsideline->text() : QString(); };
    controls.setEngineParams = [this] { core::SetEngineParams(*desk_, SystemForm); };
    preparation_ = std::make_unique<compose::MessagePreparation>(*desk_, std::move(controls));

    connect(SendBtn, &QPushButton::clicked, this, [this] { preparation_->SendBtnClick(); });
}
