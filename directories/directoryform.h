#pragma once

#include "directories/windowparts.h"

#include <QWidget>

#include <QList>
#include <QPair>

#include <functional>

class QAbstractItemView;
class QGridLayout;
class QLineEdit;
class QAction;
class QMenuBar;
class QPushButton;

namespace store {
class Table;
}

namespace directories {

// The frame the Users and Carriers windows share: the menu (Help, Exit), the four commands with
// keys but no menu entry (Save Alt+S, Add Alt+A, Delete Alt+D, Cancel Alt+C), Enter moving to the
// next field, activation each time the window becomes active (not when one of its own message
// boxes closes), and store errors shown in an error box.
class DirectoryForm : public QWidget {
    Q_OBJECT

public:
    DirectoryForm(const QString& title, const QString& helpTopic, QWidget* parent = nullptr);

    QMenuBar* MainMenu;
    QAction* HelpMenu;
    QAction* ExitMenu;
    QAction* SaveKey;
    QAction* AddKey;
    QAction* DeleteKey;
    QAction* CancelKey;
    // The moving and editing buttons both windows lay out in their own places.
    QPushButton* FirstBtn;
    QPushButton* PriorBtn;
    QPushButton* NextBtn;
    QPushButton* LastBtn;
    QPushButton* AddBtn;
    QPushButton* DelBtn;
    QPushButton* PostBtn;
    QPushButton* CancelBtn;
    QPushButton* SaveBtn;
    QPushButton* ExitBtn;

    // The commands behind the hidden keys and the buttons, on the window's shared handle.
    // Save: edit and post the current record, then close the window (it stays open on a failure).
    void SaveClick();
    // Add: a new blank record.
    void AddClick();
    // Delete: "Delete Record?" with Yes and Cancel; only Yes deletes.
    void DeleteClick();
    // Cancel: drop the pending change or the new record.
    void CancelClick();

signals:
    void helpRequested(const QString& topic);
    // Whatever closed the window.
    void closed();
    // A store error, for the application's error box.
    void errorReported(const QString& text);

protected:
    virtual void FormActivate() = 0;
    // Around the deletion of the current record by either delete command: aboutToDelete() before
    // the question is asked, recordDeleted() once the record is gone (not after a refusal or a
    // failure).
    virtual void aboutToDelete() { }
    virtual void recordDeleted() { }
    // Shows the shared handle's current record in the list and the fields.
    virtual void syncView() = 0;
    // The handle moved or changed: the view follows once the event loop is free, so a walk of
    // thousands of records by another window costs one update, not thousands.
    void scheduleSync();
    // Runs a command, showing a store error instead of letting it go on.
    void guarded(const std::function<void()>& command);
    // A button whose "&" shows its key while the key itself is the window's hidden command.
    QPushButton* button(const QString& name, const QString& text);
    // The ten buttons of a directory window (moving, editing, Save, Exit), named and captioned alike in
    // every window that lays them out.
    void createRecordButtons();
    // The eight record buttons (moving, then Add, Del, Save, Cancel) in one row, under captions that
    // each span the columns they name, left to right.
    QGridLayout* recordButtonGrid(const QList<QPair<QString, int>>& captions);
    // The caption over the four editing buttons. Alt+S is the window's "&Save" (write and close), not
    // the row's Save.
    static QString editCaption() { return QStringLiteral("Add  Del  Save  Cancel  (Alt+A, Alt+D, Alt+C)"); }
    // Connects the buttons and the hidden keys to `table` (the window's shared handle) and to the
    // commands: moving, "&Add " and Alt+A (then the focus goes to where a new record's name is typed:
    // `nameField`, or the first column of `list` when none is given), "&Del " asking "Delete record?" with
    // OK and Cancel, "&Save " posting, "&Cancel ", the Save and Exit buttons. Every command but
    // Cancel first commits a value still open in the list's cell editor (Cancel drops it), and the
    // list's refusals of a value are shown in the error box.
    void connectRecordCommands(store::Table& table, QAbstractItemView* list, QWidget* nameField = nullptr);
    // Enter in `field` moves on to the next field. In a grid, Enter in its open cell editor writes
    // the cell and then moves on as well, unless `fromCell` is CellEnter::Stays (the focus then stays
    // in the grid, as in a grid whose cells are typed one after another).
    enum class CellEnter { MovesOn, Stays };
    void enterMovesOn(QWidget* field, CellEnter fromCell = CellEnter::MovesOn);
    // `edit` shows `field` of the handle's current record, and what the operator types goes to it.
    void bindField(QLineEdit* edit, const QString& field);
    // The bound fields show the current record: empty without one; a field the table lacks (the
    // start names it) shows empty and cannot be edited.
    void showBoundFields();

    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The value typed into the list's open cell editor goes to the handle, or is dropped.
    void commitOpenEditor();
    void dropOpenEditor();
    // The focus where the new record's name is typed.
    void focusNewRecord();

    QString helpTopic_;
    QAbstractItemView* list_ = nullptr;
    QWidget* nameField_ = nullptr; // where a new record's name is typed; null: the list's first column
    ActivationWatch activation_;
    bool syncPending_ = false;
    store::Table* records_ = nullptr; // the handle given to connectRecordCommands
    QList<QPair<QLineEdit*, QString>> bound_;
};

} // namespace directories
