#include "token_reader.hpp"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>

#include <emmintrin.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Room for at least this much is made before every read: few system calls, without reading far
// past a short token.
constexpr std::size_t read_size = std::size_t{64} * 1024;

// A bit for each of the sixteen bytes from `first` that is white space.
std::uint64_t white_space_of_16(const char* first) noexcept {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(first));
    const __m128i space = _mm_cmpeq_epi8(bytes, _mm_set1_epi8(' '));
    // \t to \r are 9 to 13: after subtracting 9 they are the bytes whose unsigned value is <= 4.
    const __m128i from_tab = _mm_sub_epi8(bytes, _mm_set1_epi8('\t'));
    const __m128i controls = _mm_cmpeq_epi8(_mm_min_epu8(from_tab, _mm_set1_epi8(4)), from_tab);
    return static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_or_si128(space, controls)));
}

std::size_t leading_white_space(std::string_view bytes) noexcept {
    return static_cast<std::size_t>(std::ranges::find_if_not(bytes, is_white_space) -
                                    bytes.begin());
}

// Makes room for `wanted` bytes in `storage`, growing it geometrically. False when memory runs out.
bool reserve(heap_bytes& storage, std::size_t& capacity, std::size_t wanted) noexcept {
    if (wanted <= capacity) {
        return true;
    }
    const std::size_t grown = std::max(wanted, 2 * capacity);
    char* const moved = static_cast<char*>(std::realloc(storage.get(), grown));
    if (moved == nullptr) {
        return false;
    }
    static_cast<void>(storage.release());
    storage.reset(moved);
    capacity = grown;
    return true;
}

// A regular file is mapped from its current offset rather than copied. Nothing when the file
// cannot be mapped (or is empty past the offset, as files under /proc claim to be): reading it
// then works as for a pipe, and takes only the memory the token needs.
std::optional<stored_token> map_token(int descriptor) {
    struct stat status {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        return std::nullopt;
    }
    const off_t offset = ::lseek(descriptor, 0, SEEK_CUR);
    if (offset < 0 || offset >= status.st_size) {
        return std::nullopt;
    }
    const auto page_size = static_cast<off_t>(::sysconf(_SC_PAGESIZE));
    const off_t map_start = offset / page_size * page_size;
    const auto length = static_cast<std::size_t>(status.st_size - map_start);
    void* const address = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE, descriptor, map_start);
    if (address == MAP_FAILED) {
        return std::nullopt;
    }
    mapped_bytes mapping{static_cast<char*>(address), unmapper{length}};
    ::madvise(address, length, MADV_SEQUENTIAL);
    std::string_view rest{mapping.get() + (offset - map_start), length - (offset - map_start)};
    rest.remove_prefix(leading_white_space(rest));
    const std::string_view token = rest.substr(0, token_length(rest));
    const auto consumed = static_cast<off_t>(token.data() + token.size() - mapping.get());
    static_cast<void>(::lseek(descriptor, map_start + consumed, SEEK_SET));
    return stored_token{std::move(mapping), token};
}

// Anything that cannot be mapped (a pipe, a terminal) is read in chunks into one buffer, which
// realloc grows in place where it can, up to the first white space after the token.
std::variant<stored_token, failure> read_token_in_chunks(int descriptor) {
    // A larger pipe lets a large token arrive in fewer, longer reads, with fewer switches between
    // its producer and this process. Anything but a pipe refuses, and so may a pipe over its
    // owner's limit; either way the token is read the same.
    static_cast<void>(::fcntl(descriptor, F_SETPIPE_SZ, 1 << 20));
    heap_bytes storage;
    std::size_t capacity = 0;
    std::size_t length = 0;        // token bytes stored so far, from the start of storage
    std::size_t read_past_end = 0; // bytes read after the token's end
    while (true) {
        if (!reserve(storage, capacity, length + read_size)) {
            return failure{"out of memory reading the token"};
        }
        char* const chunk = storage.get() + length;
        const ssize_t count = ::read(descriptor, chunk, capacity - length);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            return failure{"read error", errno};
        }
        if (count == 0) {
            break;
        }
        std::string_view arrived{chunk, static_cast<std::size_t>(count)};
        if (length == 0) {
            // Leading white space is dropped as it arrives, so it never takes memory.
            arrived.remove_prefix(leading_white_space(arrived));
            std::memmove(chunk, arrived.data(), arrived.size());
            arrived = {chunk, arrived.size()};
        }
        const std::size_t token_part = token_length(arrived);
        length += token_part;
        if (token_part < arrived.size()) {
            read_past_end = arrived.size() - token_part;
            break;
        }
    }
    // Give back what was read past the token; descriptors that cannot seek simply keep it.
    if (read_past_end != 0) {
        static_cast<void>(::lseek(descriptor, -static_cast<off_t>(read_past_end), SEEK_CUR));
    }
    return stored_token{std::move(storage), length};
}

} // namespace

void unmapper::operator()(char* bytes) const noexcept {
    ::munmap(bytes, length);
}

std::size_t token_length_reference(std::string_view bytes) noexcept {
    return static_cast<std::size_t>(std::ranges::find_if(bytes, is_white_space) - bytes.begin());
}

// Like the pair scanner, 64 bytes to a bit mask: the first set bit is the token's end.
std::size_t token_length(std::string_view bytes) noexcept {
    const char* const first = bytes.data();
    std::size_t length = 0;
    for (; length + 64 <= bytes.size(); length += 64) {
        const char* const block = first + length;
        const std::uint64_t white = white_space_of_16(block) | white_space_of_16(block + 16) << 16 |
                                    white_space_of_16(block + 32) << 32 |
                                    white_space_of_16(block + 48) << 48;
        if (white != 0) {
            return length + static_cast<std::size_t>(std::countr_zero(white));
        }
    }
    return length + token_length_reference(bytes.substr(length));
}

std::variant<stored_token, failure> read_token(int descriptor) {
    if (auto mapped = map_token(descriptor)) {
        return std::move(*mapped);
    }
    return read_token_in_chunks(descriptor);
}
