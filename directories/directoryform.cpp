#include "directories/directoryform.h"

#include "compose/pagelib.h"
#include "compose/standardboxes.h"
#include "directories/celldelegate.h"
#include "models/tablemodel.h"
#include "store/storeerror.h"
#include "store/table.h"

#include <QAbstractItemDelegate>
#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

namespace directories {

DirectoryForm::DirectoryForm(const QString& title, const QString& helpTopic, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , helpTopic_(helpTopic)
{
    setWindowTitle(title);
    // It lives with the main window: left open, it does not keep the program running.
    setAttribute(Qt::WA_QuitOnClose, false);

    MainMenu = new QMenuBar(this);
    MainMenu->setObjectName(QStringLiteral("MainMenu"));
    HelpMenu = MainMenu->addAction(QStringLiteral("&Help"));
    HelpMenu->setObjectName(QStringLiteral("HelpMenu"));
    ExitMenu = MainMenu->addAction(QStringLiteral("E&xit"));
    ExitMenu->setObjectName(QStringLiteral("ExitMenu"));
    connect(HelpMenu, &QAction::triggered, this, [this] { emit helpRequested(helpTopic_); });
    connect(ExitMenu, &QAction::triggered, this, &QWidget::close);

    auto hidden = [this](const QString& name, const QKeySequence& key) { return windowKey(this, name, key); };
    SaveKey = hidden(QStringLiteral("SaveKey"), QKeySequence(Qt::ALT | Qt::Key_S));
    AddKey = hidden(QStringLiteral("AddKey"), QKeySequence(Qt::ALT | Qt::Key_A));
    DeleteKey = hidden(QStringLiteral("DeleteKey"), QKeySequence(Qt::ALT | Qt::Key_D));
    CancelKey = hidden(QStringLiteral("CancelKey"), QKeySequence(Qt::ALT | Qt::Key_C));

    connect(this, &DirectoryForm::errorReported, this,
        [this](const QString& text) { QMessageBox::critical(this, windowTitle(), text); });
}

void DirectoryForm::connectRecordCommands(store::Table& table, QAbstractItemView* list, QWidget* nameField)
{
    records_ = &table;
    list_ = list;
    nameField_ = nameField;
    // A window whose grid has a cell editor of its own keeps it.
    if (!qobject_cast<CellDelegate*>(list->itemDelegate()))
        list->setItemDelegate(new CellDelegate(list));
    // Shown once the view has closed its editor: a box opened inside the editor's commit would
    // take the focus from an editor that is still closing.
    if (auto* model = qobject_cast<models::TableModel*>(list->model()))
        connect(model, &models::TableModel::storeError, this, &DirectoryForm::errorReported, Qt::QueuedConnection);
    connect(FirstBtn, &QPushButton::clicked, this, [this, &table] { guarded([&table] { table.first(); }); });
    connect(PriorBtn, &QPushButton::clicked, this, [this, &table] { guarded([&table] { table.prior(); }); });
    connect(NextBtn, &QPushButton::clicked, this, [this, &table] { guarded([&table] { table.next(); }); });
    connect(LastBtn, &QPushButton::clicked, this, [this, &table] { guarded([&table] { table.last(); }); });
    connect(AddBtn, &QPushButton::clicked, this, [this] {
        AddClick();
        focusNewRecord();
    });
    connect(DelBtn, &QPushButton::clicked, this, [this, &table] {
        commitOpenEditor();
        QMessageBox box(QMessageBox::Question, windowTitle(), QStringLiteral("Delete record?"),
            QMessageBox::Ok | QMessageBox::Cancel, this);
        box.setObjectName(QStringLiteral("DeleteRecordBox"));
        aboutToDelete();
        if (box.exec() == QMessageBox::Ok)
            guarded([this, &table] {
                table.deleteRecord();
                recordDeleted();
            });
    });
    connect(PostBtn, &QPushButton::clicked, this, [this, &table] { guarded([&table] { table.post(); }); });
    connect(CancelBtn, &QPushButton::clicked, this, [this] { CancelClick(); });
    connect(SaveBtn, &QPushButton::clicked, this, [this] { SaveClick(); });
    connect(ExitBtn, &QPushButton::clicked, this, &QWidget::close);

    connect(SaveKey, &QAction::triggered, this, [this] { SaveClick(); });
    // The name of the new record is typed next, wherever the focus was.
    connect(AddKey, &QAction::triggered, this, [this] {
        AddClick();
        focusNewRecord();
    });
    connect(DeleteKey, &QAction::triggered, this, [this] { DeleteClick(); });
    connect(CancelKey, &QAction::triggered, this, [this] { CancelClick(); });
}

void DirectoryForm::SaveClick()
{
    bool saved = false;
    guarded([&] {
        records_->edit();
        records_->post();
        saved = true;
    });
    if (saved)
        close();
}

void DirectoryForm::focusNewRecord()
{
    if (nameField_) {
        nameField_->setFocus(Qt::ShortcutFocusReason);
        return;
    }
    const QModelIndex current = list_->currentIndex();
    if (current.isValid() && current.column() != 0)
        list_->setCurrentIndex(current.siblingAtColumn(0));
    list_->setFocus(Qt::ShortcutFocusReason);
}

void DirectoryForm::AddClick()
{
    guarded([this] { records_->append(); });
}

void DirectoryForm::DeleteClick()
{
    guarded([this] {
        aboutToDelete();
        if (compose::ConfirmDelete(*records_, this))
            recordDeleted();
    });
}

void DirectoryForm::CancelClick()
{
    dropOpenEditor();
    guarded([this] { records_->cancel(); });
}

void DirectoryForm::commitOpenEditor()
{
    directories::commitOpenEditor(list_);
}

void DirectoryForm::dropOpenEditor()
{
    directories::dropOpenEditor(list_);
}

void DirectoryForm::guarded(const std::function<void()>& command)
{
    try {
        // Save, Exit and every move take the value still open in the list's cell editor with them.
        commitOpenEditor();
        command();
    } catch (const store::StoreError& error) {
        syncView();
        emit errorReported(QString::fromLocal8Bit(error.what()));
        return;
    }
    // The operator's own command shows its outcome at once.
    syncView();
}

void DirectoryForm::scheduleSync()
{
    if (syncPending_)
        return;
    syncPending_ = true;
    QTimer::singleShot(0, this, [this] {
        syncPending_ = false;
        syncView();
    });
}

QPushButton* DirectoryForm::button(const QString& name, const QString& text)
{
    auto* b = new QPushButton(text, this);
    b->setObjectName(name);
    // The label shows the key; the key belongs to the window's command (or the menu), never to two.
    b->setShortcut(QKeySequence());
    return b;
}

void DirectoryForm::createRecordButtons()
{
    FirstBtn = button(QStringLiteral("FirstBtn"), QStringLiteral("First"));
    PriorBtn = button(QStringLiteral("PriorBtn"), QStringLiteral("Prev"));
    NextBtn = button(QStringLiteral("NextBtn"), QStringLiteral("Next"));
    LastBtn = button(QStringLiteral("LastBtn"), QStringLiteral("Last"));
    AddBtn = button(QStringLiteral("AddBtn"), QStringLiteral("&Add "));
    DelBtn = button(QStringLiteral("DelBtn"), QStringLiteral("&Del "));
    // One Save shows Alt+S: the window's "&Save", which writes the record and closes the window. The
    // record row's Save writes it and leaves the window open; it shows no letter.
    PostBtn = button(QStringLiteral("PostBtn"), QStringLiteral("Save "));
    PostBtn->setToolTip(QStringLiteral("Write this record; the window stays open"));
    CancelBtn = button(QStringLiteral("CancelBtn"), QStringLiteral("&Cancel "));
    SaveBtn = button(QStringLiteral("SaveBtn"), QStringLiteral("&Save"));
    SaveBtn->setToolTip(QStringLiteral("Write this record and close the window (Alt+S)"));
    ExitBtn = button(QStringLiteral("ExitBtn"), QStringLiteral("E&xit"));
}

QGridLayout* DirectoryForm::recordButtonGrid(const QList<QPair<QString, int>>& captions)
{
    auto* grid = new QGridLayout;
    int column = 0;
    for (const auto& [caption, span] : captions) {
        grid->addWidget(new QLabel(caption, this), 0, column, 1, span);
        column += span;
    }
    const QList<QPushButton*> row = { FirstBtn, PriorBtn, NextBtn, LastBtn, AddBtn, DelBtn, PostBtn, CancelBtn };
    for (int i = 0; i < row.size(); ++i)
        grid->addWidget(row.at(i), 1, i);
    return grid;
}

void DirectoryForm::enterMovesOn(QWidget* field, CellEnter fromCell)
{
    field->installEventFilter(this);
    if (auto* grid = qobject_cast<QAbstractItemView*>(field))
        CellDelegate::setEnterMovesOn(grid, fromCell == CellEnter::MovesOn);
}

void DirectoryForm::bindField(QLineEdit* edit, const QString& field)
{
    bound_.append({ edit, field });
    connect(edit, &QLineEdit::textEdited, this, [this, field](const QString& text) {
        guarded([&] {
            records_->edit();
            records_->setFieldText(field, text);
        });
    });
}

void DirectoryForm::showBoundFields()
{
    if (!records_ || !records_->isOpen())
        return;
    const bool none = records_->recNo() == 0 && records_->state() != store::Table::State::Insert;
    for (const auto& [edit, field] : bound_) {
        const bool held = records_->hasField(field);
        edit->setEnabled(held);
        showStoredText(edit, none || !held ? QString() : records_->fieldText(field),
            records_->state() != store::Table::State::Browse);
    }
}

bool DirectoryForm::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        if (enter && (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            focusNextChild();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void DirectoryForm::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() != QEvent::ActivationChange)
        return;
    // Coming back from one of its own boxes (a delete question, an error) is no activation.
    if (activation_.activated(*this))
        guarded([this] { FormActivate(); });
}

void DirectoryForm::closeEvent(QCloseEvent* event)
{
    // A name still open in the list's editor is the operator's last change: it goes to the handle,
    // where whatever ends the pending edit writes it.
    guarded([] {});
    QWidget::closeEvent(event);
    emit closed();
}

} // namespace directories

#include "moc_directoryform.cpp"
