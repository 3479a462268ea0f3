#pragma once

#include "compose/pageforms.h"

#include <QString>
#include <functional>

namespace core {
class Desk;
}

namespace compose {

class Composition;

// What the preparations report through and ask of the desk around them. Each may be left unset.
struct DeskServices {
    std::function<void(const QString&)> showStatus; // the status list (Show_Status)
    std::function<void(const QString&)> showInfo; // an information box with OK, waited for
    std::function<void(const QString&)> showError; // the application's standard error box
    std::function<void()> restoreWindow; // the send command brings the main window back from minimised
    std::function<void()> focusMessage; // the message editor takes the keyboard focus
};

// The send command and the preparations that turn the composed message, or a dropped message file,
// into pages at the end of the desk's send queue. They read the working settings from the desk
// (desk.Settings) and the message, the ticks and the switches from the Composition.
class MessagePreparation {
public:
    MessagePreparation(core::Desk& desk, Composition& composition, DeskServices services = {});

    Composition& composition() { return composition_; }

    // The "&Send Mesg" command.
    void SendBtnClick();
    // Walks the recipient list and prepares every ticked item.
    void PrepareAllMessages();
    // One user of the directory, by name, with the composed message.
    void PrepareOneMessage(const QString& name);
    // One "Group: " item of the recipient list.
    void PrepareGroupMessage(const QString& item);
    // "Send By Pager ID": one page to the composition's typed pager ID on its chosen carrier.
    void PrepareByPagerMessage();
    // Consumes "plimomsgs.txt" in the current directory, when there is one, and queues at most one
    // page from it. Called by the delivery loop when it is idle and the send queue is empty. False
    // when there was nothing to take: no file, or the undeletable file already reported, unchanged
    // and still undeletable.
    bool ReadPageMsgFromFile();

    // The message file's name, relative to the current directory.
    static QString messageFileName();
    // The largest message file read; a larger one is deleted unread.
    static constexpr qint64 kMessageFileReadLimit = 4 * 1024 * 1024;

private:
    // The composed text with every line; the editor shows it all selected, as the operator sees it
    // then.
    QString selectedEditorText() const;
    void status(const QString& text) const;
    void info(const QString& text) const;
    void error(const QString& text) const;
    void appendLogRecord(const QString& userName, const QString& editorText);

    core::Desk& desk_;
    Composition& composition_;
    DeskServices c_;
    // A message file that could not be deleted (its device, inode, size and modification time) is
    // reported once, not at every tick, and does not hold the tick up.
    QString undeletableFile_;
};

} // namespace compose
