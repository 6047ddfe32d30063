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

} // namespace

// Arguments are ignored: the program has no options, and any word it is given changes nothing.
int main() {
    token_reader input{STDIN_FILENO};
    pair_scanner scanner;
    line_writer output{STDOUT_FILENO};
    if (!output.has_buffer()) {
        return report({"out of memory writing the lines"});
    }

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
        const std::size_t end = output.write_lines(
            [&](line_writer::sink& lines) noexcept { return scanner.scan(window, lines); });
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
