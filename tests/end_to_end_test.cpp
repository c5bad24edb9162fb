#include "program.hpp"

#include <algorithm>
#include <csignal>
#include <optional>
#include <sstream>
#include <unistd.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;
using texts::both_equal;
using texts::first_earlier;
using texts::first_later;

const std::string &ask = texts::prompt;
const std::string &bad = texts::format_error;
// What follows the last prompt when input ends before two dates stand.
const std::string ended = "\n";

// For outputs of megabytes: where they part, not the whole of both.
testing::AssertionResult same_bytes(const std::string &actual, const std::string &expected)
{
    if (actual == expected) {
        return testing::AssertionSuccess();
    }
    constexpr std::size_t context = 40;
    const auto [mismatch, _] = std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
    const auto at = static_cast<std::size_t>(mismatch - actual.begin());
    const std::size_t from = at < context ? 0 : at - context;
    return testing::AssertionFailure() << actual.size() << " bytes against " << expected.size()
                                       << " expected, first different at " << at << ": \""
                                       << actual.substr(from, 2 * context) << "\" against \""
                                       << expected.substr(from, 2 * context) << '"';
}

struct Case {
    const char *name;
    std::string input;
    std::string output;
    int status;
};

void PrintTo(const Case &test_case, std::ostream *out)
{
    *out << test_case.name;
}

