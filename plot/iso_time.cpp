#include "plot/iso_time.h"

#include <cstdio>
#include <ctime>
#include <utility>

namespace orvale::plot {
namespace {

// Days from 1970-01-01 to the given date of the proleptic Gregorian calendar.
constexpr long long daysFromCivil(long long year, unsigned month, unsigned day) {
    year -= month <= 2 ? 1 : 0;
    const long long era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<long long>(dayOfEra) - 719468;
}

constexpr bool isLeap(long long year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

constexpr unsigned daysInMonth(long long year, unsigned month) {
    constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeap(year) ? 29 : kDays[month - 1];
}

// The decimal number in text[at, at + digits), or -1.
int digitsAt(std::string_view text, std::size_t at, std::size_t digits) {
    int value = 0;
    for (std::size_t i = at; i < at + digits; ++i) {
        if (text[i] < '0' || text[i] > '9') return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

}  // namespace

std::optional<TimeMs> parseIsoTime(std::string_view text) {
    // 2026-12-08T15:30:01.123 then Z or +01:00
    constexpr std::size_t kLocalLength = 23;
    if (text.size() != kLocalLength + 1 && text.size() != kLocalLength + 6) return std::nullopt;
    for (const auto& [at, c] : {std::pair<std::size_t, char>{4, '-'},
                                {7, '-'},
                                {10, 'T'},
                                {13, ':'},
                                {16, ':'},
                                {19, '.'}}) {
        if (text[at] != c) return std::nullopt;
    }
    const int year = digitsAt(text, 0, 4);
    const int month = digitsAt(text, 5, 2);
    const int day = digitsAt(text, 8, 2);
    const int hour = digitsAt(text, 11, 2);
    const int minute = digitsAt(text, 14, 2);
    const int second = digitsAt(text, 17, 2);
    const int millis = digitsAt(text, 20, 3);
    if (year < 0 || month < 1 || month > 12 || day < 1 || hour < 0 || hour > 23 || minute < 0 ||
        minute > 59 || second < 0 || second > 60 || millis < 0) {
        return std::nullopt;
    }
    if (static_cast<unsigned>(day) > daysInMonth(year, static_cast<unsigned>(month))) {
        return std::nullopt;
    }
    long long offsetMinutes = 0;
    if (text.size() == kLocalLength + 1) {
        if (text[kLocalLength] != 'Z') return std::nullopt;
    } else {
        const char sign = text[kLocalLength];
        const int offsetHours = digitsAt(text, kLocalLength + 1, 2);
        const int offsetMins = digitsAt(text, kLocalLength + 4, 2);
        if ((sign != '+' && sign != '-') || text[kLocalLength + 3] != ':' || offsetHours < 0 ||
            offsetHours > 18 || offsetMins < 0 || offsetMins > 59) {
            return std::nullopt;
        }
        offsetMinutes = (sign == '-' ? -1 : 1) * (offsetHours * 60LL + offsetMins);
    }
    const long long days =
        daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
    const long long seconds = ((days * 24 + hour) * 60 + minute - offsetMinutes) * 60 + second;
    return seconds * 1000 + millis;
}

std::string isoLocalTime(TimeMs time) {
    TimeMs seconds = time / 1000;
    TimeMs millis = time % 1000;
    if (millis < 0) {
        millis += 1000;
        --seconds;
    }
    const auto whole = static_cast<std::time_t>(seconds);
    std::tm local{};
    localtime_r(&whole, &local);
    char stamp[40];
    const std::size_t n = std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &local);
    char zone[8];
    std::strftime(zone, sizeof zone, "%z", &local);  // "+0100"
    char out[64];
    std::snprintf(out, sizeof out, "%.*s.%03d%.3s:%.2s", static_cast<int>(n), stamp,
                  static_cast<int>(millis), zone, zone + 3);
    return out;
}

}  // namespace orvale::plot
