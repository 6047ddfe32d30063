// The counting rule, in the one place it is stated. Two counters go from pair to pair of a token:
// `run_length` grows with every equal pair and is the length of the piece that pair reports;
// `mismatch_count` counts unequal pairs, and every second one clears both. The scanner applies
// the rule a mark at a time and the layout eight pairs at a time, from tables this rule makes.
#pragma once

#include <cstddef>
#include <cstdint>

struct pair_counters {
    std::uint64_t run_length = 0;
    std::uint64_t mismatch_count = 0; // 0 or 1 between pairs
};

// The counters after one pair.
constexpr pair_counters after_pair(pair_counters counters, bool equal) noexcept {
    if (equal) {
        return {counters.run_length + 1, counters.mismatch_count};
    }
    return counters.mismatch_count == 1 ? pair_counters{} : pair_counters{counters.run_length, 1};
}

// How far a count has gone: every pair before `next_pair` counted, and the counters after them.
struct counted {
    std::size_t next_pair;
    pair_counters counters;
};
