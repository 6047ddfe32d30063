#include "pair_kernels.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__aarch64__) && defined(__AARCH64EL__)
#include <arm_neon.h>
#endif

namespace {

// What one block of 64 pairs holds: bit i of `same` for pair i, and `any_white`, not 0 when any
// of its 64 bytes is white space. Where the white space is matters once a token, at its end, so
// the variants only say whether there is any: one reduction instead of a mask.
struct block_masks {
    std::uint64_t same;
    std::uint64_t any_white;
};

// The loop every variant shares: each block's equal pairs stored, stopping after the first block
// that holds a stop byte. Inlined into each variant, so that the block's masks are made with that
// variant's instructions.
template <block_masks (*make_masks)(const char*) noexcept>
[[gnu::always_inline]] inline slice_marks mark_blocks_with(const char* bytes, std::size_t blocks,
                                                           std::uint64_t* equal,
                                                           std::uint64_t stop) noexcept {
    std::uint64_t words_with_marks = 0;
    for (std::size_t block = 0; block < blocks; ++block) {
        const block_masks masks = make_masks(bytes + 64 * block);
        equal[block] = masks.same;
        words_with_marks |= std::uint64_t{masks.same != 0} << block;
        if ((masks.any_white & stop) != 0) {
            const char* const first = bytes + 64 * block;
            return {64 * block + static_cast<std::size_t>(
                                     std::find_if(first, first + 64, is_white_space) - first),
                    words_with_marks};
        }
    }
    return {64 * blocks, words_with_marks};
}

// Eight bytes at once, in a 64-bit word: works on every processor, and is what the portable
// variant is made of. Byte 0 is always the low byte, whatever order the processor keeps them in.
std::uint64_t load_word(const char* bytes) noexcept {
    std::uint64_t word = 0;
    std::memcpy(&word, bytes, sizeof word);
    if constexpr (std::endian::native == std::endian::big) {
        word = __builtin_bswap64(word);
    }
    return word;
}

constexpr std::uint64_t every_byte(std::uint8_t value) noexcept {
    return 0x0101010101010101U * value;
}

// The high bit of every byte of `word` that is 0. Exact: no carry crosses from byte to byte.
constexpr std::uint64_t zero_bytes(std::uint64_t word) noexcept {
    const std::uint64_t low_seven = every_byte(0x7F);
    return ~(((word & low_seven) + low_seven) | word) & every_byte(0x80);
}

// The high bit of every byte of `word` that is white space: a space, or a byte from \t (9) to \r
// (13), which is below 0x80, at least 9 and not above 13.
constexpr std::uint64_t white_space_bytes(std::uint64_t word) noexcept {
    const std::uint64_t low_seven = word & every_byte(0x7F);
    const std::uint64_t at_least_tab = low_seven + every_byte(0x80 - '\t');
    const std::uint64_t above_return = low_seven + every_byte(0x7F - '\r');
    const std::uint64_t control = at_least_tab & ~above_return & ~word & every_byte(0x80);
    return control | zero_bytes(word ^ every_byte(' '));
}

// The high bits of a word's eight bytes, gathered into the low eight bits (byte 0 to bit 0).
constexpr std::uint64_t gather_high_bits(std::uint64_t high_bits) noexcept {
    return ((high_bits >> 7) * 0x0102040810204080U) >> 56;
}

block_masks portable_masks(const char* block) noexcept {
    block_masks masks{0, 0};
    for (std::size_t word = 0; word < 8; ++word) {
        const char* const left = block + 8 * word;
        const std::uint64_t bytes = load_word(left);
        const std::size_t shift = 8 * word;
        masks.same |= gather_high_bits(zero_bytes(bytes ^ load_word(left + 1))) << shift;
        masks.any_white |= white_space_bytes(bytes);
    }
    return masks;
}

slice_marks mark_blocks_portable(const char* bytes, std::size_t blocks, std::uint64_t* equal,
                                 std::uint64_t stop) noexcept {
    return mark_blocks_with<portable_masks>(bytes, blocks, equal, stop);
}

#if defined(__x86_64__)

// SSE2 is part of x86-64 itself, so this variant needs no check of the processor.
std::uint64_t bits_of_16(__m128i bytes) noexcept {
    return static_cast<std::uint32_t>(_mm_movemask_epi8(bytes));
}

block_masks sse2_masks(const char* block) noexcept {
    block_masks masks{0, 0};
    __m128i white = _mm_setzero_si128();
    for (std::size_t part = 0; part < 4; ++part) {
        const char* const left = block + 16 * part;
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(left));
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(left + 1));
        // \t to \r are 9 to 13: after adding 0x80 - 9 they are the bytes whose signed value is
        // below -128 + 5, which one signed compare finds.
        const __m128i shifted = _mm_add_epi8(bytes, _mm_set1_epi8(0x80 - '\t'));
        const __m128i control = _mm_cmplt_epi8(shifted, _mm_set1_epi8(-128 + 5));
        const __m128i space = _mm_cmpeq_epi8(bytes, _mm_set1_epi8(' '));
        masks.same |= bits_of_16(_mm_cmpeq_epi8(bytes, next)) << (16 * part);
        white = _mm_or_si128(white, _mm_or_si128(control, space));
    }
    masks.any_white = bits_of_16(white);
    return masks;
}

