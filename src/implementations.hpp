// The program's implementations, in one list: for each instruction set, the kernel that marks a
// slice's equal pairs and the layout that makes dense lines (or none). The program runs the
// fastest that the processor has, at or below the build's cap, chosen once at start-up.
#pragma once

#include "line_layout.hpp"
#include "pair_kernels.hpp"

#include <span>
#include <string_view>

struct implementation {
    std::string_view name;
    block_marker* mark_blocks;
    line_layout* lay_out; // nullptr: every line is made a piece at a time
    unsigned needs = 0;   // the instruction sets it needs beyond the processor's own, one bit each
};

// Every implementation this processor runs, the fastest first; the portable one last.
std::span<const implementation> runnable_implementations() noexcept;

// The one the program runs.
const implementation& chosen_implementation() noexcept;

#if defined(__x86_64__)
enum x86_feature : unsigned { ssse3 = 1, sse4_1 = 2, pclmul = 4, avx2 = 8, avx512bw = 16 };

// Whether the processor has `feature`, and the system lets programs use it.
bool processor_has(x86_feature feature) noexcept;
#endif
