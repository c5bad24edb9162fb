// Measures the built program on generated inputs and prints each figure
// beside its target: median time and spread, throughput, write calls (from
// strace -c) and peak resident memory (from /usr/bin/time -v). The typical
// run is also timed for the statically linked program of the release
// tarballs. Run by hand on a Release build; the machine should be otherwise
// idle.
//
//   bench [RUNS]    RUNS: how many times each large input is timed

#include "bench_paths.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Milliseconds = std::chrono::duration<double, std::milli>;

// The targets.
constexpr double large_input_ms = 60;
constexpr long attempts_for_writes = 100000;
constexpr long write_calls_per_100k = 200;
constexpr double start_up_ratio = 1.10;
constexpr long rss_kib = 2048;

constexpr double mega = 1e6;
constexpr double per_second = 1e3; // from per millisecond
constexpr long million = 1000000;
constexpr long large = 200 * million;
constexpr std::size_t block = 1000;
constexpr int default_runs = 11;
constexpr int start_up_runs = 301;
constexpr mode_t file_mode = 0644;

fs::path work;

// Runs `argv` with standard input from `in` and standard output to `out`;
// returns the wall-clock time from spawn to exit.
double run(const std::vector<std::string> &argv, const fs::path &in, const fs::path &out = "/dev/null")
{
    std::vector<char *> words;
    words.reserve(argv.size() + 1);
    std::transform(argv.begin(), argv.end(), std::back_inserter(words),
                   [](const std::string &word) { return const_cast<char *>(word.c_str()); });
    words.push_back(nullptr);
    posix_spawn_file_actions_t actions{};
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, file_mode);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, words[0], &actions, nullptr, words.data(), environ) != 0) {
        std::cerr << "bench: cannot run " << argv[0] << '\n';
        std::exit(2);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    const auto stop = std::chrono::steady_clock::now();
    posix_spawn_file_actions_destroy(&actions);
    return Milliseconds(stop - start).count();
}

struct Timing {
    double median;
    double low;
    double high;
};

Timing summary(std::vector<double> times)
{
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], times.front(), times.back()};
}

Timing time_runs(const std::vector<std::string> &argv, const fs::path &in, int runs)
{
    std::vector<double> times(static_cast<std::size_t>(runs));
    std::generate(times.begin(), times.end(), [&] { return run(argv, in); });
    return summary(times);
}

// The number in the line of `file` that follows `key`, or -1.
long find_number(const fs::path &file, const std::string &key, int column)
{
    std::ifstream text{file};
    for (std::string line; std::getline(text, line);) {
        if (line.find(key) == std::string::npos) {
            continue;
        }
        std::istringstream words{column >= 0 ? line : line.substr(line.find(key) + key.size())};
        std::string word;
        for (int i = 0; i <= std::max(column, 0); ++i) {
            words >> word;
        }
        return std::stol(word);
    }
    return -1;
}

long write_calls(const fs::path &in)
{
    const fs::path report = work / "strace.txt";
    run({"/usr/bin/strace", "-f", "-c", "-e", "trace=write", "-o", report, program}, in);
    return find_number(report, " write", 3);
}

long peak_kib(const fs::path &in)
{
    const fs::path report = work / "time.txt";
    run({"/usr/bin/time", "-v", "-o", report, program}, in);
    return find_number(report, "Maximum resident set size (kbytes):", -1);
}

fs::path generate(const std::string &name, const std::function<void(std::ofstream &)> &fill)
{
    fs::path file = work / name;
    std::ofstream out{file, std::ios::binary};
    fill(out);
    return file;
}

void repeat(std::ofstream &out, const std::string &text, long times)
{
    for (long i = 0; i < times; ++i) {
        out << text;
    }
}

const char *verdict(bool met)
{
    return met ? "ok" : "MISSED";
}

