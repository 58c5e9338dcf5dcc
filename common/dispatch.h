// The choice between a core's implementations, made from its list: a macro
// LIST(X) that applies X(name, cpu_test) to each implementation, best first,
// where cpu_test() says whether this CPU can run it (the last runs anywhere).
#ifndef VAVIREREZI_DISPATCH_H
#define VAVIREREZI_DISPATCH_H

#include "cpu.h"

#define DISPATCH_AVAILABLE(name, cpu_test) cpu_test(),
#define DISPATCH_NAME(name, cpu_test) #name,

// Defines PREFIX_implementation_available(i), PREFIX_implementation_name(i)
// and PREFIX_chosen_implementation(), the first one this CPU can run, which
// asks the CPU once; PREFIX_implementation_count ends the core's enum.
#define DISPATCH_DEFINE_CHOICE(PREFIX, LIST)                                                       \
    bool PREFIX##_implementation_available(int implementation) {                                   \
        cpu_init();                                                                                \
        const bool available[] = {LIST(DISPATCH_AVAILABLE)};                                       \
        return implementation >= 0 && implementation < PREFIX##_implementation_count &&            \
               available[implementation];                                                          \
    }                                                                                              \
    const char *PREFIX##_implementation_name(int implementation) {                                 \
        static constexpr const char *names[] = {LIST(DISPATCH_NAME)};                              \
        return implementation >= 0 && implementation < PREFIX##_implementation_count               \
                   ? names[implementation]                                                         \
                   : "none";                                                                       \
    }                                                                                              \
    int PREFIX##_chosen_implementation() {                                                         \
        static const int chosen = [] {                                                             \
            int i = 0;                                                                             \
            while (i + 1 < PREFIX##_implementation_count && !PREFIX##_implementation_available(i)) \
                i++;                                                                               \
            return i;                                                                              \
        }();                                                                                       \
        return chosen;                                                                             \
    }

#endif
