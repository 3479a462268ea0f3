#include "app/mainform.h"

#include "app/aboutbox.h"
#include "app/deskwindows.h"
#include "app/keyatonce.h"
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
    actOnKeyAtOnce(button);
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

    versionLabel = namedLabel(QStringLiteral("Version"), QStringLiteral("V4.00"), central);
    versionLabel->hide();
    sendByPagerBox = new QCheckBox(QStringLiteral("Send By Pager ID"), central);
    sendByPagerBox->setObjectName(QStringLiteral("SendByPager"));
    sendByPagerBox->hide();

    buildMenus();
    statusBar()->setSizeGripEnabled(true);

    // Tab order: recipients, message, the command column, the bottom row, the status clear button.
    const QList<QWidget*> tabChain = { recipientList, clearAllButton, messageEditor, dateButton, timeButton, quickButton, sendButton,
        messageLogBox, byPagerIdButton, sendLaterButton, exitButton, clearTextButton, abortButton, pendingButton, clearStatusButton };
    for (qsizetype i = 1; i < tabChain.size(); ++i)
        setTabOrder(tabChain[i - 1], tabChain[i]);
    messageEditor->setFocus(); // the operator starts by typing the message
    new DeskWindows(this); // the windows' places between runs, and Esc

    // What the session says, shown.
    deliveryTimer = session.timer();
    connect(&session, &session::DeskSession::clockShown, this, [this](const QString& text) {
        clockLabel->setText(text);
        // The scheduling window's clock is kept here too once "Send Later" has opened it.
        emit clockShown(text);
    });
    connect(&session, &session::DeskSession::pendingShown, this, &TMainForm::showPending);
    connect(&session, &session::DeskSession::statusLine, this, &TMainForm::showStatusLine);
    connect(&session, &session::DeskSession::sendingShown, sendingLabel, &QWidget::show);
    connect(&session, &session::DeskSession::sendingHidden, sendingLabel, &QWidget::hide);
    connect(&session, &session::DeskSession::sendingProgress, sendingLabel, &QLabel::setText);
    connect(&session, &session::DeskSession::errorRaised, this, &TMainForm::showStandardError);
    // The session has stopped its tick: nothing more is sent from this window.
    connect(&session, &session::DeskSession::lockLost, this,
        [this](const QString& text) { QMessageBox::critical(this, windowTitle(), text); });
    connect(&session, &session::DeskSession::infoRequested, this,
        [this](const QString& text) { compose::ShowInfo(text, this); });
    connect(&session, &session::DeskSession::restoreRequested, this,
        [this] { setWindowState(windowState() & ~Qt::WindowMinimized); });
    connect(&session, &session::DeskSession::focusMessageRequested, this, [this] { messageEditor->setFocus(); });
    // A result line quotes the editor's first line as the operator sees it, when the editor holds
    // the page's text; otherwise the page's own text.
    session.shownFirstLine = [this](const QString& pageText) {
        const QString editorMessage = compose::pageMessage(messageEditor->toPlainText());
        if (pageText.isEmpty() || editorMessage.startsWith(pageText))
            return firstDisplayedLine();
        return QString();
    };
    pendingWindow = new TShowPending(desk(), this);
    connect(pendingWindow, &TShowPending::closedWithCount, pendingButton, [this](int pending) {
        showPendingCount(QStringLiteral("Pending Msgs: ") + QString::number(pending));
    });
    connectComposition();

    // Creation: the windows made on first use start unmade (aboutBox_, helpWindow_); a window with
    // a session of its own runs the data steps, which report a failure through startupError() and
    // never keep the window from opening.
    if (ownedSession_)
        ownedSession_->open();
    else
        for (const QString& line : session.startupLines())
            showStatusLine(line);
    if (desk().isOpen()) {
        messageEditor->clear();
        ReadUsersList();
    }
    setWindowTitle(QStringLiteral("PlimoPager32 ") + versionLabel->text());

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
    // Alt+O goes to the list (the letters of "Select Users" all belong to other commands).
    QLabel* andGroups = namedLabel(QStringLiteral("AndGroupsLabel"), QStringLiteral("and Gr&oups"), box);
    caption->addWidget(andGroups);
    caption->addSpacing(6);
    clearAllButton = commandButton(QStringLiteral("ClearAllBtn"), QStringLiteral("Clear All"), box);
    // Every letter of "Clear All" is another command's key: its key is Alt+W, said by its hint.
    clearAllButton->setShortcut(QKeySequence(Qt::ALT | Qt::Key_W));
    clearAllButton->setToolTip(QStringLiteral("Untick every recipient (Alt+W)"));
    caption->addWidget(clearAllButton);
    caption->addStretch(1);
    grid->addLayout(caption, 0, 0);

    // The older single-choice controls lie under the check list: covered by it, still reached by
    // Alt+G on "Select By Group".
    auto* under = new QWidget(box);
    under->setObjectName(QStringLiteral("SingleChoicePanel"));
    auto* underGrid = new QGridLayout(under);
    underGrid->setContentsMargins(2, 2, 2, 2);
    selectByGroupBox = new QCheckBox(QStringLiteral("Select By &Group"), under);
    selectByGroupBox->setObjectName(QStringLiteral("SendGroup"));
    setHint(selectByGroupBox, QStringLiteral("Select to send to a group of Users."));
    userLookup = new QComboBox(under);
    userLookup->setObjectName(QStringLiteral("DBLookupComboBox1"));
    groupLookup = new QComboBox(under);
    groupLookup->setObjectName(QStringLiteral("DBLookupCombo2"));
    groupLookup->setEnabled(false);
    userLookup->setCurrentIndex(-1);
    // What they hold, for screen readers: no caption stands beside them.
    userLookup->setAccessibleName(QStringLiteral("User"));
    groupLookup->setAccessibleName(QStringLiteral("Group"));
    pagerIdLabel = namedLabel(QStringLiteral("pager_id2"), QString(), under);
    carrierLabel = namedLabel(QStringLiteral("pagercompL"), QString(), under);
    underGrid->addWidget(selectByGroupBox, 0, 0, 1, 2);
    underGrid->addWidget(userLookup, 1, 0);
    underGrid->addWidget(pagerIdLabel, 1, 1);
    underGrid->addWidget(groupLookup, 2, 0);
    underGrid->addWidget(carrierLabel, 2, 1);
    for (QWidget* w : { static_cast<QWidget*>(selectByGroupBox), static_cast<QWidget*>(userLookup),
             static_cast<QWidget*>(groupLookup) })
        w->setFocusPolicy(Qt::ClickFocus); // out of the tab order: the operator cannot see them
    grid->addWidget(under, 0, 1);

    recipientList = new QListView(box);
    recipientList->setAccessibleName(QStringLiteral("Select Users"));
    recipientList->setObjectName(QStringLiteral("UsersList"));
    andGroups->setBuddy(recipientList);
    recipientList->setModel(composition_->recipients());
    recipientList->setUniformItemSizes(true); // ten thousand names are laid out without measuring each
    recipientList->setSelectionMode(QAbstractItemView::SingleSelection);
    // Every row is one line of one font: the list measures one, not ten thousand, when it lays out.
    recipientList->setUniformItemSizes(true);
    setHint(recipientList,
        QStringLiteral("Select user and click on checkbox. Select more than one for group messages."));
    grid->addWidget(recipientList, 0, 1);
    recipientList->raise();
    recipientList->installEventFilter(this); // names added elsewhere appear when the list gains or loses focus
    grid->setColumnStretch(1, 1);

    connect(clearAllButton, &QPushButton::clicked, this, &TMainForm::ClearUsersListCheck);
    connect(userLookup, &QComboBox::activated, this, &TMainForm::UserLookupCloseUp);
    return box;
}

