// Which implementation the dispatching routines of each core take: the first
// in its list that this CPU runs. VAVIREREZI_EXPECT_KEYSTREAM and
// VAVIREREZI_EXPECT_BLOCKCIPHER, where set, name the one it must be (the
// emulated CPUs of the portability stage set them).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "blowfish.h"
#include "mt19937.h"

namespace {

void expect_choice(const char *core, int count, bool (*available)(int), const char *(*name)(int),
                   int chosen, const char *expected_variable) {
    int first = 0;
    while (first + 1 < count && !available(first))
        first++;
    EXPECT_EQ(chosen, first) << core;
    std::printf("%s implementation: %s\n", core, name(chosen));
    if (const char *want = std::getenv(expected_variable)) {
        EXPECT_STREQ(name(chosen), want) << core;
    }
}

TEST(Dispatch, ChoosesTheFirstImplementationThisCpuRuns) {
    expect_choice("keystream", mt_implementation_count, mt_implementation_available,
                  mt_implementation_name, mt_chosen_implementation(),
                  "VAVIREREZI_EXPECT_KEYSTREAM");
    expect_choice("blockcipher", bf_implementation_count, bf_implementation_available,
                  bf_implementation_name, bf_chosen_implementation(),
                  "VAVIREREZI_EXPECT_BLOCKCIPHER");
}

} // namespace
