#include "line_layout.hpp"

#include "pair_kernels.hpp"

#include <array>
#include <bit>
#include <string_view>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

#if defined(__x86_64__)

// Eight pairs and the counters carried into them, named by a group number: bits 0 to 7, which of
// the pairs are equal; bit 8, the mismatch count; bits 9 to 12, the run. Groups whose run is up
// to 7 are laid out; a run of 8 to 15, which eight pairs can reach from 7, is named so that its
// group can be told to be made a piece at a time.
constexpr std::size_t groups = 1 << 12;
constexpr std::size_t named_groups = 1 << 13;
constexpr unsigned longest_run_in = 7;
constexpr unsigned mismatch_shift = 8; // where the counters stand in a group number
constexpr unsigned run_shift = 9;
// The equal pairs and mismatch count alone: what the run after a group depends on, beside the
// run carried in.
constexpr std::size_t groups_without_run = std::size_t{1} << run_shift;
// The source of a group's lines: the 16 bytes from 8 before its first pair, so that pair k's left
// byte is byte 8 + k, and a piece of up to 15 bytes that ends there begins inside.
constexpr unsigned source_offset = 8;
constexpr std::uint8_t line_feed_lane = 0x80; // a shuffle lane that is a line feed, not a byte

struct counters {
    std::uint64_t run = 0;
    std::uint64_t mismatch = 0;
    bool cleared = false; // whether the group cleared the run
};

// The rules, a pair at a time, as the plain scan applies them: calls `piece(pair, run)` for each
// equal pair of a group (`equal`, bit k for pair k), and returns the counters after it.
template <typename Piece>
constexpr counters apply_rules(unsigned equal, counters state, Piece&& piece) {
    for (unsigned pair = 0; pair < 8; ++pair) {
        if ((equal >> pair) & 1) {
            piece(pair, ++state.run);
        } else if (++state.mismatch == 2) {
            state = {0, 0, true};
        }
    }
    return state;
}

// For every group, the shuffles that make its lines from its source, their first 16 bytes and the
// 16 after, side by side, and their length; and, by its equal pairs and mismatch count alone, the
// run after it, where a group's number has it: the run it leaves, plus the run carried in where
// `kept_run` keeps it (32 bits each, so that the step is an and and an add straight from memory).
// 128 KiB of shuffles and 12 KiB of the rest; only the pages that a token's groups use are read.
constexpr unsigned shuffle_size = 16;
// The length named for lines made a piece at a time.
constexpr std::uint8_t too_long = 2 * shuffle_size + 1;
static_assert(word_room == 8 * 2 * shuffle_size);

struct group_tables {
    using shuffle = std::array<std::uint8_t, shuffle_size>;
    using shuffles = std::array<shuffle, 2>; // bytes 0 to 15, 16 to 31
    alignas(2 * shuffle_size) std::array<shuffles, groups> lines{};
    std::array<std::uint8_t, named_groups> lengths{};
    std::array<std::uint32_t, groups_without_run> run_after{};
    std::array<std::uint32_t, groups_without_run> kept_run{};
};

constexpr group_tables make_tables() {
    group_tables made;
    for (unsigned group = groups; group < named_groups; ++group) {
        made.lengths[group] = too_long;
    }
    for (unsigned group = 0; group < groups; ++group) {
        // Built in a plain array and stored whole: a compiler counts the steps of a constant
        // evaluation, and a subscript of a std::array is a call.
        std::uint8_t lanes[2][shuffle_size]{};
        auto& length = made.lengths[group];
        const counters after = apply_rules(
            group & 0xFF, {group >> run_shift, (group >> mismatch_shift) & 1},
            [&](unsigned pair, std::uint64_t run) {
                if (length + run + 1 > 2 * shuffle_size) {
                    length = too_long;
                    return;
                }
                for (unsigned byte = 0; byte <= run; ++byte, ++length) {
                    lanes[length / shuffle_size][length % shuffle_size] =
                        byte == run
                            ? line_feed_lane
                            : static_cast<std::uint8_t>(source_offset + pair + 1 - run + byte);
                }
            });
        for (unsigned half = 0; half < 2; ++half) {
            made.lines[group][half] = std::bit_cast<group_tables::shuffle>(lanes[half]);
        }
        if (group < groups_without_run) {
            made.run_after[group] = static_cast<std::uint32_t>(after.run << run_shift);
            made.kept_run[group] = after.cleared ? 0 : ~std::uint32_t{0};
        }
    }
    return made;
}

