#include "app/mainform.h"

#include "app/aboutbox.h"
#include "app/elidingmemo.h"
#include "app/helpwindow.h"
#include "app/messageedit.h"
#include "compose/composition.h"
#include "compose/preparation.h"
#include "core/clocktext.h"
#include "compose/pageforms.h"
#include "compose/standardboxes.h"
#include "core/recipientname.h"
#include "core/showpending.h"
#include "paging/pageengine.h"
#include "store/storeerror.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDate>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QTextBlock>
#include <QTextLayout>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr int kClientWidth = 571;
constexpr int kClientHeight = 363;
constexpr int kButtonHeight = 24;

void setHint(QWidget* widget, const QString& hint)
{
    widget->setToolTip(hint);
    widget->setStatusTip(hint);
}

QPushButton* commandButton(const QString& name, const QString& caption, QWidget* parent)
{
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setFixedHeight(kButtonHeight);
    button->setAutoDefault(false);
    return button;
}

QLabel* namedLabel(const QString& name, const QString& caption, QWidget* parent)
{
    auto* label = new QLabel(caption, parent);
    label->setObjectName(name);
    return label;
}

} // namespace

TMainForm::TMainForm(const QString& dataDirectory, QWidget* parent)
    : TMainForm(std::make_unique<session::DeskSession>(dataDirectory), nullptr, parent)
{
}

TMainForm::TMainForm(session::DeskSession& session, QWidget* parent)
    : TMainForm(nullptr, &session, parent)
{
}

