// The main() of a folder's test executable: runs the suite its first argument names, with the rest
// of the arguments ("tests_store tst_table -v2"). The suites enter themselves (support/suitemain.h).
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

namespace plimo_suites {

using Main = int (*)(int, char*[]);

namespace {
std::map<std::string, Main>& suites()
{
    static std::map<std::string, Main> all;
    return all;
}
} // namespace

bool add(const char* sourceFile, Main run)
{
    std::string name = sourceFile;
    name = name.substr(name.find_last_of('/') + 1);
    name = name.substr(0, name.find_last_of('.'));
    suites()[name] = run;
    return true;
}

} // namespace plimo_suites

int main(int argc, char* argv[])
{
    const auto& suites = plimo_suites::suites();
    if (argc > 1) {
        if (const auto found = suites.find(argv[1]); found != suites.end()) {
            argv[1] = argv[0];
            return found->second(argc - 1, argv + 1);
        }
    }
    std::fprintf(stderr, "usage: %s SUITE [QTest options]; the suites:\n", argv[0]);
    for (const auto& [name, run] : suites)
        std::fprintf(stderr, "  %s\n", name.c_str());
    return 2;
}