// Input bytes against the exact output and exit status; standard error stays
// empty throughout.
const std::vector<Case> dialogue_cases{
    // Verdicts
    {"FirstEarlier", "12/25/2019\n01/01/2020\n", ask + ask + first_earlier, 0},
    {"BothEqual", "05/06/2019\n05/06/2019\n", ask + ask + both_equal, 0},
    {"FirstLater", "01/01/2020\n12/31/2019\n", ask + ask + first_later, 0},

    // What the reading accepts
    {"ShortAndPaddedNumbers", "7/4/1776\n07/04/1776\n", ask + ask + both_equal, 0},
    {"LeadingZerosAreNotOctal", "08/09/1999\n8/9/1999\n", ask + ask + both_equal, 0},
    {"BlanksAroundSlashesAndSigns", "12 / 25 / 2019\n+12/+25/+2019\n", ask + ask + both_equal, 0},
    {"DayThirtyOneInFebruary", "02/31/2019\n03/01/2019\n", ask + ask + first_earlier, 0},
    {"YearZeroAndNegative", "12/25/0\n12/25/-44\n", ask + ask + first_later, 0},
    {"CrLfLineEnds", "12/25/2019\r\n01/01/2020\r\n", ask + ask + first_earlier, 0},
    {"TabsAndBlankLines", "\n\t 12/25/2019\n\n\v\f 01/01/2020\n", ask + ask + first_earlier, 0},
    // Backspace and shift-out border the whitespace bytes but are none.
    {"BytesBesideTheWhitespace", "\b1/1/1\n1\x0E/1/1\n1/1/1\n1/1/1\n",
     ask + bad + ask + bad + ask + ask + both_equal, 0},
    {"YearEndsTheInput", "1/1/1\n1/1/2", ask + ask + first_earlier, 0},

    // The stream is not read line by line
    {"DateSplitOverLines", "12/25\n/2019\n01/01/2020\n", ask + ask + first_earlier, 0},
    {"DateSplitAtEveryField", "12\n/\n25\n/\n2019\n1\n/1/2020\n", ask + ask + first_earlier, 0},
    {"TwoDatesOnOneLine", "12/25/2019 01/01/2020\n", ask + ask + first_earlier, 0},
    {"RetryFromTheRestOfTheLine", "13/01/2019 12/25/2019\n12/25/2019\n", ask + bad + ask + ask + both_equal, 0},

    // Answers that fail the check, and the new prompt after each
    {"MonthAndDayOutOfRange", "13/01/2019\n0/10/2019\n12/0/2019\n12/32/2019\n-1/1/1\n12/25/2019\n12/25/2019\n",
     ask + bad + ask + bad + ask + bad + ask + bad + ask + bad + ask + ask + both_equal, 0},
    {"WrongSeparators", "12-25-2019\n12/25.2019\n12/25\\2019\n1/1/1\n1/1/1\n", ask + bad + ask + bad + ask + bad + ask + ask + both_equal,
     0},
    // The 2 of 25 becomes the separator, the day reads 5, and so on.
    {"BlanksInsteadOfSlashes", "12 25 2019\n1/1/1\n1/1/1\n", ask + bad + ask + ask + both_equal, 0},
    {"NulAsSeparator", "12\0" "25/2019\n1/1/1\n1/1/1\n"s, ask + bad + ask + ask + both_equal, 0},

    // Input that is no number where a number is due loses its line
    {"LetterForMonth", "ab/12/2019\n12/25/2019\n12/25/2019\n", ask + bad + ask + ask + both_equal, 0},
    {"LetterForYearAfterAFailure", "13/01/2019\n12/25/x\n", ask + bad + ask + bad + ask + ended, 1},
    {"RestOfLineDiscarded", "12/25/x 01/01/2020\n1/1/1\n1/1/1\n", ask + bad + ask + ask + both_equal, 0},
    {"SignWithoutDigits", "12/-/2019\n+ 1/1/1\n1/1/1\n1/1/1\n", ask + bad + ask + bad + ask + ask + both_equal, 0},
    {"SignBeforeLineBreak", "1/1/-\n1/1/1\n1/1/1\n", ask + bad + ask + ask + both_equal, 0},
    {"LoneSignEndsTheInput", "1/1/+", ask + bad + ask + ended, 1},
    {"NulForMonth", "\0" "1/1/1\n1/1/1\n1/1/1\n"s, ask + bad + ask + ask + both_equal, 0},
    {"FullWidthSlash", "12\xEF\xBC\x8F" "25\xEF\xBC\x8F" "2019\n1/1/1\n1/1/1\n", ask + bad + ask + ask + both_equal, 0},
    {"NoBreakSpaceBeforeNumber", "\xA0" "12/25/2019\n1/1/1\n1/1/1\n", ask + bad + ask + ask + both_equal, 0},
    {"HighBytesAsSeparator", "12\xFF" "25\x80" "2019\n1/1/1\n1/1/1\n", ask + bad + ask + ask + both_equal, 0},

    // Numbers beyond 32 bits fail the check whole; the rest of the line stays
    {"MonthsThatWrapToTwelve", "4294967308/01/2019\n18446744073709551628/01/2019\n12/25/2019\n12/25/2019\n",
     ask + bad + ask + bad + ask + ask + both_equal, 0},
    {"HugeDayThenDateOnSameLine", "1/99999999999999999999999999999/1 1/1/1\n1/1/1\n", ask + bad + ask + ask + both_equal, 0},
    {"LeadingZerosNeverOverflow", "0000000000000000012/0000000000000000000025/2019\n12/25/2019\n",
     ask + ask + both_equal, 0},
    {"YearsAtTheLimits", "1/1/-2147483648\n1/1/2147483647\n", ask + ask + first_earlier, 0},
    {"YearsPastTheLimits", "1/1/-2147483649\n1/1/2147483648\n1/1/-21474836480\n1/1/-21474836481\n1/1/1\n1/1/1\n",
     ask + bad + ask + bad + ask + bad + ask + bad + ask + ask + both_equal, 0},

    // Input that ends before two dates stand
    {"NoInput", "", ask + ended, 1},
    {"OnlyBlankLines", "\n\n  \n", ask + ended, 1},
    {"OneDateOnly", "12/25/2019\n", ask + ask + ended, 1},
    {"EndsAfterMonth", "12", ask + ended, 1},
    {"EndsAfterSeparator", "12/", ask + ended, 1},
    {"EndsAfterSecondSeparator", "12/25/ \n", ask + ended, 1},
    {"EndsAfterFailures", "13/01/2019\n", ask + bad + ask + ended, 1},
    {"EndsAfterADroppedLine", " x\n 1", ask + bad + ask + ended, 1},
    {"EndsAfterADroppedLineAndABreak", "\nx\n\n2", ask + bad + ask + ended, 1},
};

class Dialogue : public testing::TestWithParam<Case> {};

TEST_P(Dialogue, WritesExactlyTheExpectedBytes)
{
    const Case &test_case = GetParam();
    const Result result = run_program({.input = test_case.input});
    EXPECT_EQ(result.out, written(test_case.output));
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.exit_status, test_case.status);
}

