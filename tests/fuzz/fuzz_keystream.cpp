// libFuzzer target: the key stream of every implementation against the
// reference-style generator, for arbitrary seeds, offsets and lengths, plus
// the in-place, round-trip and split-call properties.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "mt19937.h"
#include "paths.h"
#include "reference/mt_reference.h"

namespace {

void check(bool ok) {
    if (!ok)
        __builtin_trap();
}

// Fuzz input words are little-endian, so a seed file means the same on any host.
uint32_t load32(const uint8_t *p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void run(const MtPath &p, const uint32_t key[3], uint32_t offset, const uint8_t *in, uint8_t *out,
         size_t len) {
    MtState seed, work;
    mt_seed_by_array(&seed, key, 3);
    p.regenerate(&seed, &work);
    uint32_t index = offset;
    p.xor_keystream(&work, &index, in, out, len);
    check(len == 0 || index <= static_cast<uint32_t>(mt_n));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const std::vector<MtPath> paths = runnable(mt_paths(), true);
    if (size < 17)
        return 0;
    const uint32_t key[3] = {load32(data), load32(data + 4), load32(data + 8)};
    const uint32_t offset = load32(data + 12);
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

    for (const auto &p : paths) {
        run(p, key, offset, in.data(), got.data(), len);
        check(got == want);
        std::vector<uint8_t> buf = in; // in place, then back again
        run(p, key, offset, buf.data(), buf.data(), len);
        check(buf == want);
        run(p, key, offset, buf.data(), buf.data(), len);
        check(buf == in);
    }

    // Two calls on consecutive parts, split at a word boundary, equal one.
    size_t split = len ? 4 * ((data[16] * 131u) % (len / 4 + 1)) : 0;
    MtState seed, work;
    mt_seed_by_array(&seed, key, 3);
    mt_regenerate(&seed, &work);
    uint32_t index = offset;
    mt_xor_keystream(&work, &index, in.data(), got.data(), split);
    mt_xor_keystream(&work, &index, in.data() + split, got.data() + split, len - split);
    check(got == want);
    return 0;
}