QWidget* TMainForm::buildMessage()
{
    auto* box = new QWidget(this);
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    auto* labels = new QHBoxLayout;
    messageLabel = namedLabel(QStringLiteral("MessageLabel"), QStringLiteral("M&essage:"), box);
    characterCount = namedLabel(QStringLiteral("Numchars"), QStringLiteral("0"), box);
    labels->addWidget(messageLabel);
    labels->addSpacing(8);
    labels->addWidget(characterCount);
    labels->addStretch(1);
    layout->addLayout(labels);

    messageEditor = new MessageEdit(box);
    messageEditor->setObjectName(QStringLiteral("message1"));
    setHint(messageEditor, QStringLiteral("Enter Message (500 characters max.):"));
    messageLabel->setBuddy(messageEditor);
    layout->addWidget(messageEditor, 1);
    connect(messageEditor, &QPlainTextEdit::textChanged, this, &TMainForm::message1Change);
    return box;
}

QWidget* TMainForm::buildCommandColumn()
{
    auto* box = new QWidget(this);
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(3);
    dateButton = commandButton(QStringLiteral("DateBtn"), QStringLiteral("&Date"), box);
    timeButton = commandButton(QStringLiteral("TimeBtn"), QStringLiteral("&Time of Day"), box);
    quickButton = commandButton(QStringLiteral("QuickBtn"), QStringLiteral("Quic&k"), box);
    sendButton = commandButton(QStringLiteral("SendBtn"), QStringLiteral("&Send Mesg"), box);
    messageLogBox = new QCheckBox(QStringLiteral("Message &Log"), box);
    messageLogBox->setObjectName(QStringLiteral("messagelog"));
    messageLogBox->setFixedHeight(kButtonHeight);
    actOnKeyAtOnce(messageLogBox);
    // A switch beside the message: the operator goes on typing after it.
    connect(messageLogBox, &QCheckBox::clicked, this, [this] { messageEditor->setFocus(); });
    byPagerIdButton = commandButton(QStringLiteral("ByPagerBtn"), QStringLiteral("By Pager &ID"), box);
    sendLaterButton = commandButton(QStringLiteral("SendLaterBtn"), QStringLiteral("Send L&ater"), box);
    exitButton = commandButton(QStringLiteral("ExitBtn"), QStringLiteral("E&xit"), box);
    // Alt+X belongs to the menu's "Exit", which does the same; two owners of one key would make
    // Qt treat the key as ambiguous and do neither.
    exitButton->setShortcut(QKeySequence());
    for (QWidget* w : { static_cast<QWidget*>(dateButton), static_cast<QWidget*>(timeButton),
             static_cast<QWidget*>(quickButton), static_cast<QWidget*>(sendButton),
             static_cast<QWidget*>(messageLogBox), static_cast<QWidget*>(byPagerIdButton),
             static_cast<QWidget*>(sendLaterButton), static_cast<QWidget*>(exitButton) }) {
        w->setMinimumWidth(96);
        layout->addWidget(w);
    }
    layout->addStretch(1);

    // Their windows come with later work.
    quickButton->setEnabled(false);
    sendLaterButton->setEnabled(false); // enabled with its window (CreateScheduleForm)

    connect(dateButton, &QPushButton::clicked, this, &TMainForm::DateBtnClick);
    connect(timeButton, &QPushButton::clicked, this, &TMainForm::TimeBtnClick);
    connect(exitButton, &QPushButton::clicked, this, &TMainForm::ExitClick);
    return box;
}

