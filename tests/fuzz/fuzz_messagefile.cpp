// A message file dropped by another program, with any bytes in it: split into lines and turned into
// the page's message as the intake does.

#include "compose/pageforms.h"
#include "fuzzsupport.h"

#include <cstdlib>

namespace {

QByteArray seed()
{
    return "Ann Lee\r\nMetro Paging\r\nDoor alarm \r\nin building 4\r\n";
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    fuzz::handleSeedOption(argc, argv, seed);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::scratchFolder();
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const QStringList lines = compose::messageFileLines(bytes);
    for (const QString& line : lines) {
        if (line.contains(u'\r') || line.contains(u'\n'))
            std::abort(); // a line never holds a line break
    }
    const QString message = compose::messageFromFileLines(lines);
    if (lines.size() < 3 && !message.isEmpty())
        std::abort(); // the message starts at the third line
    return 0;
}