TMainForm::TMainForm(std::unique_ptr<session::DeskSession> owned, session::DeskSession* shown, QWidget* parent)
    : QMainWindow(parent,
        Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
            | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
    , currentDateTime((shown ? shown : owned.get())->clock)
    , ownedSession_(std::move(owned))
    , session_(shown ? shown : ownedSession_.get())
{
    session::DeskSession& session = *session_;
    setObjectName(QStringLiteral("MainForm"));
    composition_ = &session.composition();
    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("ClientArea"));
    auto* grid = new QGridLayout(central);
    grid->setContentsMargins(6, 6, 6, 6);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(4);
    grid->addWidget(buildRecipients(), 0, 0);
    grid->addWidget(buildMessage(), 1, 0);
    grid->addWidget(buildBottomRow(), 2, 0);
    grid->addWidget(buildCommandColumn(), 0, 1, 3, 1, Qt::AlignTop);
    grid->addWidget(buildStatusGroup(), 3, 0, 1, 2);
    grid->setColumnStretch(0, 1);
    grid->setRowStretch(0, 3);
    grid->setRowStretch(1, 2);
    grid->setRowStretch(3, 3);
    setCentralWidget(central);

    Version = namedLabel(QStringLiteral("Version"), QStringLiteral("V4.00"), central);
    Version->hide();
    SendByPager = new QCheckBox(QStringLiteral("Send By Pager ID"), central);
    SendByPager->setObjectName(QStringLiteral("SendByPager"));
    SendByPager->hide();

    buildMenus();
    statusBar()->setSizeGripEnabled(true);

    // Tab order: recipients, message, the command column, the bottom row, the status clear button.
    const QList<QWidget*> tabChain = { UsersList, ClearAllBtn, message1, DateBtn, TimeBtn, QuickBtn, SendBtn,
        messagelog, ByPagerBtn, SendLaterBtn, ExitBtn, ClearTextBtn, BitBtn7, PendingMsgsBtn, BitBtn6 };
    for (qsizetype i = 1; i < tabChain.size(); ++i)
        setTabOrder(tabChain[i - 1], tabChain[i]);
    message1->setFocus(); // the operator starts by typing the message

    // What the session says, shown.
    Timer1 = session.timer();
    connect(&session, &session::DeskSession::clockShown, this, [this](const QString& text) {
        TimeofDay->setText(text);
        // The scheduling window's clock is kept here too once "Send Later" has opened it.
        emit clockShown(text);
    });
    connect(&session, &session::DeskSession::pendingShown, this, &TMainForm::showPending);
    connect(&session, &session::DeskSession::statusLine, this, &TMainForm::showStatusLine);
    connect(&session, &session::DeskSession::sendingShown, Sending, &QWidget::show);
    connect(&session, &session::DeskSession::sendingHidden, Sending, &QWidget::hide);
    connect(&session, &session::DeskSession::sendingProgress, Sending, &QLabel::setText);
    connect(&session, &session::DeskSession::errorRaised, this, &TMainForm::showStandardError);
    connect(&session, &session::DeskSession::infoRequested, this,
        [this](const QString& text) { compose::ShowInfo(text, this); });
    connect(&session, &session::DeskSession::restoreRequested, this,
        [this] { setWindowState(windowState() & ~Qt::WindowMinimized); });
    connect(&session, &session::DeskSession::focusMessageRequested, this, [this] { message1->setFocus(); });
    // A result line quotes the editor's first line as the operator sees it, when the editor holds
    // the page's text; otherwise the page's own text.
    session.shownFirstLine = [this](const QString& pageText) {
        const QString editorMessage = compose::pageMessage(message1->toPlainText());
        if (pageText.isEmpty() || editorMessage.startsWith(pageText))
            return firstDisplayedLine();
        return QString();
    };
    // Faults inside the engine's events (the loop's handlers among them) go to the standard box.
    paging::TPageEngine::setErrorReporter([this](const QString& text) { showStandardError(text); });
    ShowPending = new TShowPending(desk().PendingMsgs, desk().SendMsgs, this);
    connect(ShowPending, &TShowPending::closedWithCount, PendingMsgsBtn,
        [this](int pending) { PendingMsgsBtn->setText(QStringLiteral("Pending Msgs: ") + QString::number(pending)); });
    connectComposition();

    // Creation: the windows made on first use start unmade (aboutBox_, helpWindow_); a window with
    // a session of its own runs the data steps, which report a failure through startupError() and
    // never keep the window from opening.
    if (ownedSession_)
        ownedSession_->open();
    if (desk().isOpen()) {
        message1->clear();
        ReadUsersList();
    }
    setWindowTitle(QStringLiteral("PlimoPager32 ") + Version->text());

    // Client area of 571 x 363 under the menu bar, centred on the screen.
    central->setMinimumSize(central->minimumSizeHint());
    resize(kClientWidth, kClientHeight + menuBar()->sizeHint().height() + statusBar()->sizeHint().height());
    if (const QScreen* screen = this->screen()) {
        QRect frame(QPoint(), size());
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

TMainForm::~TMainForm()
{
    paging::TPageEngine::setErrorReporter(nullptr);
    session_->shownFirstLine = nullptr;
}

QWidget* TMainForm::buildRecipients()
{
    auto* box = new QWidget(this);
    auto* grid = new QGridLayout(box);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(2);

    auto* caption = new QVBoxLayout;
    caption->setSpacing(0);
    caption->addWidget(namedLabel(QStringLiteral("SelectUsersLabel"), QStringLiteral("Select Users "), box));
    caption->addWidget(namedLabel(QStringLiteral("AndGroupsLabel"), QStringLiteral("and Groups"), box));
    caption->addSpacing(6);
    ClearAllBtn = commandButton(QStringLiteral("ClearAllBtn"), QStringLiteral("Clear All"), box);
    caption->addWidget(ClearAllBtn);
    caption->addStretch(1);
    grid->addLayout(caption, 0, 0);

    // The older single-choice controls lie under the check list: covered by it, still reached by
    // Alt+G on "Select By Group".
    auto* under = new QWidget(box);
    under->setObjectName(QStringLiteral("SingleChoicePanel"));
    auto* underGrid = new QGridLayout(under);
    underGrid->setContentsMargins(2, 2, 2, 2);
    SendGroup = new QCheckBox(QStringLiteral("Select By &Group"), under);
    SendGroup->setObjectName(QStringLiteral("SendGroup"));
    setHint(SendGroup, QStringLiteral("Select to send to a group of Users."));
    DBLookupComboBox1 = new QComboBox(under);
    DBLookupComboBox1->setObjectName(QStringLiteral("DBLookupComboBox1"));
    DBLookupCombo2 = new QComboBox(under);
    DBLookupCombo2->setObjectName(QStringLiteral("DBLookupCombo2"));
    DBLookupCombo2->setEnabled(false);
    DBLookupComboBox1->setCurrentIndex(-1);
    // What they hold, for screen readers: no caption stands beside them.
    DBLookupComboBox1->setAccessibleName(QStringLiteral("User"));
    DBLookupCombo2->setAccessibleName(QStringLiteral("Group"));
    pager_id2 = namedLabel(QStringLiteral("pager_id2"), QString(), under);
    pagercompL = namedLabel(QStringLiteral("pagercompL"), QString(), under);
    underGrid->addWidget(SendGroup, 0, 0, 1, 2);
    underGrid->addWidget(DBLookupComboBox1, 1, 0);
    underGrid->addWidget(pager_id2, 1, 1);
    underGrid->addWidget(DBLookupCombo2, 2, 0);
    underGrid->addWidget(pagercompL, 2, 1);
    for (QWidget* w : { static_cast<QWidget*>(SendGroup), static_cast<QWidget*>(DBLookupComboBox1),
             static_cast<QWidget*>(DBLookupCombo2) })
        w->setFocusPolicy(Qt::ClickFocus); // out of the tab order: the operator cannot see them
    grid->addWidget(under, 0, 1);

    UsersList = new QListView(box);
    UsersList->setAccessibleName(QStringLiteral("Select Users"));
    UsersList->setObjectName(QStringLiteral("UsersList"));
    UsersList->setModel(composition_->recipients());
    UsersList->setUniformItemSizes(true); // ten thousand names are laid out without measuring each
    UsersList->setSelectionMode(QAbstractItemView::SingleSelection);
    // Every row is one line of one font: the list measures one, not ten thousand, when it lays out.
    UsersList->setUniformItemSizes(true);
    setHint(UsersList,
        QStringLiteral("Select user and click on checkbox. Select more than one for group messages."));
    grid->addWidget(UsersList, 0, 1);
    UsersList->raise();
    UsersList->installEventFilter(this); // names added elsewhere appear when the list gains or loses focus
    grid->setColumnStretch(1, 1);

    connect(ClearAllBtn, &QPushButton::clicked, this, &TMainForm::ClearUsersListCheck);
    connect(DBLookupComboBox1, &QComboBox::activated, this, &TMainForm::UserLookupCloseUp);
    return box;
}

QWidget* TMainForm::buildMessage()
{
    auto* box = new QWidget(this);
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    auto* labels = new QHBoxLayout;
    MessageLabel = namedLabel(QStringLiteral("MessageLabel"), QStringLiteral("M&essage:"), box);
    Numchars = namedLabel(QStringLiteral("Numchars"), QStringLiteral("0"), box);
    labels->addWidget(MessageLabel);
    labels->addSpacing(8);
    labels->addWidget(Numchars);
    labels->addStretch(1);
    layout->addLayout(labels);

    message1 = new MessageEdit(box);
    message1->setObjectName(QStringLiteral("message1"));
    setHint(message1, QStringLiteral("Enter Message (500 characters max.):"));
    MessageLabel->setBuddy(message1);
    layout->addWidget(message1, 1);
    connect(message1, &QPlainTextEdit::textChanged, this, &TMainForm::message1Change);
    return box;
}

QWidget* TMainForm::buildCommandColumn()
{
    auto* box = new QWidget(this);
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(3);
    DateBtn = commandButton(QStringLiteral("DateBtn"), QStringLiteral("&Date"), box);
    TimeBtn = commandButton(QStringLiteral("TimeBtn"), QStringLiteral("&Time of Day"), box);
    QuickBtn = commandButton(QStringLiteral("QuickBtn"), QStringLiteral("Quick"), box);
    SendBtn = commandButton(QStringLiteral("SendBtn"), QStringLiteral("&Send Mesg"), box);
    messagelog = new QCheckBox(QStringLiteral("Message &Log"), box);
    messagelog->setObjectName(QStringLiteral("messagelog"));
    messagelog->setFixedHeight(kButtonHeight);
    ByPagerBtn = commandButton(QStringLiteral("ByPagerBtn"), QStringLiteral("By Pager ID"), box);
    SendLaterBtn = commandButton(QStringLiteral("SendLaterBtn"), QStringLiteral("Send L&ater"), box);
    ExitBtn = commandButton(QStringLiteral("ExitBtn"), QStringLiteral("E&xit"), box);
    // Alt+X belongs to the menu's "Exit", which does the same; two owners of one key would make
    // Qt treat the key as ambiguous and do neither.
    ExitBtn->setShortcut(QKeySequence());
    for (QWidget* w : { static_cast<QWidget*>(DateBtn), static_cast<QWidget*>(TimeBtn),
             static_cast<QWidget*>(QuickBtn), static_cast<QWidget*>(SendBtn),
             static_cast<QWidget*>(messagelog), static_cast<QWidget*>(ByPagerBtn),
             static_cast<QWidget*>(SendLaterBtn), static_cast<QWidget*>(ExitBtn) }) {
        w->setMinimumWidth(96);
        layout->addWidget(w);
    }
    layout->addStretch(1);

    // Their windows come with later work.
    QuickBtn->setEnabled(false);
    SendLaterBtn->setEnabled(false); // enabled with its window (CreateScheduleForm)

    connect(DateBtn, &QPushButton::clicked, this, &TMainForm::DateBtnClick);
    connect(TimeBtn, &QPushButton::clicked, this, &TMainForm::TimeBtnClick);
    connect(ExitBtn, &QPushButton::clicked, this, &TMainForm::ExitClick);
    return box;
}

QWidget* TMainForm::buildBottomRow()
{
    auto* box = new QWidget(this);
    auto* layout = new QHBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    ClearTextBtn = commandButton(QStringLiteral("ClearTextBtn"), QStringLiteral("Clea&r Text"), box);
    BitBtn7 = commandButton(QStringLiteral("BitBtn7"), QStringLiteral("Abort Mesg"), box);
    PendingMsgsBtn = commandButton(QStringLiteral("PendingMsgsBtn"), QStringLiteral("Pending Msgs"), box);
    PendingMsgsBtn->setMinimumWidth(
        PendingMsgsBtn->fontMetrics().horizontalAdvance(QStringLiteral("Pending Msgs: 0000")) + 24);
    layout->addWidget(ClearTextBtn);
    layout->addWidget(BitBtn7);
    layout->addWidget(PendingMsgsBtn);
    layout->addStretch(1);

    connect(ClearTextBtn, &QPushButton::clicked, this, &TMainForm::ClearTextClick);
    connect(BitBtn7, &QPushButton::clicked, this, &TMainForm::BitBtn7Click);
    connect(PendingMsgsBtn, &QPushButton::clicked, this, &TMainForm::PendingMsgsBtnClick);
    return box;
}

QWidget* TMainForm::buildStatusGroup()
{
    auto* group = new QGroupBox(QStringLiteral("Message Status: "), this);
    group->setObjectName(QStringLiteral("StatusGroup"));
    auto* grid = new QGridLayout(group);
    grid->setContentsMargins(6, 4, 6, 6);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(3);

    StatusMemo = new ElidingMemo(group);
    StatusMemo->setObjectName(QStringLiteral("StatusMemo"));
    StatusMemo->setReadOnly(true);
    StatusMemo->setFocusPolicy(Qt::NoFocus);
    QFont memoFont(QStringLiteral("DejaVu Sans"), 8);
    memoFont.setBold(true);
    StatusMemo->setFont(memoFont);
    StatusMemo->setPlainText(statusHistory_.lines().join(u'\n'));

    Sending = namedLabel(QStringLiteral("Sending"), QStringLiteral(" Sending"), group);
    Sending->setAutoFillBackground(true);
    QPalette yellow = Sending->palette();
    yellow.setColor(QPalette::Window, Qt::yellow);
    yellow.setColor(QPalette::WindowText, Qt::black);
    Sending->setPalette(yellow);
    // It shares the clock's column and never widens it, so the status list keeps its width; a
    // long progress text goes on a second line instead.
    QSizePolicy keepPlace(QSizePolicy::Ignored, Sending->sizePolicy().verticalPolicy());
    keepPlace.setRetainSizeWhenHidden(true);
    Sending->setSizePolicy(keepPlace);
    Sending->setWordWrap(true);
    Sending->setMinimumWidth(Sending->fontMetrics().horizontalAdvance(QStringLiteral("00:00:00 PM ")));
    Sending->hide();

    TimeofDay = namedLabel(QStringLiteral("TimeofDay"), QString(), group);
    TimeofDay->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    TimeofDay->setMinimumWidth(TimeofDay->fontMetrics().horizontalAdvance(QStringLiteral("00:00:00 PM ")));

    BitBtn6 = new QToolButton(group);
    BitBtn6->setObjectName(QStringLiteral("BitBtn6"));
    BitBtn6->setIcon(style()->standardIcon(QStyle::SP_DialogResetButton));
    BitBtn6->setAutoRaise(false);
    BitBtn6->setFixedSize(22, 22);
    setHint(BitBtn6, QStringLiteral("Clear Message Status"));

    grid->addWidget(StatusMemo, 0, 0, 3, 1);
    grid->addWidget(TimeofDay, 0, 1);
    grid->addWidget(Sending, 1, 1);
    grid->addWidget(BitBtn6, 2, 1, Qt::AlignRight | Qt::AlignBottom);
    grid->setColumnStretch(0, 1);
    connect(BitBtn6, &QToolButton::clicked, this, &TMainForm::BitBtn6Click);
    return group;
}

void TMainForm::buildMenus()
{
    QMenuBar* bar = menuBar();
    auto command = [&](const QString& name, const QString& caption) {
        QAction* action = bar->addAction(caption);
        action->setObjectName(name);
        return action;
    };
    UsersMenu = command(QStringLiteral("UsersMenu"), QStringLiteral("&Users"));
    CarriersMenu = command(QStringLiteral("CarriersMenu"), QStringLiteral("&Carriers"));
    GroupsMenu = command(QStringLiteral("GroupsMenu"), QStringLiteral("Grou&ps"));
    QuickMsgMenu = command(QStringLiteral("QuickMsgMenu"), QStringLiteral("&QuickMsg"));
    MsgLogMenu = command(QStringLiteral("MsgLogMenu"), QStringLiteral("&MsgLog"));
    SchedMsgsMenu = command(QStringLiteral("SchedMsgsMenu"), QStringLiteral("SchedMsgs"));

    QMenu* system = bar->addMenu(QStringLiteral("S&ystem"));
    system->setObjectName(QStringLiteral("SystemSubMenu"));
    SystemMenu = system->menuAction();
    SystemMenu->setObjectName(QStringLiteral("SystemMenu"));
    SetupMenu = system->addAction(QStringLiteral("Setup"));
    SetupMenu->setObjectName(QStringLiteral("SetupMenu"));

    QMenu* help = bar->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("HelpSubMenu"));
    HelpMenu = help->menuAction();
    HelpMenu->setObjectName(QStringLiteral("HelpMenu"));
    HelpHelpMenu = help->addAction(QStringLiteral("&Help"));
    HelpHelpMenu->setObjectName(QStringLiteral("HelpHelpMenu"));
    AboutMenu = help->addAction(QStringLiteral("About"));
    AboutMenu->setObjectName(QStringLiteral("AboutMenu"));

    ExitMenu = command(QStringLiteral("ExitMenu"), QStringLiteral("E&xit"));

    // The directory, log, schedule and settings windows come with later work.
    for (QAction* later :
        { UsersMenu, CarriersMenu, GroupsMenu, QuickMsgMenu, MsgLogMenu, SchedMsgsMenu, SetupMenu })
        later->setEnabled(false);

    connect(HelpHelpMenu, &QAction::triggered, this, &TMainForm::HelpClick);
    connect(AboutMenu, &QAction::triggered, this, &TMainForm::AboutClick);
    connect(ExitMenu, &QAction::triggered, this, &TMainForm::ExitClick);
}

void TMainForm::Timer1Timer()
{
    session_->tick();
}

void TMainForm::showStandardError(const QString& text)
{
    // Ticks go on while the box is open; they must not stack more boxes on it.
    if (errorBoxOpen_)
        return;
    errorBoxOpen_ = true;
    QMessageBox::critical(this, windowTitle(), text);
    errorBoxOpen_ = false;
}

void TMainForm::showPending(const QString& caption, bool alert)
{
    PendingMsgsBtn->setText(caption);
    // Red while pages wait, also while the button cannot be used yet; black (greyed when disabled)
    // otherwise.
    QPalette palette = PendingMsgsBtn->palette();
    const QColor colour = alert ? QColor(Qt::red) : QColor(Qt::black);
    palette.setColor(QPalette::Active, QPalette::ButtonText, colour);
    palette.setColor(QPalette::Inactive, QPalette::ButtonText, colour);
    palette.setColor(QPalette::Disabled, QPalette::ButtonText,
        alert ? colour : QApplication::palette(PendingMsgsBtn).color(QPalette::Disabled, QPalette::ButtonText));
    PendingMsgsBtn->setPalette(palette);
}

void TMainForm::BitBtn7Click()
{
    session_->abortPage();
}

void TMainForm::PendingMsgsBtnClick()
{
    ShowPending->exec();
}

void TMainForm::ExitClick()
{
    close();
}

void TMainForm::closeEvent(QCloseEvent* event)
{
    if (!saveQueuesOnClose()) {
        event->ignore();
        return;
    }
    if (helpWindow_)
        helpWindow_->close();
    event->accept();
}

bool TMainForm::saveQueuesOnClose()
{
    for (;;) {
        const QString failure = session_->saveQueues();
        if (failure.isEmpty())
            return true;
        const auto answer = QMessageBox::warning(this, windowTitle(),
            QStringLiteral("The pending messages could not be saved:\n%1").arg(failure),
            QMessageBox::Retry | QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Retry);
        if (answer == QMessageBox::Discard)
            return true; // the operator leaves without them
        if (answer != QMessageBox::Retry)
            return false; // stay: the pages are still in the pending queue
    }
}

void TMainForm::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        FormActivate();
    QMainWindow::changeEvent(event);
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == UsersList && (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut))
        RefreshUsersList();
    return QMainWindow::eventFilter(watched, event);
}

