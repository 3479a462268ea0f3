#include "core/showpending.h"

#include "core/desk.h"
#include "core/pendingmodel.h"
#include "core/pendingqueue.h"
#include "store/memtable.h"
#include "store/storeerror.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

TShowPending::TShowPending(core::Desk& desk, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
    , desk_(desk)
{
    setObjectName(QStringLiteral("ShowPending"));
    setWindowTitle(QStringLiteral("Pending Messages"));
    setModal(true);

    model_ = new core::PendingModel(desk, this);
    DBGrid1 = new QTableView(this);
    DBGrid1->setAccessibleName(QStringLiteral("Pending messages"));
    DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
    DBGrid1->setModel(model_);
    DBGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
    DBGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
    DBGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    DBGrid1->setWordWrap(false);
    // Tab leaves the grid for the buttons.
    DBGrid1->setTabKeyNavigation(false);
    // A double click below the last row, or on an empty grid, counts as well as one on a row (the
    // view reports only those), and the grid takes Enter and the Delete key.
    DBGrid1->viewport()->installEventFilter(this);
    DBGrid1->installEventFilter(this);
    DBGrid1->verticalHeader()->setDefaultSectionSize(DBGrid1->fontMetrics().height() + 6);
    DBGrid1->verticalHeader()->setFixedWidth(16);
    // Recipient, Pager ID, Carrier, Reason as wide as a few words; Attempts and Last attempt as wide
    // as their titles and values; the message takes what is left.
    const QFontMetrics metrics = DBGrid1->horizontalHeader()->fontMetrics();
    auto fit = [&metrics](const QString& text) { return metrics.horizontalAdvance(text) + 2 * metrics.averageCharWidth() + 8; };
    const int widths[] = { 120, 70, 100, fit(QStringLiteral("Attempts")), fit(QStringLiteral("2026/12/09 10:41:05")), 170 };
    for (int c = 0; c < int(std::size(widths)); ++c)
        DBGrid1->setColumnWidth(c, widths[c]);
    DBGrid1->horizontalHeader()->setStretchLastSection(true);

    HintLabel = new QLabel(QStringLiteral("Double click on a message or press Resend to send it again; Resend All "
                                          "sends every one"),
        this);
    HintLabel->setObjectName(QStringLiteral("HintLabel"));
    auto button = [this](const QString& text, const QString& name) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(name);
        b->setAutoDefault(false);
        return b;
    };
    ResendBtn = button(QStringLiteral("&Resend"), QStringLiteral("ResendBtn"));
    ResendAllBtn = button(QStringLiteral("Resend &All"), QStringLiteral("ResendAllBtn"));
    DeleteBtn = button(QStringLiteral("&Delete"), QStringLiteral("DeleteBtn"));
    ExitBtn = button(QStringLiteral("E&xit"), QStringLiteral("ExitBtn"));

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(HintLabel, 1);
    for (QPushButton* b : { ResendBtn, ResendAllBtn, DeleteBtn, ExitBtn })
        bottom->addWidget(b);
    maybeDeliveredLabel = new QLabel(this);
    maybeDeliveredLabel->setObjectName(QStringLiteral("MaybeDeliveredLabel"));
    maybeDeliveredLabel->setWordWrap(true);
    QPalette red = maybeDeliveredLabel->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    maybeDeliveredLabel->setPalette(red);
    maybeDeliveredLabel->hide();
    HintLabel->setWordWrap(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addWidget(DBGrid1, 1);
    layout->addWidget(maybeDeliveredLabel);
    layout->addLayout(bottom);
    resize(900, 300);

    connect(ResendBtn, &QPushButton::clicked, this, &TShowPending::DBGrid1DblClick);
    connect(ResendAllBtn, &QPushButton::clicked, this, &TShowPending::ResendAllBtnClick);
    connect(DeleteBtn, &QPushButton::clicked, this, &TShowPending::DeleteBtnClick);
    connect(ExitBtn, &QPushButton::clicked, this, &QDialog::accept);
    // While shown, a page the desk moves (a tick runs under the modal window) shows at once.
    store::TMemTable& pending = desk_.PendingMsgs();
    for (auto signal : { &store::TMemTable::rowsInserted, &store::TMemTable::rowsRemoved })
        connect(&pending, signal, this, [this] {
            if (isVisible())
                reload();
        });
    connect(&pending, &store::TMemTable::reset, this, [this] {
        if (isVisible())
            reload();
    });
}

int TShowPending::currentRow() const
{
    const QModelIndex current = DBGrid1->currentIndex();
    if (current.isValid())
        return current.row();
    return model_->rowCount() > 0 ? 0 : -1;
}

void TShowPending::showError(const std::exception& e)
{
    const auto* storeError = dynamic_cast<const store::StoreError*>(&e);
    QMessageBox::critical(this, windowTitle(), storeError ? storeError->message() : QString::fromLocal8Bit(e.what()));
}

void TShowPending::DBGrid1DblClick()
{
    try {
        core::resendPending(desk_, currentRow());
    } catch (const std::exception& e) {
        showError(e);
    }
    accept();
}

void TShowPending::ResendAllBtnClick()
{
    try {
        core::resendAllPending(desk_);
    } catch (const std::exception& e) {
        showError(e);
    }
    accept();
}

void TShowPending::DeleteBtnClick()
{
    const int row = currentRow();
    if (row < 0)
        return;
    const core::PendingEntry entry = model_->entry(row);
    const auto answer = QMessageBox::question(this, windowTitle(),
        QStringLiteral("Delete the pending message to %1? It will not be sent.").arg(entry.recipient),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    try {
        core::deletePending(desk_, row);
    } catch (const std::exception& e) {
        showError(e);
    }
    reload();
    if (model_->rowCount() > 0)
        DBGrid1->selectRow(std::min(row, model_->rowCount() - 1));
}

bool TShowPending::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == DBGrid1->viewport() && event->type() == QEvent::MouseButtonDblClick
        && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        DBGrid1DblClick();
        return true;
    }
    if (watched == DBGrid1 && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
                DBGrid1DblClick();
                return true;
            }
            if (key->key() == Qt::Key_Delete) {
                DeleteBtnClick();
                return true;
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TShowPending::done(int result)
{
    QDialog::done(result);
    emit closedWithCount(desk_.PendingMsgs().rowCount());
}

void TShowPending::showEvent(QShowEvent* event)
{
    reload();
    QDialog::showEvent(event);
}

void TShowPending::reload()
{
    const int row = DBGrid1->currentIndex().row();
    model_->reload();
    if (model_->rowCount() > 0)
        DBGrid1->selectRow(std::clamp(row, 0, model_->rowCount() - 1));
    QStringList names;
    for (int r = 0; r < model_->rowCount(); ++r) {
        if (model_->entry(r).maybeDelivered)
            names << model_->entry(r).recipient;
    }
    maybeDeliveredLabel->setText(QStringLiteral("May have been delivered (the desk stopped while the terminal was "
                                                "taking them; check before you resend): ")
        + names.join(QStringLiteral(", ")));
    maybeDeliveredLabel->setVisible(!names.isEmpty());
    ResendBtn->setEnabled(model_->rowCount() > 0);
    ResendAllBtn->setEnabled(model_->rowCount() > 0);
    DeleteBtn->setEnabled(model_->rowCount() > 0);
}

#include "moc_showpending.cpp"
