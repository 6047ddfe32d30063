// The vectorised compares against their one-byte-at-a-time references, at every start and length
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

using namespace std::string_view_literals;
// Bytes around the white-space ones but not among them, so that long stretches reach the wide
// loops.
constexpr auto not_white = "abcdefghijklmnopqrstuvwxyz\0\x08\x0e\x1f\x80\xff"sv;
constexpr auto white = " \t\n\v\f\r"sv;
constexpr auto dense_pairs = "ab\0"sv;

TEST(Kernels, EqualPairMaskAgreesWithTheReference) {
    std::mt19937_64 random{11};
    for (int round = 0; round < 2000; ++round) {
        const std::string_view alphabet = round % 2 == 0 ? "abcdefghijklmnop\x80\xff" : dense_pairs;
        const std::string token = random_bytes(random, 65 + random() % 100, alphabet);
        for (std::size_t first = 0; first + 64 < token.size(); ++first) {
            ASSERT_EQ(equal_pair_mask(token, first), equal_pair_mask_reference(token, first))
                << "round " << round << " first " << first;
        }
    }
}

TEST(Kernels, TokenLengthAgreesWithTheReference) {
    std::mt19937_64 random{12};
    for (int round = 0; round < 20000; ++round) {
        std::string bytes = random_bytes(random, random() % 300, not_white);
        if (!bytes.empty() && round % 2 == 0) {
            bytes[random() % bytes.size()] = white[random() % white.size()]; // one delimiter
        }
        ASSERT_EQ(token_length(bytes), token_length_reference(bytes)) << "round " << round;
    }
}

TEST(Kernels, OnlyTheSixWhiteSpaceBytesEndAToken) {
    for (int value = 0; value < 256; ++value) {
        const std::string bytes = std::string(70, 'x') + static_cast<char>(value);
        const bool is_white = white.find(static_cast<char>(value)) != std::string_view::npos;
        EXPECT_EQ(token_length(bytes), is_white ? 70U : 71U) << "byte " << value;
    }
}

} // namespace
