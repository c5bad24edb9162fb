#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

// The program's texts, written out here rather than taken from its source,
// so that a change to them shows up as a failing test.
namespace texts {
inline const std::string prompt = "please enter the date in the format mm/dd/yyyy: ";
inline const std::string format_error = "the format is not correct. Please enter a correct one\n";
inline const std::string first_earlier = "the return value is 1\nthe first date is less than the second one";
inline const std::string both_equal = "the return value is 0\nboth dates are equal";
inline const std::string first_later = "the return value is -1\nthe first date is greater than the second one";
} // namespace texts

// Setup::input arrives through a pipe, a socket, or from a regular file.
// Sockets have timeouts, with which Linux fails a read or write with EINTR
// when the process is stopped and continued while it waits.
enum class Input { bytes, file, socket, closed, directory, endless_zeros };
enum class Output { pipe, socket, full_device, broken_pipe, closed };

struct Setup {
    std::string input;
    Input in = Input::bytes;
    Output out = Output::pipe;
    bool ignore_sigpipe = false;
    // The program's ends of its pipes left non-blocking, as some parents do.
    bool non_blocking = false;
    // Input starts to come only after this long, and once it is all in,
    // output is read only after this long again.
    std::chrono::milliseconds stall{0};
    bool stop_and_continue = false; // a few times, during the first stall
    std::vector<std::string> arguments;
    // A command that runs the program, such as strace with its options.
    std::vector<std::string> wrapper;
};

struct Result {
    std::string out;
    std::string err;
    int exit_status = -1; // -1 when a signal ended the process
    int signal = 0;
    long peak_rss_kib = 0; // as seen while input was being fed
    std::chrono::microseconds cpu{0}; // the processor time of the process
    long wakeups = 0; // how often the process slept and woke again
    bool timed_out = false;
};

// The executable under test: $COMPARE_DATES when set, else the one built
// beside the tests. $COMPARE_DATES_RUNNER, when set, is a command that runs
// it, such as wine for a Windows build or qemu-aarch64 with its options,
// the words separated by blanks.
std::string program_path();

// What some tests need beyond pipes, files and an exit status: what a POSIX
// program meets (a terminal, SIGPIPE, non-blocking descriptors, sockets, a
// stop, resource limits), and the program's own system calls, memory and
// wake-ups. Run directly, the program shows all of it. Under qemu-user it is
// a POSIX program that sleeps when it waits, but strace and /proc see the
// emulator's calls and memory; under Wine it shows none of it, but can be
// typed at in Wine's console window where the tests have one.
enum class Need { posix, own_calls, own_memory, own_wakeups, console };
bool can_show(Need need);

// Whether the program is a Windows one, by its name.
bool windows_program();

// The bytes that the program writes for `text`: a Windows program writes
// each line break as CR LF.
std::string written(std::string_view text);

// Runs the program to its end, feeding it Setup::input through a pipe while
// collecting what it writes. A run that takes longer than `limit` is killed.
inline constexpr std::chrono::seconds run_limit{120};
Result run_program(const Setup &setup, std::chrono::seconds limit = run_limit);

// A run of the program that is talked to as it goes, the way a person or a
// driving script does: each answer is sent only after the question arrived.
// At Wine's console window the answers are typed as keys, and standard
// output is redirected to a file that is read as it grows.
class Session {
public:
    enum class Over { pipes, non_blocking_pipes, terminal, console };

    explicit Session(Over over, bool ignore_sigpipe = false);
    ~Session();
    Session(const Session &) = delete;
    Session(Session &&) = delete;
    Session &operator=(const Session &) = delete;
    Session &operator=(Session &&) = delete;

    void send(std::string_view text) const;
    // Ends standard input: closes the pipe, types the end-of-file key at the
    // start of a line of the terminal, or Ctrl-Z and Enter at the console.
    void end_input();
    // Standard output as it arrives: waits for `size` bytes at most until
    // the time runs out, and returns what came.
    static constexpr std::chrono::seconds answer_limit{10};
    [[nodiscard]] std::string receive(std::size_t size, std::chrono::milliseconds limit = answer_limit) const;
    // Everything that arrives within `span`.
    [[nodiscard]] std::string receive_for(std::chrono::milliseconds span) const;
    // Closes the reading end of standard output, as a reader that leaves.
    void stop_reading();
    // Lowers the program's open-file limit to 0, which fails poll(2).
    void forbid_open_files() const;
    // Waits for the process to end; returns its exit status and whatever it
    // wrote to standard error.
    std::pair<int, std::string> finish();

private:
    void open_console();
    void press(std::vector<std::string> keys) const;

    int pid_ = -1;
    int input_ = -1;
    int output_ = -1;
    int errors_ = -1;
    Over over_;
    // At the console: the directory of its files, and its window.
    std::string files_;
    std::string window_;
};
