#include "msglog/printlogfilter.h"

#include "core/desk.h"
#include "models/tablemodel.h"
#include "msglog/logreport.h"
#include "report/reportpreview.h"
#include "store/fieldnames.h"
#include "store/storeerror.h"
#include "store/table.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFormLayout>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <memory>
#include <optional>

namespace msglog {

namespace {
// A walk of the log report on a handle of its own: the report never moves the shared handle's
// current record, and the preview's walks never move each other's.
class OwnLogSource : public report::RecordSource {
public:
    OwnLogSource(store::Table& shared, const QString& userName, int days, const QDate& today)
    {
        models::openReaderOn(log_, shared);
        source_.emplace(log_, userName, days, today);
    }
    bool next(QStringList* record) override { return source_->next(record); }
    bool restart() override { return source_->restart(); }
    qint64 lastPosition() const override { return source_->lastPosition(); }
    bool rewindTo(qint64 position) override { return source_->rewindTo(position); }

private:
    store::Table log_;
    std::optional<LogRecordSource> source_;
};
} // namespace

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
        store::Table& users = desk_.BUsersT();
        if (users.isOpen()) {
            store::Table reader;
            models::openReaderOn(reader, users);
            for (reader.first(); !reader.eof(); reader.next())
                UserLookup->addItem(reader.fieldText(store::busers::UserName));
        }
    } catch (const store::StoreError& e) {
        QMessageBox::critical(this, windowTitle(), e.message());
    }
    UserLookup->setCurrentIndex(-1);
    QDialog::showEvent(event);
}

QString TPrintLogFilter::proposedPdfPath() const
{
    return QDir(desk_.dataDirectory())
        .filePath(QStringLiteral("Message Log %1.pdf").arg(QLocale::c().toString(today(), QStringLiteral("yyyy-MM-dd"))));
}

void TPrintLogFilter::BitBtn1Click()
{
    if (desk_.MsgLogT().isOpen()) {
        store::Table& shared = desk_.MsgLogT();
        const QString userName = UserLookup->currentText();
        const int days = DaysSpin->value();
        const QDate day = today();
        report::ReportPreview preview(
            logReportDefinition(logReportHeading(days, day, userName, QDateTime::currentDateTime())),
            [&shared, userName, days, day] {
                return std::make_unique<OwnLogSource>(shared, userName, days, day);
            },
            QStringLiteral("Message Log"), this);
        preview.setObjectName(QStringLiteral("LogPreview"));
        preview.setProposedPdfPath(proposedPdfPath());
        preview.exec();
    }
    accept();
}

} // namespace msglog

#include "moc_printlogfilter.cpp"
