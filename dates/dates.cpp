#include "dates.hpp"

#include "console.hpp"

#include <cstdint>
#include <cstring>
#include <string_view>

namespace {

constexpr std::string_view prompt = "please enter the date in the format mm/dd/yyyy: ";
constexpr std::string_view format_error = "the format is not correct. Please enter a correct one\n";
constexpr char separator = '/';
constexpr std::int32_t last_month = 12;
// Whatever the month: the length of each month is not checked.
constexpr std::int32_t last_day = 31;
constexpr std::uint64_t decimal = 10;
constexpr int end_of_input = -1;

// The console's unread bytes, walked with a local cursor so that the byte
// loops below cost no call per byte. The cursor goes back to the console
// when the scanner goes, so that the next read starts where this one stopped.
class Scanner {
public:
    Scanner() noexcept
        : next_{console::unread().data()}, end_{next_ + console::unread().size()}
    {
    }
    ~Scanner() { console::consume_to(next_); }
    Scanner(const Scanner &) = delete;
    Scanner(Scanner &&) = delete;
    Scanner &operator=(const Scanner &) = delete;
    Scanner &operator=(Scanner &&) = delete;

    // The next byte, left unread, or end_of_input.
    int peek() noexcept
    {
        if (next_ == end_ && !refill()) {
            return end_of_input;
        }
        return static_cast<unsigned char>(*next_);
    }

    void advance() noexcept { ++next_; }

    // Consumes bytes for as long as `accept` takes them. Returns the first
    // byte it refused, left unread, or end_of_input. `accept` must refuse
    // NUL: the NUL that follows the unread bytes is what ends the scan.
    template <typename Accept>
    int take_while(Accept accept) noexcept
    {
        for (;;) {
            const char *byte = next_;
            while (accept(static_cast<unsigned char>(*byte))) {
                ++byte;
            }
            next_ = byte;
            if (byte != end_) {
                return static_cast<unsigned char>(*byte);
            }
            if (!refill()) {
                return end_of_input;
            }
        }
    }

    // Whitespace is what the C locale counts as such, line breaks included:
    // a date may be spread over several lines.
    int skip_space() noexcept
    {
        return take_while([](int byte) { return byte == ' ' || (byte >= '\t' && byte <= '\r'); });
    }

    // Drops everything up to and including the next line break.
    void skip_line() noexcept
    {
        while (next_ != end_ || refill()) {
            const auto size = static_cast<std::size_t>(end_ - next_);
            const auto *line_break = static_cast<const char *>(std::memchr(next_, '\n', size));
            if (line_break != nullptr) {
                next_ = line_break + 1;
                return;
            }
            next_ = end_;
        }
    }

private:
    // The console's refill consumes all it handed out; nothing to give back.
    bool refill() noexcept
    {
        const std::string_view more = console::refill();
        next_ = more.data();
        end_ = next_ + more.size();
        return !more.empty();
    }

    const char *next_;
    const char *end_;
};

enum class Outcome { converted, unconvertible, ended };

struct Number {
    std::int32_t value = 0;
    bool fits = true;
};

struct Attempt {
    Number month;
    char sep1 = 0;
    Number day;
    char sep2 = 0;
    Number year;
};

bool is_digit(int byte) noexcept
{
    return byte >= '0' && byte <= '9';
}

// An optionally signed decimal number after any whitespace. It is read to its
// last digit however long it is; one that does not fit keeps fits false and
// fails the check later, as an out-of-range month does.
Outcome read_number(Scanner &in, Number &number) noexcept
{
    int byte = in.skip_space();
    if (byte == end_of_input) {
        return Outcome::ended;
    }
    const bool negative = byte == '-';
    if (negative || byte == '+') {
        in.advance();
        byte = in.peek();
    }
    if (!is_digit(byte)) {
        return Outcome::unconvertible;
    }
    // Past this bound the magnitude fits no 32-bit integer of either sign, so
    // it stops growing; the digits are still consumed.
    constexpr std::uint64_t bound = std::uint64_t{1} << 31U;
    std::uint64_t magnitude = 0;
    in.take_while([&magnitude](int digit) {
        if (!is_digit(digit)) {
            return false;
        }
        if (magnitude <= bound) {
            magnitude = magnitude * decimal + static_cast<std::uint64_t>(digit - '0');
        }
        return true;
    });
    number.fits = magnitude < bound || (negative && magnitude == bound);
    if (number.fits) {
        const auto value = static_cast<std::int64_t>(magnitude);
        number.value = static_cast<std::int32_t>(negative ? -value : value);
    }
    return Outcome::converted;
}

// A separator is whatever single byte comes after any whitespace.
Outcome read_separator(Scanner &in, char &sep) noexcept
{
    const int byte = in.skip_space();
    if (byte == end_of_input) {
        return Outcome::ended;
    }
    sep = static_cast<char>(byte);
    in.advance();
    return Outcome::converted;
}

// Month, separator, day, separator, year, in the manner of "%d %c%d %c%d":
// the read stops right after the year's last digit and leaves the rest of
// the line to the next read.
Outcome read_attempt(Scanner &in, Attempt &attempt) noexcept
{
    Outcome outcome = read_number(in, attempt.month);
    if (outcome == Outcome::converted) {
        outcome = read_separator(in, attempt.sep1);
    }
    if (outcome == Outcome::converted) {
        outcome = read_number(in, attempt.day);
    }
    if (outcome == Outcome::converted) {
        outcome = read_separator(in, attempt.sep2);
    }
    if (outcome == Outcome::converted) {
        outcome = read_number(in, attempt.year);
    }
    return outcome;
}

bool passes_check(const Attempt &attempt) noexcept
{
    const std::int32_t month = attempt.month.value;
    const std::int32_t day = attempt.day.value;
    return attempt.month.fits && attempt.day.fits && attempt.year.fits && month >= 1 && month <= last_month &&
           attempt.sep1 == separator && day >= 1 && day <= last_day && attempt.sep2 == separator;
}

int order(std::int32_t first, std::int32_t second) noexcept
{
    return first < second ? 1 : -1;
}

} // namespace

bool read_date(std::int32_t *month, std::int32_t *day, std::int32_t *year) noexcept
{
    Scanner in;
    Attempt attempt;
    bool valid = false;
    while (!valid) {
        console::write(prompt);
        attempt = Attempt{};
        const Outcome outcome = read_attempt(in, attempt);
        if (outcome == Outcome::ended) {
            return false;
        }
        valid = outcome == Outcome::converted && passes_check(attempt);
        if (!valid) {
            console::write(format_error);
        }
        // What stopped the conversion would stop every later attempt too;
        // the line it stands on goes with it.
        if (outcome == Outcome::unconvertible) {
            in.skip_line();
        }
    }
    *month = attempt.month.value;
    *day = attempt.day.value;
    *year = attempt.year.value;
    return true;
}

int compare_dates(const std::int32_t *month1, const std::int32_t *day1, const std::int32_t *year1,
                  const std::int32_t *month2, const std::int32_t *day2, const std::int32_t *year2) noexcept
{
    if (*year1 != *year2) {
        return order(*year1, *year2);
    }
    if (*month1 != *month2) {
        return order(*month1, *month2);
    }
    if (*day1 != *day2) {
        return order(*day1, *day2);
    }
    return 0;
}