QWidget* TMainForm::buildBottomRow()
{
    auto* box = new QWidget(this);
    auto* layout = new QHBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    clearTextButton = commandButton(QStringLiteral("ClearTextBtn"), QStringLiteral("Clea&r Text"), box);
    abortButton = commandButton(QStringLiteral("BitBtn7"), QStringLiteral("A&bort Mesg"), box);
    pendingButton = commandButton(QStringLiteral("PendingMsgsBtn"), QStringLiteral("Pe&nding Msgs"), box);
    pendingButton->setMinimumWidth(
        pendingButton->fontMetrics().horizontalAdvance(QStringLiteral("Pending Msgs: 0000")) + 24);
    layout->addWidget(clearTextButton);
    layout->addWidget(abortButton);
    layout->addWidget(pendingButton);
    layout->addStretch(1);

    connect(clearTextButton, &QPushButton::clicked, this, &TMainForm::ClearTextClick);
    connect(abortButton, &QPushButton::clicked, this, &TMainForm::BitBtn7Click);
    connect(pendingButton, &QPushButton::clicked, this, &TMainForm::PendingMsgsBtnClick);
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

    statusList = new QPlainTextEdit(group);
    statusList->setObjectName(QStringLiteral("StatusMemo"));
    // A line wider than the box wraps: every status line is read whole, and no sideways scroll
    // bar covers the last one.
    statusList->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    statusList->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    statusList->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    statusList->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    statusList->setReadOnly(true);
    statusList->setFocusPolicy(Qt::NoFocus);
    QFont memoFont(QStringLiteral("DejaVu Sans"), 8);
    memoFont.setBold(true);
    statusList->setFont(memoFont);
    statusList->setPlainText(statusHistory_.lines().join(u'\n'));

    sendingLabel = namedLabel(QStringLiteral("Sending"), QStringLiteral(" Sending"), group);
    sendingLabel->setAutoFillBackground(true);
    QPalette yellow = sendingLabel->palette();
    yellow.setColor(QPalette::Window, Qt::yellow);
    yellow.setColor(QPalette::WindowText, Qt::black);
    sendingLabel->setPalette(yellow);
    // It shares the clock's column and never widens it, so the status list keeps its width; a
    // long progress text goes on a second line instead.
    QSizePolicy keepPlace(QSizePolicy::Ignored, sendingLabel->sizePolicy().verticalPolicy());
    keepPlace.setRetainSizeWhenHidden(true);
    sendingLabel->setSizePolicy(keepPlace);
    sendingLabel->setWordWrap(true);
    sendingLabel->setMinimumWidth(sendingLabel->fontMetrics().horizontalAdvance(QStringLiteral("00:00:00 PM ")));
    sendingLabel->hide();

    clockLabel = namedLabel(QStringLiteral("TimeofDay"), QString(), group);
    clockLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    clockLabel->setMinimumWidth(clockLabel->fontMetrics().horizontalAdvance(QStringLiteral("00:00:00 PM ")));

    clearStatusButton = new QToolButton(group);
    clearStatusButton->setObjectName(QStringLiteral("BitBtn6"));
    clearStatusButton->setIcon(style()->standardIcon(QStyle::SP_DialogResetButton));
    clearStatusButton->setAutoRaise(false);
    clearStatusButton->setFixedSize(22, 22);
    setHint(clearStatusButton, QStringLiteral("Clear Message Status"));

    grid->addWidget(statusList, 0, 0, 3, 1);
    grid->addWidget(clockLabel, 0, 1);
    grid->addWidget(sendingLabel, 1, 1);
    grid->addWidget(clearStatusButton, 2, 1, Qt::AlignRight | Qt::AlignBottom);
    grid->setColumnStretch(0, 1);
    connect(clearStatusButton, &QToolButton::clicked, this, &TMainForm::BitBtn6Click);
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
    AlertSourcesMenu = system->addAction(QStringLiteral("&Alert Sources"));
    AlertSourcesMenu->setObjectName(QStringLiteral("AlertSourcesMenu"));

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
        { UsersMenu, CarriersMenu, GroupsMenu, QuickMsgMenu, MsgLogMenu, SchedMsgsMenu, SetupMenu, AlertSourcesMenu })
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