void TMainForm::FormActivate()
{
    try {
        desk().refreshDirectory();
    } catch (const store::StoreError&) {
        // The listing below meets the same fault and reports it once.
    }
    setWindowTitle(QStringLiteral("PlimoPager32 ") + Version->text());
    RefreshUsersList();
}

void TMainForm::DateBtnClick()
{
    message1->appendAtEnd(core::dateStamp(QDate::currentDate()));
}

void TMainForm::TimeBtnClick()
{
    message1->appendAtEnd(core::timeStamp(QTime::currentTime()));
}

void TMainForm::ClearTextClick()
{
    message1->clear();
}

void TMainForm::message1Change()
{
    const qsizetype count = message1->toPlainText().size();
    Numchars->setText(QString::number(count));
    // Above what a page holds the count turns red: the rest of the text would be cut when it is sent.
    QPalette palette = Numchars->palette();
    palette.setColor(QPalette::WindowText,
        count > compose::kPageTextWidth ? QColor(Qt::red) : this->palette().color(QPalette::WindowText));
    Numchars->setPalette(palette);
}

void TMainForm::ClearUsersListCheck()
{
    composition_->recipients()->untickAll();
}

void TMainForm::BitBtn6Click()
{
    StatusMemo->setEnabled(false);
    statusHistory_.clear();
    StatusMemo->setPlainText(statusHistory_.lines().join(u'\n'));
    StatusMemo->setEnabled(true);
}

