#pragma once

#include <cstddef>
#include <string>

namespace varko::logtool {

/// Collects output and writes it to a file descriptor in large pieces, retrying short
/// writes and interrupts. After the first failure it drops everything, so that the reader
/// can stop early; a closed pipe is told apart, because it is no error worth reporting.
class OutputSink final {
public:
    enum class State { Open, ClosedPipe, Failed };

    static constexpr std::size_t flushSize = 256 * 1024;

    explicit OutputSink(int fd) : fd(fd) { buffer.reserve(flushSize + 64 * 1024); }
    OutputSink(const OutputSink&) = delete;
    OutputSink& operator=(const OutputSink&) = delete;

    /// Where the caller appends; call flushIfFull after each entry.
    [[nodiscard]] std::string& pending() { return buffer; }
    void flushIfFull() {
        if (buffer.size() >= flushSize) flush();
    }
    void flush();

    [[nodiscard]] State state() const { return current; }
    [[nodiscard]] int error() const { return errorNumber; }  ///< errno of a failure

private:
    int fd;
    std::string buffer;
    State current = State::Open;
    int errorNumber = 0;
};

}  // namespace varko::logtool
