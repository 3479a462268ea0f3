#include "intake/alertsourcesform.h"

#include "core/desk.h"
#include "directories/windowparts.h"
#include "intake/recipients.h"
#include "intake/sourceregistry.h"
#include "models/tablemodel.h"
#include "store/fieldnames.h"
#include "store/storeerror.h"

#include <QClipboard>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

namespace intake {

namespace {

namespace f = store::sources;

enum Column { SourceColumn, KindColumn, RecipientColumn, RateColumn, EnabledColumn };

} // namespace

AlertSourcesForm::AlertSourcesForm(core::Desk& desk, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , desk_(desk)
{
    setObjectName(QStringLiteral("AlertSourcesForm"));
    setWindowTitle(QStringLiteral("Alert Sources"));

    model_ = new models::TableModel(desk_.SourcesT(), { f::Source, f::Kind, f::Recipient, f::RateMin, f::Enabled }, this);
    model_->setColumnTitles({ QStringLiteral("Source"), QStringLiteral("Kind"), QStringLiteral("Recipient"),
        QStringLiteral("Pages a minute"), QStringLiteral("Enabled") });
    // A source's name, kind and recipient are given when it is added; its rate and switch change here.
    for (const int column : { SourceColumn, KindColumn, RecipientColumn })
        model_->setColumnReadOnly(column);
    model_->setColumnCheckable(EnabledColumn);
    connect(model_, &models::TableModel::storeError, this, &AlertSourcesForm::errorReported);

    grid_ = directories::recordGrid(model_, QStringLiteral("SourcesGrid"), QStringLiteral("Alert sources"), this);
    grid_->setColumnWidth(SourceColumn, 130);
    grid_->setColumnWidth(KindColumn, 60);
    grid_->setColumnWidth(RecipientColumn, 170);
    directories::fitHeadings(grid_);
    grid_->horizontalHeader()->setStretchLastSection(true);

    auto* hint = new QLabel(QStringLiteral("Pages a minute 0: 60. A token is shown once, when it is made; "
                                           "the desk keeps only its hash."),
        this);
    hint->setObjectName(QStringLiteral("HintLabel"));
    hint->setWordWrap(true);
    addBtn_ = directories::namedButton(QStringLiteral("AddBtn"), QStringLiteral("&Add"), this);
    deleteBtn_ = directories::namedButton(QStringLiteral("DeleteBtn"), QStringLiteral("&Delete"), this);
    tokenBtn_ = directories::namedButton(QStringLiteral("TokenBtn"), QStringLiteral("Set &Token"), this);
    exitBtn_ = directories::namedButton(QStringLiteral("ExitBtn"), QStringLiteral("E&xit"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(hint, 1);
    for (QPushButton* b : { addBtn_, deleteBtn_, tokenBtn_, exitBtn_ }) {
        b->setAutoDefault(false);
        buttons->addWidget(b);
    }
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addWidget(grid_, 1);
    layout->addLayout(buttons);
    resize(640, 260);

    connect(addBtn_, &QPushButton::clicked, this, &AlertSourcesForm::askForSource);
    connect(deleteBtn_, &QPushButton::clicked, this, &AlertSourcesForm::deleteCurrent);
    connect(tokenBtn_, &QPushButton::clicked, this, &AlertSourcesForm::setTokenOfCurrent);
    connect(exitBtn_, &QPushButton::clicked, this, &QWidget::close);
}

QString AlertSourcesForm::currentName() const
{
    const QModelIndex current = grid_->currentIndex();
    const int row = current.isValid() ? current.row() : model_->currentRow();
    if (row < 0)
        return {};
    return model_->data(model_->index(row, SourceColumn)).toString().trimmed();
}

void AlertSourcesForm::askForSource()
{
    QDialog dialog(this);
    dialog.setObjectName(QStringLiteral("AddSourceDialog"));
    dialog.setWindowTitle(QStringLiteral("Add Source"));
    auto* name = new QLineEdit(&dialog);
    name->setObjectName(QStringLiteral("NameEdit"));
    name->setMaxLength(20);
    auto* kind = new QComboBox(&dialog);
    kind->setObjectName(QStringLiteral("KindBox"));
    kind->addItems(sourceKinds());
    kind->setCurrentText(QStringLiteral("HTTP"));
    auto* recipient = new QComboBox(&dialog);
    recipient->setObjectName(QStringLiteral("RecipientBox"));
    try {
        recipient->addItems(desk_.recipientNames());
    } catch (const store::StoreError& e) {
        emit errorReported(e.message());
        return;
    }
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("&Name:"), name);
    form->addRow(QStringLiteral("&Kind:"), kind);
    form->addRow(QStringLiteral("&Recipient:"), recipient);
    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    connect(box, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(box, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addLayout(form);
    layout->addWidget(box);
    if (dialog.exec() == QDialog::Accepted)
        addSource(name->text().trimmed(), kind->currentText(), recipient->currentText());
}

void AlertSourcesForm::addSource(const QString& name, const QString& kind, const QString& recipient)
{
    try {
        const QString item = RecipientFinder(desk_.Plimo32()).find(recipient);
        QString refusal;
        const QByteArray token = item.isEmpty()
            ? QByteArray()
            : SourceRegistry(desk_.SourcesT()).add(name, kind, item, &refusal);
        if (item.isEmpty())
            refusal = QStringLiteral("No user or group of the directory is named %1.").arg(recipient);
        if (token.isEmpty()) {
            QMessageBox::warning(this, windowTitle(), refusal);
            return;
        }
        showToken(name, token);
    } catch (const store::StoreError& e) {
        emit errorReported(e.message());
    }
}

void AlertSourcesForm::deleteCurrent()
{
    const QString name = currentName();
    if (name.isEmpty())
        return;
    if (QMessageBox::question(this, windowTitle(),
            QStringLiteral("Delete source %1? Its programs can no longer page through the desk.").arg(name),
            QMessageBox::Yes | QMessageBox::Cancel, QMessageBox::Cancel)
        != QMessageBox::Yes)
        return;
    try {
        SourceRegistry(desk_.SourcesT()).remove(name);
    } catch (const store::StoreError& e) {
        emit errorReported(e.message());
    }
}

void AlertSourcesForm::setTokenOfCurrent()
{
    const QString name = currentName();
    if (name.isEmpty())
        return;
    if (QMessageBox::question(this, windowTitle(),
            QStringLiteral("Give source %1 a new token? Its old token no longer pages.").arg(name),
            QMessageBox::Yes | QMessageBox::Cancel, QMessageBox::Yes)
        != QMessageBox::Yes)
        return;
    try {
        const QByteArray token = SourceRegistry(desk_.SourcesT()).setToken(name);
        if (!token.isEmpty())
            showToken(name, token);
    } catch (const store::StoreError& e) {
        emit errorReported(e.message());
    }
}

void AlertSourcesForm::showToken(const QString& source, const QByteArray& token)
{
    TokenBox box(source, token, this);
    QMetaObject::invokeMethod(this, [this, source] { emit tokenShown(source); }, Qt::QueuedConnection);
    box.exec();
}

TokenBox::TokenBox(const QString& source, const QByteArray& token, QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("TokenBox"));
    setWindowTitle(QStringLiteral("Token of %1").arg(source));
    auto* text = new QLabel(QStringLiteral("The new token of source %1. It is shown only now: copy it into the "
                                           "program that pages through the desk.")
                                .arg(source),
        this);
    text->setWordWrap(true);
    field_ = new QLineEdit(QString::fromLatin1(token), this);
    field_->setObjectName(QStringLiteral("TokenField"));
    field_->setReadOnly(true);
    field_->setMinimumWidth(field_->fontMetrics().horizontalAdvance(field_->text()) + 24);
    field_->selectAll();
    auto* copy = directories::namedButton(QStringLiteral("CopyBtn"), QStringLiteral("&Copy"), this);
    copy->setAutoDefault(false);
    connect(copy, &QPushButton::clicked, this, [this] { QGuiApplication::clipboard()->setText(field_->text()); });
    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* row = new QHBoxLayout;
    row->addWidget(field_, 1);
    row->addWidget(copy);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text);
    layout->addLayout(row);
    layout->addWidget(box);
}

} // namespace intake
