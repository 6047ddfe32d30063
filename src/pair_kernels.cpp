// The byte kernels: the portable variant, which runs on every processor, the choice at start-up
// of the fastest variant the processor runs, and the plain loop they are all held to.
#include "pair_kernel_variants.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#if defined(__x86_64__) && __has_include(<sys/platform/x86.h>)
// A C header: its _Bool is C's bool, which a C++ compiler knows by that name only as an extension.
#define _Bool bool
#include <sys/platform/x86.h>
#undef _Bool
#endif

namespace {

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

constexpr pair_kernel portable_kernel{"portable", mark_blocks_portable};

// Chosen once, at start-up, from what the processor reports.
std::span<const pair_kernel> choose_kernels() {
#if defined(__x86_64__)
    // Fastest first: dropping a prefix leaves the variants a lesser processor can run.
    static constexpr std::array all{pair_kernel{"avx512bw", mark_blocks_avx512},
                                    pair_kernel{"avx2", mark_blocks_avx2},
                                    pair_kernel{"sse2", mark_blocks_sse2}, portable_kernel};
    const std::span<const pair_kernel> kernels = all;
    if (processor_has(x86_feature::avx512bw)) {
        return kernels;
    }
    return kernels.subspan(processor_has(x86_feature::avx2) ? 1 : 2);
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

#if defined(__x86_64__)
// glibc asked the processor before the program began, and keeps the answers. Asking again costs
// a trap into the hypervisor per question on a virtual machine: 5 us each on the EPYC this was
// measured on, so that a run on one short word took 780 us against 720 us with glibc's answers.
bool processor_has(x86_feature feature) noexcept {
#if defined(CPU_FEATURE_ACTIVE)
    const std::array has{CPU_FEATURE_ACTIVE(SSSE3), CPU_FEATURE_ACTIVE(SSE4_1),
                         CPU_FEATURE_ACTIVE(PCLMULQDQ), CPU_FEATURE_ACTIVE(AVX2),
                         CPU_FEATURE_ACTIVE(AVX512BW)};
#else
    __builtin_cpu_init(); // this may run before the constructor that would otherwise call it
    const std::array has{__builtin_cpu_supports("ssse3"), __builtin_cpu_supports("sse4.1"),
                         __builtin_cpu_supports("pclmul"), __builtin_cpu_supports("avx2"),
                         __builtin_cpu_supports("avx512bw")};
#endif
    return has[static_cast<std::size_t>(feature)] != 0;
}
#endif

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

const pair_kernel& chosen_pair_kernel() noexcept {
    return chosen;
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
