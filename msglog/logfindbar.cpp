#include "msglog/logfindbar.h"

#include "store/fieldnames.h"
#include "store/table.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QStringListModel>
#include <QToolButton>
#include <QVBoxLayout>

namespace msglog {

LogFindBar::LogFindBar(store::Table& log, QWidget* parent)
    : QWidget(parent)
    , log_(log)
{
    setObjectName(QStringLiteral("LogFindBar"));
    Finder = new LogFind(log, this);

    auto* userLabel = new QLabel(QStringLiteral("&User:"), this);
    UserBox = new QComboBox(this);
    UserBox->setObjectName(QStringLiteral("FindUser"));
    UserBox->setEditable(true);
    UserBox->setInsertPolicy(QComboBox::NoInsert);
    UserBox->setMinimumContentsLength(14);
    UserBox->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    names_ = new QStringListModel(this);
    UserBox->setModel(names_);
    userLabel->setBuddy(UserBox);
    UserBox->setAccessibleName(QStringLiteral("User"));

    auto* textLabel = new QLabel(QStringLiteral("&Text:"), this);
    TextEdit = new QLineEdit(this);
    TextEdit->setObjectName(QStringLiteral("FindText"));
    TextEdit->setClearButtonEnabled(true);
    TextEdit->setAccessibleName(QStringLiteral("Text"));
    textLabel->setBuddy(TextEdit);

    DayBox = new QCheckBox(QStringLiteral("Da&y:"), this);
    DayBox->setObjectName(QStringLiteral("FindDayBox"));
    DayEdit = new QDateEdit(QDate::currentDate(), this);
    DayEdit->setObjectName(QStringLiteral("FindDay"));
    DayEdit->setDisplayFormat(QStringLiteral("yyyy/MM/dd"));
    DayEdit->setCalendarPopup(true);
    DayEdit->setEnabled(false);
    DayEdit->setAccessibleName(QStringLiteral("Day"));
    connect(DayBox, &QCheckBox::toggled, DayEdit, &QWidget::setEnabled);

    // Alt+N and Alt+V: Alt+P is the window's "&Print".
    NextBtn = new QPushButton(QStringLiteral("Find &Next"), this);
    NextBtn->setObjectName(QStringLiteral("FindNextBtn"));
    NextBtn->setToolTip(QStringLiteral("The next matching record (F3)"));
    PrevBtn = new QPushButton(QStringLiteral("Find Pre&vious"), this);
    PrevBtn->setObjectName(QStringLiteral("FindPrevBtn"));
    PrevBtn->setToolTip(QStringLiteral("The previous matching record (Shift+F3)"));
    StopBtn = new QPushButton(QStringLiteral("Stop"), this);
    StopBtn->setObjectName(QStringLiteral("FindStopBtn"));
    StopBtn->setEnabled(false);
    CloseBtn = new QToolButton(this);
    CloseBtn->setObjectName(QStringLiteral("FindCloseBtn"));
    CloseBtn->setText(QStringLiteral("\u2715"));
    CloseBtn->setAutoRaise(true);
    CloseBtn->setToolTip(QStringLiteral("Close the find bar (Esc)"));
    CloseBtn->setAccessibleName(QStringLiteral("Close find bar"));
    Status = new QLabel(this);
    Status->setObjectName(QStringLiteral("FindStatus"));
    Status->setMinimumWidth(Status->fontMetrics().horizontalAdvance(QStringLiteral("Searching\u2026 100%")));

    // Two rows, so the bar fits the window's width: what to find, then the commands.
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 4, 0, 0);
    auto* fields = new QHBoxLayout;
    fields->addWidget(userLabel);
    fields->addWidget(UserBox, 2);
    fields->addWidget(textLabel);
    fields->addWidget(TextEdit, 3);
    fields->addWidget(DayBox);
    fields->addWidget(DayEdit);
    fields->addWidget(CloseBtn);
    layout->addLayout(fields);
    auto* commands = new QHBoxLayout;
    commands->addWidget(NextBtn);
    commands->addWidget(PrevBtn);
    commands->addWidget(StopBtn);
    commands->addWidget(Status, 1);
    layout->addLayout(commands);

    // Enter and Esc in a field belong to the bar, not to the field or the window.
    for (QWidget* field : { static_cast<QWidget*>(UserBox), static_cast<QWidget*>(UserBox->lineEdit()),
             static_cast<QWidget*>(TextEdit), static_cast<QWidget*>(DayBox), static_cast<QWidget*>(DayEdit) })
        field->installEventFilter(this);

