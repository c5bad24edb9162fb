#include "program.hpp"

#include "program_path.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t chunk_size = 65536;
// How long a read that met the end of a file waits before it looks again.
constexpr std::chrono::milliseconds file_growth{5};
// What a shell reports for a command it could not run.
constexpr int not_run_status = 127;

void check(bool ok, const char *what)
{
    if (!ok) {
        throw std::runtime_error(what);
    }
}

std::array<int, 2> make_pipe()
{
    std::array<int, 2> ends{};
    check(::pipe2(ends.data(), O_CLOEXEC) == 0, "pipe2");
    return ends;
}

// A socket used as a pipe, with timeouts longer than any test.
std::array<int, 2> make_socket()
{
    std::array<int, 2> ends{};
    const timeval timeout{60, 0};
    check(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends.data()) == 0, "socketpair");
    for (const int end : ends) {
        for (const int option : {SO_RCVTIMEO, SO_SNDTIMEO}) {
            check(::setsockopt(end, SOL_SOCKET, option, &timeout, sizeof timeout) == 0, "setsockopt");
        }
    }
    return ends;
}

void close_fd(int &fd)
{
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

// The test process writes to pipes whose reader may be gone; that must come
// back as EPIPE here, not end the tests.
void ignore_sigpipe_here()
{
    static const bool done = [] {
        return std::signal(SIGPIPE, SIG_IGN) != SIG_ERR;
    }();
    (void)done;
}

// In the child between fork and exec only async-signal-safe calls are made.
[[noreturn]] void start_child(const std::string &path, const std::vector<char *> &argv, int in, int out, int err,
                              bool ignore_sigpipe, int exec_signal)
{
    if (std::signal(SIGPIPE, ignore_sigpipe ? SIG_IGN : SIG_DFL) == SIG_ERR) {
        ::_exit(not_run_status);
    }
    const std::array<int, 3> wanted{in, out, err};
    for (int target = 0; target < 3; ++target) {
        const int source = wanted.at(static_cast<std::size_t>(target));
        if (source < 0) {
            ::close(target);
        } else if (source == target) {
            ::fcntl(target, F_SETFD, 0);
        } else {
            ::dup2(source, target);
        }
    }
    ::execv(path.c_str(), argv.data());
    // Any byte on this pipe tells the parent that exec failed.
    const char failed = 1;
    static_cast<void>(::write(exec_signal, &failed, 1));
    ::_exit(not_run_status);
}

// Forks and runs the program; returns once it runs in place of the copy of
// this process, so that whatever is measured of it from then on is its own.
pid_t spawn(const std::string &path, const std::vector<char *> &argv, int in, int out, int err, bool ignore_sigpipe)
{
    const auto exec_signal = make_pipe();
    const pid_t pid = ::fork();
    check(pid >= 0, "fork");
    if (pid == 0) {
        start_child(path, argv, in, out, err, ignore_sigpipe, exec_signal[1]);
    }
    ::close(exec_signal[1]);
    char failed = 0;
    ssize_t count = 0;
    do {
        count = ::read(exec_signal[0], &failed, 1);
    } while (count < 0 && errno == EINTR);
    ::close(exec_signal[0]);
    check(count == 0, "exec");
    return pid;
}

int exit_status(int status)
{
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int wait_ms(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Appends what one read brings; false at end of file or on error.
bool drain(int fd, std::string &into)
{
    std::array<char, chunk_size> chunk{};
    const ssize_t count = ::read(fd, chunk.data(), chunk.size());
    if (count > 0) {
        into.append(chunk.data(), static_cast<std::size_t>(count));
        return true;
    }
    return count < 0 && errno == EINTR;
}

// The high-water mark of the process's resident memory, from the kernel.
// Read while the process runs: once it has exited the figure is gone, and
// the rusage of a forked child also counts the parent it was copied from.
long peak_resident_kib(pid_t pid)
{
    std::ifstream status{"/proc/" + std::to_string(pid) + "/status"};
    std::string word;
    while (status >> word) {
        if (word == "VmHWM:") {
            long kib = 0;
            status >> kib;
            return kib;
        }
    }
    return 0;
}

std::string from_environment(const char *name, const char *otherwise)
{
    const char *value = std::getenv(name);
    return value != nullptr ? value : otherwise;
}

std::string runner()
{
    return from_environment("COMPARE_DATES_RUNNER", "");
}

// The command that runs the program, its arguments still to come.
std::vector<std::string> program_command()
{
    std::vector<std::string> words;
    std::istringstream runner_words{runner()};
    for (std::string word; runner_words >> word;) {
        words.push_back(word);
    }
    words.push_back(program_path());
    return words;
}

// Sleeps through the stall; a program that ends meanwhile is left to wait4.
void wait_out(const Setup &setup, pid_t pid)
{
    const int stops = setup.stop_and_continue ? 3 : 0;
    for (int stop = 0; stop < stops; ++stop) {
        std::this_thread::sleep_for(setup.stall / (stops + 1));
        siginfo_t info{};
        const auto id = static_cast<id_t>(pid);
        check(::kill(pid, SIGSTOP) == 0 && ::waitid(P_PID, id, &info, WSTOPPED | WEXITED | WNOWAIT) == 0 &&
                  (info.si_code != CLD_STOPPED || ::kill(pid, SIGCONT) == 0),
              "stop and continue");
    }
    std::this_thread::sleep_for(setup.stall / (stops + 1));
}

std::vector<char *> argument_vector(std::vector<std::string> &words)
{
    std::vector<char *> argv;
    argv.reserve(words.size() + 1);
    std::transform(words.begin(), words.end(), std::back_inserter(argv), [](std::string &word) { return word.data(); });
    argv.push_back(nullptr);
    return argv;
}

// Runs a command found on PATH, with no input, and returns what it wrote.
std::string output_of(const std::vector<std::string> &command)
{
    std::vector<std::string> words{"/usr/bin/env"};
    words.insert(words.end(), command.begin(), command.end());
    const auto out = make_pipe();
    const int quiet = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    const pid_t pid = spawn(words.front(), argument_vector(words), quiet, out[1], quiet, false);
    ::close(out[1]);
    ::close(quiet);
    std::string got;
    while (drain(out[0], got)) {
    }
    ::close(out[0]);
    ::waitpid(pid, nullptr, 0);
    return got;
}

std::string contents(const std::string &path)
{
    std::ifstream file{path, std::ios::binary};
    std::ostringstream all;
    all << file.rdbuf();
    return all.str();
}

} // namespace

std::string program_path()
{
    return from_environment("COMPARE_DATES", built_program);
}

bool can_show(Need need)
{
    if (need == Need::console) {
        return windows_program() && std::getenv("COMPARE_DATES_CONSOLE") != nullptr;
    }
    return runner().empty() || ((need == Need::posix || need == Need::own_wakeups) && !windows_program());
}

bool windows_program()
{
    return program_path().ends_with(".exe");
}

std::string written(std::string_view text)
{
    const bool windows = windows_program();
    std::string bytes;
    for (const char byte : text) {
        if (byte == '\n' && windows) {
            bytes += '\r';
        }
        bytes += byte;
    }
    return bytes;
}

Result run_program(const Setup &setup, std::chrono::seconds limit)
{
    ignore_sigpipe_here();
    std::vector<std::string> words{setup.wrapper};
    const std::vector<std::string> command = program_command();
    words.insert(words.end(), command.begin(), command.end());
    words.insert(words.end(), setup.arguments.begin(), setup.arguments.end());
    const std::string path = words.front();
    const std::vector<char *> argv = argument_vector(words);

    int child_in = -1;
    int feed = -1;
    if (setup.in == Input::bytes || setup.in == Input::socket) {
        const auto ends = setup.in == Input::socket ? make_socket() : make_pipe();
        child_in = ends[0];
        feed = ends[1];
    } else if (setup.in == Input::file) {
        child_in = ::memfd_create("input", MFD_CLOEXEC);
        check(child_in >= 0 && ::write(child_in, setup.input.data(), setup.input.size()) ==
                                   static_cast<ssize_t>(setup.input.size()) && ::lseek(child_in, 0, SEEK_SET) == 0,
              "input file");
    } else if (setup.in == Input::directory) {
        child_in = ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } else if (setup.in == Input::endless_zeros) {
        child_in = ::open("/dev/zero", O_RDONLY | O_CLOEXEC);
    }
    int child_out = -1;
    int collect = -1;
    if (setup.out == Output::pipe || setup.out == Output::broken_pipe || setup.out == Output::socket) {
        const auto ends = setup.out == Output::socket ? make_socket() : make_pipe();
        child_out = ends[1];
        collect = ends[0];
        if (setup.out == Output::broken_pipe) {
            close_fd(collect);
        }
    } else if (setup.out == Output::full_device) {
        child_out = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    }
    const auto error_ends = make_pipe();
    int errors = error_ends[0];
    int child_err = error_ends[1];

    if (setup.non_blocking) {
        check(::fcntl(child_in, F_SETFL, O_NONBLOCK) == 0 && ::fcntl(child_out, F_SETFL, O_NONBLOCK) == 0,
              "non-blocking");
    }
    const pid_t pid = spawn(path, argv, child_in, child_out, child_err, setup.ignore_sigpipe);
    close_fd(child_in);
    close_fd(child_out);
    close_fd(child_err);
    if (feed >= 0) {
        ::fcntl(feed, F_SETFL, O_NONBLOCK);
    }

    Result result;
    std::size_t fed = 0;
    const auto deadline = Clock::now() + limit;
    wait_out(setup, pid);
    while (feed >= 0 || collect >= 0 || errors >= 0) {
        if (feed >= 0 && fed == setup.input.size()) {
            close_fd(feed);
            std::this_thread::sleep_for(setup.stall);
            continue;
        }
        std::array<pollfd, 3> watched{{{feed, POLLOUT, 0}, {collect, POLLIN, 0}, {errors, POLLIN, 0}}};
        const int ready = ::poll(watched.data(), watched.size(), wait_ms(deadline));
        if (ready == 0) {
            result.timed_out = true;
            ::kill(pid, SIGKILL);
            break;
        }
        if (ready < 0) {
            check(errno == EINTR, "poll");
            continue;
        }
        if (watched[0].revents != 0) {
            const ssize_t count = ::write(feed, setup.input.data() + fed, setup.input.size() - fed);
            if (count > 0) {
                fed += static_cast<std::size_t>(count);
                result.peak_rss_kib = std::max(result.peak_rss_kib, peak_resident_kib(pid));
            } else if (errno != EAGAIN && errno != EINTR) {
                close_fd(feed); // the program stopped reading
            }
        }
        if (watched[1].revents != 0 && !drain(collect, result.out)) {
            close_fd(collect);
        }
        if (watched[2].revents != 0 && !drain(errors, result.err)) {
            close_fd(errors);
        }
    }
    close_fd(feed);
    close_fd(collect);
    close_fd(errors);

    int status = 0;
    rusage usage{};
    check(::wait4(pid, &status, 0, &usage) == pid, "wait4");
    const auto time = [](const timeval &span) {
        return std::chrono::seconds{span.tv_sec} + std::chrono::microseconds{span.tv_usec};
    };
    result.cpu = time(usage.ru_utime) + time(usage.ru_stime);
    result.wakeups = usage.ru_nvcsw;
    result.exit_status = exit_status(status);
    result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return result;
}

Session::Session(Over over, bool ignore_sigpipe) : over_{over}
{
    ignore_sigpipe_here();
    if (over == Over::console) {
        open_console();
        return;
    }
    int child_in = -1;
    int child_out = -1;
    if (over != Over::terminal) {
        const auto in = make_pipe();
        const auto out = make_pipe();
        child_in = in[0];
        input_ = in[1];
        output_ = out[0];
        child_out = out[1];
        if (over == Over::non_blocking_pipes) {
            check(::fcntl(child_in, F_SETFL, O_NONBLOCK) == 0 && ::fcntl(child_out, F_SETFL, O_NONBLOCK) == 0,
                  "non-blocking");
        }
    } else {
        // Canonical mode as at a shell, but without echo and without output
        // processing, so that the bytes read here are the program's own.
        const int leader = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        check(leader >= 0 && ::grantpt(leader) == 0 && ::unlockpt(leader) == 0, "posix_openpt");
        child_in = ::open(::ptsname(leader), O_RDWR | O_NOCTTY | O_CLOEXEC);
        check(child_in >= 0, "open terminal");
        termios modes{};
        check(::tcgetattr(child_in, &modes) == 0, "tcgetattr");
        modes.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL);
        modes.c_oflag &= ~static_cast<tcflag_t>(OPOST);
        check(::tcsetattr(child_in, TCSANOW, &modes) == 0, "tcsetattr");
        child_out = child_in;
        input_ = leader;
        output_ = leader;
    }
    const auto error_ends = make_pipe();
    errors_ = error_ends[0];

    std::vector<std::string> words = program_command();
    pid_ = spawn(words.front(), argument_vector(words), child_in, child_out, error_ends[1], ignore_sigpipe);
    ::close(child_in);
    if (child_out != child_in) {
        ::close(child_out);
    }
    ::close(error_ends[1]);
}

// cmd runs the program in a console window of its own, titled after the
// session's directory, with standard output and standard error redirected
// to files there, and then writes the exit status to a third. cmd expands
// %ERRORLEVEL% as it reads the line, before the program has run; with
// delayed expansion, !ERRORLEVEL! is the status when echo runs.
void Session::open_console()
{
    const std::string console = from_environment("COMPARE_DATES_CONSOLE", "");
    std::string display;
    std::ifstream{console + "/display"} >> display;
    check(!display.empty(), "the console's display");
    ::setenv("DISPLAY", (":" + display).c_str(), 1);
    // Wine maps the root of the file system to drive Z:.
    const auto windows_path = [](std::string path) {
        std::replace(path.begin(), path.end(), '/', '\\');
        return "Z:" + path;
    };
    files_ = console + "/session-XXXXXX";
    check(::mkdtemp(files_.data()) != nullptr, "mkdtemp");
    output_ = ::open((files_ + "/out").c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, S_IRUSR | S_IWUSR);
    check(output_ >= 0, "open the console's output");
    const std::string title = files_.substr(files_.rfind('/') + 1);
    std::vector<std::string> words{"/usr/bin/env", "wineconsole", "cmd", "/v:on", "/c",
                                   "title " + title + "& " + windows_path(program_path()) + " > " +
                                       windows_path(files_ + "/out") + " 2> " + windows_path(files_ + "/err") +
                                       " & echo !ERRORLEVEL! > " + windows_path(files_ + "/status")};
    // Wine waits long with its standard descriptors closed.
    const int nothing = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    pid_ = spawn(words.front(), argument_vector(words), nothing, nothing, nothing, false);
    ::close(nothing);
    std::istringstream{output_of({"timeout", "30", "xdotool", "search", "--sync", "--name", "^" + title + "$"})} >>
        window_;
    check(!window_.empty(), "the console window");
}

// Keys go to the window whatever has the focus. The key that lets the
// program end closes the window before it is released, so xdotool's own
// status says nothing: what counts is what the program writes.
void Session::press(std::vector<std::string> keys) const
{
    keys.insert(keys.begin(), {"xdotool", "key", "--window", window_});
    (void)output_of(keys);
}

Session::~Session()
{
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    if (input_ != output_) {
        close_fd(input_);
    }
    close_fd(output_);
    close_fd(errors_);
}

void Session::send(std::string_view text) const
{
    if (over_ == Over::console) {
        std::vector<std::string> keys(text.size());
        std::transform(text.begin(), text.end(), keys.begin(), [](char key) {
            return key == '\n' ? "Return" : key == '/' ? "slash" : key == ' ' ? "space" : std::string{key};
        });
        press(keys);
        return;
    }
    check(::write(input_, text.data(), text.size()) == static_cast<ssize_t>(text.size()), "write to the program");
}

void Session::end_input()
{
    if (over_ == Over::console) {
        press({"ctrl+z", "Return"});
    } else if (over_ != Over::terminal) {
        close_fd(input_);
    } else {
        send("\x04");
    }
}

void Session::stop_reading()
{
    close_fd(output_);
}

void Session::forbid_open_files() const
{
    const rlimit none{0, 0};
    check(::prlimit(pid_, RLIMIT_NOFILE, &none, nullptr) == 0, "prlimit");
}

std::string Session::receive(std::size_t size, std::chrono::milliseconds limit) const
{
    std::string got;
    const auto deadline = Clock::now() + limit;
    while (got.size() < size) {
        pollfd watched{output_, POLLIN, 0};
        if (::poll(&watched, 1, wait_ms(deadline)) <= 0) {
            break;
        }
        std::array<char, chunk_size> chunk{};
        const ssize_t count = ::read(output_, chunk.data(), std::min(chunk.size(), size - got.size()));
        // A file is always ready, and at its end only until it grows.
        if (count == 0 && over_ == Over::console && Clock::now() < deadline) {
            std::this_thread::sleep_for(file_growth);
            continue;
        }
        if (count <= 0) {
            break;
        }
        got.append(chunk.data(), static_cast<std::size_t>(count));
    }
    return got;
}

std::string Session::receive_for(std::chrono::milliseconds span) const
{
    return receive(std::string::npos, span);
}

std::pair<int, std::string> Session::finish()
{
    std::string errors;
    while (drain(errors_, errors)) {
    }
    int status = 0;
    check(::waitpid(pid_, &status, 0) == pid_, "waitpid");
    pid_ = -1;
    if (over_ == Over::console) {
        status = -1;
        std::ifstream{files_ + "/status"} >> status;
        return {status, contents(files_ + "/err")};
    }
    return {exit_status(status), errors};
}
