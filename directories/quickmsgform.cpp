#include "directories/quickmsgform.h"

#include "models/tablemodel.h"
#include "store/fieldnames.h"
#include "store/table.h"

#include <QAction>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QShortcut>
#include <QTableView>
#include <QVBoxLayout>

namespace directories {

namespace f = store::quickmsg;

TQuickMsgF::TQuickMsgF(store::Table& quickMessages, bool selectionOnly, QWidget* parent)
    : DirectoryForm(selectionOnly ? QStringLiteral("Quick Message Selection") : QStringLiteral("Quick Messages Definition"),
        QStringLiteral("QuickMsg"), parent)
    , QuickMsgT(quickMessages)
    , selectionOnly_(selectionOnly)
{
    setObjectName(selectionOnly ? QStringLiteral("QuickMsgDialog") : QStringLiteral("QuickMsgF"));
    // The directories' hidden keys act here as the buttons whose letters they underline (the
    // window's commands are its buttons).
    if (selectionOnly) {
        // The selection window has no menu, and no menu key.
        MainMenu->clear();
        MainMenu->hide();
        HelpMenu = nullptr;
        ExitMenu = nullptr;
    }

    Model = new TableModel(QuickMsgT, { f::MsgTitle }, this);
    Model->setColumnTitle(0, QStringLiteral("Quick Message Name"));
    NameList = new QTableView(this);
    NameList->setObjectName(QStringLiteral("NameList"));
    NameList->setAccessibleName(QStringLiteral("Quick Message Name:"));
    NameList->setModel(Model);
    NameList->setSelectionMode(QAbstractItemView::SingleSelection);
    NameList->setSelectionBehavior(QAbstractItemView::SelectRows);
    NameList->setTabKeyNavigation(false);
    NameList->horizontalHeader()->setStretchLastSection(true);
    NameList->verticalHeader()->setDefaultSectionSize(NameList->fontMetrics().height() + 6);
    NameList->setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::AnyKeyPressed);
    Body = new QPlainTextEdit(this);
    Body->setObjectName(QStringLiteral("Body"));
    Body->setAccessibleName(selectionOnly ? QStringLiteral("Message:") : QStringLiteral("Message :"));
    Body->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Tab moves on: a tab character has no place in a page.
    Body->setTabChangesFocus(true);
    Body->setReadOnly(selectionOnly);
    Body->setToolTip(
        QStringLiteral("Enter body of Quick Message up to 500 characters. Double Click to Use this Quick Message."));
    Body->viewport()->installEventFilter(this);
    NameList->viewport()->installEventFilter(this);

    createRecordButtons();
    // Without a menu, Alt+X closes the window as its Exit button does.
    if (selectionOnly)
        connect(new QShortcut(QKeySequence(Qt::ALT | Qt::Key_X), this), &QShortcut::activated, this, &QWidget::close);
    UseBtn = new QPushButton(QStringLiteral("&Use Msg"), this);
    UseBtn->setObjectName(QStringLiteral("UseBtn"));
    UseBtn->setAutoDefault(true);
    UseBtn->setDefault(true);

    auto* layout = new QVBoxLayout(this);
    layout->setMenuBar(MainMenu);
    auto* nameLabel = new QLabel(QStringLiteral("Quick Message Name:"), this);
    layout->addWidget(nameLabel);
    layout->addWidget(NameList, 1);
    layout->addWidget(new QLabel(selectionOnly ? QStringLiteral("Message:") : QStringLiteral("Message :"), this));
    layout->addWidget(Body, 1);
    auto* commands = new QHBoxLayout;
    if (!selectionOnly) {
        commands->addLayout(
            recordButtonGrid({ { QStringLiteral("First   Prev"), 2 }, { QStringLiteral("Next  Last"), 2 } }));
    }
    commands->addStretch();
    commands->addWidget(UseBtn);
    if (!selectionOnly)
        commands->addWidget(SaveBtn);
    commands->addWidget(ExitBtn);
    layout->addLayout(commands);
    // Tab takes the command buttons as they stand, left to right.
    setTabOrder(CancelBtn, UseBtn);
    setTabOrder(UseBtn, SaveBtn);
    setTabOrder(SaveBtn, ExitBtn);
    for (QPushButton* b : { FirstBtn, PriorBtn, NextBtn, LastBtn, AddBtn, DelBtn, PostBtn, CancelBtn, SaveBtn })
        b->setVisible(!selectionOnly);
    if (selectionOnly)
        setFixedSize(360, 320);
    else
        resize(560, 400);

