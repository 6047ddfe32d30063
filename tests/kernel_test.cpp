// The vectorised searches against their one-byte-at-a-time references, at every start and length
// around the 16- and 64-byte blocks they work in.
#include "pair_scanner.hpp"
#include "token_reader.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

std::string random_bytes(std::mt19937_64& random, std::size_t size, std::string_view alphabet) {
    std::string bytes(size, '\0');
    for (char& byte : bytes) {
        byte = alphabet[random() % alphabet.size()];
    }
    return bytes;
}

// Mostly bytes that are not white space, so that long stretches reach the wide loops.
constexpr std::string_view sparse_white = "abcdefghijklmnopqrstuvwxyz\x00\x08\x0e\x1f\x80\xff "
                                          "\t\n\v\f\r";
constexpr std::string_view dense_pairs = "ab\x00";

TEST(Kernels, FindEqualPairAgreesWithTheReference) {
    std::mt19937_64 random{11};
    for (int round = 0; round < 3000; ++round) {
        const std::string token = random_bytes(random, random() % 200, "abcdefghijklmnop\x80\xff");
        for (std::size_t from = 0; from + 1 < token.size(); ++from) {
            ASSERT_EQ(find_equal_pair(token, from), find_equal_pair_reference(token, from))
                << "round " << round << " from " << from;
        }
        const std::string dense = random_bytes(random, random() % 40, dense_pairs);
        ASSERT_EQ(find_equal_pair(dense, 0), find_equal_pair_reference(dense, 0));
    }
}

TEST(Kernels, TokenLengthAgreesWithTheReference) {
    std::mt19937_64 random{12};
    for (int round = 0; round < 20000; ++round) {
        std::string bytes = random_bytes(random, random() % 300, sparse_white.substr(0, 32));
        if (!bytes.empty() && round % 2 == 0) {
            bytes[random() % bytes.size()] = sparse_white[32 + random() % 6]; // one delimiter
        }
        ASSERT_EQ(token_length(bytes), token_length_reference(bytes)) << "round " << round;
    }
}

TEST(Kernels, OnlyTheSixWhiteSpaceBytesEndAToken) {
    for (int value = 0; value < 256; ++value) {
        const std::string bytes = std::string(70, 'x') + static_cast<char>(value);
        const bool white = std::string_view{" \t\n\v\f\r"}.find(static_cast<char>(value)) !=
                           std::string_view::npos;
        EXPECT_EQ(token_length(bytes), white ? 70U : 71U) << "byte " << value;
    }
}

} // namespace
