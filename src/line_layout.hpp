// Laying out the lines of dense pieces a group of eight pairs at a time. Which bytes a group's
// lines hold depends only on which of its pairs are equal and on the counters carried in, and they
// are nearly always at most 32: a table made from the counting rule holds the shuffles that make
// them from the bytes around the group, so that one shuffle and one store write them. The loop is
// written once (line_layout_loop.hpp); each instruction set's file supplies its operations.
#pragma once

#include "pair_counters.hpp"
#include "pair_kernels.hpp"

#include <cstddef>

// How far a slice's pairs were laid out, and where their lines end.
struct laid_out {
    counted count;
    char* end;
};

// Writes the lines of a slice's pairs `from` to `end` (whole groups), given the counters at `from`,
// from `out` on: pair k is bytes[k] and bytes[k + 1], equal where `equal` marks it. Stops before a
// group that carries in a run over 7 or whose lines pass 32 bytes, which the caller makes a piece
// at a time, and where less than block_room is left before `out_end`. Reads the group_pairs bytes
// before pair `from`.
using line_layout = laid_out(const char* bytes, const pair_marks& equal, std::size_t from,
                             std::size_t end, pair_counters counters, char* out,
                             const char* out_end) noexcept;

// The most that the lines of a block's groups take: room is asked for once a block.
constexpr std::size_t block_room = block_pairs / group_pairs * 32;

#if defined(__x86_64__)
// With AVX2; and with SSSE3 and SSE4.1, which most processors without AVX2 have. Both with PCLMUL.
line_layout lay_out_avx2, lay_out_sse41;
#endif
