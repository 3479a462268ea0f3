#include "compose/standardboxes.h"

#include "compose/pagelib.h"
#include "store/table.h"

#include <QMessageBox>

namespace compose {

void ShowInfo(const QString& text, QWidget* parent)
{
    QMessageBox box(QMessageBox::Information, applicationTitle(), text, QMessageBox::Ok, parent);
    box.setObjectName(QStringLiteral("ShowInfoBox"));
    box.exec();
}

bool ConfirmDelete(store::Table& table, QWidget* parent)
{
    QMessageBox box(QMessageBox::Question, applicationTitle(), QStringLiteral("Delete Record?"),
        QMessageBox::Yes | QMessageBox::Cancel, parent);
    box.setObjectName(QStringLiteral("ConfirmDeleteBox"));
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::Cancel);
    if (box.exec() != QMessageBox::Yes)
        return false;
    table.deleteRecord();
    return true;
}

} // namespace compose
