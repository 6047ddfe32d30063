// The program as a user runs it: a real process, real descriptors, exact bytes out.
#include "line_writer.hpp"
#include "model.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace std::string_literals;
constexpr const char* program = PAIR_REPORT_PROGRAM;
// What the program is started through, word by word: nothing, or an emulator of its processor.
constexpr std::string_view starter = PAIR_REPORT_STARTER;
// Whether the memory a process takes is the program's own: not under the sanitizers, which keep
// memory of their own, nor under an emulator.
constexpr bool memory_measured = PAIR_REPORT_MEMORY_MEASURED != 0;

std::vector<std::string> words_of(std::string_view text) {
    std::vector<std::string> words;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find(' '), text.size());
        words.emplace_back(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
    }
    return words;
}

// socket_reset: a socket whose peer has sent the input and gone with data unread, so that reading
// on past the input fails.
enum class source { file, pipe, pipe_left_open, directory, closed, socket_reset };
// slow_pipe: a pipe whose reader takes its time over what it reads.
enum class sink { file, full_device, pipe_closed_by_reader, closed, pipe, slow_pipe };

struct run {
    std::string input{};
    source from = source::file;
    sink to = sink::file;
    std::vector<std::string> arguments{};
    off_t offset = 0; // where a file input starts, as left by whoever shares it
    rlim_t memory_limit = RLIM_INFINITY;
    bool ignore_broken_pipe = false;
    bool non_blocking = false;           // standard input or output left non-blocking by the parent
    std::size_t bytes_per_write = 0;     // a piped input written this many bytes at a time, slowly
    std::function<void(int)> producer{}; // writes a piped input instead of `input`
};

struct outcome {
    std::string output;
    std::string diagnostics;
    int status = -1;   // exit status, or 128 + the signal that ended the process
    off_t offset = -1; // where a file input was left
    long peak_kib = 0; // the program's peak resident memory
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

void pause_briefly() {
    ::usleep(2000);
}

void write_slowly(int descriptor, std::string_view bytes, std::size_t bytes_per_write) {
    for (; !bytes.empty(); bytes.remove_prefix(std::min(bytes.size(), bytes_per_write))) {
        write_all(descriptor, bytes.substr(0, bytes_per_write));
        pause_briefly();
    }
}

std::string read_pipe(int descriptor, bool slowly) {
    std::string bytes;
    char chunk[4096];
    for (ssize_t count; (count = ::read(descriptor, chunk, sizeof chunk)) > 0;) {
        bytes.append(chunk, static_cast<std::size_t>(count));
        if (slowly) {
            pause_briefly();
        }
    }
    ::close(descriptor);
    return bytes;
}

void make_non_blocking(int descriptor) {
    ::fcntl(descriptor, F_SETFL, ::fcntl(descriptor, F_GETFL) | O_NONBLOCK);
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
        how.producer ? how.producer(input) : write_all(input, how.input);
        ::lseek(input, how.offset, SEEK_SET);
    } else if (how.from == source::directory) {
        input = ::open("/", O_RDONLY);
    } else if (how.from == source::socket_reset) {
        int ends[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
        write_all(ends[0], "unread");
        write_all(ends[1], how.input);
        ::close(ends[1]);
        input = ends[0];
    } else if (how.from != source::closed) {
        EXPECT_EQ(::pipe(input_pipe), 0);
        input = input_pipe[0];
        if (how.non_blocking) {
            make_non_blocking(input);
        }
    }
    const bool piped_out = how.to == sink::pipe || how.to == sink::slow_pipe;
    if (how.to == sink::pipe_closed_by_reader || piped_out) {
        EXPECT_EQ(::pipe(output_pipe), 0);
        if (how.to == sink::pipe_closed_by_reader) {
            ::close(output_pipe[0]);
        } else if (how.non_blocking) {
            make_non_blocking(output_pipe[1]);
        }
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
        case sink::pipe:
        case sink::slow_pipe:
            ::dup2(output_pipe[1], 1);
            if (how.to != sink::pipe_closed_by_reader) {
                ::close(output_pipe[0]);
            }
            break;
        case sink::closed:
            ::close(1);
            break;
        }
        ::dup2(diagnostics, 2);
        if (input_pipe[1] >= 0) {
            ::close(input_pipe[1]);
        }
        std::vector<std::string> command = words_of(starter);
        command.emplace_back(program);
        command.insert(command.end(), how.arguments.begin(), how.arguments.end());
        std::vector<char*> argv;
        for (auto& word : command) {
            argv.push_back(word.data());
        }
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    if (output_pipe[1] >= 0) {
        ::close(output_pipe[1]);
    }
    if (input_pipe[0] >= 0) {
        ::close(input_pipe[0]);
        if (how.producer) {
            how.producer(input_pipe[1]);
        } else if (how.bytes_per_write != 0) {
            write_slowly(input_pipe[1], how.input, how.bytes_per_write);
        } else {
            write_all(input_pipe[1], how.input);
        }
        if (how.from == source::pipe) {
            ::close(input_pipe[1]);
        }
    }
    std::string written = piped_out ? read_pipe(output_pipe[0], how.to == sink::slow_pipe) : "";
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    if (how.from == source::pipe_left_open) {
        ::close(input_pipe[1]);
    }
    const off_t offset = how.from == source::file ? ::lseek(input, 0, SEEK_CUR) : -1;
    if (input >= 0 && input_pipe[0] < 0) {
        ::close(input);
    }
    written += contents(output);
    return {written, contents(diagnostics),
            WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), offset,
            usage.ru_maxrss};
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
        for (char& byte : token) { // alphabets of 2 to 4 letters: dense pieces, short and long
            byte = "\0\x80qA"[random() % (2 + round % 3)];
        }
        // Files start past a prefix of any length, so the word seldom starts on a page boundary.
        const std::string skipped(random() % 9000, 'z');
        const source from = round % 2 == 0 ? source::file : source::pipe;
        const off_t offset = from == source::file ? static_cast<off_t>(skipped.size()) : 0;
        const std::string input = (from == source::file ? skipped : "") + "\n" + token + " tail";
        EXPECT_EQ(execute({.input = input, .from = from, .offset = offset}).output,
                  model_lines(token));
    }
}

