// The program as a user runs it: a real process, real descriptors, exact bytes out.
#include "model.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace std::string_literals;
constexpr const char* program = PAIR_REPORT_PROGRAM;
#ifdef PAIR_REPORT_SANITIZED
constexpr bool sanitized = true;
#else
constexpr bool sanitized = false;
#endif

enum class source { file, pipe, pipe_left_open, directory, closed };
enum class sink { file, full_device, pipe_closed_by_reader, closed };

struct run {
    std::string input{};
    source from = source::file;
    sink to = sink::file;
    std::vector<std::string> arguments{};
    off_t offset = 0; // where a file input starts, as left by whoever shares it
    rlim_t memory_limit = RLIM_INFINITY;
    bool ignore_broken_pipe = false;
};

struct outcome {
    std::string output;
    std::string diagnostics;
    int status = -1;   // exit status, or 128 + the signal that ended the process
    off_t offset = -1; // where a file input was left
};

int temporary_file() {
    char name[] = "/tmp/pair_report_test_XXXXXX";
    const int descriptor = ::mkstemp(name);
    ::unlink(name);
    return descriptor;
}

std::string contents(int descriptor) {
    std::string bytes;
    char chunk[65536];
    ::lseek(descriptor, 0, SEEK_SET);
    for (ssize_t count; (count = ::read(descriptor, chunk, sizeof chunk)) > 0;) {
        bytes.append(chunk, static_cast<std::size_t>(count));
    }
    ::close(descriptor);
    return bytes;
}

void write_all(int descriptor, std::string_view bytes) {
    for (ssize_t count; !bytes.empty(); bytes.remove_prefix(static_cast<std::size_t>(count))) {
        if ((count = ::write(descriptor, bytes.data(), bytes.size())) < 0) {
            return; // the program stopped reading; what it got is what the test is about
        }
    }
}

outcome execute(const run& how) {
    std::signal(SIGPIPE, SIG_IGN); // a program that stops reading must not end the test
    const int output = temporary_file();
    const int diagnostics = temporary_file();
    int input_pipe[2] = {-1, -1};
    int output_pipe[2] = {-1, -1};
    int input = -1;
    if (how.from == source::file) {
        input = temporary_file();
        write_all(input, how.input);
        ::lseek(input, how.offset, SEEK_SET);
    } else if (how.from == source::directory) {
        input = ::open("/", O_RDONLY);
    } else if (how.from != source::closed) {
        EXPECT_EQ(::pipe(input_pipe), 0);
        input = input_pipe[0];
    }
    if (how.to == sink::pipe_closed_by_reader) {
        EXPECT_EQ(::pipe(output_pipe), 0);
        ::close(output_pipe[0]);
    }
    const pid_t child = ::fork();
    if (child == 0) {
        std::signal(SIGPIPE, how.ignore_broken_pipe ? SIG_IGN : SIG_DFL);
        const rlimit memory{how.memory_limit, how.memory_limit};
        ::setrlimit(RLIMIT_AS, &memory);
        const rlimit processor{20, 20}; // a runaway ends by SIGXCPU instead of hanging the suite
        ::setrlimit(RLIMIT_CPU, &processor);
        input < 0 ? ::close(0) : ::dup2(input, 0);
        switch (how.to) {
        case sink::file:
            ::dup2(output, 1);
            break;
        case sink::full_device:
            ::dup2(::open("/dev/full", O_WRONLY), 1);
            break;
        case sink::pipe_closed_by_reader:
            ::dup2(output_pipe[1], 1);
            break;
        case sink::closed:
            ::close(1);
            break;
        }
        ::dup2(diagnostics, 2);
        if (input_pipe[1] >= 0) {
            ::close(input_pipe[1]);
        }
        std::vector<char*> argv{const_cast<char*>(program)};
        for (const auto& argument : how.arguments) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        ::execv(program, argv.data());
        ::_exit(127);
    }
    if (output_pipe[1] >= 0) {
        ::close(output_pipe[1]);
    }
    if (input_pipe[0] >= 0) {
        ::close(input_pipe[0]);
        write_all(input_pipe[1], how.input);
        if (how.from == source::pipe) {
            ::close(input_pipe[1]);
        }
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    if (how.from == source::pipe_left_open) {
        ::close(input_pipe[1]);
    }
    const off_t offset = how.from == source::file ? ::lseek(input, 0, SEEK_CUR) : -1;
    if (input >= 0 && input_pipe[0] < 0) {
        ::close(input);
    }
    return {contents(output), contents(diagnostics),
            WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), offset};
}

