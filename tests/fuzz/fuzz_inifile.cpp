// A settings file with any bytes in it: every key the desk reads is read, a key is written, and the
// written value reads back while the other keys keep their values.

#include "config/inifile.h"
#include "fuzzsupport.h"

#include <cstdlib>

namespace {

const QStringList kKeys = { QStringLiteral("ComPort"), QStringLiteral("ModemInitString"),
    QStringLiteral("ModemModel"), QStringLiteral("OutsideLine"), QStringLiteral("DeliveryRetries"),
    QStringLiteral("DirectMesgDelay"), QStringLiteral("DebugFile"), QStringLiteral("SendMessages") };

QByteArray seed()
{
    return "[System]\r\nComPort=COM2\r\nModemInitString=ATZ~\r\nOutsideLine=9\r\n; comment\r\n"
           "DeliveryRetries=3\r\n[Other]\r\nKey=Value\r\n";
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    fuzz::handleSeedOption(argc, argv, seed);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString path = fuzz::scratchFolder() + QStringLiteral("/pager.ini");
    fuzz::writeFile(path, QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    const config::IniFile ini(path);
    QStringList before;
    for (const QString& key : kKeys)
        before << ini.readString(QStringLiteral("System"), key, QStringLiteral("<none>"));
    if (!ini.writeString(QStringLiteral("System"), QStringLiteral("OutsideLine"), QStringLiteral("8,")))
        std::abort();
    if (ini.readString(QStringLiteral("System"), QStringLiteral("OutsideLine")) != QStringLiteral("8,"))
        std::abort();
    for (qsizetype i = 0; i < kKeys.size(); ++i) {
        if (kKeys[i] != QStringLiteral("OutsideLine")
            && ini.readString(QStringLiteral("System"), kKeys[i], QStringLiteral("<none>")) != before[i])
            std::abort(); // a write changes its own key only
    }
    return 0;
}
