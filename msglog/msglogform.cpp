#include "msglog/msglogform.h"

#include "compose/composition.h"
#include "core/deliverystatus.h"
#include "models/tablemodel.h"
#include "directories/windowparts.h"
#include "msglog/logfindbar.h"
#include "msglog/logstatus.h"
#include "msglog/printlogfilter.h"
#include "store/fieldnames.h"
#include "store/table.h"

#include <QAction>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

namespace msglog {

namespace {
constexpr int kMustSendColumn = 3;
constexpr int kMsgColumn = 4;
}

TMsgLogF::TMsgLogF(core::Desk& desk, compose::Composition& composition, LogResend::SendFunction send,
    ResendView view, QWidget* parent)
    : DirectoryForm(QStringLiteral("Message Log"), QStringLiteral("MsgLog"), parent)
    , MsgLogT(desk.MsgLogT())
    , composition_(composition)
    , resend_(desk, composition, std::move(send), std::move(view))
{
    setObjectName(QStringLiteral("MsgLogF"));

    // "&Print" stands between Help and Exit.
    PrintMenu = new QAction(QStringLiteral("&Print"), this);
    PrintMenu->setObjectName(QStringLiteral("PrintMenu"));
    MainMenu->insertAction(ExitMenu, PrintMenu);
    PrintLogFilter = new TPrintLogFilter(desk, this);
    connect(PrintMenu, &QAction::triggered, this, &TMsgLogF::Print2Click);
    // The log has no Save and no Add: only Delete (Alt+D) and Cancel (Alt+C) act through keys.
    SaveKey->setEnabled(false);
    AddKey->setEnabled(false);

    using namespace store::msglog;
    LogModel = new models::TableModel(MsgLogT, { DDate, DTime, UserName, MustSend, Msg }, this);
    LogModel->setColumnTitles(directories::messageColumnTitles());
    LogModel->setColumnReadOnly(kMsgColumn);
    Statuses = new LogStatus(desk, this);
    const int statusColumn = LogModel->addComputedColumn(
        QStringLiteral("Status"), [this](uint32_t recNo) { return Statuses->statusOf(recNo); });
    connect(Statuses, &LogStatus::changed, LogModel, &models::TableModel::computedColumnsChanged);
    DBGrid2 = new QTableView(this);
    DBGrid2->setObjectName(QStringLiteral("DBGrid2"));
    DBGrid2->setAccessibleName(QStringLiteral("Message log"));
    DBGrid2->setModel(LogModel);
    DBGrid2->setSelectionMode(QAbstractItemView::SingleSelection);
    DBGrid2->setSelectionBehavior(QAbstractItemView::SelectRows);
    DBGrid2->setTabKeyNavigation(false);
    DBGrid2->setWordWrap(false);
    // The message takes the room left; the status, last, as wide as its longest word.
    DBGrid2->horizontalHeader()->setSectionResizeMode(kMsgColumn, QHeaderView::Stretch);
    int statusWidth = DBGrid2->horizontalHeader()->sectionSizeHint(statusColumn);
    const QFontMetrics metrics = DBGrid2->fontMetrics();
    // A group's pages are counted beside the word ("Pending 12/40").
    for (const QString& status : core::outcomeOrder()) {
        statusWidth = std::max(statusWidth,
            metrics.horizontalAdvance(LogStatus::shownAs(status + QStringLiteral(" 88/88")))
                + 3 * metrics.averageCharWidth());
    }
    directories::fitHeadings(DBGrid2);
    DBGrid2->horizontalHeader()->resizeSection(statusColumn, statusWidth);
    DBGrid2->verticalHeader()->setDefaultSectionSize(DBGrid2->fontMetrics().height() + 6);
    DBGrid2->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed
        | QAbstractItemView::AnyKeyPressed);
    // The log never sets MUSTSEND: an always blank column only takes room from the message.
    DBGrid2->setColumnHidden(kMustSendColumn, true);