    connect(NextBtn, &QPushButton::clicked, this, &LogFindBar::findNext);
    connect(PrevBtn, &QPushButton::clicked, this, &LogFindBar::findPrevious);
    connect(StopBtn, &QPushButton::clicked, this, &LogFindBar::stop);
    connect(CloseBtn, &QToolButton::clicked, this, &LogFindBar::dismiss);
    connect(Finder, &LogFind::progress, this, [this](int percent) {
        const QString searching = QStringLiteral("Searching\u2026 %1%").arg(percent);
        Status->setText(wrapNote_.isEmpty() ? searching : wrapNote_ + QStringLiteral("; ") + searching);
    });
    connect(Finder, &LogFind::wrappedRound, this, [this] {
        wrapNote_ = lastDirection_ == LogFind::Direction::Backward
            ? QStringLiteral("Passed the start of the log: went on from its end")
            : QStringLiteral("Passed the end of the log: went on from its start");
        Status->setText(wrapNote_);
    });
    connect(Finder, &LogFind::found, this, [this](uint32_t recNo) {
        showRunning(false);
        Status->setText(wrapNote_);
        emit recordFound(recNo);
    });
    connect(Finder, &LogFind::notFound, this, [this] {
        showRunning(false);
        Status->setText(QStringLiteral("Not found"));
    });
    connect(Finder, &LogFind::failed, this, [this](const QString& text) {
        showRunning(false);
        Status->setText(text);
    });
}

void LogFindBar::open(const QStringList& userNames)
{
    if (names_->stringList() != userNames) {
        const QString typed = UserBox->currentText();
        names_->setStringList(userNames);
        UserBox->setEditText(typed);
    }
    if (!DayBox->isChecked() && log_.isOpen() && log_.recNo() != 0) {
        const QDate day = QDate::fromString(log_.fieldText(store::msglog::DDate), QStringLiteral("yyyy/MM/dd"));
        if (day.isValid())
            DayEdit->setDate(day);
    }
    show();
    UserBox->setFocus(Qt::ShortcutFocusReason);
    UserBox->lineEdit()->selectAll();
}

LogFindCriteria LogFindBar::criteria() const
{
    LogFindCriteria criteria;
    criteria.user = UserBox->currentText().trimmed();
    // A listed name typed in other case is meant as listed: the log holds it as listed.
    const int listed = criteria.user.isEmpty() ? -1 : UserBox->findText(criteria.user, Qt::MatchFixedString);
    if (listed >= 0)
        criteria.user = UserBox->itemText(listed);
    criteria.text = TextEdit->text();
    if (DayBox->isChecked())
        criteria.day = DayEdit->date();
    return criteria;
}

void LogFindBar::findNext()
{
    find(LogFind::Direction::Forward);
}

void LogFindBar::findPrevious()
{
    find(LogFind::Direction::Backward);
}

void LogFindBar::find(LogFind::Direction direction)
{
    const uint32_t from = log_.isOpen() ? log_.recNo() : 0;
    wrapNote_.clear();
    lastDirection_ = direction;
    showRunning(true);
    Status->setText(QStringLiteral("Searching\u2026"));
    Finder->start(criteria(), direction, from);
}

void LogFindBar::stop()
{
    if (!Finder->isRunning())
        return;
    Finder->cancel();
    showRunning(false);
    Status->setText(QStringLiteral("Stopped"));
}

void LogFindBar::escape()
{
    // The first Esc stops a find under way; with none, it closes the bar.
    if (Finder->isRunning())
        stop();
    else
        dismiss();
}

void LogFindBar::showRunning(bool running)
{
    StopBtn->setEnabled(running);
}

void LogFindBar::dismiss()
{
    hide();
    emit dismissed();
}

bool LogFindBar::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        if ((enter && (key->modifiers() & ~(Qt::KeypadModifier | Qt::ShiftModifier)) == Qt::NoModifier)
            || (key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier)) {
            keyPressEvent(key);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void LogFindBar::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (event->modifiers() & Qt::ShiftModifier)
            findPrevious();
        else
            findNext();
        return;
    case Qt::Key_Escape:
        escape();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

void LogFindBar::hideEvent(QHideEvent* event)
{
    stop();
    QWidget::hideEvent(event);
}

} // namespace msglog

#include "moc_logfindbar.cpp"
