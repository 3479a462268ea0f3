#include "core/desk.h"

#include "config/inifile.h"
#include "core/clocktext.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace core {

namespace {

QString withTrailingSlash(QString folder)
{
    if (!folder.endsWith(u'/'))
        folder += u'/';
    return folder;
}

} // namespace

Desk::Desk(const QString& dataDirectory)
    : dataDirectory_(withTrailingSlash(dataDirectory.isEmpty() ? defaultDataDirectory() : dataDirectory))
{
}

Desk::~Desk() = default;

QString Desk::defaultDataDirectory()
{
    const QString programFolder = QCoreApplication::applicationDirPath();
    if (QFileInfo(programFolder).isWritable())
        return withTrailingSlash(programFolder);
    const QString appData = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir().mkpath(appData);
    return withTrailingSlash(appData);
}

bool Desk::usesFallbackDataDirectory() const
{
    return QDir(dataDirectory_) != QDir(QCoreApplication::applicationDirPath());
}

QString Desk::open()
{
    startupError_.clear();
    ScheduledSendingEnabled = readScheduledSendingEnabled();
    ScheduleScanActive = false;
    PageInProgress = false;
    return startupError_;
}

QStringList Desk::recipientNames()
{
    return {};
}

TickDisplay Desk::tick(const QTime& now) const
{
    TickDisplay display;
    display.clock = longTimeText(now);
    if (PageInProgress || ScheduleScanActive)
        return display;
    const int pending = 0;
    display.idle = true;
    display.pendingCaption = QStringLiteral("Pending Msgs: ") + QString::number(pending);
    display.pendingAlert = pending >= 1;
    return display;
}

bool readScheduledSendingEnabled()
{
    const config::IniFile ini(config::pagerIniPath());
    return ini.readString(QStringLiteral("System"), QStringLiteral("SendMessages"), QStringLiteral("1"))
        != QStringLiteral("0");
}

} // namespace core
