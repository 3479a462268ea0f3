#include "schedule/schedulewindow.h"

#include "compose/composition.h"
#include "compose/standardboxes.h"
#include "config/systemsettings.h"
#include "store/storeerror.h"

#include <QAction>
#include <QApplication>
#include <QCalendarWidget>
#include <QCheckBox>
#include <QDateTime>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace schedule {

namespace {

QToolButton* arrowButton(const QString& name, Qt::ArrowType arrow, const QString& accessible, QWidget* parent)
{
    auto* button = new QToolButton(parent);
    button->setObjectName(name);
    button->setArrowType(arrow);
    button->setAccessibleName(accessible);
    return button;
}

QLineEdit* twoDigitField(const QString& name, const QString& accessible, QWidget* parent)
{
    auto* field = new QLineEdit(parent);
    field->setObjectName(name);
    field->setAccessibleName(accessible);
    field->setMaxLength(2);
    field->setValidator(new QIntValidator(0, 99, field));
    field->setFixedWidth(32);
    field->setAlignment(Qt::AlignRight);
    return field;
}


} // namespace

TSchedule::TSchedule(core::Desk& desk, compose::Composition& composition, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , clock([] { return QDateTime::currentDateTime(); })
    , desk_(desk)
    , composition_(composition)
{
    setObjectName(QStringLiteral("Schedule"));
    setWindowTitle(QStringLiteral("Pager Scheduling"));
    setAttribute(Qt::WA_QuitOnClose, false);

    MainMenu = new QMenuBar(this);
    MainMenu->setObjectName(QStringLiteral("MainMenu"));
    ScheduledMsgsMenu = MainMenu->addAction(QStringLiteral("&ScheduledMsgs"));
    ScheduledMsgsMenu->setObjectName(QStringLiteral("ScheduledMsgsMenu"));
    HelpMenu = MainMenu->addAction(QStringLiteral("&Help"));
    HelpMenu->setObjectName(QStringLiteral("HelpMenu"));
    ExitMenu = MainMenu->addAction(QStringLiteral("E&xit"));
    ExitMenu->setObjectName(QStringLiteral("ExitMenu"));

    SpeedButton2 = arrowButton(QStringLiteral("SpeedButton2"), Qt::LeftArrow, QStringLiteral("Previous month"), this);
    Month = new QLabel(this);
    Month->setObjectName(QStringLiteral("Month"));
    Month->setAlignment(Qt::AlignCenter);
    Month->setAccessibleName(QStringLiteral("Month"));
    SpeedButton1 = arrowButton(QStringLiteral("SpeedButton1"), Qt::RightArrow, QStringLiteral("Next month"), this);
    Calendar1 = new QCalendarWidget(this);
    Calendar1->setObjectName(QStringLiteral("Calendar1"));
    Calendar1->setAccessibleName(QStringLiteral("Calendar"));
    Calendar1->setFirstDayOfWeek(Qt::Sunday);
    Calendar1->setNavigationBarVisible(false);
    Calendar1->setVerticalHeaderFormat(QCalendarWidget::NoVerticalHeader);

    auto* timeCaption = new QLabel(QStringLiteral("  hh    :  mm"), this);
    nhr = twoDigitField(QStringLiteral("nhr"), QStringLiteral("Hour"), this);
    nmin = twoDigitField(QStringLiteral("nmin"), QStringLiteral("Minute"), this);
    TimeSpinUp = arrowButton(QStringLiteral("TimeSpinUp"), Qt::UpArrow, QStringLiteral("Up"), this);
    TimeSpinDown = arrowButton(QStringLiteral("TimeSpinDown"), Qt::DownArrow, QStringLiteral("Down"), this);
    am = new QRadioButton(QStringLiteral("AM"), this);
    am->setObjectName(QStringLiteral("am"));
    pm = new QRadioButton(QStringLiteral("PM"), this);
    pm->setObjectName(QStringLiteral("pm"));

    BitBtn1 = directories::namedButton(QStringLiteral("BitBtn1"), QStringLiteral("&OK"), this);
    BitBtn3 = directories::namedButton(QStringLiteral("BitBtn3"), QStringLiteral("&Today's Date"), this);
    BitBtn2 = directories::namedButton(QStringLiteral("BitBtn2"), QStringLiteral("E&xit"), this);
    // Alt+X belongs to the menu's "E&xit", which does the same.
    BitBtn2->setShortcut(QKeySequence());
    SendMessages = new QCheckBox(QStringLiteral("Send &Messages?"), this);
    SendMessages->setObjectName(QStringLiteral("SendMessages"));
    SendMessages->setAccessibleName(QStringLiteral("Send Messages?"));
    TimeofDay = new QLabel(this);
    TimeofDay->setObjectName(QStringLiteral("TimeofDay"));
    TimeofDay->setAccessibleName(QStringLiteral("Time of day"));
    // What OK schedules, as the main window holds it now: the ticked recipients and the message.
    auto* toCaption = new QLabel(QStringLiteral("To:"), this);
    Recipients = new QLabel(this);
    Recipients->setObjectName(QStringLiteral("Recipients"));
    Recipients->setAccessibleName(QStringLiteral("Recipients"));
    Recipients->setWordWrap(true);
    Recipients->setTextFormat(Qt::PlainText);
    toCaption->setBuddy(Recipients);
    auto* messageCaption = new QLabel(QStringLiteral("Message:"), this);
    MessageView = new QPlainTextEdit(this);
    MessageView->setObjectName(QStringLiteral("MessageView"));
    MessageView->setAccessibleName(QStringLiteral("Message"));
    MessageView->setReadOnly(true);
    MessageView->setFocusPolicy(Qt::NoFocus); // shown, not typed in: the main window's editor is
    MessageView->setFixedHeight(MessageView->fontMetrics().lineSpacing() * 3 + 12);
    messageCaption->setBuddy(MessageView);

    auto* monthRow = new QHBoxLayout;
    monthRow->addWidget(SpeedButton2);
    monthRow->addWidget(Month, 1);
    monthRow->addWidget(SpeedButton1);
    auto* timeRow = new QHBoxLayout;
    timeRow->addWidget(nhr);
    timeRow->addWidget(new QLabel(QStringLiteral(":"), this));
    timeRow->addWidget(nmin);
    auto* spinColumn = new QVBoxLayout;
    spinColumn->setSpacing(0);
    spinColumn->addWidget(TimeSpinUp);
    spinColumn->addWidget(TimeSpinDown);
    timeRow->addLayout(spinColumn);
    auto* halfColumn = new QVBoxLayout;
    halfColumn->addWidget(am);
    halfColumn->addWidget(pm);
    timeRow->addLayout(halfColumn);
    timeRow->addStretch();
    auto* side = new QVBoxLayout;
    side->addWidget(timeCaption);
    side->addLayout(timeRow);
    side->addSpacing(8);
    side->addWidget(BitBtn1);
    side->addWidget(BitBtn3);
    side->addWidget(BitBtn2);
    side->addStretch();
    side->addWidget(SendMessages);
    side->addWidget(TimeofDay);
    auto* left = new QVBoxLayout;
    left->addLayout(monthRow);
    left->addWidget(Calendar1, 1);
    auto* body = new QHBoxLayout;
    body->addLayout(left, 1);
    body->addLayout(side);
    auto* what = new QGridLayout;
    what->addWidget(toCaption, 0, 0, Qt::AlignTop);
    what->addWidget(Recipients, 0, 1, Qt::AlignTop);
    what->addWidget(messageCaption, 1, 0, Qt::AlignTop);
    what->addWidget(MessageView, 1, 1);
    what->setColumnStretch(1, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setMenuBar(MainMenu);
    layout->addLayout(what);
    layout->addLayout(body);

    spinTarget_ = nmin;
    for (QLineEdit* field : { nhr, nmin })
        field->installEventFilter(this);

    connect(SpeedButton2, &QToolButton::clicked, this, [this] {
        Calendar1->setSelectedDate(addMonths(Calendar1->selectedDate(), -1));
        showMonth();
    });
    connect(SpeedButton1, &QToolButton::clicked, this, [this] {
        Calendar1->setSelectedDate(addMonths(Calendar1->selectedDate(), 1));
        showMonth();
    });
    connect(TimeSpinUp, &QToolButton::clicked, this, [this] { spin(true); });
    connect(TimeSpinDown, &QToolButton::clicked, this, [this] { spin(false); });
    connect(BitBtn1, &QPushButton::clicked, this, &TSchedule::BitBtn1Click);
    connect(BitBtn3, &QPushButton::clicked, this, &TSchedule::BitBtn3Click);
    connect(BitBtn2, &QPushButton::clicked, this, &QWidget::close);
    connect(ExitMenu, &QAction::triggered, this, &QWidget::close);
    connect(HelpMenu, &QAction::triggered, this, [this] { emit helpRequested(QStringLiteral("SchedMsgLog")); });
    connect(ScheduledMsgsMenu, &QAction::triggered, this, &TSchedule::scheduledListRequested);
    connect(SendMessages, &QCheckBox::clicked, this, &TSchedule::SendMessagesClick);
    connect(&composition_, &compose::Composition::textChanged, this, &TSchedule::showComposition);
    QAbstractItemModel* recipients = composition_.recipients();
    connect(recipients, &QAbstractItemModel::dataChanged, this, &TSchedule::showComposition);
    connect(recipients, &QAbstractItemModel::modelReset, this, &TSchedule::showComposition);
    connect(recipients, &QAbstractItemModel::rowsInserted, this, &TSchedule::showComposition);
    connect(recipients, &QAbstractItemModel::rowsRemoved, this, &TSchedule::showComposition);
    showComposition();
    resize(460, 340);
}

void TSchedule::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() != QEvent::ActivationChange)
        return;
    // Coming back from one of its own boxes (a refused moment, the switch's question) is no
    // activation: the entries stay as they were.
    if (activation_.activated(*this))
        FormActivate();
}