constexpr group_tables tables = make_tables();

// Bit q: the parity of the bits of `bits` at or below q: a carry-less multiply by all ones.
[[gnu::target("pclmul")]] inline std::uint64_t prefix_parity(std::uint64_t bits) noexcept {
    const __m128i product =
        _mm_clmulepi64_si128(_mm_cvtsi64_si128(static_cast<long long>(bits)), _mm_set1_epi8(-1), 0);
    return static_cast<std::uint64_t>(_mm_cvtsi128_si64(product));
}

// How each instruction set writes a group's lines, from its source and its shuffles. Lanes with
// the high bit set are line feeds: the shuffle zeroes them, the blend fills them in. Bytes past
// the lines may be written too, up to 32 from `out`: the next group's lines overwrite them.

// 16 bytes a shuffle, and a second shuffle for the rare group whose lines pass 16 bytes (1.4% on
// random A/C/G/T), on a branch: leaving the layout for them cost a fifth of its time.
[[gnu::target("ssse3,sse4.1")]] void
write_half(__m128i source, const group_tables::shuffle& shuffle, char* out) noexcept {
    const __m128i lanes = _mm_load_si128(reinterpret_cast<const __m128i*>(shuffle.data()));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                     _mm_blendv_epi8(_mm_shuffle_epi8(source, lanes), _mm_set1_epi8('\n'), lanes));
}

[[gnu::target("ssse3,sse4.1")]] void write_lines_sse41(const char* from,
                                                       const group_tables::shuffles& shuffles,
                                                       std::uint8_t length, char* out) noexcept {
    const __m128i source = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
    if (length > shuffle_size) [[unlikely]] {
        write_half(source, shuffles[1], out + shuffle_size);
    }
    write_half(source, shuffles[0], out);
}

// All 32 bytes in one shuffle of the source repeated in both halves: no branch on the length,
// whose wrong guesses took a tenth of the layout's time on random A/C/G/T.
[[gnu::target("avx2")]] void write_lines_avx2(const char* from,
                                              const group_tables::shuffles& shuffles,
                                              std::uint8_t /*length*/, char* out) noexcept {
    const __m256i source =
        _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(from)));
    const __m256i lanes = _mm256_load_si256(reinterpret_cast<const __m256i*>(shuffles.data()));
    _mm256_storeu_si256(
        reinterpret_cast<__m256i*>(out),
        _mm256_blendv_epi8(_mm256_shuffle_epi8(source, lanes), _mm256_set1_epi8('\n'), lanes));
}

using group_writer = void (*)(const char*, const group_tables::shuffles&, std::uint8_t,
                              char*) noexcept;

// The loop over a whole word has a fixed count, so that it is unrolled and each group's checks
// are a branch of their own, which a predictor learns; a word resumed after pairs that could not
// be laid out takes the loop with a count. The mismatch count before each group comes from the
// parity of the unequal pairs before it, not from the group before: what carries from group to
// group is the run alone, in an addition that waits on no load. Returns the pairs laid out.
template <bool whole_word, group_writer write_lines>
[[gnu::always_inline]] inline std::size_t
lay_out_word(const char* pairs, std::size_t count, std::uint64_t marks, std::uint64_t& run,
             std::uint64_t& mismatch, char*& out) noexcept {
    // Bit q: the mismatch count after pair q is odd; and before pair q.
    const std::uint64_t odd_after = prefix_parity(~marks) ^ (std::uint64_t{0} - mismatch);
    const std::uint64_t odd_before = odd_after << 1 | mismatch;
    // Each group's equal pairs and mismatch count, for all eight at once: its byte of the marks
    // beside the low bit of its byte of odd_before, as one 16-bit number.
    alignas(16) std::array<std::uint16_t, 8> equal_and_mismatches;
    _mm_store_si128(reinterpret_cast<__m128i*>(equal_and_mismatches.data()),
                    _mm_unpacklo_epi8(_mm_cvtsi64_si128(static_cast<long long>(marks)),
                                      _mm_cvtsi64_si128(static_cast<long long>(
                                          odd_before & 0x0101010101010101U))));
    auto run_bits = static_cast<std::uint32_t>(run << run_shift);
    std::size_t laid = 0;
    // Unrolled by hand where g++ would leave the eight groups of a whole word in a loop.
#pragma GCC unroll 8
    for (; laid < (whole_word ? 64 : count); laid += 8) {
        const unsigned equal_and_mismatch = equal_and_mismatches[laid / 8];
        const unsigned group = equal_and_mismatch | run_bits;
        const std::uint8_t length = tables.lengths[group];
        if (length == too_long) [[unlikely]] {
            break;
        }
        write_lines(pairs + laid - source_offset, tables.lines[group], length, out);
        out += length;
        run_bits =
            (run_bits & tables.kept_run[equal_and_mismatch]) + tables.run_after[equal_and_mismatch];
    }
    run = run_bits >> run_shift;
    mismatch = laid == 0 ? mismatch : (odd_after >> (laid - 1)) & 1;
    return laid;
}

