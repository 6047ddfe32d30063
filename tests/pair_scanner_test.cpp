#include "model.hpp"
#include "pair_scanner.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using pieces = std::vector<std::string>;
using namespace std::string_literals;

pieces scanned(std::string_view token) {
    pieces found;
    scan_pairs(token, [&found](std::string_view piece) { found.emplace_back(piece); });
    return found;
}

struct example {
    std::string token;
    pieces expected;
};

TEST(ScanPairs, WorkedExamplesAndEdgeCases) {
    const std::vector<example> examples = {
        {"", {}},
        {"a", {}},
        {"aa", {"a"}},
        {"aaa", {"a", "aa"}},
        {"aaaa", {"a", "aa", "aaa"}},
        {"aaaaa", {"a", "aa", "aaa", "aaaa"}},
        {"abab", {}},
        {"abba", {"b"}},
        {"aabb", {"a", "ab"}},
        {"baaa", {"a", "aa"}},
        {"xxyyy", {"x", "xy", "xyy"}},
        {"aabbcc", {"a", "ab", "c"}},
        {"ppqqrrss", {"p", "pq", "r", "rs"}},
        {"aabaa", {"a", "a"}},
        {"aabxaa", {"a", "a"}},
        {"abbcc", {"b", "c"}},
        {"bookkeeper", {"o", "k", "ke"}},
        {"mississippi", {"s", "s", "p"}},
        {"Aa", {}},
        {"\x80\x80", {"\x80"}},
        {"\xff\xff\xfe\xfe", {"\xff", "\xff\xfe"}},
        {"\0\0"s, {"\0"s}},
        {"a\0\0\0"s, {"\0"s, "\0\0"s}},
        {"\xc3\xa9\xc3\xa9", {}}, // é é: equal characters, but no two equal adjacent bytes
    };
    for (const auto& [token, expected] : examples) {
        EXPECT_EQ(scanned(token), expected) << "token: " << token;
    }
}

TEST(ScanPairs, AgreesWithTheModelOnRandomTokens) {
    const std::vector<std::string> alphabets = {"ab", "abc", "\0\x80\xff"s, "a\0"s, "xyzw\x7f\x80"};
    std::mt19937_64 random{20261208};
    for (int round = 0; round < 20000; ++round) {
        const std::string& alphabet = alphabets[round % alphabets.size()];
        std::uniform_int_distribution<std::size_t> pick{0, alphabet.size() - 1};
        std::string token(std::uniform_int_distribution<std::size_t>{0, 300}(random), '\0');
        for (char& byte : token) {
            byte = alphabet[pick(random)];
        }
        const auto modelled = model_pieces(token);
        ASSERT_EQ(scanned(token), pieces(modelled.begin(), modelled.end())) << "round " << round;
    }
}

TEST(ScanPairs, PiecesAreViewsIntoTheToken) {
    const std::string token = "xxyyy";
    scan_pairs(token, [&token](std::string_view piece) {
        EXPECT_GE(piece.data(), token.data());
        EXPECT_LE(piece.data() + piece.size(), token.data() + token.size() - 1);
    });
}

} // namespace
