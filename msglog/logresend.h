#pragma once

#include "core/desk.h"

#include <QString>
#include <functional>

namespace compose {
class Composition;
}

namespace msglog {

// Whom a log record's USERNAME names: a group ("Group:" then the group name from its eighth
// character, at most 16 characters) or a user (the whole value).
struct LoggedRecipient {
    bool group = false;
    QString name;
};
LoggedRecipient loggedRecipient(const QString& userName);

// What the main window shows of a resent user entry. Either may be left unset.
struct ResendView {
    // The user lookup shows `name` as its text.
    std::function<void(const QString& name)> showUserName;
    // The labels beside the lookup show the found user's pager ID and carrier (an empty carrier:
    // none found, the carrier label keeps what it showed).
    std::function<void(const core::Desk::ChosenUser& user)> showChosenUser;
};

// "Use &Msg" and "&ReSend" on the current record of the desk's log handle MsgLogT. "Use &Msg" puts
// the logged message into the operator's composition; a resend prepares it again for the same user
// or group as an ordinary preparation (pages at the end of the send queue, a new log record when
// "Message &Log" is ticked) and leaves the operator's draft alone. A user or group that no longer
// exists gets nothing and nothing is reported.
class LogResend {
public:
    // Prepares the pages of a resend: a recipient item (a user, or "Group: " + a group) and the
    // logged message with LF line ends.
    using SendFunction = std::function<void(const QString& recipient, const QString& text)>;

    LogResend(core::Desk& desk, compose::Composition& composition, SendFunction send, ResendView view = {});

    // The current record's message into the composition, whole, line breaks kept; empty when the
    // log has no record.
    void copyMessage();
    // The current record's message with LF line ends; empty when the log has no record.
    QString loggedMessage() const;
    // Resends the current record to the user or group it names.
    void resend();

private:
    core::Desk& desk_;
    compose::Composition& composition_;
    SendFunction send_;
    ResendView view_;
};

} // namespace msglog
