#include "dates.hpp"

#include <array>
#include <cstdint>
#include <gtest/gtest.h>

namespace {

struct Date {
    std::int32_t month;
    std::int32_t day;
    std::int32_t year;
};

struct Ordering {
    Date first;
    Date second;
    int expected;
};

int compare(const Date &first, const Date &second)
{
    return compare_dates(&first.month, &first.day, &first.year, &second.month, &second.day, &second.year);
}

TEST(CompareDates, OrdersByYearThenMonthThenDayWithOneForTheEarlierFirst)
{
    constexpr std::int32_t lowest = INT32_MIN;
    constexpr std::int32_t highest = INT32_MAX;
    const std::array<Ordering, 13> cases{{
        {{12, 31, 2019}, {1, 1, 2020}, 1}, // the year decides over month and day
        {{1, 1, 2020}, {12, 31, 2019}, -1},
        {{5, 6, 2019}, {5, 6, 2019}, 0},
        {{3, 10, 2019}, {3, 9, 2019}, -1}, // the day decides within a month
        {{3, 9, 2019}, {4, 1, 2019}, 1},   // the month decides over the day
        {{2, 31, 2019}, {3, 1, 2019}, 1},  // no calendar: February 31 stays in February
        {{2, 31, 2019}, {2, 30, 2019}, -1},
        {{1, 1, -1}, {1, 1, 1}, 1},
        {{1, 1, -1}, {1, 1, 0}, 1},
        {{1, 1, 0}, {1, 1, 1}, 1},
        {{12, 31, -44}, {1, 1, 0}, 1},
        {{1, 1, lowest}, {1, 1, highest}, 1}, // no overflow at the ends of the range
        {{1, 1, highest}, {1, 1, lowest}, -1},
    }};
    for (const Ordering &ordering : cases) {
        const Date &first = ordering.first;
        const Date &second = ordering.second;
        EXPECT_EQ(compare(first, second), ordering.expected)
            << first.month << '/' << first.day << '/' << first.year << " against " << second.month << '/'
            << second.day << '/' << second.year;
    }
}

} // namespace