void TMainForm::showPendingCount(const QString& caption)
{
    // The caption ("Pending Msgs: 3") with the button's key, Alt+N.
    QString text = caption;
    if (text.startsWith(QStringLiteral("Pending")))
        text.insert(2, u'&');
    pendingButton->setText(text);
}

void TMainForm::showPending(const QString& caption, bool alert)
{
    showPendingCount(caption);
    // Red while pages wait, also while the button cannot be used yet; black (greyed when disabled)
    // otherwise.
    QPalette palette = pendingButton->palette();
    const QColor colour = alert ? QColor(Qt::red) : QColor(Qt::black);
    palette.setColor(QPalette::Active, QPalette::ButtonText, colour);
    palette.setColor(QPalette::Inactive, QPalette::ButtonText, colour);
    palette.setColor(QPalette::Disabled, QPalette::ButtonText,
        alert ? colour : QApplication::palette(pendingButton).color(QPalette::Disabled, QPalette::ButtonText));
    pendingButton->setPalette(palette);
}

void TMainForm::BitBtn7Click()
{
    session_->abortPage();
}

void TMainForm::PendingMsgsBtnClick()
{
    pendingWindow->exec();
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
    if (watched == recipientList && (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut))
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
    setWindowTitle(QStringLiteral("PlimoPager32 ") + versionLabel->text());
    RefreshUsersList();
}

