// A group's member file with any bytes in it: read, written back, and read again to the same members.

#include "compose/memberfile.h"
#include "fuzzsupport.h"

#include <cstdlib>

namespace {

QByteArray seed()
{
    return "Ann Lee\r\nBob Ray\r\nCy Doe\r\n";
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    fuzz::handleSeedOption(argc, argv, seed);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString path = compose::memberFilePath(fuzz::scratchFolder(), QStringLiteral("Fuzz Crew"));
    fuzz::writeFile(path, QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    QStringList members;
    if (!compose::readMemberFile(path, &members))
        return 0;
    if (!compose::writeMemberFile(path, members).isEmpty())
        std::abort();
    QStringList again;
    if (!compose::readMemberFile(path, &again) || again != members)
        std::abort(); // what was read is what is written
    return 0;
}
