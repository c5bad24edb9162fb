#include "dialogue.hpp"

#include "console.hpp"
#include "dates.hpp"

#include <array>
#include <charconv>
#include <cstdint>
#include <limits>
#include <string_view>

namespace {

constexpr std::string_view result_text = "the return value is ";
constexpr std::string_view first_later = "the first date is greater than the second one";
constexpr std::string_view both_equal = "both dates are equal";
constexpr std::string_view first_earlier = "the first date is less than the second one";

std::string_view verdict(int result) noexcept
{
    if (result < 0) {
        return first_later;
    }
    return result == 0 ? both_equal : first_earlier;
}

void write_number(int value) noexcept
{
    // Room for any int, sign included.
    std::array<char, std::numeric_limits<int>::digits10 + 2> digits{};
    const auto converted = std::to_chars(digits.begin(), digits.end(), value);
    console::write({digits.data(), converted.ptr});
}

} // namespace

int run_dialogue() noexcept
{
    std::int32_t temp_month1 = 0;
    std::int32_t temp_day1 = 0;
    std::int32_t temp_year1 = 0;
    std::int32_t temp_month2 = 0;
    std::int32_t temp_day2 = 0;
    std::int32_t temp_year2 = 0;
    if (!read_date(&temp_month1, &temp_day1, &temp_year1) || !read_date(&temp_month2, &temp_day2, &temp_year2)) {
        // The user's shell prompt then starts on a line of its own.
        console::write("\n");
        (void)console::flush();
        return 1;
    }
    const int result = compare_dates(&temp_month1, &temp_day1, &temp_year1, &temp_month2, &temp_day2, &temp_year2);
    console::write(result_text);
    write_number(result);
    console::write("\n");
    // The verdict ends without a line break; flushing here is what puts it
    // on the console, and a failure to do so must not pass as success.
    console::write(verdict(result));
    return console::flush() ? 0 : 1;
}