    DBMemo1 = new QPlainTextEdit(this);
    DBMemo1->setObjectName(QStringLiteral("DBMemo1"));
    DBMemo1->setReadOnly(true);
    DBMemo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    createRecordButtons();
    DelBtn->setText(QStringLiteral("Delete"));
    CancelBtn->setText(QStringLiteral("Cancel"));
    // Commands the shared frame wires up but this window does not offer.
    for (QPushButton* unused : { AddBtn, PostBtn, SaveBtn })
        unused->hide();
    // These two keep their keys: Alt+M and Alt+R belong to no other command of the window.
    BitBtn1 = new QPushButton(QStringLiteral("Use &Msg"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn3 = new QPushButton(QStringLiteral("&ReSend"), this);
    BitBtn3->setObjectName(QStringLiteral("BitBtn3"));

    auto* layout = new QVBoxLayout(this);
    layout->setMenuBar(MainMenu);
    // The keys are the window's hidden commands (Alt+D, Alt+C), so the captions only underline them.
    layout->addLayout(directories::navigatorGrid(this, { FirstBtn, PriorBtn, NextBtn, LastBtn }, DelBtn, CancelBtn, 12));
    layout->addWidget(DBGrid2, 2);
    auto* memoLabel = new QLabel(QStringLiteral("Message:"), this);
    memoLabel->setBuddy(DBMemo1);
    DBMemo1->setAccessibleName(memoLabel->text());
    layout->addWidget(memoLabel);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(DBMemo1, 1);
    auto* commands = new QVBoxLayout;
    commands->addWidget(BitBtn3);
    commands->addWidget(BitBtn1);
    commands->addStretch(1);
    commands->addWidget(ExitBtn);
    bottom->addLayout(commands);
    layout->addLayout(bottom, 1);
    FindBar = new LogFindBar(MsgLogT, this);
    FindBar->hide();
    layout->addWidget(FindBar);

    setTabOrder(DBGrid2, DBMemo1);
    setTabOrder(DBMemo1, BitBtn3);
    setTabOrder(BitBtn3, BitBtn1);
    setTabOrder(BitBtn1, ExitBtn);
    setTabOrder(ExitBtn, FindBar);
    // Enter in the grid moves on; in its open cell editor it writes the cell and stays.
    enterMovesOn(DBGrid2, CellEnter::Stays);
    enterMovesOn(DBMemo1);
    resize(640, 440);

    connect(LogModel, &models::TableModel::currentRowChanged, this, &TMsgLogF::scheduleSync);
    connect(DBGrid2->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
        [this](const QModelIndex& current) {
            if (!showing_ && current.isValid())
                guarded([&] { LogModel->moveToRow(current.row()); });
        });
    connect(&MsgLogT, &store::Table::recordChanged, this, &TMsgLogF::scheduleSync);
    connect(&MsgLogT, &store::Table::positionChanged, this, &TMsgLogF::scheduleSync);
    connect(BitBtn1, &QPushButton::clicked, this, &TMsgLogF::BitBtn1Click);
    connect(BitBtn3, &QPushButton::clicked, this, &TMsgLogF::BitBtn3Click);

    FindAction = directories::windowKey(this, QStringLiteral("FindAction"), QKeySequence::Find);
    FindNextAction = directories::windowKey(this, QStringLiteral("FindNextAction"), QKeySequence(Qt::Key_F3));
    FindPrevAction
        = directories::windowKey(this, QStringLiteral("FindPrevAction"), QKeySequence(Qt::SHIFT | Qt::Key_F3));
    connect(FindAction, &QAction::triggered, this, &TMsgLogF::openFindBar);
    connect(FindNextAction, &QAction::triggered, this, [this] { findFromBar(true); });
    connect(FindPrevAction, &QAction::triggered, this, [this] { findFromBar(false); });
    connect(FindBar, &LogFindBar::recordFound, this, &TMsgLogF::goToFound);
    connect(FindBar, &LogFindBar::dismissed, DBGrid2, [this] {
        FindEscapeAction->setEnabled(false);
        DBGrid2->setFocus();
    });
    // While the bar is shown, Esc is the bar's first (it stops a find, then hides the bar), not the
    // window's close; a cell being typed in takes it before the window does, to drop the edit.
    FindEscapeAction
        = directories::windowKey(this, QStringLiteral("FindEscapeAction"), QKeySequence(Qt::Key_Escape));
    FindEscapeAction->setEnabled(false);
    connect(FindEscapeAction, &QAction::triggered, FindBar, &LogFindBar::escape);

    connectRecordCommands(MsgLogT, DBGrid2);
    syncView();
}

void TMsgLogF::BitBtn1Click()
{
    guarded([this] { resend_.copyMessage(); });
    close();
    emit messageUsed();
}

void TMsgLogF::BitBtn3Click()
{
    // The window closes whatever the resend found.
    guarded([this] { resend_.resend(); });
    close();
}

void TMsgLogF::Print2Click()
{
    // A value still open in the grid's editor is kept before the report reads the table.
    guarded([] {});
    PrintLogFilter->exec();
}

void TMsgLogF::openFindBar()
{
    FindBar->open(composition_.recipients()->names());
    FindEscapeAction->setEnabled(true);
}

void TMsgLogF::findFromBar(bool next)
{
    // F3 with nothing to find yet opens the bar instead.
    if (FindBar->isHidden() || FindBar->criteria().isEmpty()) {
        openFindBar();
        return;
    }
    if (next)
        FindBar->findNext();
    else
        FindBar->findPrevious();
}

void TMsgLogF::goToFound(uint32_t recNo)
{
    guarded([&] {
        // The grid follows the shared handle, as for its own moves.
        if (!MsgLogT.goToEntry(MsgLogT.entryNumberOf(recNo)))
            FindBar->Status->setText(QStringLiteral("The record found is no longer in the log"));
    });
}

void TMsgLogF::FormActivate()
{
    MsgLogT.refresh();
    MsgLogT.last();
    // The grid shows the newest record before it takes the focus: a grid without a current cell
    // would make its first row current on focus, and so move the handle there.
    syncView();
    DBGrid2->scrollTo(DBGrid2->currentIndex());
    DBGrid2->setFocus();
}

// DLVSTAT is looked at for changes only while the window is shown.
void TMsgLogF::showEvent(QShowEvent* event)
{
    DirectoryForm::showEvent(event);
    Statuses->setFollowing(true);
}

void TMsgLogF::hideEvent(QHideEvent* event)
{
    Statuses->setFollowing(false);
    DirectoryForm::hideEvent(event);
}

void TMsgLogF::syncView()
{
    showCurrentRow(LogModel->currentRow());
    QString message;
    if (MsgLogT.isOpen() && MsgLogT.recNo() != 0)
        message = MsgLogT.fieldText(store::msglog::Msg);
    message.remove(u'\r');
    if (DBMemo1->toPlainText() != message)
        DBMemo1->setPlainText(message);
}

void TMsgLogF::showCurrentRow(int row)
{
    const QScopedValueRollback showing(showing_, true);
    if (row >= 0) {
        // Brought into view when the record changes, not when its row only follows it (as the rows
        // are read), which would pull the view back while the operator scrolls.
        if (DBGrid2->currentIndex().row() == row)
            return;
        const QModelIndex index = LogModel->index(row, DBGrid2->currentIndex().isValid() ? DBGrid2->currentIndex().column() : 0);
        DBGrid2->setCurrentIndex(index);
        DBGrid2->scrollTo(index);
    } else {
        DBGrid2->setCurrentIndex(QModelIndex());
    }
}

} // namespace msglog

#include "moc_msglogform.cpp"