bool TSchedule::eventFilter(QObject* watched, QEvent* event)
{
    // The time field that last took the focus or a click is the one the spin button steps.
    if (event->type() == QEvent::FocusIn || event->type() == QEvent::MouseButtonPress)
        spinTarget_ = static_cast<QLineEdit*>(watched);
    return QWidget::eventFilter(watched, event);
}

void TSchedule::FormActivate()
{
    SendMessages->setChecked(config::SystemSettings::scheduledSendingEnabled());
}


void TSchedule::BitBtn3Click()
{
    resetToNow();
}

void TSchedule::resetToNow()
{
    const QDateTime now = clock();
    Calendar1->setSelectedDate(now.date());
    showFace(clockFace(now.time()));
    spinTarget_ = nmin;
    showMonth();
}

void TSchedule::showMonth()
{
    Month->setText(QLocale().toString(Calendar1->selectedDate(), QStringLiteral("MMMM, yyyy")));
}

ClockFace TSchedule::face() const
{
    return ClockFace { nhr->text(), nmin->text(), pm->isChecked() };
}

void TSchedule::showFace(const ClockFace& face)
{
    nhr->setText(face.hour);
    nmin->setText(face.minute);
    pm->setChecked(face.pm);
    am->setChecked(!face.pm);
}

void TSchedule::spin(bool up)
{
    ClockFace f = face();
    const bool hour = spinTarget_ == nhr;
    if (!(hour ? stepHour(f, up) : stepMinute(f, up))) {
        QMessageBox::critical(
            this, windowTitle(), QStringLiteral("'%1' is not a valid integer value").arg(spinTarget_->text()));
        return;
    }
    showFace(f);
}

