// MT19937 kept close to the published reference code, so that it can be
// checked line by line against it, plus the choice between implementations.
#include "mt19937.h"

#include "../common/dispatch.h"
#include "mt19937_impl.h"

using mt_impl::twist;

void mt_seed_by_array(MtState *state, const uint32_t *key, int32_t key_length) {
    // The first phase does not depend on the key: start from its table.
    uint32_t *mt = state->word;
    for (int i = 0; i < mt_n; i++)
        mt[i] = mt_initial_state.word[i];

    uint32_t i = 1;
    uint32_t j = 0;
    uint32_t klen = static_cast<uint32_t>(key_length);
    for (uint32_t k = mt_n > klen ? mt_n : klen; k; k--) {
        mt[i] = (mt[i] ^ ((mt[i - 1] ^ (mt[i - 1] >> 30)) * mt_key_mult)) + key[j] + j;
        i++;
        j++;
        if (i >= mt_n) {
            mt[0] = mt[mt_n - 1];
            i = 1;
        }
        if (j >= klen)
            j = 0;
    }
    for (uint32_t k = mt_n - 1; k; k--) {
        mt[i] = (mt[i] ^ ((mt[i - 1] ^ (mt[i - 1] >> 30)) * mt_final_mult)) - i;
        i++;
        if (i >= mt_n) {
            mt[0] = mt[mt_n - 1];
            i = 1;
        }
    }
    mt[0] = mt_upper_mask;
}

void mt_regenerate_plain(const MtState *source, MtState *destination) {
    uint32_t *d = destination->word;
    if (source != destination) {
        for (int k = 0; k < mt_n; k++)
            d[k] = source->word[k];
    }
    int k = 0;
    for (; k < mt_n - mt_m; k++)
        d[k] = twist(d[k], d[k + 1], d[k + mt_m]);
    for (; k < mt_n - 1; k++)
        d[k] = twist(d[k], d[k + 1], d[k + (mt_m - mt_n)]);
    d[mt_n - 1] = twist(d[mt_n - 1], d[0], d[mt_m - 1]);
}

void mt_impl::xor_span_plain(const uint32_t *words, const uint8_t *in, uint8_t *out, size_t n) {
    size_t j = 0;
    for (; j + 4 <= n; j += 4) {
        uint32_t w = mt_temper(*words++);
        for (int b = 0; b < 4; b++)
            out[j + b] = static_cast<uint8_t>(in[j + b] ^ (w >> (8 * b)));
    }
    if (j < n) {
        uint32_t w = mt_temper(*words);
        for (int b = 0; j < n; b++, j++)
            out[j] = static_cast<uint8_t>(in[j] ^ (w >> (8 * b)));
    }
}

void mt_xor_keystream_plain(MtState *state, uint32_t *index, const uint8_t *in, uint8_t *out,
                            size_t len, size_t reach) {
    mt_impl::xor_keystream<mt_regenerate_plain, mt_impl::xor_span_plain>(state, index, in, out, len,
                                                                         reach);
}

// The choice between implementations, from the list in mt19937.h.

DISPATCH_DEFINE_CHOICE(mt, MT_IMPLEMENTATIONS)

void mt_regenerate_by(int implementation, const MtState *source, MtState *destination) {
    switch (implementation) {
#define MT_CALL(name, cpu_test)                                                                    \
    case mt_implementation_##name:                                                                 \
        return mt_regenerate_##name(source, destination);
        MT_IMPLEMENTATIONS(MT_CALL)
#undef MT_CALL
    }
}

namespace {

void xor_keystream_reaching(int implementation, MtState *state, uint32_t *index, const uint8_t *in,
                            uint8_t *out, size_t len, size_t reach) {
    switch (implementation) {
#define MT_CALL(name, cpu_test)                                                                    \
    case mt_implementation_##name:                                                                 \
        return mt_xor_keystream_##name(state, index, in, out, len, reach);
        MT_IMPLEMENTATIONS(MT_CALL)
#undef MT_CALL
    }
}

} // namespace

