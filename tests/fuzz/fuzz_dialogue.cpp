// Feeds arbitrary bytes to the whole dialogue as its standard input and
// checks the output byte for byte against a plain model of the reading, once
// with the input arriving in one piece and once a byte per read, so that
// every token also straddles the refills of the input buffer.

#include "console.hpp"
#include "dates.hpp"
#include "dialogue.hpp"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <sys/mman.h>
#include <unistd.h>

namespace {

constexpr std::size_t fields = 5;
constexpr std::int64_t last_month = 12;
constexpr std::int64_t last_day = 31;
// More significant digits than any 32-bit value has.
constexpr std::size_t too_long = 11;

const std::string prompt = "please enter the date in the format mm/dd/yyyy: ";
const std::string format_error = "the format is not correct. Please enter a correct one\n";

void require(bool condition, const char *what)
{
    if (!condition) {
        const std::string line = std::string{what} + "\n";
        const ssize_t told = ::write(STDERR_FILENO, line.data(), line.size());
        (void)told;
        std::abort();
    }
}

bool is_blank(char byte)
{
    return byte == ' ' || (byte >= '\t' && byte <= '\r');
}

bool is_digit(char byte)
{
    return byte >= '0' && byte <= '9';
}

// The value of an optionally signed run of digits, or nothing when it does
// not fit 32 bits. Works on the text, not on a running total.
bool fits(std::string_view number, std::int64_t &value)
{
    const bool negative = number.front() == '-';
    if (number.front() == '+' || number.front() == '-') {
        number.remove_prefix(1);
    }
    while (number.size() > 1 && number.front() == '0') {
        number.remove_prefix(1);
    }
    if (number.size() >= too_long) {
        return false;
    }
    value = std::stoll(std::string{number});
    value = negative ? -value : value;
    return value >= INT32_MIN && value <= INT32_MAX;
}

// What the program must write for `in`, and its exit status.
std::pair<std::string, int> model(std::string_view in)
{
    std::string out;
    std::size_t at = 0;
    std::array<std::array<std::int64_t, 3>, 2> dates{};
    for (std::size_t count = 0; count < 2;) {
        out += prompt;
        std::array<std::int64_t, 3> numbers{};
        std::array<char, 2> separators{};
        bool in_range = true;
        bool unconvertible = false;
        for (std::size_t field = 0; field < fields && !unconvertible; ++field) {
            while (at < in.size() && is_blank(in[at])) {
                ++at;
            }
            if (at == in.size()) {
                out += "\n";
                return {out, 1};
            }
            if (field % 2 == 1) {
                separators.at(field / 2) = in[at++];
                continue;
            }
            std::size_t end = at + ((in[at] == '+' || in[at] == '-') ? 1 : 0);
            if (end == in.size() || !is_digit(in[end])) {
                unconvertible = true;
                break;
            }
            while (end < in.size() && is_digit(in[end])) {
                ++end;
            }
            in_range = fits(in.substr(at, end - at), numbers.at(field / 2)) && in_range;
            at = end;
        }
        if (unconvertible) {
            out += format_error;
            const std::size_t line_break = in.find('\n', at);
            at = line_break == std::string_view::npos ? in.size() : line_break + 1;
            continue;
        }
        const auto [month, day, year] = numbers;
        if (!in_range || month < 1 || month > last_month || day < 1 || day > last_day || separators[0] != '/' ||
            separators[1] != '/') {
            out += format_error;
            continue;
        }
        dates.at(count++) = {year, month, day};
    }
    const int result = dates[0] < dates[1] ? 1 : dates[0] == dates[1] ? 0 : -1;
    out += "the return value is " + std::to_string(result) + "\n";
    out += result == 1 ? "the first date is less than the second one"
           : result == 0 ? "both dates are equal"
                         : "the first date is greater than the second one";
    return {out, 0};
}

struct Files {
    int input = ::memfd_create("input", 0);
    int output = ::memfd_create("output", 0);
};

const Files &files()
{
    static const Files opened;
    require(opened.input >= 0 && opened.output >= 0, "memfd_create");
    return opened;
}

void attach(std::string_view in, std::size_t read_limit)
{
    const Files &open = files();
    require(::ftruncate(open.input, 0) == 0 && ::ftruncate(open.output, 0) == 0, "ftruncate");
    require(::pwrite(open.input, in.data(), in.size(), 0) == static_cast<ssize_t>(in.size()), "pwrite");
    ::lseek(open.input, 0, SEEK_SET);
    ::lseek(open.output, 0, SEEK_SET);
    console::attach(open.input, open.output, read_limit);
}

std::string written()
{
    const int output = files().output;
    std::string text(static_cast<std::size_t>(::lseek(output, 0, SEEK_END)), '\0');
    require(::pread(output, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size()), "pread");
    return text;
}

// The shape that holds whatever the input: prompts and error lines, every
// error line followed by a prompt, and the number of prompts one for each
// attempt: each failed one, each accepted date, and one cut short by the end
// of input.
void check_shape(std::string_view out, int status)
{
    std::size_t prompts = 0;
    std::size_t errors = 0;
    for (;;) {
        require(out.starts_with(prompt), "a prompt");
        out.remove_prefix(prompt.size());
        ++prompts;
        if (out.starts_with(format_error)) {
            out.remove_prefix(format_error.size());
            ++errors;
        } else if (!out.starts_with(prompt)) {
            break;
        }
    }
    if (status == 0) {
        require(prompts == errors + 2, "two dates accepted");
        require(out.starts_with("the return value is "), "the result line");
    } else {
        require(status == 1 && out == "\n", "one line break at the end of input");
        require(prompts == errors + 1 || prompts == errors + 2, "one attempt cut short");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view in{reinterpret_cast<const char *>(data), size};
    const auto [expected, expected_status] = model(in);
    for (const std::size_t read_limit : {std::size_t{0}, std::size_t{1}}) {
        attach(in, read_limit);
        const int status = run_dialogue();
        const std::string out = written();
        check_shape(out, status);
        require(status == expected_status, "the exit status of the model");
        require(out == expected, "the output of the model");
    }

    attach(in, 0);
    for (int i = 0; i < 2; ++i) {
        std::int32_t month = 0;
        std::int32_t day = 0;
        std::int32_t year = 0;
        if (!read_date(&month, &day, &year)) {
            break;
        }
        require(month >= 1 && month <= last_month && day >= 1 && day <= last_day, "an accepted date in range");
    }
    return 0;
}