void TMainForm::DateBtnClick()
{
    messageEditor->appendAtEnd(core::dateStamp(QDate::currentDate()));
}

void TMainForm::TimeBtnClick()
{
    messageEditor->appendAtEnd(core::timeStamp(QTime::currentTime()));
}

void TMainForm::ClearTextClick()
{
    messageEditor->clear();
}

void TMainForm::message1Change()
{
    const qsizetype count = messageEditor->toPlainText().size();
    characterCount->setText(QString::number(count));
    // Above what a page holds the count turns red: the rest of the text would be cut when it is sent.
    QPalette palette = characterCount->palette();
    palette.setColor(QPalette::WindowText,
        count > compose::kPageTextWidth ? QColor(Qt::red) : this->palette().color(QPalette::WindowText));
    characterCount->setPalette(palette);
}

void TMainForm::ClearUsersListCheck()
{
    composition_->recipients()->untickAll();
}

void TMainForm::BitBtn6Click()
{
    statusList->setEnabled(false);
    statusHistory_.clear();
    statusList->setPlainText(statusHistory_.lines().join(u'\n'));
    statusList->setEnabled(true);
}

void TMainForm::Show_Status(const QString& msg)
{
    session_->report(msg);
}

void TMainForm::showStatusLine(const QString& msg)
{
    sendingLabel->hide();
    // No repaint between the shift and the new line. The session's lines come rewritten as the
    // operator reads them.
    statusList->setUpdatesEnabled(false);
    statusHistory_.add(core::stampStatus(QTime::currentTime(), msg));
    statusList->setPlainText(statusHistory_.lines().join(u'\n'));
    statusList->setUpdatesEnabled(true);
}

QString TMainForm::firstDisplayedLine() const
{
    const QTextBlock block = messageEditor->document()->firstBlock();
    const QTextLayout* layout = block.layout();
    if (layout && layout->lineCount() > 0) {
        const QTextLine line = layout->lineAt(0);
        return block.text().mid(line.textStart(), line.textLength());
    }
    return block.text();
}

void TMainForm::SendGroupClick()
{
    userLookup->setCurrentIndex(-1);
    groupLookup->setCurrentIndex(-1);
    try {
        desk().clearTempUser();
        // Back to the user lookup: it lists the users table as it stands now.
        if (!composition_->selectByGroup() && desk().BUsersT().isOpen())
            desk().BUsersT().refresh();
    } catch (const store::StoreError& e) {
        showStandardError(e.message());
    }
    if (composition_->selectByGroup()) {
        userLookup->setEnabled(false);
        groupLookup->setEnabled(true);
        pagerIdLabel->hide();
        carrierLabel->hide();
        groupLookup->setFocus();
    } else {
        showUserLookup();
    }
}

void TMainForm::focusMessageEditor()
{
    raise();
    activateWindow();
    messageEditor->setFocus();
}

void TMainForm::showUserLookup()
{
    userLookup->setEnabled(true);
    groupLookup->setEnabled(false);
    pagerIdLabel->clear();
    carrierLabel->clear();
    pagerIdLabel->show();
    carrierLabel->show();
    userLookup->setFocus();
}

void TMainForm::ReadUsersList()
{
    composition_->recipients()->rebuild(recipientNamesOrReport());
}

void TMainForm::fillLookups(const QStringList& names)
{
    const QString user = userLookup->currentText();
    const QString group = groupLookup->currentText();
    userLookup->clear();
    groupLookup->clear();
    for (const QString& name : names) {
        if (core::isGroupRecipient(name))
            groupLookup->addItem(core::groupNameOf(name));
        else
            userLookup->addItem(name);
    }
    userLookup->setCurrentIndex(userLookup->findText(user));
    groupLookup->setCurrentIndex(groupLookup->findText(group));
}

void TMainForm::UserLookupCloseUp()
{
    core::Desk::ChosenUser chosen;
    try {
        if (!desk().lookupUser(userLookup->currentText(), &chosen))
            return;
    } catch (const store::StoreError& e) {
        showStandardError(e.message());
        return;
    }
    pagerIdLabel->setText(chosen.pagerId);
    if (!chosen.carrier.isEmpty())
        carrierLabel->setText(chosen.carrier); // else the previous carrier's name stays
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