// The loop over a slice's words, written once; each instruction set's layout is this loop with
// its own way of writing a group's lines.
template <group_writer write_lines>
[[gnu::always_inline]] inline laid_out
lay_out_slice(const char* pairs, const std::uint64_t* marks, std::size_t from, std::size_t count,
              std::uint64_t run, std::uint64_t mismatch, char* out, const char* out_end) noexcept {
    // Room for a word of groups is asked once a word; a run carried into one is at most 15.
    while (from < count && run <= longest_run_in &&
           out_end - out >= static_cast<std::ptrdiff_t>(word_room)) {
        const std::size_t in_word = from % 64;
        const std::size_t laid =
            in_word == 0
                ? lay_out_word<true, write_lines>(pairs + from, 64, marks[from / 64], run, mismatch,
                                                  out)
                : lay_out_word<false, write_lines>(pairs + from, 64 - in_word,
                                                   marks[from / 64] >> in_word, run, mismatch, out);
        from += laid;
        if (laid < 64 - in_word) {
            break;
        }
    }
    return {out, from, run, mismatch};
}

[[gnu::target("ssse3,sse4.1,pclmul")]] laid_out
lay_out_sse41(const char* pairs, const std::uint64_t* marks, std::size_t from, std::size_t count,
              std::uint64_t run, std::uint64_t mismatch, char* out, const char* out_end) noexcept {
    return lay_out_slice<write_lines_sse41>(pairs, marks, from, count, run, mismatch, out, out_end);
}

[[gnu::target("avx2,pclmul")]] laid_out lay_out_avx2(const char* pairs, const std::uint64_t* marks,
                                                     std::size_t from, std::size_t count,
                                                     std::uint64_t run, std::uint64_t mismatch,
                                                     char* out, const char* out_end) noexcept {
    return lay_out_slice<write_lines_avx2>(pairs, marks, from, count, run, mismatch, out, out_end);
}

#endif

} // namespace

std::span<const slice_layout> runnable_slice_layouts() noexcept {
#if defined(__x86_64__)
    // Most x86-64 processors made since 2011 have SSSE3, SSE4.1 and PCLMUL, AVX2 or not, and so
    // the SSE2 kernels' ones mostly do.
    static constexpr std::array<slice_layout, 2> fastest_first{lay_out_avx2, lay_out_sse41};
    if (processor_has(x86_feature::ssse3) && processor_has(x86_feature::sse4_1) &&
        processor_has(x86_feature::pclmul)) {
        return std::span{fastest_first}.subspan(processor_has(x86_feature::avx2) ? 0 : 1);
    }
#endif
    return {};
}

slice_layout slice_layout_for_this_processor() noexcept {
    std::span<const slice_layout> layouts = runnable_slice_layouts();
#if defined(__x86_64__)
    if (const std::string_view tier = chosen_pair_kernel().name;
        !layouts.empty() && layouts.front() == lay_out_avx2 && tier != "avx512bw" &&
        tier != "avx2") {
        layouts = layouts.subspan(1);
    }
#endif
    return layouts.empty() ? nullptr : layouts.front();
}
