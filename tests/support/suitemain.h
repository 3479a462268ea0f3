#pragma once

// The last of the precompiled headers of a folder's test executable (tests_<folder>): the main()
// that QTEST_MAIN writes in each suite's source becomes a function of that source alone, entered
// under the source's name ("tst_table") for the executable's main(), which runs the suite its first
// argument names. The name comes from the source being compiled (__BASE_FILE__, expanded where
// QTEST_MAIN stands), so nothing is set per source and the precompiled header stays valid for all.

namespace plimo_suites {
using Main = int (*)(int, char*[]);
bool add(const char* sourceFile, Main run);
} // namespace plimo_suites

// "int main(int argc, char* argv[]) { ... }" reads, with this:
//     int plimo_suite_declared(); static int plimo_suite_main(int, char*[]);
//     [[maybe_unused]] static const bool plimo_suite_added = plimo_suites::add(...);
//     static int plimo_suite_main(int argc, char* argv[]) { ... }
#define main                                                                                                           \
    plimo_suite_declared();                                                                                            \
    static int plimo_suite_main(int, char*[]);                                                                         \
    [[maybe_unused]] static const bool plimo_suite_added = plimo_suites::add(__BASE_FILE__, plimo_suite_main);         \
    static int plimo_suite_main
