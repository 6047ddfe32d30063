// The program's writer into a memory file, its buffer ending `buffer_ends_at` bytes (less than a
// buffer) into the lines: a filler line before them takes up the rest.
#pragma once

#include "line_writer.hpp"

#include <optional>
#include <string>

#include <sys/mman.h>
#include <unistd.h>

class memory_lines {
  public:
    memory_lines(line_layout* layout, std::size_t buffer_ends_at)
        : file_{::memfd_create("lines", 0)}, output_{file_, layout}, filler_{
                                                                         line_writer::write_size -
                                                                         1 - buffer_ends_at} {
        static const std::string filler(line_writer::write_size + line_writer::short_piece, 'f');
        output_.write_lines([&](line_writer::sink& lines) {
            lines(std::string_view{filler}.substr(0, filler_));
            return 0;
        });
    }
    ~memory_lines() { ::close(file_); }

    line_writer& output() { return output_; }

    // The lines written after the filler, once flushed; none where a write or the reading failed.
    std::optional<std::string> lines() {
        output_.flush();
        const auto written = static_cast<std::size_t>(::lseek(file_, 0, SEEK_CUR));
        if (output_.error_number() != 0 || written <= filler_) {
            return std::nullopt;
        }
        std::string lines(written - filler_ - 1, '\0');
        if (::pread(file_, lines.data(), lines.size(), static_cast<off_t>(filler_ + 1)) !=
            static_cast<ssize_t>(lines.size())) {
            return std::nullopt;
        }
        return lines;
    }

  private:
    int file_;
    line_writer output_;
    std::size_t filler_;
};