void TMainForm::Show_Status(const QString& msg)
{
    session_->report(msg);
}

void TMainForm::showStatusLine(const QString& msg)
{
    Sending->hide();
    // No repaint between the shift and the new line. The session's lines come rewritten as the
    // operator reads them.
    StatusMemo->setUpdatesEnabled(false);
    statusHistory_.add(core::stampStatus(QTime::currentTime(), msg));
    StatusMemo->setPlainText(statusHistory_.lines().join(u'\n'));
    StatusMemo->setUpdatesEnabled(true);
}

QString TMainForm::firstDisplayedLine() const
{
    const QTextBlock block = message1->document()->firstBlock();
    const QTextLayout* layout = block.layout();
    if (layout && layout->lineCount() > 0) {
        const QTextLine line = layout->lineAt(0);
        return block.text().mid(line.textStart(), line.textLength());
    }
    return block.text();
}

void TMainForm::SendGroupClick()
{
    DBLookupComboBox1->setCurrentIndex(-1);
    DBLookupCombo2->setCurrentIndex(-1);
    try {
        desk().clearTempUser();
        // Back to the user lookup: it lists the users table as it stands now.
        if (!composition_->selectByGroup() && desk().BUsersT.isOpen())
            desk().BUsersT.refresh();
    } catch (const store::StoreError& e) {
        showStandardError(e.message());
    }
    if (composition_->selectByGroup()) {
        DBLookupComboBox1->setEnabled(false);
        DBLookupCombo2->setEnabled(true);
        pager_id2->hide();
        pagercompL->hide();
        DBLookupCombo2->setFocus();
    } else {
        showUserLookup();
    }
}

