#include "config/systemsettings.h"

#include "config/inifile.h"

#include <algorithm>
#include <tuple>

namespace config {

namespace {

// The text as a whole number, or `fallback` when it is not one.
int wholeNumberOr(const QString& text, int fallback)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    return ok ? value : fallback;
}

} // namespace

SystemSettings::SystemSettings(QObject* parent)
    : QObject(parent)
{
}

void SystemSettings::assign(QString& field, const QString& value)
{
    if (field == value)
        return;
    field = value;
    emit changed();
}

void SystemSettings::setComPort(const QString& value) { assign(comPort_, value); }
void SystemSettings::setModemModel(const QString& value) { assign(modemModel_, value); }
void SystemSettings::setModemInitString(const QString& value) { assign(modemInitString_, value); }
void SystemSettings::setOutsideLine(const QString& value) { assign(outsideLine_, value); }
void SystemSettings::setDeliveryRetries(const QString& value) { assign(deliveryRetries_, value); }
void SystemSettings::setDirectMesgDelay(const QString& value) { assign(directMesgDelay_, value); }

void SystemSettings::setPulseDial(bool value)
{
    if (pulseDial_ == value)
        return;
    pulseDial_ = value;
    emit changed();
}

void SystemSettings::setDebug(bool value)
{
    if (debug_ == value)
        return;
    debug_ = value;
    emit changed();
}

void SystemSettings::read()
{
    const IniFile ini(pagerIniPath());
    // One change signal for the whole read, and none when nothing differs.
    const auto old = std::tuple(comPort_, modemModel_, modemInitString_, outsideLine_, deliveryRetries_,
        directMesgDelay_, pulseDial_);
    comPort_ = ini.readString(Section, ComPortKey);
    modemModel_ = ini.readString(Section, ModemModelKey);
    modemInitString_ = ini.readString(Section, ModemInitStringKey);
    outsideLine_ = ini.readString(Section, OutsideLineKey);
    deliveryRetries_ = ini.readString(Section, DeliveryRetriesKey, DefaultDeliveryRetries);
    directMesgDelay_ = ini.readString(Section, DirectMesgDelayKey, DefaultDirectMesgDelay);
    pulseDial_ = ini.readString(Section, PulseDialKey) == QStringLiteral("1");
    const bool differs = old
        != std::tuple(comPort_, modemModel_, modemInitString_, outsideLine_, deliveryRetries_, directMesgDelay_,
            pulseDial_);
    if (differs)
        emit changed();
}

bool SystemSettings::write() const
{
    const IniFile ini(pagerIniPath());
    const std::pair<QString, QString> keys[] = {
        { ComPortKey, comPort_ },
        { ModemModelKey, modemModel_ },
        { ModemInitStringKey, modemInitString_ },
        { OutsideLineKey, outsideLine_ },
        { DeliveryRetriesKey, deliveryRetries_ },
        { DirectMesgDelayKey, directMesgDelay_ },
        { PulseDialKey, pulseDial_ ? QStringLiteral("1") : QStringLiteral("0") },
    };
    bool written = true;
    for (const auto& [key, value] : keys)
        written = ini.writeString(Section, key, value) && written;
    return written;
}

bool SystemSettings::saveModemModel() const
{
    const IniFile ini(pagerIniPath());
    const bool model = ini.writeString(Section, ModemModelKey, modemModel_);
    const bool init = ini.writeString(Section, ModemInitStringKey, modemInitString_);
    return model && init;
}

bool SystemSettings::scheduledSendingEnabled()
{
    const IniFile ini(pagerIniPath());
    return ini.readString(Section, SendMessagesKey, QStringLiteral("1")) != QStringLiteral("0");
}

bool SystemSettings::serviceMessageLogEnabled()
{
    const IniFile ini(pagerIniPath());
    return ini.readString(Section, MessageLogKey, QStringLiteral("1")) != QStringLiteral("0");
}

bool SystemSettings::setScheduledSendingEnabled(bool on)
{
    const IniFile ini(pagerIniPath());
    return ini.writeString(Section, SendMessagesKey, on ? QStringLiteral("1") : QStringLiteral("0"));
}

QString SystemSettings::correctedDeliveryRetries(const QString& text)
{
    return wholeNumberOr(text, 1) < 1 ? DefaultDeliveryRetries : text;
}

QString SystemSettings::correctedDirectMesgDelay(const QString& text)
{
    return wholeNumberOr(text, 2) < 4 ? DefaultDirectMesgDelay : text;
}

int SystemSettings::deliveryRetriesValue(const QString& text)
{
    return std::clamp(wholeNumberOr(text, 10), 1, 3);
}

int SystemSettings::directMesgDelayValue(const QString& text)
{
    return std::max(wholeNumberOr(text, 10), 4);
}

} // namespace config

#include "moc_systemsettings.cpp"
