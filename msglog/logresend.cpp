#include "msglog/logresend.h"

#include "compose/composition.h"
#include "compose/preparation.h"
#include "core/recipientname.h"
#include "store/fieldnames.h"
#include "store/table.h"

namespace msglog {

LoggedRecipient loggedRecipient(const QString& userName)
{
    if (core::isGroupRecipient(userName))
        return { true, core::groupNameOf(userName).trimmed() };
    return { false, userName };
}

LogResend::LogResend(core::Desk& desk, compose::MessagePreparation& preparation, ResendView view)
    : desk_(desk)
    , preparation_(preparation)
    , view_(std::move(view))
{
}

void LogResend::copyMessage()
{
    store::Table& log = desk_.MsgLogT;
    QString text;
    if (log.isOpen() && log.recNo() != 0)
        text = log.fieldText(store::msglog::Msg);
    // The memo keeps CR LF line ends; the editor's lines end in LF. The program's own text is not
    // held to the typing limit, so a logged message longer than it comes back whole.
    text.remove(u'\r');
    preparation_.composition().setText(text);
}

void LogResend::resend()
{
    store::Table& log = desk_.MsgLogT;
    const QString userName = log.isOpen() && log.recNo() != 0 ? log.fieldText(store::msglog::UserName) : QString();
    const LoggedRecipient recipient = loggedRecipient(userName);
    compose::Composition& composition = preparation_.composition();
    if (recipient.group)
        composition.setSelectByGroup(true);
    copyMessage();

    if (recipient.group) {
        store::Table& groups = desk_.GroupsT;
        if (!groups.isOpen() || recipient.name.isEmpty())
            return;
        groups.refresh();
        if (groups.locate(store::groups::Group, recipient.name))
            preparation_.PrepareGroupMessage(core::groupRecipient(recipient.name));
        return;
    }

    if (view_.showUserName)
        view_.showUserName(recipient.name);
    core::Desk::ChosenUser chosen;
    if (recipient.name.isEmpty() || !desk_.lookupUser(recipient.name, &chosen))
        return;
    if (view_.showChosenUser)
        view_.showChosenUser(chosen);
    preparation_.PrepareOneMessage(desk_.BUsersT.fieldText(store::busers::UserName));
}

} // namespace msglog
