#include "msglog/logresend.h"

#include "compose/composition.h"
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

LogResend::LogResend(core::Desk& desk, compose::Composition& composition, SendFunction send, ResendView view)
    : desk_(desk)
    , composition_(composition)
    , send_(std::move(send))
    , view_(std::move(view))
{
}

QString LogResend::loggedMessage() const
{
    store::Table& log = desk_.MsgLogT();
    QString text;
    if (log.isOpen() && log.recNo() != 0)
        text = log.fieldText(store::msglog::Msg);
    // The memo keeps CR LF line ends; the editor's lines end in LF.
    text.remove(u'\r');
    return text;
}

void LogResend::copyMessage()
{
    // The program's own text is not held to the typing limit, so a logged message longer than it
    // comes back whole.
    composition_.setText(loggedMessage());
}

void LogResend::resend()
{
    store::Table& log = desk_.MsgLogT();
    const QString userName = log.isOpen() && log.recNo() != 0 ? log.fieldText(store::msglog::UserName) : QString();
    const LoggedRecipient recipient = loggedRecipient(userName);
    const QString text = loggedMessage();

    if (recipient.group) {
        store::Table& groups = desk_.GroupsT();
        if (!groups.isOpen() || recipient.name.isEmpty())
            return;
        groups.refresh();
        if (groups.locate(store::groups::Group, recipient.name) && send_)
            send_(core::groupRecipient(recipient.name), text);
        return;
    }

    if (view_.showUserName)
        view_.showUserName(recipient.name);
    core::Desk::ChosenUser chosen;
    if (recipient.name.isEmpty() || !desk_.lookupUser(recipient.name, &chosen))
        return;
    if (view_.showChosenUser)
        view_.showChosenUser(chosen);
    if (send_)
        send_(desk_.BUsersT().fieldText(store::busers::UserName), text);
}

} // namespace msglog
