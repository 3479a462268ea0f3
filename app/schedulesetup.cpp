#include "app/schedulesetup.h"

#include "app/deskwindows.h"
#include "app/mainform.h"
#include "schedule/schedmsgform.h"
#include "schedule/schedulewindow.h"

#include <QAction>

#include <QLabel>
#include <QObject>
#include <QPushButton>

namespace {

schedule::TSchedMsgF* schedMsgForm(TMainForm& mainForm)
{
    if (auto* form = mainForm.findChild<schedule::TSchedMsgF*>())
        return form;
    auto* form = new schedule::TSchedMsgF(mainForm.desk().SchedMsgT(), mainForm.composition(), &mainForm);
    QObject::connect(form, &schedule::TSchedMsgF::helpRequested, &mainForm, &TMainForm::showHelpTopic);
    QObject::connect(form, &schedule::TSchedMsgF::messageUsed, &mainForm, [&mainForm] {
        if (auto* scheduling = mainForm.findChild<schedule::TSchedule*>())
            scheduling->close();
        mainForm.focusMessageEditor();
    });
    return form;
}

schedule::TSchedule* scheduleForm(TMainForm& mainForm)
{
    if (auto* form = mainForm.findChild<schedule::TSchedule*>())
        return form;
    auto* form = new schedule::TSchedule(mainForm.desk(), mainForm.composition(), &mainForm);
    form->clock = [&mainForm] { return mainForm.currentDateTime(); };
    QObject::connect(form, &schedule::TSchedule::statusMessage, &mainForm, &TMainForm::Show_Status);
    QObject::connect(form, &schedule::TSchedule::helpRequested, &mainForm, &TMainForm::showHelpTopic);
    QObject::connect(&mainForm, &TMainForm::clockShown, form->TimeofDay, &QLabel::setText);
    form->TimeofDay->setText(mainForm.clockLabel->text());
    QObject::connect(form, &schedule::TSchedule::scheduledListRequested, &mainForm,
        [&mainForm] { DeskWindows::bringUp(schedMsgForm(mainForm)); });
    return form;
}

} // namespace

void CreateScheduleForm(TMainForm& mainForm)
{
    mainForm.sendLaterButton->setEnabled(true);
    QObject::connect(
        mainForm.sendLaterButton, &QPushButton::clicked, &mainForm, [&mainForm] {
            schedule::TSchedule* window = scheduleForm(mainForm);
            window->resetToNow();
            DeskWindows::bringUp(window);
        });
    mainForm.SchedMsgsMenu->setEnabled(true);
    QObject::connect(mainForm.SchedMsgsMenu, &QAction::triggered, &mainForm,
        [&mainForm] { DeskWindows::bringUp(schedMsgForm(mainForm)); });
}
