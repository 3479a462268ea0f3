#pragma once

#include "compose/recipientlist.h"

#include <QObject>
#include <QString>

namespace compose {

// What the operator is composing, without a window: the message text and its limit, the recipient
// list with its ticks, and the switches "Message &Log", "Select By &Group" and "Send By Pager ID".
// The main window's editor, check list and check boxes show it and edit it; the send command, the
// preparations, the scheduled scan and the other windows read and write it.
class Composition : public QObject {
    Q_OBJECT

public:
    // Most characters the operator may type or paste into the editor. Text put in by the program
    // (date and time stamps, a quick message, a scheduled message) is not limited.
    static constexpr int MaxTyped = 520;

    explicit Composition(QObject* parent = nullptr);

    QString text() const { return text_; }
    void setText(const QString& text);
    // Appends `text` at the end of the message.
    void appendText(const QString& text);
    int maxLength() const { return MaxTyped; }
    // The message as the send command takes it: whole, shown selected (textSelected()).
    QString selectedText();

    RecipientList* recipients() { return &recipients_; }
    const RecipientList* recipients() const { return &recipients_; }
    bool tick(const QString& name) { return recipients_.tick(name); }
    bool untick(const QString& name) { return recipients_.untick(name); }
    QStringList tickedNames() const { return recipients_.tickedNames(); }

    bool messageLog() const { return messageLog_; }
    void setMessageLog(bool on);
    bool selectByGroup() const { return selectByGroup_; }
    void setSelectByGroup(bool on);
    bool sendByPager() const { return sendByPager_; }
    void setSendByPager(bool on);
    // Where "Send By Pager ID" pages: the typed pager ID and the carrier chosen for it (empty: none
    // chosen, the carriers table's current record is taken).
    QString byPagerId() const { return byPagerId_; }
    QString byPagerCarrier() const { return byPagerCarrier_; }
    void setByPagerTarget(const QString& pagerId, const QString& carrier);

signals:
    void textChanged(const QString& text);
    // The whole message was taken by the send command: the editor shows it selected.
    void textSelected();
    void messageLogChanged(bool on);
    void selectByGroupChanged(bool on);
    void sendByPagerChanged(bool on);

private:
    QString text_;
    RecipientList recipients_;
    bool messageLog_ = false;
    bool selectByGroup_ = false;
    bool sendByPager_ = false;
    QString byPagerId_;
    QString byPagerCarrier_;
};

} // namespace compose
