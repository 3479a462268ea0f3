#pragma once

#include <QFile>
#include <QProcess>
#include <QString>

#include <unistd.h>

namespace testsupport {

// Keeps every file of `folder` from being deleted while it lives: folder permissions for an ordinary
// user, the immutable attribute for the super-user, whom permissions do not stop. active() is false
// where neither works (a file system without the attribute).
class UndeletableFolder {
public:
    explicit UndeletableFolder(const QString& folder)
        : folder_(folder)
        , permissions_(QFile::permissions(folder))
    {
        if (::geteuid() == 0)
            active_ = QProcess::execute(QStringLiteral("chattr"), { QStringLiteral("+i"), folder_ }) == 0;
        else
            active_ = QFile::setPermissions(folder_, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    }
    ~UndeletableFolder() { release(); }
    UndeletableFolder(const UndeletableFolder&) = delete;
    UndeletableFolder& operator=(const UndeletableFolder&) = delete;

    bool active() const { return active_; }
    // Deletable again.
    void release()
    {
        if (!active_)
            return;
        active_ = false;
        if (::geteuid() == 0)
            QProcess::execute(QStringLiteral("chattr"), { QStringLiteral("-i"), folder_ });
        else
            QFile::setPermissions(folder_, permissions_);
    }

private:
    QString folder_;
    QFileDevice::Permissions permissions_;
    bool active_ = false;
};

} // namespace testsupport
