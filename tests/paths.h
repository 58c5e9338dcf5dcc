// Test helper: the implementations of a routine that this CPU can run.
#ifndef VAVIREREZI_TESTS_PATHS_H
#define VAVIREREZI_TESTS_PATHS_H

#include <cstdio>
#include <vector>

// Keeps the entries whose `available` is true, noting the others, so that a
// test log shows which paths a machine did not exercise.
template <class Path> std::vector<Path> runnable(const std::vector<Path> &all) {
    std::vector<Path> out;
    for (const auto &p : all) {
        if (p.available)
            out.push_back(p);
        else
            std::printf("[ note ] %s path not available on this CPU\n", p.name);
    }
    return out;
}

#endif
