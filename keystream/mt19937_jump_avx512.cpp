// placeholder
#include "../common/arch.h"
#if VAVIREREZI_X86_64
#include "mt19937_jump.h"
void mt_jump_words_avx512(MtJumpScratch *scratch, uint64_t m, uint32_t *out) {
    mt_jump_words_plain(scratch, m, out);
}
#endif