struct failure_case {
    const char* name;
    run how;
    std::string diagnostics;
    int status;
    std::string output = ""; // the whole lines written before the failure
};

// The address space the program holds while it waits for the first byte of a word: what it
// starts with, its output buffer (256 KiB) and room for one read (256 KiB). Under a limit a
// little above it, the program starts and reads, but cannot make room to carry a piece into the
// next read; under one 400 KiB below it, it starts but has no room for its output buffer.
rlim_t address_space_while_waiting() {
    int input[2];
    EXPECT_EQ(::pipe(input), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(input[0], 0);
        ::close(input[1]);
        ::execl(program, program, nullptr);
        ::_exit(127);
    }
    ::close(input[0]);
    const std::string status_file = "/proc/" + std::to_string(child) + "/status";
    rlim_t kib = 0;
    // Once the program, not the forked test, is asleep: in its first read.
    for (int tries = 0; kib == 0 && tries < 5000; ++tries, pause_briefly()) {
        const int descriptor = ::open(status_file.c_str(), O_RDONLY);
        const std::string status = contents(descriptor);
        const std::size_t size = status.find("VmSize:");
        if (status.find("Name:\tpair_report\n") != std::string::npos &&
            status.find("State:\tS") != std::string::npos && size != std::string::npos) {
            kib = std::strtoull(status.c_str() + size + 7, nullptr, 10);
        }
    }
    ::close(input[1]);
    ::waitpid(child, nullptr, 0);
    return kib * 1024;
}