struct case_ {
    std::string input;
    std::string expected;
};

TEST(Program, WritesOneLinePerPieceForTheFirstWord) {
    const std::vector<case_> cases = {
        {"", ""},
        {" \t\n\n  ", ""},
        {"bookkeeper\n", "o\nk\nke\n"},
        {"   aa\n", "a\n"},
        {"aa bb\n", "a\n"},
        {"aaa", "a\naa\n"},
        {"aa\r\n", "a\n"},
        {"abab\n", ""},
        {"\0\0\x80\x80"s, "\0\n\0\x80\n"s},
        {"\x1c\x1c\xa0\xa0 zz", "\x1c\n\x1c\xa0\n"},
        {"mississippi\nbookkeeper\n", "s\ns\np\n"},
    };
    for (const source from : {source::file, source::pipe}) {
        for (const auto& [input, expected] : cases) {
            const outcome result = execute({.input = input, .from = from});
            EXPECT_EQ(result.output, expected) << "input: " << input;
            EXPECT_EQ(result.diagnostics, "");
            EXPECT_EQ(result.status, 0);
        }
    }
}

TEST(Program, EachWhiteSpaceByteDelimitsTheWord) {
    for (const char white : " \t\n\v\f\r"s) {
        const std::string input = white + "xx"s + white + "yy"s + white;
        EXPECT_EQ(execute({.input = input}).output, "x\n") << "byte " << int{white};
    }
}

TEST(Program, ArgumentsChangeNothing) {
    for (const auto& arguments : std::vector<std::vector<std::string>>{
             {"-h"}, {"--version"}, {"aa", "bb"}, {"-", "/nonexistent"}}) {
        const outcome result = execute({.input = "xxyyy\n", .arguments = arguments});
        EXPECT_EQ(result.output, "x\nxy\nxyy\n");
        EXPECT_EQ(result.status, 0);
    }
}

TEST(Program, StopsReadingAtTheEndOfTheWord) {
    // The producer keeps its end open: a program that read on to the end of input would never end.
    const outcome result = execute({.input = "ppqq rest", .from = source::pipe_left_open});
    EXPECT_EQ(result.output, "p\npq\n");
    EXPECT_EQ(result.status, 0);
}

TEST(Program, ReadsAFileFromItsOffsetAndLeavesItAfterTheWord) {
    const std::string input = "skipped  aabb cc\n";
    for (const auto& [offset, expected, left_at] :
         std::vector<std::tuple<off_t, std::string, off_t>>{{0, "p\n", 7},
                                                            {7, "a\nab\n", 13},
                                                            {9, "a\nab\n", 13},
                                                            {10, "b\n", 13},
                                                            {13, "c\n", 16}}) {
        const outcome result = execute({.input = input, .offset = offset});
        EXPECT_EQ(result.output, expected) << "from " << offset;
        EXPECT_EQ(result.offset, left_at) << "from " << offset;
    }
}