void report_large(const std::string &title, const fs::path &in, int runs, bool timed)
{
    const fs::path out = work / "out.txt";
    run({program}, in, out);
    const double in_mb = static_cast<double>(fs::file_size(in)) / mega;
    const double out_mb = static_cast<double>(fs::file_size(out)) / mega;
    fs::remove(out);
    const Timing time = time_runs({program}, in, runs);
    const long kib = peak_kib(in);
    std::printf("%s (%.1f MB in, %.1f MB out)\n", title.c_str(), in_mb, out_mb);
    std::printf("  time        median %7.1f ms  (min %.1f, max %.1f, %d runs)", time.median, time.low, time.high, runs);
    if (timed) {
        std::printf("   target < %.0f ms   %s", large_input_ms, verdict(time.median < large_input_ms));
    }
    std::printf("\n  throughput  %7.0f MB/s in, %.0f MB/s out\n", in_mb / time.median * per_second,
                out_mb / time.median * per_second);
    std::printf("  peak RSS    %7ld KiB                                    target < %ld KiB   %s\n", kib, rss_kib,
                verdict(kib > 0 && kib < rss_kib));
}

} // namespace

int main(int argc, char **argv)
{
    const int runs = argc > 1 ? std::stoi(argv[1]) : default_runs;
    work = fs::temp_directory_path() / ("compare-dates-bench-" + std::to_string(::getpid()));
    fs::create_directories(work);
    std::printf("program  %s\nstatic   %s\nbaseline %s\n\n", program, static_program, baseline);

    const std::string failed = "13/01/2019";
    const std::string good = "12/25/2019\n01/01/2020\n";
    const auto lines = generate("lines.txt", [&](std::ofstream &out) {
        repeat(out, failed + "\n", million);
        out << good;
    });
    const auto one_line = generate("one-line.txt", [&](std::ofstream &out) {
        repeat(out, failed + " ", million);
        out << good;
    });
    const auto tenth = generate("tenth.txt", [&](std::ofstream &out) {
        repeat(out, failed + "\n", attempts_for_writes);
        out << good;
    });
    const auto typical = generate("typical.txt", [&](std::ofstream &out) { out << good; });
    const auto long_line =
        generate("long-line.txt", [&](std::ofstream &out) { repeat(out, std::string(block, 'x'), large / block); });
    const auto digits = generate("digits.txt", [&](std::ofstream &out) {
        repeat(out, std::string(block, '7'), large / block);
        out << "/1/1\n" << good;
    });

    report_large("1,000,000 failed attempts, one a line", lines, runs, true);
    std::printf("  for scale   C with stdio, median %.1f ms\n", time_runs({baseline}, lines, runs).median);
    report_large("1,000,000 failed attempts on one line", one_line, runs, true);
    report_large("200 MB line without a line break", long_line, 3, false);
    report_large("200 MB run of digits", digits, 3, false);

    const long calls = write_calls(tenth);
    std::printf("100,000 failed attempts from a file\n");
    std::printf("  write calls %7ld                                        target <= %ld    %s\n", calls,
                write_calls_per_100k, verdict(calls >= 0 && calls <= write_calls_per_100k));
    std::printf("  (1,000,000: %ld)\n", write_calls(lines));

    // Interleaved, so that a change in the machine's load falls on all.
    std::vector<double> ours;
    std::vector<double> static_ours;
    std::vector<double> theirs;
    for (int i = 0; i < start_up_runs; ++i) {
        ours.push_back(run({program}, typical));
        static_ours.push_back(run({static_program}, typical));
        theirs.push_back(run({baseline}, typical));
    }
    const Timing our_time = summary(ours);
    const Timing static_time = summary(static_ours);
    const Timing their_time = summary(theirs);
    const double ratio = our_time.median / their_time.median;
    const long typical_kib = peak_kib(typical);
    std::printf("typical run, two good dates, whole process (%d runs each)\n", start_up_runs);
    std::printf("  time        median %.3f ms (min %.3f); C with stdio median %.3f ms (min %.3f)\n", our_time.median,
                our_time.low, their_time.median, their_time.low);
    std::printf("  ratio       %.2f                                          target <= %.2f   %s\n", ratio,
                start_up_ratio, verdict(ratio <= start_up_ratio));
    std::printf("  static      median %.3f ms (min %.3f): %.2f of the dynamic program's, %.2f of C's\n",
                static_time.median, static_time.low, static_time.median / our_time.median,
                static_time.median / their_time.median);
    std::printf("  peak RSS    %7ld KiB                                    target < %ld KiB   %s\n", typical_kib,
                rss_kib, verdict(typical_kib < rss_kib));

    fs::remove_all(work);
    return 0;
}
