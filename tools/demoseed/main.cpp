// Prepares the sandbox of `./run.sh --demo`: the tables in the sandbox's data folder with a demo
// carrier and a few demo users (added once; later runs keep what the operator changed), and the
// sandbox's pager.ini pointing the Communications Port at the carrier simulator's device. With the
// simulator's SNPP address and WCTP URL, two more carriers reached over IP, each with a user; their
// paths follow the simulator's ports, which change at every start.
//
//   demoseed DATA_FOLDER DEVICE [SNPP_HOST:PORT WCTP_URL]
//
// The settings file is the one the desk itself would use, so the caller points
// XDG_CONFIG_HOME into the sandbox first.

#include "config/inifile.h"
#include "config/systemsettings.h"
#include "core/desk.h"
#include "store/fieldnames.h"
#include "store/storeerror.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <cstdio>

namespace {

const QString kCarrier = QStringLiteral("Demo Paging");

bool hasRecord(store::Table& table, const QString& field, const QString& value)
{
    table.refresh();
    return table.locate(field, value);
}

void addUser(core::Desk& desk, const QString& name, const QString& carrier, const QString& pagerId)
{
    if (hasRecord(desk.BUsersT(), store::busers::UserName, name))
        return;
    desk.BUsersT().append();
    desk.BUsersT().setFieldText(store::busers::UserName, name);
    desk.BUsersT().setFieldText(store::busers::PagerComp, carrier);
    desk.BUsersT().setFieldText(store::busers::PagerId, pagerId);
    desk.BUsersT().post();
}

// A carrier reached over IP through one path, at `address` (moved there when it is elsewhere).
void seedIpCarrier(core::Desk& desk, const QString& name, const QString& method, const QString& address)
{
    if (!hasRecord(desk.PagerCompT(), store::pagecomp::PagerComp, name)) {
        desk.PagerCompT().append();
        desk.PagerCompT().setFieldText(store::pagecomp::PagerComp, name);
        desk.PagerCompT().setFieldInt(store::pagecomp::HostChars, 80);
        desk.PagerCompT().post();
    }
    using namespace store::carrpath;
    store::Table& paths = desk.CarrPathT();
    if (hasRecord(paths, PagerComp, name)) {
        paths.edit();
    } else {
        paths.append();
        paths.setFieldText(PagerComp, name);
        paths.setFieldText(PathNo, QStringLiteral("01"));
        paths.setFieldText(Method, method);
        paths.setFieldText(Login, QStringLiteral("demo"));
        paths.setFieldText(Password, QStringLiteral("demo"));
        paths.setFieldBool(Enabled, true);
    }
    paths.setFieldText(Address, address);
    paths.post();
}

void seedDirectory(core::Desk& desk)
{
    if (!hasRecord(desk.PagerCompT(), store::pagecomp::PagerComp, kCarrier)) {
        desk.PagerCompT().append();
        desk.PagerCompT().setFieldText(store::pagecomp::PagerComp, kCarrier);
        desk.PagerCompT().setFieldText(store::pagecomp::HostTel, QStringLiteral("555-0100"));
        desk.PagerCompT().setFieldText(store::pagecomp::HostSpeed, QStringLiteral("1200"));
        desk.PagerCompT().setFieldInt(store::pagecomp::HostChars, 80);
        desk.PagerCompT().setFieldText(store::pagecomp::HostPassword, QStringLiteral("demo"));
        desk.PagerCompT().post();
    }
    const QList<QPair<QString, QString>> users = {
        { QStringLiteral("Alice Demo"), QStringLiteral("1001") },
        { QStringLiteral("Bob Demo"), QStringLiteral("1002") },
        { QStringLiteral("Carol Demo"), QStringLiteral("100-3") },
    };
    for (const auto& [name, pagerId] : users)
        addUser(desk, name, kCarrier, pagerId);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3 && args.size() != 5) {
        std::fprintf(stderr, "usage: demoseed DATA_FOLDER DEVICE [SNPP_HOST:PORT WCTP_URL]\n");
        return 2;
    }
    const QString folder = QDir(args.at(1)).absolutePath();
    const QString device = args.at(2);
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "demoseed: cannot make %s\n", qPrintable(folder));
        return 1;
    }
    try {
        core::Desk desk(folder);
        const QString failure = desk.open();
        if (!failure.isEmpty()) {
            std::fprintf(stderr, "demoseed: %s\n", qPrintable(failure));
            return 1;
        }
        seedDirectory(desk);
        if (args.size() == 5) {
            seedIpCarrier(desk, QStringLiteral("Demo SNPP"), QStringLiteral("SNPP"), args.at(3));
            addUser(desk, QStringLiteral("Dave Demo"), QStringLiteral("Demo SNPP"), QStringLiteral("2001"));
            seedIpCarrier(desk, QStringLiteral("Demo WCTP"), QStringLiteral("WCTP"), args.at(4));
            addUser(desk, QStringLiteral("Erin Demo"), QStringLiteral("Demo WCTP"), QStringLiteral("3001"));
        }
    } catch (const store::StoreError& e) {
        std::fprintf(stderr, "demoseed: %s\n", qPrintable(e.message()));
        return 1;
    }
    const QString iniPath = config::pagerIniPath();
    QDir().mkpath(QFileInfo(iniPath).path());
    using config::SystemSettings;
    const config::IniFile ini(iniPath);
    // The simulator's device changes with every start; the other settings stay as the demo left them.
    bool written = ini.writeString(SystemSettings::Section, SystemSettings::ComPortKey, device);
    if (ini.readString(SystemSettings::Section, SystemSettings::DeliveryRetriesKey).isEmpty())
        written = written
            && ini.writeString(SystemSettings::Section, SystemSettings::DeliveryRetriesKey,
                SystemSettings::DefaultDeliveryRetries);
    if (!written) {
        std::fprintf(stderr, "demoseed: cannot write %s\n", qPrintable(iniPath));
        return 1;
    }
    std::printf("%s\n", qPrintable(iniPath));
    return 0;
}