slice_marks mark_blocks_sse2(const char* bytes, std::size_t blocks, std::uint64_t* equal,
                             std::uint64_t stop) noexcept {
    return mark_blocks_with<sse2_masks>(bytes, blocks, equal, stop);
}

[[gnu::target("avx2")]] std::uint64_t bits_of_32(__m256i bytes) noexcept {
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(bytes));
}

// Each byte below 0x80 looks up, by its low four bits, the one white-space byte that has them, or
// 0xFF, which no such byte equals; a byte of 0x80 or more looks up 0, which it never equals. So a
// byte is white space exactly when it equals what it looks up.
[[gnu::target("avx2")]] block_masks avx2_masks(const char* block) noexcept {
    const __m256i white_by_low_bits =
        _mm256_setr_epi8(' ', -1, -1, -1, -1, -1, -1, -1, -1, '\t', '\n', '\v', '\f', '\r', -1, -1,
                         ' ', -1, -1, -1, -1, -1, -1, -1, -1, '\t', '\n', '\v', '\f', '\r', -1, -1);
    block_masks masks{0, 0};
    __m256i white = _mm256_setzero_si256();
    for (std::size_t half = 0; half < 2; ++half) {
        const char* const left = block + 32 * half;
        const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(left));
        const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(left + 1));
        white = _mm256_or_si256(
            white, _mm256_cmpeq_epi8(bytes, _mm256_shuffle_epi8(white_by_low_bits, bytes)));
        masks.same |= bits_of_32(_mm256_cmpeq_epi8(bytes, next)) << (32 * half);
    }
    masks.any_white = bits_of_32(white);
    return masks;
}

[[gnu::target("avx2")]] slice_marks mark_blocks_avx2(const char* bytes, std::size_t blocks,
                                                     std::uint64_t* equal,
                                                     std::uint64_t stop) noexcept {
    return mark_blocks_with<avx2_masks>(bytes, blocks, equal, stop);
}

// The same look-up, a whole block at a time, with the masks made directly by the compares.
[[gnu::target("avx512bw")]] block_masks avx512_masks(const char* block) noexcept {
    const __m512i white_by_low_bits = _mm512_broadcast_i32x4(
        _mm_setr_epi8(' ', -1, -1, -1, -1, -1, -1, -1, -1, '\t', '\n', '\v', '\f', '\r', -1, -1));
    const __m512i bytes = _mm512_loadu_si512(block);
    const __m512i next = _mm512_loadu_si512(block + 1);
    return {_mm512_cmpeq_epi8_mask(bytes, next),
            _mm512_cmpeq_epi8_mask(bytes, _mm512_shuffle_epi8(white_by_low_bits, bytes))};
}