void TMainForm::showUserLookup()
{
    DBLookupComboBox1->setEnabled(true);
    DBLookupCombo2->setEnabled(false);
    pager_id2->clear();
    pagercompL->clear();
    pager_id2->show();
    pagercompL->show();
    DBLookupComboBox1->setFocus();
}

void TMainForm::ReadUsersList()
{
    composition_->recipients()->rebuild(recipientNamesOrReport());
}

void TMainForm::fillLookups(const QStringList& names)
{
    const QString user = DBLookupComboBox1->currentText();
    const QString group = DBLookupCombo2->currentText();
    DBLookupComboBox1->clear();
    DBLookupCombo2->clear();
    for (const QString& name : names) {
        if (core::isGroupRecipient(name))
            DBLookupCombo2->addItem(core::groupNameOf(name));
        else
            DBLookupComboBox1->addItem(name);
    }
    DBLookupComboBox1->setCurrentIndex(DBLookupComboBox1->findText(user));
    DBLookupCombo2->setCurrentIndex(DBLookupCombo2->findText(group));
}

void TMainForm::UserLookupCloseUp()
{
    core::Desk::ChosenUser chosen;
    try {
        if (!desk().lookupUser(DBLookupComboBox1->currentText(), &chosen))
            return;
    } catch (const store::StoreError& e) {
        showStandardError(e.message());
        return;
    }
    pager_id2->setText(chosen.pagerId);
    if (!chosen.carrier.isEmpty())
        pagercompL->setText(chosen.carrier); // else the previous carrier's name stays
}

