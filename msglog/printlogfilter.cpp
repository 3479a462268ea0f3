#include "msglog/printlogfilter.h"

#include "core/desk.h"
#include "directories/tablemodel.h"
#include "msglog/logreport.h"
#include "report/reportpainter.h"
#include "store/fieldnames.h"
#include "store/storeerror.h"
#include "store/table.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QMessageBox>
#include <QPageLayout>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace msglog {

TPrintLogFilter::TPrintLogFilter(core::Desk& desk, QWidget* parent)
    : QDialog(parent)
    , desk_(desk)
{
    setObjectName(QStringLiteral("PrintLogFilter"));
    setWindowTitle(QStringLiteral("Print Log Report Parameters"));
    setModal(true);

    DaysSpin = new QSpinBox(this);
    DaysSpin->setObjectName(QStringLiteral("DaysSpin"));
    DaysSpin->setRange(1, 730);
    UserLookup = new QComboBox(this);
    UserLookup->setObjectName(QStringLiteral("UserLookup"));
    UserLookup->setMinimumContentsLength(30);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* print = buttons->addButton(QStringLiteral("Print"), QDialogButtonBox::AcceptRole);
    print->setObjectName(QStringLiteral("BitBtn1"));
    print->setDefault(true);
    buttons->addButton(QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &TPrintLogFilter::BitBtn1Click);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Days included in Log Report:"), DaysSpin);
    form->addRow(QStringLiteral("Select User Name:"), UserLookup);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

void TPrintLogFilter::showEvent(QShowEvent* event)
{
    // Each showing starts afresh: one day, no user, the users as the table holds them now.
    DaysSpin->setValue(1);
    UserLookup->clear();
    try {
        store::Table& users = desk_.BUsersT;
        if (users.isOpen()) {
            store::Table reader;
            directories::openReaderOn(reader, users);
            for (reader.first(); !reader.eof(); reader.next())
                UserLookup->addItem(reader.fieldText(store::busers::UserName));
        }
    } catch (const store::StoreError& e) {
        QMessageBox::critical(this, windowTitle(), e.message());
    }
    UserLookup->setCurrentIndex(-1);
    QDialog::showEvent(event);
}

int TPrintLogFilter::paintReport(QPrinter& printer)
{
    try {
        // A handle of its own on the log: the report never moves the window's current record.
        store::Table log;
        directories::openReaderOn(log, desk_.MsgLogT);
        LogRecordSource source(log, UserLookup->currentText(), DaysSpin->value(), today());
        const report::ReportDefinition definition = logReportDefinition();
        report::ReportLayout layout(definition, source);
        return report::paintReport(layout, printer);
    } catch (const store::StoreError& e) {
        QMessageBox::critical(this, windowTitle(), e.message());
        return 0;
    }
}

void TPrintLogFilter::BitBtn1Click()
{
    if (desk_.MsgLogT.isOpen()) {
        QPrinter printer(QPrinter::HighResolution);
        printer.setPageSize(QPageSize(QPageSize::Letter));
        printer.setPageOrientation(QPageLayout::Portrait);
        printer.setFullPage(true); // the report places everything from the paper's corner
        printer.setDocName(QStringLiteral("Message Log"));
        QPrintPreviewDialog preview(&printer, this);
        preview.setObjectName(QStringLiteral("LogPreview"));
        connect(&preview, &QPrintPreviewDialog::paintRequested, this, [this](QPrinter* p) { paintReport(*p); });
        preview.exec();
    }
    accept();
}

} // namespace msglog
