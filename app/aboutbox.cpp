#include "app/aboutbox.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

TAboutBox::TAboutBox(const QString& fallbackDataFolder, QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(QStringLiteral("About PlimoPager"));

    auto* product = new QLabel(QStringLiteral("PlimoPager32"), this);
    product->setObjectName(QStringLiteral("ProductName"));
    QFont big = product->font();
    big.setPointSizeF(big.pointSizeF() * 1.6);
    big.setBold(true);
    product->setFont(big);
    product->setAlignment(Qt::AlignCenter);

    auto* version = new QLabel(QStringLiteral("Version 4.00.09"), this);
    version->setObjectName(QStringLiteral("Version"));
    version->setAlignment(Qt::AlignCenter);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, Qt::Horizontal, this);
    buttons->setCenterButtons(true);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("OKButton"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 18, 24, 12);
    layout->setSpacing(10);
    layout->addWidget(product);
    layout->addWidget(version);
    if (!fallbackDataFolder.isEmpty()) {
        auto* folder = new QLabel(QStringLiteral("Data folder: ") + fallbackDataFolder, this);
        folder->setObjectName(QStringLiteral("DataFolder"));
        folder->setTextInteractionFlags(Qt::TextSelectableByMouse);
        folder->setAlignment(Qt::AlignCenter);
        layout->addWidget(folder);
    }
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

#include "moc_aboutbox.cpp"
