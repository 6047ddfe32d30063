// Reading the token: the first white-space-delimited word of a file descriptor, read no further
// than the token needs.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <utility>
#include <variant>

// The six bytes of the classic locale's white-space class: space, \t, \n, \v, \f and \r.
constexpr bool is_white_space(char byte) noexcept {
    return byte == ' ' || (byte >= '\t' && byte <= '\r');
}

// How many bytes at the start of `bytes` are not white space: the length of a token that starts
// there.
std::size_t token_length(std::string_view bytes) noexcept;

// The same, one byte at a time: the plain loop that the vectorised search is tested against.
std::size_t token_length_reference(std::string_view bytes) noexcept;

// Why a run could not go on: `what` names the failure; `error_number`, when not 0, is the errno
// whose text completes the message.
struct failure {
    std::string_view what;
    int error_number = 0;
};

// Memory from malloc and realloc, which can grow a large block in place instead of copying it.
struct free_deleter {
    void operator()(char* bytes) const noexcept { std::free(bytes); }
};
using heap_bytes = std::unique_ptr<char, free_deleter>;

// A file mapped into memory, so that its bytes are read where the page cache holds them.
struct unmapper {
    std::size_t length = 0;
    void operator()(char* bytes) const noexcept;
};
using mapped_bytes = std::unique_ptr<char, unmapper>;

// The bytes of a token, together with the storage they live in.
class stored_token {
  public:
    stored_token() = default;
    stored_token(heap_bytes storage, std::size_t length) noexcept
        : heap_{std::move(storage)}, bytes_{heap_.get(), length} {}
    stored_token(mapped_bytes mapping, std::string_view bytes) noexcept
        : mapping_{std::move(mapping)}, bytes_{bytes} {}

    [[nodiscard]] std::string_view bytes() const noexcept { return bytes_; }

  private:
    heap_bytes heap_;
    mapped_bytes mapping_;
    std::string_view bytes_;
};

// Skips leading white space, then reads the token up to the next white-space byte or the end of
// input. An input of white space only gives the empty token. A seekable descriptor is read from
// its current offset and left just after the token, so that whoever shares it next sees the rest
// of the input.
std::variant<stored_token, failure> read_token(int descriptor);