TEST(Program, FailuresEndWithOneDiagnosticAndOnlyWholeLines) {
    const std::string enormous_output(4'000'000, 'a'); // 8 TB of pieces
    // More than a buffer of laid-out lines, so that the first write fails, then in the same read
    // long lines, short ones and laid-out ones again: all made after the failure, and dropped.
    std::string lines_after_failure;
    for (int unit = 0; unit < 60'000; ++unit) {
        lines_after_failure += unit == 55'000 ? std::string(40, 'c') + "axbycz" : "aabb";
    }
    std::vector<failure_case> cases = {
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
        {"full device, lines made after the failure",
         {.input = lines_after_failure, .to = sink::full_device},
         "pair_report: write error: No space left on device\n",
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
    };
    if (memory_measured) {
        // "aa": the line a, then the window must grow to carry the run into the next read.
        const rlim_t limit = address_space_while_waiting() + (64 << 10);
        cases.push_back({"memory for a piece",
                         {.input = "aa", .memory_limit = limit},
                         "pair_report: out of memory reading the token\n",
                         1,
                         "a\n"});
        cases.push_back({"memory for the output's buffer",
                         {.input = "aa", .memory_limit = limit - (464 << 10)},
                         "pair_report: out of memory writing the lines\n",
                         1});
    }
    for (const auto& [name, how, diagnostics, status, output] : cases) {
        const outcome result = execute(how);
        EXPECT_EQ(result.output, output) << name;
        EXPECT_EQ(result.diagnostics, diagnostics) << name;
        EXPECT_EQ(result.status, status) << name;
    }
}

TEST(Program, AnswersExactlyHoweverSlowlyTheBytesMove) {
    // Over 64 KiB of lines, more than a pipe holds, so that a non-blocking output fills up.
    const std::string word = std::string(700, 'a') + "bxbookkeeperccddeeff";
    const std::string input = "  " + word + "\nrest";
    const std::vector<std::pair<const char*, run>> cases = {
        {"a few bytes at a time", {.input = input, .from = source::pipe, .bytes_per_write = 3}},
        {"non-blocking input, slow producer",
         {.input = input, .from = source::pipe, .non_blocking = true, .bytes_per_write = 100}},
        {"non-blocking output, slow reader",
         {.input = input, .to = sink::slow_pipe, .non_blocking = true}},
    };
    for (const auto& [name, how] : cases) {
        const outcome result = execute(how);
        EXPECT_EQ(result.output, model_lines(word)) << name;
        EXPECT_EQ(result.diagnostics, "") << name;
        EXPECT_EQ(result.status, 0) << name;
    }
}

// A word whose lines put a piece of `length` bytes at each place from `most_room` bytes before
// the end of an output buffer of `write_size` bytes to its end, in turn, and how many bytes its
// lines take. It is made of stretches
// of one letter, each after a '-': the two unequal pairs around a '-' clear the run, so a stretch
// of n letters yields the lines of 1 to n - 1 letters, (n - 1)(n + 2) / 2 bytes in all.
std::pair<std::string, std::size_t>
word_with_pieces_at_buffer_ends(std::size_t length, std::size_t write_size, std::size_t most_room) {
    const auto bytes_of_stretch = [](std::size_t letters) {
        return (letters - 1) * (letters + 2) / 2;
    };
    std::string word;
    std::size_t written = 0;
    const auto stretch = [&](std::size_t letters) {
        word.append(1, '-').append(letters, static_cast<char>('a' + word.size() % 26));
        written += bytes_of_stretch(letters);
    };
    for (std::size_t room = 0; room <= most_room; ++room) {
        // The stretch of length + 1 letters ends with the piece, after bytes_of_stretch(length)
        // bytes of shorter ones. What comes before it is filled with large stretches, then with
        // stretches of 3 and of 2 letters (5 and 2 bytes), so that the piece lands `room` bytes
        // before the end of a buffer.
        const std::size_t before_piece = written + bytes_of_stretch(length) + 4;
        std::size_t gap = (before_piece + room) / write_size * write_size + write_size - room -
                          bytes_of_stretch(length) - written;
        while (gap > 64) {
            std::size_t letters = 3;
            while (letters < 250 && bytes_of_stretch(letters + 1) + 4 <= gap) {
                ++letters;
            }
            stretch(letters);
            gap -= bytes_of_stretch(letters);
        }
        if (gap % 2 != 0) {
            stretch(3);
            gap -= 5;
        }
        for (; gap != 0; gap -= 2) {
            stretch(2);
        }
        stretch(length + 1);
    }
    return {word, written};
}

TEST(Program, PiecesOfEveryLengthLandSafelyAtEveryPlaceBeforeABufferEnds) {
    // Short pieces are copied in fixed-size moves, which must never write past the buffer. The
    // word is read whole in one read, so that into a file nothing but a full buffer is written
    // out before the end. Into a pipe, long lines go out once 8 KiB are buffered and short ones
    // once the buffer is full, so the places where writes end vary, and short and long pieces
    // both meet them.
    for (const auto& [to, write_size] : {std::pair{sink::file, line_writer::write_size},
                                         std::pair{sink::pipe, line_writer::stream_size}}) {
        for (std::size_t length = 1; length <= 40; ++length) {
            const auto [word, written] = word_with_pieces_at_buffer_ends(length, write_size, 48);
            const std::string expected = model_lines(word);
            ASSERT_EQ(expected.size(), written); // the arithmetic that placed the pieces holds
            const outcome result = execute({.input = word + "\n", .to = to});
            // Not ASSERT_EQ: a failure would print megabytes of lines.
            ASSERT_TRUE(result.output == expected) << "length " << length;
            EXPECT_EQ(result.status, 0) << result.diagnostics;
        }
    }
}

TEST(Program, AReadFailureAfterOutputKeepsTheWholeLinesFoundBeforeIt) {
    // More lines than one buffer holds, so that some are written before the failure, some after.
    const std::string word = std::string(400, 'a') + "bxccdd";
    const outcome result = execute({.input = word, .from = source::socket_reset});
    EXPECT_EQ(result.output, model_lines(word));
    EXPECT_EQ(result.diagnostics, "pair_report: read error: Connection reset by peer\n");
    EXPECT_EQ(result.status, 1);
}

// `mebibytes` MiB of unequal pairs, then equal pairs whose pieces and counters depend on all of
// them: the lines b, c and cd.
std::function<void(int)> word_of_mebibytes(int mebibytes) {
    return [mebibytes](int descriptor) {
        std::string unequal_pairs;
        for (int half = 0; half < (1 << 19); ++half) {
            unequal_pairs += "ab";
        }
        for (int chunk = 0; chunk < mebibytes; ++chunk) {
            write_all(descriptor, unequal_pairs);
        }
        write_all(descriptor, "bccdd");
    };
}

TEST(Program, KeepsOnlyWhatAPieceNeedsOfAWordFarLargerThanMemory) {
    if (memory_measured) {
        for (const source from : {source::file, source::pipe}) {
            const outcome result = execute(
                {.from = from, .memory_limit = 64 << 20, .producer = word_of_mebibytes(128)});
            EXPECT_EQ(result.output, "b\nc\ncd\n");
            EXPECT_EQ(result.status, 0);
        }
    }
    // 2^32 + 5 bytes: past every 32-bit count.
    const outcome result = execute({.from = source::pipe, .producer = word_of_mebibytes(4096)});
    EXPECT_EQ(result.output, "b\nc\ncd\n");
    EXPECT_EQ(result.status, 0);
    if (memory_measured) {
        EXPECT_LT(result.peak_kib, 16 * 1024);
    }
}

// Opt-in: takes 4 GiB of disk.
TEST(Large, WordPastFourGibibytesInAFileIsScannedToItsEnd) {
    if (std::getenv("PAIR_REPORT_LARGE_TESTS") == nullptr) {
        GTEST_SKIP() << "set PAIR_REPORT_LARGE_TESTS=1 to run";
    }
    const outcome result = execute({.from = source::file, .producer = word_of_mebibytes(4096)});
    EXPECT_EQ(result.output, "b\nc\ncd\n");
    EXPECT_EQ(result.status, 0);
    EXPECT_LT(result.peak_kib, 16 * 1024);
}

} // namespace
