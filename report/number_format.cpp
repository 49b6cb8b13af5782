#include "report/number_format.h"

#include "estimation/decimal_digits.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <system_error>

// libfmt's Dragonbox: the shortest decimal digits of a double, the same
// digits std::to_chars finds, in less than half its time. Only the digit
// search is taken from it; the layout below is std::to_chars's own.
#include <fmt/format.h>

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

// The decimal digits of `n` ending just before `end`; returns where they
// begin.
char* put_digits_before(char* end, std::uint64_t n)
{
    while (n >= 100000000) {
        end -= 8;
        const std::uint64_t digits = eight_digits(static_cast<std::uint32_t>(n % 100000000));
        std::memcpy(end, &digits, 8);
        n /= 100000000;
    }
    auto m = static_cast<std::uint32_t>(n);
    while (m >= 100) {
        end -= 2;
        std::memcpy(end, digit_pairs.text + 2 * (m % 100), 2);
        m /= 100;
    }
    if (m >= 10) {
        end -= 2;
        std::memcpy(end, digit_pairs.text + 2 * m, 2);
    } else {
        *--end = static_cast<char>('0' + m);
    }
    return end;
}

// `n` < 10^width with exactly `width` (1 to 17) digits, leading zeros
// kept, ending just before `end`.
void put_padded_before(char* end, std::uint64_t n, int width)
{
    std::memset(end - width, '0', static_cast<std::size_t>(width));
    if (n != 0) {
        put_digits_before(end, n);
    }
}

// The shortest text of a finite `value` as std::to_chars(first, last, value)
// writes it, at `out` (room for json_number_capacity bytes); returns its end and
// sets `integral` when the text has neither a point nor an exponent. The
// digits d (n of them, at most 17) stand for d * 10^e; the text is the
// shorter of the fixed form and the exponent form d.ddde+XX (at least two
// exponent digits), the fixed one where both are as long. The digits are
// written once, in their places: reading back what was just written would
// stall the processor.
char* put_shortest(char* out, double value, bool& integral)
{
    char* const first = out;
    integral = false;
    // Without a branch: residuals are as often negative as not, and a
    // branch on the sign would be mispredicted every other time.
    *out = '-';
    out += std::signbit(value) ? 1 : 0;
    value = std::fabs(value);
    if (value == 0) {
        *out++ = '0';
        integral = true;
        return out;
    }
    const auto decimal = fmt::detail::dragonbox::to_decimal(value);
    const std::uint64_t d = decimal.significand;
    const int n = decimal_digit_count(d);
    const int e = decimal.exponent;
    const int point = e + n; // digits before the decimal point
    const int magnitude = std::abs(point - 1);
    const int scientific_length = n + (n > 1 ? 1 : 0) + (magnitude >= 100 ? 5 : 4);
    const int fixed_length = e >= 0 ? point : (point > 0 ? n + 1 : n + 2 - point);
    if (fixed_length <= scientific_length) {
        if (e > 0 && value >= 0x1p53) {
            // An integer above 2^53 with fewer digits than places: the
            // standard library writes its exact value, not zeros.
            integral = true;
            return std::to_chars(out, first + json_number_capacity - 2, value).ptr;
        }
        if (e >= 0) {
            put_digits_before(out + n, d);
            std::memset(out + n, '0', static_cast<std::size_t>(e)); // at most 5
            integral = true;
            return out + point;
        }
        if (point > 0) {
            const int decimals = n - point;
            const std::uint64_t scale = powers_of_ten_u64[decimals];
            put_digits_before(out + point, d / scale);
            out[point] = '.';
            put_padded_before(out + n + 1, d % scale, decimals);
            return out + n + 1;
        }
        // "0." and at most 3 zeros (more would make the exponent form shorter).
        std::memcpy(out, "0.", 2);
        std::memset(out + 2, '0', static_cast<std::size_t>(-point));
        put_digits_before(out + n + 2 - point, d);
        return out + n + 2 - point;
    }
    if (n > 1) {
        const std::uint64_t scale = powers_of_ten_u64[n - 1];
        out[0] = static_cast<char>('0' + d / scale);
        out[1] = '.';
        put_padded_before(out + n + 1, d % scale, n - 1);
        out += n + 1;
    } else {
        *out++ = static_cast<char>('0' + d);
    }
    out[0] = 'e';
    out[1] = point - 1 < 0 ? '-' : '+';
    out += 2;
    if (magnitude >= 100) {
        *out++ = static_cast<char>('0' + magnitude / 100);
    }
    std::memcpy(out, digit_pairs.text + 2 * (magnitude % 100), 2);
    return out + 2;
}

} // namespace

void append_shortest(std::string& out, double value)
{
    if (!append_non_finite(out, value)) {
        char buffer[json_number_capacity];
        bool integral = false;
        out.append(buffer, put_shortest(buffer, value, integral));
    }
}

char* put_json_number(char* out, double value)
{
    if (!std::isfinite(value)) {
        std::memcpy(out, "null", 4);
        return out + 4;
    }
    bool integral = false;
    char* end = put_shortest(out, value, integral);
    if (integral) {
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
    const double scaled = value * exact_powers_of_ten[decimals];
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
    // Most figures of the tables have one integer digit.
    if (magnitude < 10) {
        *--p = static_cast<char>('0' + magnitude);
    } else {
        p = put_digits_before(p, magnitude);
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
    const double half_unit = 0.5 / exact_powers_of_ten[decimals];
    return degrees >= 180 - half_unit ? 0.0 : degrees;
}

} // namespace sevenparam
