#pragma once

#include "config/inifile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>

// The data folder of one test: a fresh temporary folder that is also the current directory (the
// pending file and the message file resolve there), and no settings file, in the test-mode
// configuration folder so that the operator's own pager.ini is never touched (nor the windows' places). Everything is put back
// when it goes.
namespace testsupport {

class DataFolder {
public:
    DataFolder()
        : previous_(QDir::currentPath())
    {
        QStandardPaths::setTestModeEnabled(true);
        QFile::remove(config::pagerIniPath());
        QFile::remove(windowPlacesPath());
        if (dir_.isValid())
            QDir::setCurrent(dir_.path());
    }
    ~DataFolder()
    {
        QDir::setCurrent(previous_);
        QDir().rmdir(config::pagerIniPath());
        QFile::remove(config::pagerIniPath());
        QFile::remove(windowPlacesPath());
    }
    // The windows' places between runs, beside the settings file.
    static QString windowPlacesPath()
    {
        return QFileInfo(config::pagerIniPath()).dir().filePath(QStringLiteral("windows.ini"));
    }
    DataFolder(const DataFolder&) = delete;
    DataFolder& operator=(const DataFolder&) = delete;

    bool isValid() const { return dir_.isValid() && QDir::currentPath() == QDir(dir_.path()).absolutePath(); }
    QString path() const { return dir_.path(); }
    QString filePath(const QString& name) const { return dir_.filePath(name); }
    // Writes the settings file (test mode) with these lines; false when it cannot be written.
    static bool writeSettings(const QString& lines)
    {
        QDir().mkpath(QFileInfo(config::pagerIniPath()).path());
        QFile ini(config::pagerIniPath());
        return ini.open(QIODevice::WriteOnly) && ini.write(lines.toUtf8()) == lines.toUtf8().size();
    }
    // The settings of a test that pages through the carrier simulator on `port`.
    static bool writeSimulatorSettings(const QString& port, const QString& outsideLine = QString(), int retries = 1)
    {
        return writeSettings(QStringLiteral("[System]\nComPort=%1\nOutsideLine=%2\nDeliveryRetries=%3\n")
                                 .arg(port, outsideLine)
                                 .arg(retries));
    }

private:
    QTemporaryDir dir_;
    QString previous_;
};

} // namespace testsupport
