// pair_report: reads one word from standard input and writes, for every pair of equal adjacent
// bytes in it, the piece of the word that the pair scanner chooses, one line each. The word is
// scanned as it arrives, and each line written as soon as it is found.

#include "line_writer.hpp"
#include "pair_scanner.hpp"
#include "token_reader.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>
#include <variant>

#include <unistd.h>

namespace {

// The writer reads a fixed number of bytes from the start of every piece, whatever its length;
// the reader leaves at least that many readable after each of its windows.
static_assert(token_reader::readable_slack >= line_writer::short_piece);

int report(const failure& failed) noexcept {
    const bool has_reason = failed.error_number != 0;
    std::fprintf(stderr, "pair_report: %.*s%s%s\n", static_cast<int>(failed.what.size()),
                 failed.what.data(), has_reason ? ": " : "",
                 has_reason ? std::strerror(failed.error_number) : "");
    return EXIT_FAILURE;
}

// Scans a window and writes its lines: all of it inlined into one function, so that the writer's
// place in its buffer stays in a register from piece to piece.
struct window_scan {
    pair_scanner& scanner;
    std::string_view window;

    [[gnu::always_inline]] std::size_t operator()(line_writer::sink& lines) const noexcept {
        return scanner.scan(window, lines);
    }
};

std::size_t scan_window(pair_scanner& scanner, line_writer& output,
                        std::string_view window) noexcept {
    return output.write_lines(window_scan{scanner, window});
}

using window_scanner = std::size_t (*)(pair_scanner&, line_writer&, std::string_view) noexcept;

#if defined(__x86_64__)
// The same, built with BMI1 and BMI2 for the processors that have them: the step from a mark to
// its piece takes fewer instructions (blsr, shrx and a tzcnt without a false dependency).
[[gnu::target("bmi,bmi2")]] std::size_t
scan_window_with_bit_instructions(pair_scanner& scanner, line_writer& output,
                                  std::string_view window) noexcept {
    return output.write_lines(window_scan{scanner, window});
}
#endif

window_scanner fastest_window_scanner() noexcept {
#if defined(__x86_64__)
    if (piece_path_has_bit_instructions()) {
        return scan_window_with_bit_instructions;
    }
#endif
    return scan_window;
}

} // namespace

// Arguments are ignored: the program has no options, and any word it is given changes nothing.
int main() {
    token_reader input{STDIN_FILENO};
    pair_scanner scanner;
    line_writer output{STDOUT_FILENO};
    const window_scanner scan_and_write = fastest_window_scanner();

    std::optional<failure> read_failure;
    while (output.error_number() == 0) {
        output.flush(); // the lines found so far go out before a read that may have to wait
        const auto read = input.read(scanner.carried_bytes());
        if (const auto* const failed = std::get_if<failure>(&read)) {
            read_failure = *failed;
            break;
        }
        const std::string_view window = *std::get_if<std::string_view>(&read);
        if (window.empty()) {
            break; // the input has ended
        }
        const std::size_t end = scan_and_write(scanner, output, window);
        if (end < window.size()) {
            input.stop_at(end);
            break;
        }
    }

    // The lines found before a failure stay written: each one is whole, and they are exactly the
    // first lines of the full answer.
    output.flush();
    if (read_failure) {
        return report(*read_failure);
    }
    if (output.error_number() != 0) {
        return report({"write error", output.error_number()});
    }
    return EXIT_SUCCESS;
}
