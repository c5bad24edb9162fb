#pragma once

#include <cstdint>

// Asks for a date in the form mm/dd/yyyy on standard output and reads it from
// standard input, asking again after every answer that fails the check: the
// month in 1..12, the day in 1..31 whatever the month, a slash between them
// and the year, and every number within a signed 32-bit integer. The year is
// otherwise unchecked.
//
// Returns true with the date stored through the three pointers, or false,
// with nothing stored, when standard input ends or fails before a date
// stands, or when standard output can no longer be written.
[[nodiscard]] bool read_date(std::int32_t *month, std::int32_t *day, std::int32_t *year) noexcept;

// Orders two dates by year, then month, then day, with no calendar
// arithmetic. Returns 1 when the first date is the earlier, 0 when the two
// are the same and -1 when the first is the later: the reverse of the usual
// three-way comparison.
[[nodiscard]] int compare_dates(const std::int32_t *month1, const std::int32_t *day1, const std::int32_t *year1,
                                const std::int32_t *month2, const std::int32_t *day2, const std::int32_t *year2) noexcept;