std::string case_name(const testing::TestParamInfo<Case> &param_info)
{
    return param_info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Cases, Dialogue, testing::ValuesIn(dialogue_cases), case_name);

TEST(Arguments, ChangeNothing)
{
    const Result result =
        run_program({.input = "12/25/2019\n01/01/2020\n", .arguments = {"--help", "-v", "01/01/2020", ""}});
    EXPECT_EQ(result.out, written(ask + ask + first_earlier));
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.exit_status, 0);
}

// Ctrl-Z ends the input of a text-mode program on Windows; elsewhere it is
// a byte like any other, and no number.
TEST(CtrlZ, EndsInputOnWindowsOnly)
{
    const Result result = run_program({.input = "12/25/2019\n\x1A" "01/01/2020\n"});
    const std::string rest = windows_program() ? ended : bad + ask + ended;
    EXPECT_EQ(result.out, written(ask + ask + rest));
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.exit_status, 1);
}

struct Failure {
    const char *name;
    Setup setup;
    std::string output;
    int status;
    int signal;
    std::optional<Need> need{};
};

std::string repeated(const std::string &text, int times)
{
    std::string all;
    for (int i = 0; i < times; ++i) {
        all += text;
    }
    return all;
}

// A run never ends with status 0 when its output did not arrive, and never
// hangs: endless input must not keep it going once nobody reads. A read or
// write that was only interrupted is made again.
TEST(Failures, OfInputAndOutputEndTheRunWithStatusOneAndInterruptionsDoNot)
{
    const std::string typical = "12/25/2019\n01/01/2020\n";
    constexpr int attempts = 20000;
    const std::vector<Failure> cases{
        {"output to /dev/full", {.input = typical, .out = Output::full_device}, "", 1, 0},
        {"output closed", {.input = typical, .out = Output::closed}, "", 1, 0},
        {"reader gone, SIGPIPE ignored", {.in = Input::endless_zeros, .out = Output::broken_pipe, .ignore_sigpipe = true},
         "", 1, 0},
        {"reader gone, default SIGPIPE", {.in = Input::endless_zeros, .out = Output::broken_pipe}, "", -1, SIGPIPE,
         Need::posix},
        {"reader gone, finite input", {.input = typical, .out = Output::broken_pipe, .ignore_sigpipe = true}, "", 1, 0},
        {"input closed", {.in = Input::closed}, ask + ended, 1, 0},
        {"non-blocking input ends early",
         {.input = "12/25/2019\n", .non_blocking = true, .stall = std::chrono::milliseconds{100}},
         ask + ask + ended, 1, 0, Need::posix},
        {"input a directory", {.in = Input::directory}, ask + ended, 1, 0},
        {"read interrupted",
         {.input = typical, .in = Input::socket, .stall = std::chrono::milliseconds{200}, .stop_and_continue = true},
         ask + ask + first_earlier, 0, 0, Need::posix},
        {"write interrupted", {.input = repeated("13/01/2019\n", attempts) + typical, .in = Input::file,
          .out = Output::socket, .stall = std::chrono::milliseconds{200}, .stop_and_continue = true},
         repeated(ask + bad, attempts) + ask + ask + first_earlier, 0, 0, Need::posix},
    };
    for (const auto &failure : cases) {
        if (failure.need && !can_show(*failure.need)) {
            continue;
        }
        SCOPED_TRACE(failure.name);
        const Result result = run_program(failure.setup, std::chrono::seconds{20});
        EXPECT_FALSE(result.timed_out);
        // Waits last through stalls of a tenth of a second and more.
        if (can_show(Need::own_wakeups)) {
            EXPECT_LT(result.wakeups, 50);
        }
        EXPECT_TRUE(same_bytes(result.out, written(failure.output)));
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.exit_status, failure.status);
        EXPECT_EQ(result.signal, failure.signal);
    }
}

