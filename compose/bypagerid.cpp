#include "compose/bypagerid.h"

#include "store/fieldnames.h"
#include "store/table.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

namespace compose {

TByPagerID::TByPagerID(store::Table& carriers, QWidget* parent)
    : QDialog(parent)
    , PagerCompT(carriers)
{
    setObjectName(QStringLiteral("ByPagerID"));
    setWindowTitle(QStringLiteral("Send Message By Pager ID Only"));

    pager = new QLineEdit(this);
    pager->setObjectName(QStringLiteral("pager"));
    pager->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,9}")), pager));
    pager->setMaxLength(9);
    Name = new QComboBox(this);
    Name->setObjectName(QStringLiteral("Name"));
    Name->setMinimumContentsLength(20);
    auto* pagerLabel = new QLabel(QStringLiteral("Enter Pager ID Number:  "), this);
    pagerLabel->setBuddy(pager);
    auto* nameLabel = new QLabel(QStringLiteral("Select Paging Service Provider:  "), this);
    nameLabel->setBuddy(Name);
    pager->setAccessibleName(pagerLabel->text().trimmed());
    Name->setAccessibleName(nameLabel->text().trimmed());

    OKBtn = new QPushButton(QStringLiteral("OK"), this);
    OKBtn->setObjectName(QStringLiteral("OKBtn"));
    OKBtn->setDefault(true);
    CancelBtn = new QPushButton(QStringLiteral("Cancel"), this);
    CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
    connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
    connect(Name, &QComboBox::activated, this, &TByPagerID::NameChange);

    auto* fields = new QGridLayout;
    fields->addWidget(pagerLabel, 0, 0);
    fields->addWidget(pager, 0, 1);
    fields->addWidget(nameLabel, 1, 0);
    fields->addWidget(Name, 1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(OKBtn);
    buttons->addWidget(CancelBtn);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addLayout(buttons);

    // Enter moves on to the next control rather than pressing OK, except in the drop-down.
    for (QWidget* w : { static_cast<QWidget*>(pager), static_cast<QWidget*>(OKBtn),
             static_cast<QWidget*>(CancelBtn) })
        w->installEventFilter(this);
}

int TByPagerID::exec()
{
    chosen_.clear();
    Name->clear();
    // The names in the carriers table's own order; the current record is not moved by the listing.
    const uint32_t current = PagerCompT.isEmpty() ? 0 : PagerCompT.recNo();
    QStringList names;
    int currentRow = -1;
    for (PagerCompT.first(); !PagerCompT.eof(); PagerCompT.next()) {
        if (PagerCompT.recNo() == current)
            currentRow = int(names.size());
        names << PagerCompT.fieldText(store::pagecomp::PagerComp);
    }
    if (current != 0) {
        for (PagerCompT.first(); !PagerCompT.eof() && PagerCompT.recNo() != current; PagerCompT.next()) {
        }
    }
    Name->addItems(names);
    // Without a choice the page goes through the current carrier record: the list shows it.
    Name->setCurrentIndex(currentRow);
    pager->setFocus();
    return QDialog::exec();
}

void TByPagerID::NameChange(int row)
{
    chosen_ = Name->itemText(row);
    PagerCompT.locate(store::pagecomp::PagerComp, chosen_);
}

bool TByPagerID::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            focusNextChild();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace compose

#include "moc_bypagerid.cpp"
