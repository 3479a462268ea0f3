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
    connect(message1, &QPlainTextEdit::textChanged, c, [this, c] { c->setText(message1->toPlainText()); });
    connect(c, &compose::Composition::textChanged, message1, [this](const QString& text) {
        const QString shown = message1->toPlainText();
        if (shown == text)
            return;
        if (!shown.isEmpty() && text.startsWith(shown))
            message1->appendAtEnd(text.mid(shown.size()));
        else
            message1->setPlainText(text);
    });
    connect(c, &compose::Composition::textSelected, message1, &QPlainTextEdit::selectAll);

    bindSwitch(messagelog, c, &compose::Composition::setMessageLog, &compose::Composition::messageLogChanged,
        c->messageLog());
    bindSwitch(SendGroup, c, &compose::Composition::setSelectByGroup, &compose::Composition::selectByGroupChanged,
        c->selectByGroup());
    bindSwitch(SendByPager, c, &compose::Composition::setSendByPager, &compose::Composition::sendByPagerChanged,
        c->sendByPager());
    // Every change of "Select By Group", the operator's or the send command's, switches the lookups.
    connect(c, &compose::Composition::selectByGroupChanged, this, &TMainForm::SendGroupClick);

    connect(SendBtn, &QPushButton::clicked, this, [this] { session_->sendComposed(); });

    ByPagerID = new compose::TByPagerID(desk().PagerCompT, this);
    connect(ByPagerBtn, &QPushButton::clicked, this, &TMainForm::ByPagerBtnClick);
}

void TMainForm::ByPagerBtnClick()
{
    if (ByPagerID->exec() != QDialog::Accepted)
        return;
    DBLookupComboBox1->setEnabled(false);
    DBLookupCombo2->setEnabled(false);
    pager_id2->hide();
    pagercompL->hide();
    session_->sendByPagerId(ByPagerID->pager->text(), ByPagerID->chosenCarrier());
    // Back to the user lookup, as after a send by group.
    try {
        desk().BUsersT.refresh();
    } catch (const store::StoreError& e) {
        showStandardError(e.message());
    }
    showUserLookup();
}
