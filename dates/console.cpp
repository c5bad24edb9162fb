#include "console.hpp"

#include "platform.hpp"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

// Large enough that a file or a fast pipe costs few system calls, small
// enough that the whole process stays within a couple of MiB.
constexpr std::size_t input_capacity = std::size_t{64} * 1024;
constexpr std::size_t output_capacity = std::size_t{128} * 1024;

// The buffers live apart from the small state so that they stay in zeroed
// memory that the program touches only as far as it uses it. The input
// buffer has room for the NUL that ends the bytes read.
constinit std::array<char, input_capacity + 1> input_buffer{};
constinit std::array<char, output_capacity> output_buffer{};

struct State {
    int input_fd = platform::standard_input;
    int output_fd = platform::standard_output;
    std::size_t read_limit = input_capacity;
    std::size_t read_pos = 0;
    std::size_t read_end = 0;
    std::size_t buffered = 0;
    bool input_ended = false;
    bool output_failed = false;
};

constinit State state{};

bool write_all(const char *data, std::size_t size) noexcept
{
    while (size > 0) {
        const std::ptrdiff_t count = platform::write_some(state.output_fd, data, size);
        if (count <= 0) {
            return false;
        }
        data += count;
        size -= static_cast<std::size_t>(count);
    }
    return true;
}

} // namespace

namespace console {

void attach(int input_fd, int output_fd, std::size_t read_limit) noexcept
{
    state = State{};
    input_buffer[0] = '\0';
    state.input_fd = input_fd;
    state.output_fd = output_fd;
    if (read_limit > 0 && read_limit < input_capacity) {
        state.read_limit = read_limit;
    }
}

std::string_view unread() noexcept
{
    return {input_buffer.data() + state.read_pos, state.read_end - state.read_pos};
}

void consume_to(const char *end) noexcept
{
    state.read_pos = static_cast<std::size_t>(end - input_buffer.data());
}

std::string_view refill() noexcept
{
    state.read_pos = 0;
    state.read_end = 0;
    input_buffer[0] = '\0';
    if (state.input_ended || !flush()) {
        state.input_ended = true;
        return unread();
    }
    const std::ptrdiff_t count = platform::read_some(state.input_fd, input_buffer.data(), state.read_limit);
    // End of file and read errors alike (a closed descriptor, a directory)
    // leave nothing more to read.
    if (count <= 0) {
        state.input_ended = true;
        return unread();
    }
    state.read_end = static_cast<std::size_t>(count);
    input_buffer[state.read_end] = '\0';
    return unread();
}

void write(std::string_view text) noexcept
{
    if (state.output_failed || (text.size() > output_capacity - state.buffered && !flush())) {
        return;
    }
    // The program's texts are far shorter than the buffer, which a flush
    // has just emptied if need be; the bound only keeps a longer one from
    // overrunning it.
    const std::size_t size = std::min(text.size(), output_capacity);
    std::memcpy(output_buffer.data() + state.buffered, text.data(), size);
    state.buffered += size;
}

bool flush() noexcept
{
    if (!state.output_failed && state.buffered > 0) {
        state.output_failed = !write_all(output_buffer.data(), state.buffered);
        state.buffered = 0;
    }
    return !state.output_failed;
}

} // namespace console
