#include "implementations.hpp"
#include "memory_lines.hpp"
#include "model.hpp"
#include "pair_scanner.hpp"
#include "token_reader.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using pieces = std::vector<std::string>;
using namespace std::string_literals;
using namespace std::string_view_literals;

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
        {"\xc3\xa9\xc3\xa9", {}},  // é é: equal characters, but no two equal adjacent bytes
        {"a  \t\tb", {" ", "\t"}}, // a whole token's white space is data like any other byte
    };
    for (const auto& [token, expected] : examples) {
        EXPECT_EQ(scanned(token), expected) << "token: " << token;
    }
}

TEST(ScanPairs, AgreesWithTheModelOnRandomTokens) {
    const std::vector<std::string> alphabets = {"ab",          "abc",  "ACGT",
                                                "\0\x80\xff"s, "a\0"s, "xyzw\x7f\x80"};
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

// What the program writes for a token fed to a scanner a window at a time, as the program reads
// it: each window holds the bytes the scanner carries from the last one, then the next part of the
// token, of the lengths `cuts` gives, with the slack a reader's windows have after them. The lines
// go through the program's writer, whose buffer ends `buffer_ends_at` bytes into them.
std::string written_in_windows(std::string_view token, const std::vector<std::size_t>& cuts,
                               const implementation& runs, std::size_t buffer_ends_at = 0) {
    memory_lines written{runs.lay_out, buffer_ends_at};
    pair_scanner scanner{runs.mark_blocks};
    std::string window;
    for (std::size_t at = 0, cut = 0; at < token.size(); at += cuts[cut++ % cuts.size()]) {
        const std::size_t carried = scanner.carried_bytes();
        window =
            (carried == 0
                 ? ""
                 : window.substr(window.size() - token_reader::readable_slack - carried, carried)) +
            std::string{token.substr(at, cuts[cut % cuts.size()])};
        window.append(token_reader::readable_slack, 's');
        const std::string_view bytes{window.data(), window.size() - token_reader::readable_slack};
        EXPECT_EQ(written.output().write_lines(
                      [&](line_writer::sink& lines) { return scanner.scan(bytes, lines); }),
                  bytes.size());
        EXPECT_LE(scanner.carried_bytes(), bytes.size());
    }
    return written.lines().value_or("(the lines could not be written and read back)");
}

TEST(PairScanner, GivesTheSameLinesWhereverTheTokenIsCut) {
    const std::vector<std::pair<std::string, std::vector<std::size_t>>> cases = {
        {"bookkeeper", {1}}, {"bookkeeper", {2}},
        {"aaaaa", {1, 2}},   {"aabb", {1}}, // between the two bytes of each equal pair
        {"aabxaa", {3}},                    // clearing counted across the cut
        {"xxyyy", {2, 3}},                  // a run carried over an unequal pair at the cut
    };
    for (const auto& [token, cuts] : cases) {
        for (const implementation& runs : runnable_implementations()) {
            EXPECT_EQ(written_in_windows(token, cuts, runs), model_lines(token)) << token;
        }
    }
    // Two to four letters make dense pieces, short runs and many clearings, whose lines are laid
    // out a group at a time where they can be; mostly a, runs of hundreds of bytes carried over
    // many cuts. By every implementation the processor runs, those that lay out lines and those
    // that make them a piece at a time, with the writer's buffer ending anywhere in them.
    const std::string_view alphabets[] = {"ab", "ab\0"sv, "ACGT",
                                          "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaab"};
    std::mt19937_64 random{20261209};
    for (int round = 0; round < 3000; ++round) {
        const std::string_view alphabet = alphabets[round % 4];
        const bool one_byte_cuts = round % 5 == 0;
        std::string token(random() % (one_byte_cuts ? 2000 : 40000), '\0');
        for (char& byte : token) {
            byte = alphabet[random() % alphabet.size()];
        }
        std::vector<std::size_t> cuts(1 + random() % 5);
        for (std::size_t& cut : cuts) {
            cut = one_byte_cuts ? 1 : 1 + random() % (round % 2 == 0 ? 70 : 20000);
        }
        const std::string expected = model_lines(token);
        const std::size_t buffer_ends_at =
            random() % std::min(expected.size() + 1, line_writer::write_size);
        for (const implementation& runs : runnable_implementations()) {
            ASSERT_TRUE(written_in_windows(token, cuts, runs, buffer_ends_at) == expected)
                << runs.name << " round " << round;
        }
    }
}

TEST(PairScanner, StopsAtTheFirstWhiteSpaceOfTheWindow) {
    for (const char white : " \t\n\v\f\r"s) {
        pieces found;
        const std::string window = "xxy"s + white + "yy";
        pair_scanner scanner{chosen_implementation().mark_blocks};
        EXPECT_EQ(scanner.scan(window, [&](std::string_view piece) { found.emplace_back(piece); }),
                  3U);
        EXPECT_EQ(found, pieces{"x"});
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