void TMainForm::RefreshUsersList()
{
    // Runs at every focus change of the list and every activation: one pass over the names.
    composition_->recipients()->addMissing(recipientNamesOrReport());
}

QStringList TMainForm::recipientNamesOrReport()
{
    try {
        const QStringList names = desk().recipientNames();
        lastListError_.clear();
        fillLookups(names);
        return names;
    } catch (const store::StoreError& e) {
        // Shown once: the box itself makes the window lose and regain activation, which refreshes
        // the list again.
        if (e.message() != lastListError_) {
            lastListError_ = e.message();
            QMessageBox::critical(this, windowTitle(), e.message());
        }
        return {};
    }
}

void TMainForm::HelpClick()
{
    showHelpTopic(QStringLiteral("Contents"));
}

void TMainForm::showHelpTopic(const QString& keyword)
{
    if (!helpWindow_)
        helpWindow_ = new HelpWindow(this);
    helpWindow_->showTopic(keyword);
}

void TMainForm::AboutClick()
{
    if (!aboutBox_)
        aboutBox_
            = new TAboutBox(desk().usesFallbackDataDirectory() ? desk().dataDirectory() : QString(), this);
    // Beside the main window, not modal, like the other windows opened from the menu.
    aboutBox_->show();
    aboutBox_->raise();
    aboutBox_->activateWindow();
}