    connectRecordCommands(QuickMsgT, NameList);
    // "&Save" closes the window; the change it leaves is written at the next activation.
    disconnect(SaveBtn, nullptr, this, nullptr);
    connect(SaveBtn, &QPushButton::clicked, this, &QWidget::close);
    for (QAction* key : { SaveKey, AddKey, DeleteKey, CancelKey })
        disconnect(key, nullptr, this, nullptr);
    if (selectionOnly) {
        for (QAction* key : { SaveKey, AddKey, DeleteKey, CancelKey })
            key->setEnabled(false);
    } else {
        // Alt+S is "&Save" (the record row's Save, which posts, shows no letter).
        connect(SaveKey, &QAction::triggered, SaveBtn, &QPushButton::click);
        connect(AddKey, &QAction::triggered, AddBtn, &QPushButton::click);
        connect(DeleteKey, &QAction::triggered, DelBtn, &QPushButton::click);
        connect(CancelKey, &QAction::triggered, CancelBtn, &QPushButton::click);
    }
    connect(UseBtn, &QPushButton::clicked, this, &TQuickMsgF::UseClick);
    connect(Model, &TableModel::currentRowChanged, this, &TQuickMsgF::scheduleSync);
    connect(NameList->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
        [this](const QModelIndex& current) {
            if (!showing_ && current.isValid())
                guarded([&] { Model->moveToRow(current.row()); });
        });
    connect(&QuickMsgT, &store::Table::recordChanged, this, &TQuickMsgF::scheduleSync);
    connect(&QuickMsgT, &store::Table::positionChanged, this, &TQuickMsgF::scheduleSync);
    connect(Body, &QPlainTextEdit::textChanged, this, [this] {
        // A record to write to: a stored one, or the one being added (the first of all, too).
        const bool none = QuickMsgT.isEmpty() && QuickMsgT.state() != store::Table::State::Insert;
        if (showing_ || selectionOnly_ || none)
            return;
        QString text = Body->toPlainText();
        if (text.size() > kBodyLimit) {
            text.truncate(kBodyLimit);
            const QScopedValueRollback showing(showing_, true);
            Body->setPlainText(text);
            Body->moveCursor(QTextCursor::End);
        }
        guarded([&] {
            QuickMsgT.edit();
            QuickMsgT.setMemoLines(f::Msg, text.split(u'\n'));
        });
    });
    syncView();
}

void TQuickMsgF::FormActivate()
{
    QuickMsgT.refresh();
    QuickMsgT.first();
    NameList->setFocus();
}

void TQuickMsgF::syncView()
{
    const int row = Model->currentRow();
    const QScopedValueRollback showing(showing_, true);
    NameList->setCurrentIndex(row >= 0 ? Model->index(row, 0) : QModelIndex());
    if (Body->hasFocus() && QuickMsgT.state() != store::Table::State::Browse)
        return; // the operator is typing this body
    const bool none = !QuickMsgT.isOpen() || (QuickMsgT.recNo() == 0 && QuickMsgT.state() != store::Table::State::Insert);
    const QString text = none ? QString() : QuickMsgT.fieldText(f::Msg).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (Body->toPlainText() != text)
        Body->setPlainText(text);
}

bool TQuickMsgF::eventFilter(QObject* watched, QEvent* event)
{
    // A double click on the body uses the message; on the name list only in the selection window.
    if (event->type() == QEvent::MouseButtonDblClick
        && (watched == Body->viewport() || (selectionOnly_ && watched == NameList->viewport()))) {
        UseClick();
        return true;
    }
    return DirectoryForm::eventFilter(watched, event);
}

void TQuickMsgF::keyPressEvent(QKeyEvent* event)
{
    // "Use Msg" is the selection window's default: Enter that no control took (the name list
    // passes it on) uses the highlighted message.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (selectionOnly_ && enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        UseClick();
        return;
    }
    DirectoryForm::keyPressEvent(event);
}

void TQuickMsgF::UseClick()
{
    emit messageUsed(Body->toPlainText());
    close();
}

} // namespace directories

#include "moc_quickmsgform.cpp"
