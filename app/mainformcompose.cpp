// The main window's side of message composition: its controls show the composition, and the
// preparations work on it.
#include "app/mainform.h"

#include "app/messageedit.h"
#include "compose/bypagerid.h"
#include "compose/composition.h"
#include "compose/standardboxes.h"
#include "store/storeerror.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

// A check box and a switch of the composition follow each other.
void bindSwitch(QCheckBox* box, compose::Composition* composition, void (compose::Composition::*set)(bool),
    void (compose::Composition::*changed)(bool), bool on)
{
    box->setChecked(on);
    QObject::connect(box, &QCheckBox::toggled, composition, set);
    QObject::connect(composition, changed, box, &QCheckBox::setChecked);
}

} // namespace

void TMainForm::connectComposition()
{
    compose::Composition* c = composition_;
    // The editor and the composed text: the operator's typing goes into the composition, a text
    // put in by the program (a scheduled message) comes out into the editor.
    connect(messageEditor, &QPlainTextEdit::textChanged, c, [this, c] { c->setText(messageEditor->toPlainText()); });
    connect(c, &compose::Composition::textChanged, messageEditor, [this](const QString& text) {
        const QString shown = messageEditor->toPlainText();
        if (shown == text)
            return;
        if (!shown.isEmpty() && text.startsWith(shown))
            messageEditor->appendAtEnd(text.mid(shown.size()));
        else
            messageEditor->setPlainText(text);
    });
    connect(c, &compose::Composition::textSelected, messageEditor, &QPlainTextEdit::selectAll);

    bindSwitch(messageLogBox, c, &compose::Composition::setMessageLog, &compose::Composition::messageLogChanged,
        c->messageLog());
    bindSwitch(selectByGroupBox, c, &compose::Composition::setSelectByGroup, &compose::Composition::selectByGroupChanged,
        c->selectByGroup());
    bindSwitch(sendByPagerBox, c, &compose::Composition::setSendByPager, &compose::Composition::sendByPagerChanged,
        c->sendByPager());
    // Every change of "Select By Group", the operator's or the send command's, switches the lookups.
    connect(c, &compose::Composition::selectByGroupChanged, this, &TMainForm::SendGroupClick);

    connect(sendButton, &QPushButton::clicked, this, [this] { session_->sendComposed(); });

    byPagerIdDialog = new compose::TByPagerID(desk().PagerCompT(), this);
    connect(byPagerIdButton, &QPushButton::clicked, this, &TMainForm::ByPagerBtnClick);
}

void TMainForm::ByPagerBtnClick()
{
    if (byPagerIdDialog->exec() != QDialog::Accepted)
        return;
    userLookup->setEnabled(false);
    groupLookup->setEnabled(false);
    pagerIdLabel->hide();
    carrierLabel->hide();
    session_->sendByPagerId(byPagerIdDialog->pager->text(), byPagerIdDialog->chosenCarrier());
    // The lookups back as after a send by group.
    try {
        desk().BUsersT().refresh();
    } catch (const store::StoreError& e) {
        showStandardError(e.message());
    }
    showUserLookup();
    messageEditor->setFocus(); // the next message is typed at once
}
