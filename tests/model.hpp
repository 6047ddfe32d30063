// The rules as first written down, one byte and one pair at a time, every counter step spelled
// out: what the tests and the fuzzer hold the program to.
#pragma once

#include "pair_kernels.hpp"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

inline std::string_view model_token(std::string_view input) {
    constexpr std::string_view white_space = " \t\n\v\f\r";
    const std::size_t start = input.find_first_not_of(white_space);
    if (start == std::string_view::npos) {
        return {};
    }
    input.remove_prefix(start);
    return input.substr(0, input.find_first_of(white_space));
}

inline std::vector<std::string_view> model_pieces(std::string_view token) {
    std::vector<std::string_view> pieces;
    std::size_t run_length = 0;
    int mismatch_count = 0;
    for (std::size_t position = 0; position + 1 < token.size(); ++position) {
        if (token[position] == token[position + 1]) {
            ++run_length;
            pieces.push_back(token.substr(position + 1 - run_length, run_length));
        } else if (++mismatch_count == 2) {
            mismatch_count = 0;
            run_length = 0;
        }
    }
    return pieces;
}

// What the program must write for `token`: the model's pieces, one line each.
inline std::string model_lines(std::string_view token) {
    std::string lines;
    for (const std::string_view piece : model_pieces(token)) {
        lines.append(piece).append("\n");
    }
    return lines;
}

// The marks a byte kernel must make of a slice: the plain loop that every variant is held to.
inline slice_marks model_marks(std::string_view bytes, pair_marks& equal, white_space rule) {
    slice_marks found{0, 0};
    while (found.end < bytes.size() &&
           !(rule == white_space::ends_token && is_white_space(bytes[found.end]))) {
        ++found.end;
    }
    for (std::size_t pair = 0; pair + 1 < found.end; ++pair) {
        const std::size_t word = pair / block_pairs;
        if (pair % block_pairs == 0) {
            equal[word] = 0;
        }
        if (bytes[pair] == bytes[pair + 1]) {
            equal[word] |= std::uint64_t{1} << (pair % block_pairs);
            found.words_with_marks |= std::uint64_t{1} << word;
        }
    }
    return found;
}
