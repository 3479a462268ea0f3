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
    open_ = true;
}

void ModelList::hidePopup()
{
    const bool wasOpen = open_;
    open_ = false;
    QComboBox::hidePopup();
    if (wasOpen && isVisible())
        emit closeUp();
}

} // namespace config

#include "moc_modellist.cpp"
