#pragma once

#include "msglog/logfind.h"

#include <QWidget>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QStringListModel;
class QToolButton;

namespace store {
class Table;
}

namespace msglog {

// The Message Log window's find bar: a user (one of the listed names, or any typed; a listed name
// typed in other case is taken as listed), a text the message holds, and a day, each optional;
// "Find &Next" and "Find Pre&vious" from the current record of the log's shared handle. A find
// runs in steps (LogFind) while the window stays usable: the status says how far it has come,
// "Stop" or Esc ends it, and a find started meanwhile replaces it. Enter in a field finds the
// next record (Shift+Enter the previous), Esc with no find running hides the bar. The bar only
// reports the record found (recordFound); the window moves to it.
class LogFindBar : public QWidget {
    Q_OBJECT

public:
    // Finds from the current record of `log`, the window's shared handle, reading through a handle
    // of its own.
    explicit LogFindBar(store::Table& log, QWidget* parent = nullptr);

    QComboBox* UserBox;
    QLineEdit* TextEdit;
    QCheckBox* DayBox;
    QDateEdit* DayEdit;
    QPushButton* NextBtn;
    QPushButton* PrevBtn;
    QPushButton* StopBtn;
    QToolButton* CloseBtn;
    QLabel* Status;
    LogFind* Finder;

    // Shows the bar with the focus in the user field, its list `userNames`; the day, when none
    // is chosen, starts at the current record's.
    void open(const QStringList& userNames);
    void findNext();
    void findPrevious();
    void stop();
    // Esc in the bar or anywhere in its window while the bar is shown: stops a find under way, else
    // hides the bar.
    void escape();
    LogFindCriteria criteria() const;

signals:
    void recordFound(uint32_t recNo);
    // The bar hid itself (Esc, its close button): the focus goes back to the window.
    void dismissed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void find(LogFind::Direction direction);
    void dismiss();
    void showRunning(bool running);

    store::Table& log_;
    QStringListModel* names_;
    QString wrapNote_; // what the find under way said when it went round the log's end
    LogFind::Direction lastDirection_ = LogFind::Direction::Forward;
};

} // namespace msglog
