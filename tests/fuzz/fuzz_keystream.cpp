// libFuzzer target: the key stream of every implementation against the
// reference-style generator, for arbitrary seeds, offsets and lengths, plus
// the in-place, round-trip and split-call properties.
#include "fuzz_check.h"
#include "mt19937.h"
#include "reference/mt_reference.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 17)
        return 0;
    // Fuzz input words are little-endian, so a seed file means the same on any host.
    const uint32_t key[3] = {load32_le(data), load32_le(data + 4), load32_le(data + 8)};
    const uint32_t offset = load32_le(data + 12);
    const size_t repeat = 1 + data[16] % 8;
    const uint8_t *tail = data + 17;
    const size_t tail_len = size - 17;
    // Longer inputs than the fuzzer makes by itself reach several blocks.
    std::vector<uint8_t> in;
    for (size_t r = 0; r < repeat && in.size() < 20000; r++)
        in.insert(in.end(), tail, tail + tail_len);
    const size_t len = in.size();

    std::vector<uint8_t> want(len), got(len);
    ref_mt_xor(key, offset, in.data(), want.data(), len);

    MtState state;
    for (int i = 0; i < mt_implementation_count; i++) {
        if (!mt_implementation_available(i))
            continue;
        mt_xor_seeded_by(i, &state, key, 3, offset, in.data(), got.data(), len);
        check(got == want);
        std::vector<uint8_t> buf = in; // in place, then back again
        mt_xor_seeded_by(i, &state, key, 3, offset, buf.data(), buf.data(), len);
        check(buf == want);
        mt_xor_seeded_by(i, &state, key, 3, offset, buf.data(), buf.data(), len);
        check(buf == in);
    }

    // Two calls on consecutive parts, split at a word boundary, equal one.
    size_t split = len ? 4 * ((data[16] * 131u) % (len / 4 + 1)) : 0;
    mt_seed_by_array(&state, key, 3);
    mt_regenerate(&state, &state);
    uint32_t index = offset;
    mt_xor_keystream(&state, &index, in.data(), got.data(), split);
    check(split == 0 || index <= static_cast<uint32_t>(mt_n));
    mt_xor_keystream(&state, &index, in.data() + split, got.data() + split, len - split);
    check(got == want);
    return 0;
}