[[gnu::target("avx512bw")]] slice_marks mark_blocks_avx512(const char* bytes, std::size_t blocks,
                                                           std::uint64_t* equal,
                                                           std::uint64_t stop) noexcept {
    return mark_blocks_with<avx512_masks>(bytes, blocks, equal, stop);
}

#elif defined(__aarch64__) && defined(__AARCH64EL__)

// NEON is part of 64-bit ARM itself, so this variant needs no check of the processor either.
// It has no movemask: each compare's lanes keep one bit of their own, and three rounds of
// pairwise adds gather the 64 lanes into the 64 bits of one word, lane 0 to bit 0.
std::uint64_t bits_of_64(const std::array<uint8x16_t, 4>& lanes) noexcept {
    const uint8x16_t bit_of_lane = {1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128};
    const uint8x16_t first =
        vpaddq_u8(vandq_u8(lanes[0], bit_of_lane), vandq_u8(lanes[1], bit_of_lane));
    const uint8x16_t second =
        vpaddq_u8(vandq_u8(lanes[2], bit_of_lane), vandq_u8(lanes[3], bit_of_lane));
    const uint8x16_t both = vpaddq_u8(first, second);
    return vgetq_lane_u64(vreinterpretq_u64_u8(vpaddq_u8(both, both)), 0);
}

block_masks neon_masks(const char* block) noexcept {
    std::array<uint8x16_t, 4> same{};
    uint8x16_t white = vdupq_n_u8(0);
    for (std::size_t part = 0; part < 4; ++part) {
        const auto* const left = reinterpret_cast<const std::uint8_t*>(block + 16 * part);
        const uint8x16_t bytes = vld1q_u8(left);
        same[part] = vceqq_u8(bytes, vld1q_u8(left + 1));
        // \t to \r are 9 to 13: after subtracting 9 they are the bytes whose value is <= 4.
        const uint8x16_t control = vcleq_u8(vsubq_u8(bytes, vdupq_n_u8('\t')), vdupq_n_u8(4));
        white = vorrq_u8(white, vorrq_u8(control, vceqq_u8(bytes, vdupq_n_u8(' '))));
    }
    return {bits_of_64(same), vmaxvq_u8(white)};
}

slice_marks mark_blocks_neon(const char* bytes, std::size_t blocks, std::uint64_t* equal,
                             std::uint64_t stop) noexcept {
    return mark_blocks_with<neon_masks>(bytes, blocks, equal, stop);
}

#endif

constexpr pair_kernel portable_kernel{"portable", mark_blocks_portable};

// Chosen once, at start-up, from what the processor reports.
std::span<const pair_kernel> choose_kernels() {
#if defined(__x86_64__)
    __builtin_cpu_init(); // this runs before the constructors that would otherwise call it
    // Fastest first: dropping a prefix leaves the variants a lesser processor can run.
    static constexpr std::array all{pair_kernel{"avx512bw", mark_blocks_avx512},
                                    pair_kernel{"avx2", mark_blocks_avx2},
                                    pair_kernel{"sse2", mark_blocks_sse2}, portable_kernel};
    const std::span<const pair_kernel> kernels = all;
    if (__builtin_cpu_supports("avx512bw")) {
        return kernels;
    }
    return kernels.subspan(__builtin_cpu_supports("avx2") ? 1 : 2);
#elif defined(__aarch64__) && defined(__AARCH64EL__)
    static constexpr std::array with_neon{pair_kernel{"neon", mark_blocks_neon}, portable_kernel};
    return with_neon;
#else
    static constexpr std::array only_portable{portable_kernel};
    return only_portable;
#endif
}