TEST(Program, MatchesTheModelOnRandomBinaryWords) {
    std::mt19937 random{7};
    for (int round = 0; round < 40; ++round) {
        std::string token(std::uniform_int_distribution<std::size_t>{0, 5000}(random), '\0');
        for (char& byte : token) {
            byte = "\0\x80q"[random() % 3];
        }
        std::string expected;
        for (const std::string_view piece : model_pieces(token)) {
            expected.append(piece).append("\n");
        }
        // Files start past a prefix of any length, so the word seldom starts on a page boundary.
        const std::string skipped(random() % 9000, 'z');
        const source from = round % 2 == 0 ? source::file : source::pipe;
        const off_t offset = from == source::file ? static_cast<off_t>(skipped.size()) : 0;
        const std::string input = (from == source::file ? skipped : "") + "\n" + token + " tail";
        EXPECT_EQ(execute({.input = input, .from = from, .offset = offset}).output, expected);
    }
}

struct failure_case {
    const char* name;
    run how;
    std::string diagnostics;
    int status;
};

TEST(Program, FailuresEndWithOneDiagnosticAndNoOutput) {
    // Pieces first, so that a truncated token reported as success would show in the output.
    std::string large_word = "aabb";
    while (large_word.size() < (128 << 20)) {
        large_word += large_word;
    }
    const std::string enormous_output(4'000'000, 'a'); // 8 TB of pieces
    const std::vector<failure_case> cases = {
        {"directory input",
         {.input = "", .from = source::directory},
         "pair_report: read error: Is a directory\n",
         1},
        {"closed input",
         {.input = "", .from = source::closed},
         "pair_report: read error: Bad file descriptor\n",
         1},
        {"full device",
         {.input = "aa", .to = sink::full_device},
         "pair_report: write error: No space left on device\n",
         1},
        {"no piece, no write", {.input = "ab", .to = sink::full_device}, "", 0},
        {"closed output",
         {.input = "aa", .to = sink::closed},
         "pair_report: write error: Bad file descriptor\n",
         1},
        {"reader gone", {.input = "aa", .to = sink::pipe_closed_by_reader}, "", 128 + SIGPIPE},
        {"reader gone, signal ignored",
         {.input = "aa", .to = sink::pipe_closed_by_reader, .ignore_broken_pipe = true},
         "pair_report: write error: Broken pipe\n",
         1},
        {"full device, enormous output",
         {.input = enormous_output, .to = sink::full_device},
         "pair_report: write error: No space left on device\n",
         1},
        {"reader gone, signal ignored, enormous output",
         {.input = enormous_output, .to = sink::pipe_closed_by_reader, .ignore_broken_pipe = true},
         "pair_report: write error: Broken pipe\n",
         1},
        {"memory runs out on a word in a file",
         {.input = large_word, .from = source::file, .memory_limit = 64 << 20},
         "pair_report: out of memory reading the token\n",
         1},
        {"memory runs out on a piped word",
         {.input = large_word, .from = source::pipe, .memory_limit = 64 << 20},
         "pair_report: out of memory reading the token\n",
         1},
    };
    for (const auto& [name, how, diagnostics, status] : cases) {
        if (sanitized && how.memory_limit != RLIM_INFINITY) {
            continue;
        }
        const outcome result = execute(how);
        EXPECT_EQ(result.output, "") << name;
        EXPECT_EQ(result.diagnostics, diagnostics) << name;
        EXPECT_EQ(result.status, status) << name;
    }
}

// Opt-in: takes about 8 GiB of memory, 4 GiB of disk and a minute.
TEST(Large, WordPastFourGibibytesIsScannedToItsEnd) {
    if (std::getenv("PAIR_REPORT_LARGE_TESTS") == nullptr) {
        GTEST_SKIP() << "set PAIR_REPORT_LARGE_TESTS=1 to run";
    }
    // 2^32 - 1 unequal pairs, then equal pairs whose pieces and counters depend on all of them.
    std::string word;
    word.reserve((std::size_t{1} << 32) + 5);
    for (std::size_t half = 0; half < (std::size_t{1} << 31); ++half) {
        word += "ab";
    }
    word += "bccdd";
    for (const source from : {source::file, source::pipe}) {
        const outcome result = execute({.input = word, .from = from});
        EXPECT_EQ(result.output, "b\nc\ncd\n");
        EXPECT_EQ(result.status, 0);
    }
}

} // namespace
