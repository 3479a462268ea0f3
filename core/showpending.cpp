#include "core/showpending.h"

#include "core/deliverymarks.h"
#include "core/page.h"
#include "core/pendingqueue.h"
#include "core/queues.h"
#include "store/memtable.h"
#include "store/memtablemodel.h"
#include "store/storeerror.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

TShowPending::TShowPending(
    store::TMemTable& pendingMsgs, store::TMemTable& sendMsgs, QWidget* parent, const core::DeliveryMarks* marks)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
    , pendingMsgs_(pendingMsgs)
    , sendMsgs_(sendMsgs)
    , marks_(marks)
{
    setObjectName(QStringLiteral("ShowPending"));
    setWindowTitle(QStringLiteral("Pending Messages"));
    setModal(true);

    model_ = new store::MemTableModel(&pendingMsgs,
        {
            { QString::fromLatin1(core::page::UserOrGroupName), QStringLiteral("User/Group Name") },
            { QString::fromLatin1(core::page::MessageToSend), QStringLiteral("Message") },
            { QString::fromLatin1(core::page::PagerPhone), QString() },
            { QString::fromLatin1(core::page::NetworkPhone), QString() },
            { QString::fromLatin1(core::page::MessageSize), QString() },
        },
        this);
    DBGrid1 = new QTableView(this);
    DBGrid1->setAccessibleName(QStringLiteral("Pending messages"));
    DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
    DBGrid1->setModel(model_);
    DBGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
    DBGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
    DBGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Tab leaves the grid for the buttons.
    DBGrid1->setTabKeyNavigation(false);
    // A double click below the last row, or on an empty grid, counts as well as one on a row (the
    // view reports only those), and the grid takes Enter and the Delete key.
    DBGrid1->viewport()->installEventFilter(this);
    DBGrid1->installEventFilter(this);
    DBGrid1->verticalHeader()->setDefaultSectionSize(DBGrid1->fontMetrics().height() + 6);
    DBGrid1->verticalHeader()->setFixedWidth(16);
    // The five columns fit the window's width; the last takes what is left.
    DBGrid1->setColumnWidth(0, 122);
    DBGrid1->setColumnWidth(1, 128);
    DBGrid1->setColumnWidth(2, 86);
    DBGrid1->setColumnWidth(3, 100);
    DBGrid1->horizontalHeader()->setStretchLastSection(true);
    model_->followSelection(DBGrid1->selectionModel());

    HintLabel = new QLabel(QStringLiteral("Double click on message to resend "), this);
    HintLabel->setObjectName(QStringLiteral("HintLabel"));
    DeleteBtn = new QPushButton(QStringLiteral("Delete"), this);
    DeleteBtn->setObjectName(QStringLiteral("DeleteBtn"));
    DeleteBtn->setAutoDefault(false);
    ExitBtn = new QPushButton(QStringLiteral("E&xit"), this);
    ExitBtn->setObjectName(QStringLiteral("ExitBtn"));
    ExitBtn->setAutoDefault(false);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(HintLabel);
    bottom->addStretch(1);
    bottom->addWidget(DeleteBtn);
    bottom->addWidget(ExitBtn);
    maybeDeliveredLabel = new QLabel(this);
    maybeDeliveredLabel->setObjectName(QStringLiteral("MaybeDeliveredLabel"));
    maybeDeliveredLabel->setWordWrap(true);
    QPalette red = maybeDeliveredLabel->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    maybeDeliveredLabel->setPalette(red);
    maybeDeliveredLabel->hide();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addWidget(DBGrid1, 1);
    layout->addWidget(maybeDeliveredLabel);
    layout->addLayout(bottom);
    resize(575, 244);

    connect(DeleteBtn, &QPushButton::clicked, this, &TShowPending::DeleteBtnClick);
    connect(ExitBtn, &QPushButton::clicked, this, &QDialog::accept);
}

void TShowPending::DBGrid1DblClick()
{
    try {
        core::resendPendingPage(pendingMsgs_, sendMsgs_);
    } catch (const store::StoreError& e) {
        QMessageBox::critical(this, windowTitle(), e.message());
    }
    accept();
}

void TShowPending::DeleteBtnClick()
{
    try {
        core::deletePendingPage(pendingMsgs_);
    } catch (const store::StoreError& e) {
        QMessageBox::critical(this, windowTitle(), e.message());
    }
    showMaybeDelivered();
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
    emit closedWithCount(pendingMsgs_.rowCount());
}

void TShowPending::showEvent(QShowEvent* event)
{
    showMaybeDelivered();
    QDialog::showEvent(event);
}

void TShowPending::showMaybeDelivered()
{
    QStringList names;
    if (marks_) {
        for (const core::Page& page : marks_->markedPages(pendingMsgs_))
            names << page.userOrGroupName;
    }
    maybeDeliveredLabel->setText(QStringLiteral("May have been delivered (the desk stopped while the terminal was "
                                                "taking them; check before you resend): ")
        + names.join(QStringLiteral(", ")));
    maybeDeliveredLabel->setVisible(!names.isEmpty());
}