void mt_xor_keystream_by(int implementation, MtState *state, uint32_t *index, const uint8_t *in,
                         uint8_t *out, size_t len) {
    xor_keystream_reaching(implementation, state, index, in, out, len, len);
}

void mt_xor_seeded_by(int implementation, MtState *state, const uint32_t *key, int32_t key_length,
                      uint32_t offset, const uint8_t *in, uint8_t *out, size_t len) {
    mt_seed_by_array(state, key, key_length);
    mt_regenerate_by(implementation, state, state);
    uint32_t index = offset;
    mt_xor_keystream_by(implementation, state, &index, in, out, len);
}

void mt_stream_xor_by(int implementation, MtStream *stream, const uint8_t *in, uint8_t *out,
                      size_t len) {
    size_t j = 0;
    if (stream->used != 0) { // the rest of a word that an earlier call began
        uint32_t w = mt_temper(stream->state.word[stream->index - 1]);
        for (; stream->used < 4 && j < len; stream->used++, j++)
            out[j] = static_cast<uint8_t>(in[j] ^ (w >> (8 * stream->used)));
        stream->used &= 3;
    }
    stream->walk = in == stream->walk_end ? stream->walk + len : len;
    stream->walk_end = in + len;
    if (j < len) {
        size_t reach = stream->walk < SIZE_MAX ? static_cast<size_t>(stream->walk) : SIZE_MAX;
        xor_keystream_reaching(implementation, &stream->state, &stream->index, in + j, out + j,
                               len - j, reach);
        stream->used = static_cast<uint32_t>((len - j) % 4);
    }
    stream->position += len;
}

void mt_stream_seed(MtStream *stream, const uint32_t *key, int32_t key_length, uint32_t offset) {
    mt_seed_by_array(&stream->state, key, key_length);
    mt_regenerate(&stream->state, &stream->state);
    stream->index = offset;
    stream->used = 0;
    stream->position = 0;
    stream->walk_end = nullptr;
    stream->walk = 0;
}

void mt_stream_skip(MtStream *stream, uint64_t len) {
    stream->position += len;
    stream->walk_end = nullptr; // the next piece starts a walk of its own
    if (stream->used != 0) {
        uint64_t rest = 4 - stream->used;
        if (len < rest) {
            stream->used += static_cast<uint32_t>(len);
            return;
        }
        len -= rest;
        stream->used = 0;
    }
    // The words the skipped bytes begin, read as mt_xor_keystream reads them:
    // a block is made when a word is due and the block is used up.
    uint64_t words = len / 4 + (len % 4 != 0);
    while (words > 0) {
        if (stream->index >= mt_n) {
            mt_regenerate(&stream->state, &stream->state);
            stream->index = 0;
        }
        uint64_t step = mt_n - stream->index;
        step = words < step ? words : step;
        stream->index += static_cast<uint32_t>(step);
        words -= step;
    }
    stream->used = static_cast<uint32_t>(len % 4);
}

void mt_stream_xor(MtStream *stream, const uint8_t *in, uint8_t *out, size_t len) {
    mt_stream_xor_by(mt_chosen_implementation(), stream, in, out, len);
}

void mt_regenerate(const MtState *source, MtState *destination) {
    mt_regenerate_by(mt_chosen_implementation(), source, destination);
}

void mt_xor_keystream(MtState *state, uint32_t *index, const uint8_t *in, uint8_t *out,
                      size_t len) {
    mt_xor_keystream_by(mt_chosen_implementation(), state, index, in, out, len);
}

void mt_xor_seeded(MtState *state, const uint32_t *key, int32_t key_length, uint32_t offset,
                   const uint8_t *in, uint8_t *out, size_t len) {
    mt_xor_seeded_by(mt_chosen_implementation(), state, key, key_length, offset, in, out, len);
}
