#include "model/display_format.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

namespace orvale::model {
namespace {

// Digits after the point that a double needs before its expansion can no longer end on an
// exact half at any of the shown decimals: doubles near such a half lie at least ~1e-32 apart.
constexpr int kExactDigits = 60;

}  // namespace

void appendFixed(std::string& out, double value, int decimals) {
    if (std::isnan(value)) {
        out += "nan";
        return;
    }
    if (std::isinf(value)) {
        out += value < 0 ? "-inf" : "inf";
        return;
    }
    decimals = std::clamp(decimals, 0, kMaxDecimals);
    // The magnitude's expansion (309 integer digits at most, the point, kExactDigits decimals),
    // rounded here by hand: a half rounds away from zero, as instruments and the displays'
    // toolkit do (12.5 shows 13 at no decimals, 0.125 shows 0.13 at two), where to_chars would
    // round to even.
    std::array<char, 320 + kExactDigits> digits{};
    const auto [end, ec] = std::to_chars(digits.data(), digits.data() + digits.size(),
                                         std::fabs(value), std::chars_format::fixed, kExactDigits);
    if (ec != std::errc{}) return;
    char* const point = std::find(digits.data(), end, '.');
    char* const last = point + decimals;  // the last digit kept (the point itself at 0 decimals)
    bool carry = *(last + 1) >= '5';
    for (char* d = last; carry && d >= digits.data(); --d) {
        if (*d == '.') continue;
        if (*d == '9') {
            *d = '0';
        } else {
            ++*d;
            carry = false;
        }
    }
    char* const shownEnd = decimals == 0 ? point : last + 1;
    const bool zero =
        !carry && std::all_of(digits.data(), shownEnd, [](char c) { return c == '0' || c == '.'; });
    if (std::signbit(value) && !zero) out.push_back('-');
    if (carry) out.push_back('1');
    out.append(digits.data(), shownEnd);
}

std::string formatFixed(double value, int decimals) {
    std::string text;
    appendFixed(text, value, decimals);
    return text;
}

}  // namespace orvale::model