// The fastest kernel a build may use, by name; empty for the fastest this processor runs. A
// build capped at "avx2" or "sse2" runs as a processor without the faster tiers would, so that
// every tier can be measured on any machine.
#ifndef PAIR_REPORT_KERNEL_CAP
#define PAIR_REPORT_KERNEL_CAP ""
#endif
constexpr std::string_view kernel_cap = PAIR_REPORT_KERNEL_CAP;

const pair_kernel& fastest_allowed(std::span<const pair_kernel> kernels) {
    const auto capped = std::find_if(kernels.begin(), kernels.end(), [](const pair_kernel& kernel) {
        return kernel.name == kernel_cap;
    });
    return capped == kernels.end() ? kernels.front() : *capped;
}

// At namespace scope rather than in a function: a function's static would need the C++
// runtime's guard, and the program otherwise needs nothing of that runtime.
const std::span<const pair_kernel> runnable = choose_kernels();
const pair_kernel& chosen = fastest_allowed(runnable);

} // namespace

slice_marks pair_kernel::mark(std::string_view bytes, std::uint64_t* equal,
                              white_space rule) const noexcept {
    const std::uint64_t stop = rule == white_space::ends_token ? ~std::uint64_t{0} : 0;
    // Whole blocks are those whose 65th byte is inside. A single byte after them holds no pair,
    // and only has to be looked at; a longer rest, up to 64 bytes, is copied into a block of its
    // own whose padding is neither white space nor looked at.
    const std::size_t whole_blocks = bytes.empty() ? 0 : (bytes.size() - 1) / 64;
    slice_marks found = mark_blocks(bytes.data(), whole_blocks, equal, stop);
    if (const std::string_view rest{bytes.data() + found.end, bytes.size() - found.end};
        found.end == 64 * whole_blocks && !rest.empty()) {
        if (rest.size() == 1) {
            found.end += stop == 0 || !is_white_space(rest.front()) ? 1 : 0;
        } else {
            std::array<char, 65> block{};
            block.fill('x');
            rest.copy(block.data(), rest.size());
            const slice_marks last = mark_blocks(block.data(), 1, equal + whole_blocks, stop);
            found.end += std::min(last.end, rest.size());
            found.words_with_marks |= last.words_with_marks << whole_blocks;
        }
    }
    // The pairs from end - 1 on hold a byte past the end, or the padding: their marks go, and
    // so does the word that held only those.
    const std::size_t pairs = found.end == 0 ? 0 : found.end - 1;
    const std::size_t words = (pairs + 63) / 64;
    if (const std::size_t last = pairs / 64; pairs % 64 != 0) {
        equal[last] &= (std::uint64_t{1} << (pairs % 64)) - 1;
        found.words_with_marks &= ~(std::uint64_t{equal[last] == 0} << last);
    }
    found.words_with_marks &= words == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << words) - 1;
    return found;
}

std::span<const pair_kernel> runnable_pair_kernels() noexcept {
    return runnable;
}

slice_marks mark_equal_pairs(std::string_view bytes, std::uint64_t* equal,
                             white_space rule) noexcept {
    return chosen.mark(bytes, equal, rule);
}

slice_marks mark_equal_pairs_reference(std::string_view bytes, std::uint64_t* equal,
                                       white_space rule) {
    slice_marks found{0, 0};
    while (found.end < bytes.size() &&
           !(rule == white_space::ends_token && is_white_space(bytes[found.end]))) {
        ++found.end;
    }
    for (std::size_t pair = 0; pair + 1 < found.end; ++pair) {
        if (pair % 64 == 0) {
            equal[pair / 64] = 0;
        }
        if (bytes[pair] == bytes[pair + 1]) {
            equal[pair / 64] |= std::uint64_t{1} << (pair % 64);
            found.words_with_marks |= std::uint64_t{1} << (pair / 64);
        }
    }
    return found;
}
