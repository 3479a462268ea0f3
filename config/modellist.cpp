#include "config/modellist.h"

namespace config {

ModelList::ModelList(QWidget* parent)
    : QComboBox(parent)
{
}

void ModelList::showPopup()
{
    emit dropDown();
    QComboBox::showPopup();
}

void ModelList::hidePopup()
{
    QComboBox::hidePopup();
    emit closeUp();
}

} // namespace config
