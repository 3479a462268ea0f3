#pragma once

// The last of the precompiled headers of a folder's test executable (tests_<folder>): the main()
// that QTEST_MAIN writes in each suite's source becomes a function of that source alone, entered
// under the source's name ("tst_table") for the executable's main(), which runs the suite its first
// argument names. The name comes from the source QTEST_MAIN stands in (__FILE__, expanded there,
// also when the sources are compiled together in one unit), and each suite's function and entry
// get names of their own (__COUNTER__), so nothing is set per source and the precompiled header
// stays valid for all.

namespace plimo_suites {
using Main = int (*)(int, char*[]);
bool add(const char* sourceFile, Main run);
} // namespace plimo_suites

// "int main(int argc, char* argv[]) { ... }" reads, with this:
//     int plimo_suite_declared(); static int plimo_suite_main_7(int, char*[]);
//     [[maybe_unused]] static const bool plimo_suite_added_7 = plimo_suites::add(...);
//     static int plimo_suite_main_7(int argc, char* argv[]) { ... }
#define PLIMO_SUITE_ENTRY_(n)                                                                                \
    plimo_suite_declared();                                                                                  \
    static int plimo_suite_main_##n(int, char*[]);                                                           \
    [[maybe_unused]] static const bool plimo_suite_added_##n                                                 \
        = plimo_suites::add(__FILE__, plimo_suite_main_##n);                                                 \
    static int plimo_suite_main_##n
#define PLIMO_SUITE_ENTRY(n) PLIMO_SUITE_ENTRY_(n)
#define main PLIMO_SUITE_ENTRY(__COUNTER__)
