#include "pair_scanner.hpp"

std::size_t find_equal_pair(std::string_view token, std::size_t from) noexcept {
    const std::size_t pair_count = token.size() < 2 ? 0 : token.size() - 1;
    std::size_t position = from;
    while (position < pair_count && token[position] != token[position + 1]) {
        ++position;
    }
    return position;
}
