// What a fuzz target does when a property fails: say which one and abort,
// so that libFuzzer stops, keeps the input as a crash artifact and exits
// non-zero. Shared by the targets in this folder.
#pragma once

#include <cstdio>
#include <cstdlib>

inline void Require(bool holds, const char *property)
{
    if (!holds) {
        std::fprintf(stderr, "property failed: %s\n", property);
        std::abort();
    }
}
