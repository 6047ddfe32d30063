// The layout's tables and loop, written once in plain C++. An instruction set supplies a type
// `Groups` of three operations: write(source, shuffles, length, out), which writes a group's lines;
// and two steps taken once a block: prefix_parity(bits), bit q the parity of the bits of `bits` up
// to q (a carry-less multiply by all ones), and interleave_bytes(low, high, out), out[k] being
// byte k of `low` beside byte k of `high`.
#pragma once

#include "line_layout.hpp"

#include <array>
#include <bit>
#include <cstdint>

// A group number: bits 0 to 7, which of its pairs are equal; bit 8, the mismatch count carried in;
// bits 9 to 12, the run carried in. A run of up to 7 is laid out; one of 8 to 15, which a group
// can reach from 7, is named so that its group can be made a piece at a time.
constexpr unsigned mismatch_shift = 8;
constexpr unsigned run_shift = 9;
constexpr std::uint64_t longest_run_in = 7;
constexpr std::size_t laid_out_groups = std::size_t{1} << 12;
constexpr std::size_t named_groups = std::size_t{1} << 13;
constexpr std::size_t groups_without_run = std::size_t{1} << run_shift;
// A group's source is the 16 bytes from 8 before its first pair: pair k's left byte is byte 8 + k,
// and a piece of up to 15 bytes that ends there begins inside.
constexpr unsigned source_offset = group_pairs;
constexpr unsigned shuffle_size = 16;
constexpr std::uint8_t line_feed_lane = 0x80;           // a lane that is a line feed, not a byte
constexpr std::uint8_t too_long = 2 * shuffle_size + 1; // lines made a piece at a time
static_assert(block_room == block_pairs / group_pairs * 2 * shuffle_size);

// For every group, the two shuffles that make its lines from its source and their length; and,
// by its equal pairs and mismatch count alone, the run after it where a group number has it: the
// run it leaves, plus the run carried in where `kept_run` keeps it, 32 bits each so that the step
// is an and and an add straight from memory. 140 KiB, of which a token reads only what it uses.
struct group_tables {
    using shuffle = std::array<std::uint8_t, shuffle_size>;
    using shuffles = std::array<shuffle, 2>;
    alignas(2 * shuffle_size) std::array<shuffles, laid_out_groups> lines{};
    std::array<std::uint8_t, named_groups> lengths{};
    std::array<std::uint32_t, groups_without_run> run_after{};
    std::array<std::uint32_t, groups_without_run> kept_run{};
};

// Made by the counting rule itself, a pair at a time.
constexpr group_tables make_tables() {
    group_tables made;
    for (std::size_t group = laid_out_groups; group < named_groups; ++group) {
        made.lengths[group] = too_long;
    }
    for (unsigned group = 0; group < laid_out_groups; ++group) {
        // A plain array, stored whole: a compiler counts a constant evaluation's steps, and a
        // subscript of a std::array is a call.
        std::uint8_t lanes[2][shuffle_size]{};
        unsigned length = 0;
        pair_counters counters{group >> run_shift, (group >> mismatch_shift) & 1};
        bool cleared = false;
        for (unsigned pair = 0; pair < group_pairs; ++pair) {
            const bool equal = ((group >> pair) & 1) != 0;
            counters = after_pair(counters, equal);
            cleared = cleared || (!equal && counters.mismatch_count == 0);
            const auto run = static_cast<unsigned>(counters.run_length);
            if (equal && length + run + 1 > 2 * shuffle_size) {
                length = too_long;
            }
            for (unsigned byte = 0; equal && length != too_long && byte <= run; ++byte, ++length) {
                lanes[length / shuffle_size][length % shuffle_size] =
                    byte == run ? line_feed_lane
                                : static_cast<std::uint8_t>(source_offset + pair + 1 - run + byte);
            }
        }
        made.lengths[group] = static_cast<std::uint8_t>(length);
        made.lines[group] = {std::bit_cast<group_tables::shuffle>(lanes[0]),
                             std::bit_cast<group_tables::shuffle>(lanes[1])};
        if (group < groups_without_run) {
            made.run_after[group] = static_cast<std::uint32_t>(counters.run_length << run_shift);
            made.kept_run[group] = cleared ? 0 : ~std::uint32_t{0};
        }
    }
    return made;
}

inline constexpr group_tables tables = make_tables();

// The groups of one block: all eight for a whole block, a fixed count, so that the loop is
// unrolled and each group's checks are a branch of their own, which a predictor learns; else the
// first `count` pairs of `marks`. Each group's mismatch count comes from the parity of the unequal
// pairs before it, so that only the run carries from group to group, in an addition that waits on
// no load. Returns the pairs laid out.
template <typename Groups, bool whole_block>
[[gnu::always_inline]] inline std::size_t
lay_out_block(const char* bytes, std::size_t count, std::uint64_t marks, pair_counters& counters,
              char*& out) noexcept {
    // Bit q: the mismatch count after pair q is odd; and before pair q.
    const std::uint64_t mismatch = counters.mismatch_count;
    const std::uint64_t odd_after = Groups::prefix_parity(~marks) ^ (std::uint64_t{0} - mismatch);
    const std::uint64_t odd_before = odd_after << 1 | mismatch;
    // Each group's number but its run.
    alignas(16) std::array<std::uint16_t, block_pairs / group_pairs> equal_and_mismatches;
    Groups::interleave_bytes(marks, odd_before & 0x0101010101010101U, equal_and_mismatches.data());
    auto run_bits = static_cast<std::uint32_t>(counters.run_length << run_shift);
    std::size_t laid = 0;
    // Unrolled by hand, where g++ would leave a whole block's groups in a loop.
#pragma GCC unroll 8
    for (; laid < (whole_block ? block_pairs : count); laid += group_pairs) {
        const unsigned equal_and_mismatch = equal_and_mismatches[laid / group_pairs];
        const unsigned group = equal_and_mismatch | run_bits;
        const std::uint8_t length = tables.lengths[group];
        if (length == too_long) [[unlikely]] {
            break;
        }
        Groups::write(bytes + laid - source_offset, tables.lines[group], length, out);
        out += length;
        run_bits =
            (run_bits & tables.kept_run[equal_and_mismatch]) + tables.run_after[equal_and_mismatch];
    }
    counters.run_length = run_bits >> run_shift;
    counters.mismatch_count = laid == 0 ? mismatch : (odd_after >> (laid - 1)) & 1;
    return laid;
}

// What every instruction set's layout is, with its own operations.
template <typename Groups>
[[gnu::always_inline]] inline laid_out
lay_out_slice(const char* bytes, const pair_marks& equal, std::size_t from, std::size_t end,
              pair_counters counters, char* out, const char* out_end) noexcept {
    // Room is asked for once a block; a run carried into one is at most 15.
    while (from < end && counters.run_length <= longest_run_in &&
           out_end - out >= static_cast<std::ptrdiff_t>(block_room)) {
        const std::size_t in_block = from % block_pairs;
        const std::uint64_t marks = equal[from / block_pairs];
        const std::size_t laid =
            in_block == 0
                ? lay_out_block<Groups, true>(bytes + from, block_pairs, marks, counters, out)
                : lay_out_block<Groups, false>(bytes + from, block_pairs - in_block,
                                               marks >> in_block, counters, out);
        from += laid;
        if (laid < block_pairs - in_block) {
            break;
        }
    }
    return {{from, counters}, out};
}
