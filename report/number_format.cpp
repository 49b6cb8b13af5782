#include "report/number_format.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <system_error>

namespace sevenparam {

namespace {

bool append_non_finite(std::string& out, double value)
{
    if (std::isnan(value)) {
        out += "nan";
    } else if (std::isinf(value)) {
        out += value < 0 ? "-inf" : "inf";
    } else {
        return false;
    }
    return true;
}

template <typename... Format> void append_to_chars(std::string& out, double value, Format... format)
{
    char buffer[400]; // room for any double in fixed form with 9 decimals
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, format...);
    out.append(buffer, result.ec == std::errc() ? result.ptr : buffer);
}

// "00", "01", ..., "99".
struct digit_pair_table {
    char text[200];
    constexpr digit_pair_table() : text()
    {
        for (int i = 0; i < 100; ++i) {
            text[2 * i] = static_cast<char>('0' + i / 10);
            text[2 * i + 1] = static_cast<char>('0' + i % 10);
        }
    }
};
constexpr digit_pair_table digit_pairs;

constexpr double powers_of_ten[] = {1, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9};

} // namespace

void append_shortest(std::string& out, double value)
{
    if (!append_non_finite(out, value)) {
        append_to_chars(out, value);
    }
}

char* put_json_number(char* out, double value)
{
    if (!std::isfinite(value)) {
        std::memcpy(out, "null", 4);
        return out + 4;
    }
    // The shortest form of any double is at most 24 bytes.
    char* end = std::to_chars(out, out + json_number_capacity - 2, value).ptr;
    if (std::find_if(out, end, [](char c) { return c == '.' || c == 'e'; }) == end) {
        *end++ = '.';
        *end++ = '0';
    }
    return end;
}

void append_json_number(std::string& out, double value)
{
    char buffer[json_number_capacity];
    out.append(buffer, put_json_number(buffer, value));
}

char* format_fixed_before(char* end, double value, int decimals)
{
    const double scaled = value * powers_of_ten[decimals];
    // Residual tables hold millions of numbers: integer digits are much faster
    // than a general conversion. The product's rounding error is far below the
    // last digit shown; large and non-finite values take the general path.
    if (!(std::fabs(scaled) < 9e15)) {
        std::string text;
        if (!append_non_finite(text, value)) {
            append_to_chars(text, value, std::chars_format::fixed, decimals);
        }
        std::memcpy(end - text.size(), text.data(), text.size());
        return end - text.size();
    }
    const auto units = static_cast<std::int64_t>(scaled < 0 ? scaled - 0.5 : scaled + 0.5);
    std::uint64_t magnitude = static_cast<std::uint64_t>(units < 0 ? -units : units);
    // From the end: the decimals and then the integer digits two at a time
    // (an odd decimal first), the point between them, at least one integer
    // digit.
    char* p = end;
    int left = decimals;
    if (left % 2 != 0) {
        *--p = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
        --left;
    }
    for (; left > 0; left -= 2) {
        p -= 2;
        std::memcpy(p, digit_pairs.text + 2 * (magnitude % 100), 2);
        magnitude /= 100;
    }
    if (decimals > 0) {
        *--p = '.';
    }
    while (magnitude >= 100) {
        p -= 2;
        std::memcpy(p, digit_pairs.text + 2 * (magnitude % 100), 2);
        magnitude /= 100;
    }
    if (magnitude >= 10) {
        p -= 2;
        std::memcpy(p, digit_pairs.text + 2 * magnitude, 2);
    } else {
        *--p = static_cast<char>('0' + magnitude);
    }
    if (units < 0) {
        *--p = '-';
    }
    return p;
}

std::size_t format_fixed(char* out, double value, int decimals)
{
    char buffer[fixed_capacity];
    char* const end = buffer + sizeof buffer;
    const char* const start = format_fixed_before(end, value, decimals);
    std::memcpy(out, start, static_cast<std::size_t>(end - start));
    return static_cast<std::size_t>(end - start);
}

void append_fixed(std::string& out, double value, int decimals)
{
    char buffer[fixed_capacity];
    out.append(buffer, format_fixed(buffer, value, decimals));
}

void append_significant(std::string& out, double value, int digits)
{
    if (!append_non_finite(out, value)) {
        append_to_chars(out, value, std::chars_format::general, digits);
    }
}

double axis_azimuth_shown(double degrees, int decimals)
{
    const double half_unit = 0.5 / powers_of_ten[decimals];
    return degrees >= 180 - half_unit ? 0.0 : degrees;
}

} // namespace sevenparam
