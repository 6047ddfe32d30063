#include "implementations.hpp"

#include <algorithm>
#include <array>

#if defined(__x86_64__) && __has_include(<sys/platform/x86.h>)
// A C header: its _Bool is C's bool, which a C++ compiler knows by that name only as an extension.
#define _Bool bool
#include <sys/platform/x86.h>
#undef _Bool
#endif

namespace {
// Fastest first, each needing all that those after it need: the ones a processor runs are the
// list's end.
#if defined(__x86_64__)
constexpr std::array<implementation, 5> listing{{
    {"avx512bw", mark_blocks_avx512, lay_out_avx2, avx512bw | avx2 | ssse3 | sse4_1 | pclmul},
    {"avx2", mark_blocks_avx2, lay_out_avx2, avx2 | ssse3 | sse4_1 | pclmul},
    {"sse4.1", mark_blocks_sse2, lay_out_sse41, ssse3 | sse4_1 | pclmul},
    {"sse2", mark_blocks_sse2, nullptr},
    {"portable", mark_blocks_portable, nullptr},
}};

// glibc asked the processor before the program began, and keeps the answers: asking again traps
// into the hypervisor on a virtual machine, about 5 us a question.
unsigned processor_features() noexcept {
#if defined(CPU_FEATURE_ACTIVE)
    return ssse3 * CPU_FEATURE_ACTIVE(SSSE3) | sse4_1 * CPU_FEATURE_ACTIVE(SSE4_1) |
           pclmul * CPU_FEATURE_ACTIVE(PCLMULQDQ) | avx2 * CPU_FEATURE_ACTIVE(AVX2) |
           avx512bw * CPU_FEATURE_ACTIVE(AVX512BW);
#else
    __builtin_cpu_init(); // this may run before the constructor that would otherwise call it
    return ssse3 * (__builtin_cpu_supports("ssse3") != 0) |
           sse4_1 * (__builtin_cpu_supports("sse4.1") != 0) |
           pclmul * (__builtin_cpu_supports("pclmul") != 0) |
           avx2 * (__builtin_cpu_supports("avx2") != 0) |
           avx512bw * (__builtin_cpu_supports("avx512bw") != 0);
#endif
}
#else
#if defined(__aarch64__) && defined(__AARCH64EL__)
constexpr std::array<implementation, 2> listing{
    {{"neon", mark_blocks_neon, nullptr}, {"portable", mark_blocks_portable, nullptr}}};
#else
constexpr std::array<implementation, 1> listing{{{"portable", mark_blocks_portable, nullptr}}};
#endif
constexpr unsigned processor_features() noexcept {
    return 0;
}
#endif
static_assert(std::ranges::adjacent_find(listing, [](const auto& faster, const auto& slower) {
                  return (slower.needs & ~faster.needs) != 0;
              }) == listing.end());

// The fastest implementation a build may run; empty for the fastest this processor runs. A build
// capped below runs as a processor without the faster ones would, so that each can be measured
// on any machine.
#ifndef PAIR_REPORT_KERNEL_CAP
#define PAIR_REPORT_KERNEL_CAP ""
#endif
constexpr std::string_view cap = PAIR_REPORT_KERNEL_CAP;
constexpr auto capped =
    std::ranges::find(listing, cap.empty() ? listing[0].name : cap, &implementation::name);
static_assert(capped != listing.end(), "the cap names no implementation of this processor");

// Found before main, at namespace scope: a function's static would need the C++ runtime's guard,
// and the program otherwise needs nothing of that runtime.
const auto runnable =
    std::ranges::find_if(listing, [features = processor_features()](const implementation& entry) {
        return (entry.needs & ~features) == 0;
    });
} // namespace

#if defined(__x86_64__)
bool processor_has(x86_feature feature) noexcept {
    return (processor_features() & feature) != 0;
}
#endif

std::span<const implementation> runnable_implementations() noexcept {
    return {runnable, listing.end()};
}

const implementation& chosen_implementation() noexcept {
    return *std::max(runnable, capped);
}
