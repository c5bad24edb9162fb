#pragma once

#include <cstddef>
#include <string_view>

// Buffered standard input and output over the raw file descriptors.
//
// Output collects in a buffer and goes out when the buffer is full, when the
// program is about to wait for input, and at exit: a prompt is always on the
// terminal or pipe before the program blocks, while input that is already at
// hand costs no write per attempt. Memory is the two fixed buffers, whatever
// the input.
//
// Once a write fails the console stops: further output is dropped and input
// reads as ended, so that every loop that reads comes to an end.
namespace console {

// Points the console at other descriptors and forgets all buffered state.
// The program itself never calls it; tests and the fuzzer feed input and
// catch output through it. A read_limit below the buffer size makes every
// read return smaller pieces, so that tokens straddle the refills.
void attach(int input_fd, int output_fd, std::size_t read_limit = 0) noexcept;

// The bytes that have been read but not consumed yet; possibly empty. A NUL
// byte always follows them, so that a scan for other bytes can stop on it
// and check for the end only then.
[[nodiscard]] std::string_view unread() noexcept;

// Marks all bytes of the unread view up to `end` as consumed.
void consume_to(const char *end) noexcept;

// Consumes all unread bytes, flushes the output and waits for more input.
// Returns the new unread bytes; empty only when input has ended, a read
// failed or output could no longer be written. The view always points into
// the input buffer, so consume_to() accepts its ends.
[[nodiscard]] std::string_view refill() noexcept;

// Buffers `text`, which must be shorter than the output buffer (128 KiB):
// the program's longest text is under 80 bytes.
void write(std::string_view text) noexcept;

// Writes out all buffered output. False once any write has failed.
[[nodiscard]] bool flush() noexcept;

} // namespace console
