#include "compose/composition.h"

namespace compose {

Composition::Composition(QObject* parent)
    : QObject(parent)
{
    recipients_.setObjectName(QStringLiteral("Recipients"));
}

void Composition::setText(const QString& text)
{
    if (text_ == text)
        return;
    text_ = text;
    emit textChanged(text_);
}

void Composition::appendText(const QString& text)
{
    setText(text_ + text);
}

QString Composition::selectedText()
{
    emit textSelected();
    return text_;
}

void Composition::setMessageLog(bool on)
{
    if (messageLog_ == on)
        return;
    messageLog_ = on;
    emit messageLogChanged(on);
}

void Composition::setSelectByGroup(bool on)
{
    if (selectByGroup_ == on)
        return;
    selectByGroup_ = on;
    emit selectByGroupChanged(on);
}

void Composition::setSendByPager(bool on)
{
    if (sendByPager_ == on)
        return;
    sendByPager_ = on;
    emit sendByPagerChanged(on);
}

void Composition::setByPagerTarget(const QString& pagerId, const QString& carrier)
{
    byPagerId_ = pagerId;
    byPagerCarrier_ = carrier;
}

} // namespace compose

#include "moc_composition.cpp"