// Output goes out when the program is about to wait for input, not after
// each prompt: input that is all at hand costs a write per full buffer.
TEST(WriteCalls, FollowTheWaitsForInputNotTheAttempts)
{
    const std::string strace = "/usr/bin/strace";
    if (!can_show(Need::own_calls) || ::access(strace.c_str(), X_OK) != 0) {
        GTEST_SKIP() << "needs strace and the program's own system calls";
    }
    constexpr int attempts = 100000;
    std::string input;
    for (int i = 0; i < attempts; ++i) {
        input += "13/01/2019\n";
    }
    // strace writes its summary to standard error, the program's own writes
    // counted in the line that ends in "write". A sanitized build's leak
    // check cannot run under ptrace and would fail the run.
    const Result result = run_program({.input = input + "1/1/1\n1/1/1\n",
                                       .in = Input::file,
                                       .wrapper = {"/usr/bin/env", "ASAN_OPTIONS=detect_leaks=0", strace, "-c", "-e",
                                                   "trace=write"}});
    ASSERT_EQ(result.exit_status, 0) << result.err;
    const std::size_t row = result.err.find(" write\n");
    ASSERT_NE(row, std::string::npos) << result.err;
    const std::size_t start = result.err.rfind('\n', row) + 1;
    std::istringstream columns{result.err.substr(start, row - start)};
    double share = 0;
    double seconds = 0;
    long per_call = 0;
    long calls = 0;
    columns >> share >> seconds >> per_call >> calls;
    EXPECT_GT(calls, 0);
    EXPECT_LE(calls, 200);
}

// 200 MB in one piece must neither grow memory nor change the outcome. The
// peak is measured against a run on a hundredth of it, so that the test holds
// for sanitized builds as well.
TEST(LargeInput, KeepsMemoryFlat)
{
    if (!can_show(Need::own_memory)) {
        GTEST_SKIP() << "needs the program's own memory figures";
    }
    constexpr std::size_t large = std::size_t{200} * 1000 * 1000;
    for (const char filler : {'x', '7'}) {
        SCOPED_TRACE(filler);
        std::vector<long> peaks;
        for (const std::size_t size : {large / 100, large}) {
            std::string input(size, filler);
            input.append("/1/1\n1/1/1\n1/1/1\n");
            const Result result = run_program({.input = input});
            // A line of letters is dropped whole; a run of digits is one
            // number too large for any field. Either way, one failure.
            EXPECT_EQ(result.out, ask + bad + ask + ask + both_equal);
            EXPECT_EQ(result.exit_status, 0);
            peaks.push_back(result.peak_rss_kib);
        }
        EXPECT_GT(peaks[0], 0);
        EXPECT_LT(peaks[1] - peaks[0], 1024);
    }
    const Result unbroken = run_program({.input = std::string(large, 'x')});
    EXPECT_EQ(unbroken.out, ask + bad + ask + ended);
    EXPECT_EQ(unbroken.exit_status, 1);
}

// A parent may hand over descriptors that answer "try again" instead of
// waiting; the program must neither spin, fail, nor lose a byte. Input that
// is slow to come and a reader slow to drain the output are waited for at
// no cost in processor time.
TEST(NonBlockingPipes, GiveTheSameOutputWithoutSpinning)
{
    if (!can_show(Need::posix)) {
        GTEST_SKIP() << "needs a POSIX program";
    }
    constexpr int attempts = 100000;
    std::string input;
    std::string expected;
    for (int i = 0; i < attempts; ++i) {
        input += "13/01/2019\n";
        expected += ask + bad;
    }
    constexpr auto stall = std::chrono::milliseconds{500};
    const Result result =
        run_program({.input = input + "12/25/2019\n01/01/2020\n", .non_blocking = true, .stall = stall});
    EXPECT_TRUE(same_bytes(result.out, expected + ask + ask + first_earlier));
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_LT(result.cpu, stall / 2);
}

// Many attempts cross the input buffer's edges at every possible offset.
TEST(LargeInput, ManyAttemptsAcrossBufferEdges)
{
    std::string input;
    std::string expected;
    constexpr int attempts = 100000;
    for (int i = 0; i < attempts; ++i) {
        input += i % 3 == 0 ? "13/01/2019\n" : i % 3 == 1 ? "1/1/x  \n" : " 12 / 32 / -7 ";
        expected += ask + bad;
    }
    input += "12/25/2019 01/01/2020";
    const Result result = run_program({.input = input});
    EXPECT_TRUE(same_bytes(result.out, written(expected + ask + ask + first_earlier)));
    EXPECT_EQ(result.exit_status, 0);
}

} // namespace
