#include "core/engineparams.h"

#include "config/inifile.h"
#include "config/systemform.h"
#include "core/desk.h"
#include "paging/pageengine.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

namespace core {

namespace {

// The text as a 32-bit whole number, or `fallback` when it is not one.
int32_t wholeNumberOr(const QString& text, int32_t fallback)
{
    bool ok = false;
    const int32_t value = text.trimmed().toInt(&ok);
    return ok ? value : fallback;
}

} // namespace

EngineSettings EngineSettings::fromSystemForm(const config::TSystemForm* form)
{
    EngineSettings settings;
    if (form) {
        settings.comport = form->comport->currentText();
        settings.debug = form->Debug->isChecked();
        settings.modemInit = form->ModemInit->text();
        settings.pulseDial = form->PulseDial->isChecked();
        settings.deliveryRetries = form->DeliveryRetries->text();
        settings.directMesgDelay = form->DirectMesgDelay->text();
        return settings;
    }
    const QString section = QStringLiteral("System");
    const config::IniFile ini(config::pagerIniPath());
    settings.comport = ini.readString(section, QStringLiteral("ComPort"));
    settings.modemInit = ini.readString(section, QStringLiteral("ModemInitString"));
    settings.pulseDial = ini.readString(section, QStringLiteral("PulseDial")) == QStringLiteral("1");
    settings.deliveryRetries
        = ini.readString(section, QStringLiteral("DeliveryRetries"), QStringLiteral("3"));
    settings.directMesgDelay
        = ini.readString(section, QStringLiteral("DirectMesgDelay"), QStringLiteral("10"));
    return settings;
}

EngineValues applyEngineSettings(const EngineSettings& settings, paging::TPageEngine& engine)
{
    engine.ComPort = settings.comport;
    // Once named, the debug file stays for the rest of the run.
    if (settings.debug)
        engine.Debugfile = QStringLiteral("debug.txt");
    engine.Modem_initstr = settings.modemInit.isEmpty() ? QString() : settings.modemInit + u'~';
    engine.dial_initstr = settings.pulseDial ? QStringLiteral("ATDP") : QString();

    EngineValues values;
    values.deliveryRetries = std::clamp(wholeNumberOr(settings.deliveryRetries, 10), 1, 3);
    values.directMesgDelay = std::max(wholeNumberOr(settings.directMesgDelay, 10), 4);
    return values;
}

void SetEngineParams(Desk& desk, const config::TSystemForm* form)
{
    const EngineValues values = applyEngineSettings(EngineSettings::fromSystemForm(form), desk.Engine1);
    desk.DeliveryRetriesValue = values.deliveryRetries;
    desk.DirectMesgDelayValue = values.directMesgDelay;
}

void SetEngineParams(Desk& desk)
{
    SetEngineParams(desk, config::TSystemForm::instance());
}

} // namespace core
