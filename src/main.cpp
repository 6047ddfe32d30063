// pair_report: reads one word from standard input and writes, for every pair of equal adjacent
// bytes in it, the piece of the word that the pair scanner chooses, one line each.

#include "pair_scanner.hpp"
#include "token_reader.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>
#include <variant>

#include <unistd.h>

namespace {

// Collects lines into full buffers before writing them, so that even a run of one-byte pieces
// costs one system call per buffer. The first failed write is kept and everything after it
// dropped without being copied: the run is lost by then, and the scan only has to come to its end,
// which takes moments even where the output would have been enormous.
class line_writer {
  public:
    explicit line_writer(int descriptor) noexcept : descriptor_{descriptor} {}

    void write_line(std::string_view piece) noexcept {
        if (piece.size() <= 16 && buffer_.size() - used_ > 16) { // the common case
            copy_short(buffer_.data() + used_, piece);
            used_ += piece.size();
            buffer_[used_++] = '\n';
            return;
        }
        if (error_number_ == 0) {
            append(piece);
            append("\n");
        }
    }

    // Writes what is still buffered; the failure of any write of the run, if one failed.
    std::optional<failure> finish() noexcept {
        drain();
        if (error_number_ != 0) {
            return failure{"write error", error_number_};
        }
        return std::nullopt;
    }

  private:
    // Up to 16 bytes in fixed-size moves that overlap in the middle: no call to memcpy, whose cost
    // (and the registers saved around it) would dominate the one- and two-byte pieces of a token
    // dense with equal pairs.
    static void copy_short(char* to, std::string_view piece) noexcept {
        const char* const from = piece.data();
        const std::size_t size = piece.size();
        if (size >= 8) {
            std::memcpy(to, from, 8);
            std::memcpy(to + size - 8, from + size - 8, 8);
        } else if (size >= 4) {
            std::memcpy(to, from, 4);
            std::memcpy(to + size - 4, from + size - 4, 4);
        } else if (size > 0) {
            to[0] = from[0];
            to[size / 2] = from[size / 2];
            to[size - 1] = from[size - 1];
        }
    }

    void append(std::string_view bytes) noexcept {
        while (!bytes.empty() && error_number_ == 0) {
            if (used_ == buffer_.size()) {
                drain();
            }
            const std::size_t taken = std::min(bytes.size(), buffer_.size() - used_);
            std::memcpy(buffer_.data() + used_, bytes.data(), taken);
            used_ += taken;
            bytes.remove_prefix(taken);
        }
    }

    void drain() noexcept {
        std::string_view pending{buffer_.data(), used_};
        used_ = 0;
        while (!pending.empty() && error_number_ == 0) {
            const ssize_t written = ::write(descriptor_, pending.data(), pending.size());
            if (written >= 0) {
                pending.remove_prefix(static_cast<std::size_t>(written));
            } else if (errno != EINTR) {
                error_number_ = errno;
            }
        }
    }

    int descriptor_;
    int error_number_ = 0;
    std::size_t used_ = 0;
    std::array<char, std::size_t{8} * 1024> buffer_{};
};

int report(const failure& failed) {
    const bool has_reason = failed.error_number != 0;
    std::fprintf(stderr, "pair_report: %.*s%s%s\n", static_cast<int>(failed.what.size()),
                 failed.what.data(), has_reason ? ": " : "",
                 has_reason ? std::strerror(failed.error_number) : "");
    return EXIT_FAILURE;
}

} // namespace

// Arguments are ignored: the program has no options, and any word it is given changes nothing.
int main() {
    const auto input = read_token(STDIN_FILENO);
    if (const auto* const failed = std::get_if<failure>(&input)) {
        return report(*failed);
    }
    line_writer output{STDOUT_FILENO};
    scan_pairs(std::get<stored_token>(input).bytes(),
               [&output](std::string_view piece) { output.write_line(piece); });
    if (const auto failed = output.finish()) {
        return report(*failed);
    }
    return EXIT_SUCCESS;
}
