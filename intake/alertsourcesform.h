#pragma once

#include <QDialog>
#include <QWidget>

class QComboBox;
class QLineEdit;
class QPushButton;
class QTableView;

namespace core {
class Desk;
}
namespace models {
class TableModel;
}

namespace intake {

// "Alert Sources": the programs allowed to page through the desk (SOURCES, on the desk's shared
// handle SourcesT, in BY_SOURCE order), their kind, recipient, pages a minute and switch. Add makes
// one with a new token; Set Token gives the current one a new token. A token is shown once, in a
// box it can be copied from; only its hash is kept. Not modal.
class AlertSourcesForm : public QWidget {
    Q_OBJECT

public:
    explicit AlertSourcesForm(core::Desk& desk, QWidget* parent = nullptr);

    QTableView* grid() const { return grid_; }
    QPushButton* addButton() const { return addBtn_; }
    QPushButton* deleteButton() const { return deleteBtn_; }
    QPushButton* tokenButton() const { return tokenBtn_; }

    // The commands, as the buttons run them. Add asks for the source in a dialog of its own.
    void addSource(const QString& name, const QString& kind, const QString& recipient);
    void deleteCurrent();
    void setTokenOfCurrent();

signals:
    // A store error, for the application's error box.
    void errorReported(const QString& text);
    // A token was shown (its box is open, modal).
    void tokenShown(const QString& source);

private:
    void askForSource();
    // The name of the source of the grid's current row; empty when there is none.
    QString currentName() const;
    void showToken(const QString& source, const QByteArray& token);

    core::Desk& desk_;
    models::TableModel* model_;
    QTableView* grid_;
    QPushButton* addBtn_;
    QPushButton* deleteBtn_;
    QPushButton* tokenBtn_;
    QPushButton* exitBtn_;
};

// The box that shows a new token once: its text selected in a read-only field, a Copy button.
class TokenBox : public QDialog {
    Q_OBJECT

public:
    TokenBox(const QString& source, const QByteArray& token, QWidget* parent = nullptr);
    QLineEdit* tokenField() const { return field_; }

private:
    QLineEdit* field_;
};

} // namespace intake