void TSchedule::BitBtn1Click()
{
    ScheduleOutcome outcome;
    const auto schedule = [&](bool passedAccepted) {
        try {
            outcome = scheduleMessage(desk_, composition_, Calendar1->selectedDate(), face(), clock(), passedAccepted);
            return true;
        } catch (const store::StoreError& e) {
            QMessageBox::critical(this, windowTitle(), e.message());
            return false;
        }
    };
    if (!schedule(false))
        return;
    if (outcome.kind == ScheduleOutcome::MomentPassed) {
        if (QMessageBox::question(
                this, windowTitle(), outcome.lines.value(0), QMessageBox::Ok | QMessageBox::Cancel)
            != QMessageBox::Ok)
            return; // the entries stay, to be mended
        if (!schedule(true))
            return;
    }
    switch (outcome.kind) {
    case ScheduleOutcome::NothingToSchedule:
        close();
        compose::ShowInfo(QStringLiteral(
            "Select User Name, Prepare a Message, and then press \"Send Later\" button."));
        return;
    case ScheduleOutcome::InvalidMoment:
        QMessageBox::critical(this, windowTitle(), outcome.lines.value(0));
        return;
    case ScheduleOutcome::Scheduled:
        for (const QString& line : std::as_const(outcome.lines))
            emit statusMessage(line);
        if (!outcome.failure.isEmpty()) {
            // The recipients not scheduled stay ticked, the message stays: the window too.
            QMessageBox::critical(this, windowTitle(), outcome.failure);
            return;
        }
        close();
        return;
    case ScheduleOutcome::MomentPassed:
        return;
    }
}

void TSchedule::showComposition()
{
    const QStringList recipients = scheduleRecipients(composition_);
    Recipients->setText(recipients.isEmpty() ? QStringLiteral("(no recipient ticked)")
                                             : recipients.join(QStringLiteral(", ")));
    Recipients->setToolTip(recipients.join(u'\n'));
    if (MessageView->toPlainText() != composition_.text())
        MessageView->setPlainText(composition_.text());
}

void TSchedule::SendMessagesClick(bool on)
{
    if (!on) {
        const auto answer = QMessageBox::warning(this, windowTitle(),
            QStringLiteral("Are you sure you want to disable message scheduling?"),
            QMessageBox::Ok | QMessageBox::Cancel);
        if (answer != QMessageBox::Ok) {
            SendMessages->setChecked(true);
            on = true;
        }
    }
    if (!config::SystemSettings::setScheduledSendingEnabled(on))
        QMessageBox::critical(this, windowTitle(), QStringLiteral("The settings file could not be written."));
}

} // namespace schedule

#include "moc_schedulewindow.cpp"
