#include "schedule/schedmsgform.h"

#include "compose/composition.h"
#include "directories/celldelegate.h"
#include "models/tablemodel.h"
#include "directories/windowparts.h"
#include "schedule/schedulemessage.h"
#include "store/fieldnames.h"
#include "store/storeerror.h"
#include "store/table.h"

#include <QAbstractItemView>
#include <QAction>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QTableView>
#include <QVBoxLayout>


namespace schedule {

namespace {

namespace f = store::schedmsg;

// The grid's rows, refusing a DDATE or DTIME the scan could not read.
class ScheduledModel : public models::TableModel {
public:
    using models::TableModel::TableModel;

    bool setData(const QModelIndex& index, const QVariant& value, int role) override
    {
        const QString text = value.toString();
        const QString refusal
            = index.column() == 0 ? dateRefusal(text) : index.column() == 1 ? timeRefusal(text) : QString();
        if (!refusal.isEmpty()) {
            emit storeError(refusal);
            return false;
        }
        return models::TableModel::setData(index, value, role);
    }
};

} // namespace

TSchedMsgF::TSchedMsgF(store::Table& scheduled, compose::Composition& composition, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , SchedMsgT(scheduled)
    , composition_(composition)
{
    setObjectName(QStringLiteral("SchedMsgF"));
    setWindowTitle(QStringLiteral("Scheduled Messages"));
    setAttribute(Qt::WA_QuitOnClose, false);

    MainMenu = new QMenuBar(this);
    MainMenu->setObjectName(QStringLiteral("MainMenu"));
    HelpMenu = MainMenu->addAction(QStringLiteral("&Help"));
    HelpMenu->setObjectName(QStringLiteral("HelpMenu"));
    ExitMenu = MainMenu->addAction(QStringLiteral("E&xit"));
    ExitMenu->setObjectName(QStringLiteral("ExitMenu"));

    FirstBtn = directories::namedButton(QStringLiteral("FirstBtn"), QStringLiteral("First"), this);
    PriorBtn = directories::namedButton(QStringLiteral("PriorBtn"), QStringLiteral("Prev"), this);
    NextBtn = directories::namedButton(QStringLiteral("NextBtn"), QStringLiteral("Next"), this);
    LastBtn = directories::namedButton(QStringLiteral("LastBtn"), QStringLiteral("Last"), this);
    DeleteBtn = directories::namedButton(QStringLiteral("DeleteBtn"), QStringLiteral("Delete"), this);
    CancelBtn = directories::namedButton(QStringLiteral("CancelBtn"), QStringLiteral("Cancel"), this);

    Model = new ScheduledModel(SchedMsgT, { f::DDate, f::DTime, f::UserName, f::MustSend, f::Msg }, this);
    Model->setColumnTitles(directories::messageColumnTitles());
    DBGrid1 = new QTableView(this);
    DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
    DBGrid1->setAccessibleName(QStringLiteral("Scheduled messages"));
    DBGrid1->setModel(Model);
    DBGrid1->setItemDelegate(new directories::CellDelegate(DBGrid1));
    DBGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
    DBGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
    DBGrid1->setTabKeyNavigation(false);
    DBGrid1->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed
        | QAbstractItemView::AnyKeyPressed);
    DBGrid1->verticalHeader()->setDefaultSectionSize(DBGrid1->fontMetrics().height() + 6);
    DBGrid1->horizontalHeader()->setStretchLastSection(true);
    directories::fitHeadings(DBGrid1);

    auto* memoCaption = new QLabel(QStringLiteral("Message:"), this);
    DBMemo1 = new QPlainTextEdit(this);
    DBMemo1->setObjectName(QStringLiteral("DBMemo1"));
    DBMemo1->setAccessibleName(QStringLiteral("Message:"));
    DBMemo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Tab moves on: a tab character has no place in a page.
    DBMemo1->setTabChangesFocus(true);
    memoCaption->setBuddy(DBMemo1);
    BitBtn1 = directories::namedButton(QStringLiteral("BitBtn1"), QStringLiteral("Use &Msg"), this);
    BitBtn2 = directories::namedButton(QStringLiteral("BitBtn2"), QStringLiteral("E&xit"), this);
    // Alt+X belongs to the menu's "E&xit", which does the same.
    BitBtn2->setShortcut(QKeySequence());

    // The captions underline D and C: Alt+D and Alt+C are the buttons' keys.
    connect(directories::windowKey(this, QStringLiteral("DeleteKey"), QKeySequence(Qt::ALT | Qt::Key_D)),
        &QAction::triggered, DeleteBtn, &QPushButton::click);
    connect(directories::windowKey(this, QStringLiteral("CancelKey"), QKeySequence(Qt::ALT | Qt::Key_C)),
        &QAction::triggered, CancelBtn, &QPushButton::click);
    QGridLayout* navigators
        = directories::navigatorGrid(this, { FirstBtn, PriorBtn, NextBtn, LastBtn }, DeleteBtn, CancelBtn, 24);
    auto* bottom = new QHBoxLayout;
    auto* memoColumn = new QVBoxLayout;
    memoColumn->addWidget(memoCaption);
    memoColumn->addWidget(DBMemo1);
    bottom->addLayout(memoColumn, 1);
    auto* buttons = new QVBoxLayout;
    buttons->addStretch();
    buttons->addWidget(BitBtn1);
    buttons->addWidget(BitBtn2);
    bottom->addLayout(buttons);
    auto* layout = new QVBoxLayout(this);
    layout->setMenuBar(MainMenu);
    layout->addLayout(navigators);
    layout->addWidget(DBGrid1, 2);
    layout->addLayout(bottom, 1);
    resize(620, 420);

    connect(HelpMenu, &QAction::triggered, this, [this] { emit helpRequested(QStringLiteral("SchedMsgLog")); });
    connect(ExitMenu, &QAction::triggered, this, &QWidget::close);
    connect(BitBtn2, &QPushButton::clicked, this, &QWidget::close);
    connect(BitBtn1, &QPushButton::clicked, this, &TSchedMsgF::BitBtn1Click);
    connect(FirstBtn, &QPushButton::clicked, this, [this] { guarded([this] { SchedMsgT.first(); }); });
    connect(PriorBtn, &QPushButton::clicked, this, [this] { guarded([this] { SchedMsgT.prior(); }); });
    connect(NextBtn, &QPushButton::clicked, this, [this] { guarded([this] { SchedMsgT.next(); }); });
    connect(LastBtn, &QPushButton::clicked, this, [this] { guarded([this] { SchedMsgT.last(); }); });
    connect(DeleteBtn, &QPushButton::clicked, this, [this] {
        if (SchedMsgT.isEmpty())
            return;
        QMessageBox box(QMessageBox::Question, windowTitle(), QStringLiteral("Delete record?"),
            QMessageBox::Ok | QMessageBox::Cancel, this);
        if (box.exec() == QMessageBox::Ok)
            guarded([this] { SchedMsgT.deleteRecord(); });
    });
    connect(CancelBtn, &QPushButton::clicked, this, [this] {
        if (QWidget* editor = DBGrid1->indexWidget(DBGrid1->currentIndex()))
            editor->clearFocus();
        guarded([this] { SchedMsgT.cancel(); });
        syncView();
    });
    connect(Model, &models::TableModel::storeError, this,
        [this](const QString& text) { QMessageBox::critical(this, windowTitle(), text); }, Qt::QueuedConnection);
    connect(Model, &models::TableModel::currentRowChanged, this, &TSchedMsgF::syncView);
    connect(DBGrid1->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
        [this](const QModelIndex& current) {
            if (!showing_ && current.isValid())
                guarded([&] { Model->moveToRow(current.row()); });
        });
    connect(&SchedMsgT, &store::Table::recordChanged, this, &TSchedMsgF::showMemo);
    connect(&SchedMsgT, &store::Table::positionChanged, this, &TSchedMsgF::showMemo);
    // The message typed into the memo is the record's, saved with it when the record is left.
    connect(DBMemo1, &QPlainTextEdit::textChanged, this, [this] {
        if (showing_ || SchedMsgT.isEmpty())
            return;
        QString text = DBMemo1->toPlainText();
        if (text.size() > 520) {
            text.truncate(520);
            const QScopedValueRollback showing(showing_, true);
            DBMemo1->setPlainText(text);
            DBMemo1->moveCursor(QTextCursor::End);
        }
        guarded([&] {
            SchedMsgT.edit();
            SchedMsgT.setMemoLines(f::Msg, text.split(u'\n'));
        });
    });
    syncView();
}

void TSchedMsgF::guarded(const std::function<void()>& command)
{
    try {
        command();
    } catch (const store::StoreError& e) {
        QMessageBox::critical(this, windowTitle(), e.message());
    }
}

void TSchedMsgF::syncView()
{
    const int row = Model->currentRow();
    {
        const QScopedValueRollback showing(showing_, true);
        const int column = qMax(0, DBGrid1->currentIndex().column());
        DBGrid1->setCurrentIndex(row >= 0 ? Model->index(row, column) : QModelIndex());
    }
    showMemo();
}

void TSchedMsgF::showMemo()
{
    if (DBMemo1->hasFocus() && SchedMsgT.state() != store::Table::State::Browse)
        return; // the operator is typing into this record's message
    const QString text = SchedMsgT.isEmpty() ? QString() : SchedMsgT.fieldText(f::Msg);
    const QString shown = QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (DBMemo1->toPlainText() == shown)
        return;
    const QScopedValueRollback showing(showing_, true);
    DBMemo1->setPlainText(shown);
}

void TSchedMsgF::BitBtn1Click()
{
    QString text;
    guarded([&] {
        if (!SchedMsgT.isEmpty())
            text = SchedMsgT.fieldText(f::Msg).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    });
    composition_.setText(text.left(kUseMsgLimit));
    close();
    emit messageUsed();
}

} // namespace schedule

#include "moc_schedmsgform.cpp"
