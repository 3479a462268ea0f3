#pragma once

#include "compose/pageforms.h"

#include <QDateTime>
#include <QPointer>
#include <QString>
#include <functional>

class QCheckBox;
class QListWidget;
class QPlainTextEdit;
class QWidget;

namespace core {
class Desk;
}

namespace compose {

// The main window's controls and services that the preparations read or use. The window fills it
// once; compose knows nothing of the window class itself.
struct DeskControls {
    QWidget* window = nullptr; // restored from minimised by the send command; parent of boxes
    QListWidget* UsersList = nullptr;
    QPlainTextEdit* message1 = nullptr;
    QCheckBox* messagelog = nullptr;
    QCheckBox* SendGroup = nullptr;
    QCheckBox* SendByPager = nullptr;

    std::function<void(const QString&)> showStatus; // the status list (Show_Status)
    std::function<void(const QString&)> showInfo; // an information box with OK, waited for
    std::function<void(const QString&)> showError; // the application's standard error box
    std::function<QString()> outsideLine; // "Outside Line Digit(s):" of the System window
    // Refreshes the engine parameters, among them the desk's DeliveryRetriesValue and
    // DirectMesgDelayValue that new pages take.
    std::function<void()> setEngineParams;
    std::function<void()> prepareByPagerMessage; // "Send By Pager ID"; unset until that window exists
};

// The send command and the preparations that turn the typed message, or a dropped message file,
// into pages at the end of the desk's send queue.
class MessagePreparation {
public:
    MessagePreparation(core::Desk& desk, DeskControls controls);

    // The "&Send Mesg" command.
    void SendBtnClick();
    // Walks the recipient list and prepares every ticked item.
    void PrepareAllMessages();
    // One user of the directory, by name, with the message of the editor.
    void PrepareOneMessage(const QString& name);
    // One "Group: " item of the recipient list.
    void PrepareGroupMessage(const QString& item);
    // Consumes "plimomsgs.txt" in the current directory, when there is one, and queues at most one
    // page from it. Called by the delivery loop when it is idle and the send queue is empty. False
    // when there was nothing to take: no file, or the undeletable file already reported, unchanged.
    bool ReadPageMsgFromFile();

    // The message file's name, relative to the current directory.
    static QString messageFileName();
    // Most of a message file that is read; lines 1 to 6 are all that count.
    static constexpr qint64 kMessageFileReadLimit = 4 * 1024 * 1024;

private:
    // The editor's text with every line; selects it all, as the operator sees it then.
    QString selectedEditorText() const;
    // Unticks the first ticked recipient item `name`, when the list holds one.
    void untick(const QString& name);
    void status(const QString& text) const;
    void info(const QString& text) const;
    void error(const QString& text) const;
    void appendLogRecord(const QString& userName, const QString& editorText);

    core::Desk& desk_;
    DeskControls c_;
    // A message file that could not be deleted (its device, inode, size and modification time) is
    // reported once, not at every tick, and does not hold the tick up.
    QString undeletableFile_;
};

} // namespace compose
