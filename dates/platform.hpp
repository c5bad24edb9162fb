#pragma once

// The little of the console that differs between systems: moving bytes
// through the raw standard descriptors. Everything above it is the same on
// POSIX systems and on Windows. The calls are inline, so that the compiler
// sees the buffers they fill and, where the C library can, checks their
// sizes (_FORTIFY_SOURCE).

#include <cstddef>

#if defined(_WIN32)
#include <io.h>
#else
#include <cerrno>
#include <poll.h>
#include <unistd.h>
#endif

namespace platform {

inline constexpr int standard_input = 0;
inline constexpr int standard_output = 1;

// Reads at most `size` bytes into `data`. Returns how many came, 0 at the
// end of input, or -1 when reading failed.
inline std::ptrdiff_t read_some(int fd, char *data, std::size_t size) noexcept;

// Writes at most `size` bytes from `data`. Returns how many went, or 0 or -1
// when writing failed.
inline std::ptrdiff_t write_some(int fd, const char *data, std::size_t size) noexcept;

#if defined(_WIN32)

// The C runtime's descriptors stay in text mode, as a C program's standard
// streams do on Windows: a line break goes out as CR LF, CR LF comes in as a
// line break, and a Ctrl-Z byte ends the input of a file or a pipe, as
// Ctrl-Z at the start of a line does at the console. The console's buffers
// are far smaller than the unsigned int that the calls take.

inline std::ptrdiff_t read_some(int fd, char *data, std::size_t size) noexcept
{
    return ::_read(fd, data, static_cast<unsigned int>(size));
}

inline std::ptrdiff_t write_some(int fd, const char *data, std::size_t size) noexcept
{
    return ::_write(fd, data, static_cast<unsigned int>(size));
}

#else

namespace detail {

// A descriptor that someone left non-blocking answers EAGAIN instead of
// waiting. Waiting for it in poll(2) keeps the program's behaviour the same
// either way, and costs no processor time while nothing comes.
inline bool wait_for(int fd, short events) noexcept
{
    pollfd request{fd, events, 0};
    for (;;) {
        const int ready = ::poll(&request, 1, -1);
        if (ready > 0) {
            return true;
        }
        if (ready < 0 && errno != EINTR) {
            return false;
        }
    }
}

// Whether a call that failed on `fd` is worth repeating: it was
// interrupted, or it would have blocked and `fd` is now ready.
inline bool again(int fd, short events) noexcept
{
    return errno == EINTR || ((errno == EAGAIN || errno == EWOULDBLOCK) && wait_for(fd, events));
}

} // namespace detail

// The loops are written out in each call rather than shared through a
// template: that keeps the buffer in sight of the inlined read(2), which the
// fortified C library then checks against the buffer's size.
inline std::ptrdiff_t read_some(int fd, char *data, std::size_t size) noexcept
{
    ssize_t count = 0;
    do {
        count = ::read(fd, data, size);
    } while (count < 0 && detail::again(fd, POLLIN));
    return count;
}

inline std::ptrdiff_t write_some(int fd, const char *data, std::size_t size) noexcept
{
    ssize_t count = 0;
    do {
        count = ::write(fd, data, size);
    } while (count < 0 && detail::again(fd, POLLOUT));
    return count;
}

#endif

} // namespace platform
