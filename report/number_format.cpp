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

#ifdef __SIZEOF_INT128__
// 10^0 .. 10^19, every power of ten in 64 bits.
struct power_table_64 {
    std::uint64_t value[20];
    constexpr power_table_64() : value()
    {
        std::uint64_t power = 1;
        for (int p = 0; p < 20; ++p) {
            value[p] = power;
            power *= 10;
        }
    }
};
constexpr power_table_64 powers_of_ten_64;

__extension__ typedef unsigned __int128 uint128;

// 10^0 .. 10^21 in 128 bits.
struct power_table_128 {
    uint128 value[22];
    constexpr power_table_128() : value()
    {
        uint128 power = 1;
        for (int p = 0; p < 22; ++p) {
            value[p] = power;
            power *= 10;
        }
    }
};
constexpr power_table_128 powers_of_ten_128;

// The 4 digits of v < 10000, zero-padded, at t.
void put_4_digits(char* t, std::uint32_t v)
{
    std::memcpy(t, digit_pairs.text + 2 * (v / 100), 2);
    std::memcpy(t + 2, digit_pairs.text + 2 * (v % 100), 2);
}

// The 8 digits of v < 10^8, zero-padded, at t.
void put_8_digits(char* t, std::uint32_t v)
{
    put_4_digits(t, v / 10000);
    put_4_digits(t + 4, v % 10000);
}

// The 20 digits of `d`, zero-padded.
void put_20_digits(char* t, std::uint64_t d)
{
    const std::uint64_t top = d / 100000000;
    const std::uint64_t high = top / 100000000;
    put_4_digits(t, static_cast<std::uint32_t>(high));
    put_8_digits(t + 4, static_cast<std::uint32_t>(top - high * 100000000));
    put_8_digits(t + 12, static_cast<std::uint32_t>(d - top * 100000000));
}

// `digits` (`count` of them) * 10^exponent as std::to_chars writes it
// without a format: the shorter of the fixed and the scientific form, the
// fixed one on a tie.
char* put_decimal(char* out, std::uint64_t digits, int count, int exponent)
{
    char all[20];
    put_20_digits(all, digits);
    const char* first = all + 20 - count;
    const int leading = exponent + count - 1; // the power of ten of the first digit
    const int magnitude = leading < 0 ? -leading : leading;
    const int scientific = count + (count > 1 ? 1 : 0) + 2 + (magnitude >= 100 ? 3 : 2);
    const int fixed = exponent >= 0  ? count + exponent
                      : leading >= 0 ? count + 1
                                     : count + 1 - leading;
    if (fixed <= scientific) {
        if (exponent >= 0) {
            std::memcpy(out, first, static_cast<std::size_t>(count));
            std::memset(out + count, '0', static_cast<std::size_t>(exponent));
            return out + count + exponent;
        }
        if (leading >= 0) { // the point among the digits
            const int whole = leading + 1;
            std::memcpy(out, first, static_cast<std::size_t>(whole));
            out[whole] = '.';
            std::memcpy(out + whole + 1, first + whole, static_cast<std::size_t>(count - whole));
            return out + count + 1;
        }
        out[0] = '0';
        out[1] = '.';
        std::memset(out + 2, '0', static_cast<std::size_t>(-leading - 1));
        std::memcpy(out + fixed - count, first, static_cast<std::size_t>(count));
        return out + fixed;
    }
    char* p = out;
    *p++ = first[0];
    if (count > 1) {
        *p++ = '.';
        std::memcpy(p, first + 1, static_cast<std::size_t>(count - 1));
        p += count - 1;
    }
    *p++ = 'e';
    *p++ = leading < 0 ? '-' : '+';
    if (magnitude >= 100) {
        *p++ = static_cast<char>('0' + magnitude / 100);
    }
    std::memcpy(p, digit_pairs.text + 2 * (magnitude % 100), 2);
    return p + 2;
}
#endif

// The shortest round-trip text of a finite `value`, as std::to_chars(first,
// last, value) writes it, into `out` (room for 32 bytes); returns its end.
//
// Residual tables hold millions of numbers, most of them from 1e-4 to 2^53
// in magnitude, which take an exact path in 128-bit integers here (some 20 %
// faster than the C++ library's); the rest take std::to_chars. The path
// finds the digits as Ryu does (Ulf Adams, "Ryu: fast float-to-string
// conversion", PLDI 2018): v = mv 2^e2 (mv = 4 mantissa) lies in the
// interval of the reals that read back as v, from mm 2^e2 to mp 2^e2, both
// ends included when the mantissa is even. The three are scaled by 10^p
// exactly, p chosen so that they have 18 or 19 digits (the interval is then
// more than 10 units wide: at least one digit always goes), keeping whether
// each floor dropped anything; digits are removed while the interval still
// holds a shorter number, and the last one kept is rounded to nearest (ties
// to even): the closest of the shortest candidates.
char* put_shortest(char* out, double value)
{
#ifdef __SIZEOF_INT128__
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    const int biased = static_cast<int>((bits >> 52) & 0x7FF);
    const int binary = biased - 1023; // 2^binary <= |v| < 2^(binary + 1)
    // floor(binary log10(2)) for |binary| < 1650 (an arithmetic shift floors).
    const int decimal = (binary * 78913) >> 18;
    if (biased != 0 && decimal >= -4 && binary < 53) {
        const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
        const int p = 17 - decimal;      // 2 to 21: mp 10^p < 2^55 10^21 < 2^128
        const int shift = 1077 - biased; // -e2, 2 to 69
        const std::uint64_t m2 = fraction | (std::uint64_t{1} << 52);
        const bool accept_bounds = (m2 & 1) == 0;
        // mv = 4 m2, mp = mv + 2, mm = mv - 2 (mv - 1 at a power of two).
        const uint128 scale = powers_of_ten_128.value[p];
        const uint128 exact_r = uint128{m2} * scale << 2;
        const uint128 exact_p = exact_r + (scale << 1);
        const uint128 exact_m = exact_r - (fraction != 0 ? scale << 1 : scale);
        const uint128 low_mask = (uint128{1} << shift) - 1;
        // 10^17 <= v 10^p < 2 10^18: each fits in 64 bits.
        std::uint64_t vm = static_cast<std::uint64_t>(exact_m >> shift);
        std::uint64_t vr = static_cast<std::uint64_t>(exact_r >> shift);
        std::uint64_t vp = static_cast<std::uint64_t>(exact_p >> shift);
        int count = vr >= powers_of_ten_64.value[18] ? 19 : 18;
        bool vm_trailing_zeros = accept_bounds && (exact_m & low_mask) == 0;
        bool vr_trailing_zeros = (exact_r & low_mask) == 0;
        if (!accept_bounds && (exact_p & low_mask) == 0) {
            --vp; // the upper end itself is excluded
        }
        int removed = 0;
        std::uint64_t digits;
        if (!vm_trailing_zeros && !vr_trailing_zeros) {
            // Nearly always: no floor was exact, so no tie, no end is taken.
            bool round_up = false;
            const std::uint64_t vp100 = vp / 100;
            const std::uint64_t vm100 = vm / 100;
            if (vp100 > vm100) {
                const std::uint64_t vr100 = vr / 100;
                round_up = vr - 100 * vr100 >= 50;
                vr = vr100;
                vp = vp100;
                vm = vm100;
                removed = 2;
            }
            for (;;) {
                const std::uint64_t vp10 = vp / 10;
                const std::uint64_t vm10 = vm / 10;
                if (vp10 <= vm10) {
                    break;
                }
                const std::uint64_t vr10 = vr / 10;
                round_up = vr - 10 * vr10 >= 5;
                vr = vr10;
                vp = vp10;
                vm = vm10;
                ++removed;
            }
            digits = vr + ((vr == vm || round_up) ? 1 : 0);
        } else {
            // An exact scaled value: ends included and ties to even.
            unsigned last_removed = 0;
            for (;;) {
                const std::uint64_t vp10 = vp / 10;
                const std::uint64_t vm10 = vm / 10;
                if (vp10 <= vm10) {
                    break;
                }
                const std::uint64_t vr10 = vr / 10;
                vm_trailing_zeros = vm_trailing_zeros && vm - 10 * vm10 == 0;
                vr_trailing_zeros = vr_trailing_zeros && last_removed == 0;
                last_removed = static_cast<unsigned>(vr - 10 * vr10);
                vr = vr10;
                vp = vp10;
                vm = vm10;
                ++removed;
            }
            if (vm_trailing_zeros) {
                for (;;) {
                    const std::uint64_t vm10 = vm / 10;
                    if (vm - 10 * vm10 != 0) {
                        break;
                    }
                    const std::uint64_t vr10 = vr / 10;
                    vr_trailing_zeros = vr_trailing_zeros && last_removed == 0;
                    last_removed = static_cast<unsigned>(vr - 10 * vr10);
                    vr = vr10;
                    vp /= 10;
                    vm = vm10;
                    ++removed;
                }
            }
            if (vr_trailing_zeros && last_removed == 5 && vr % 2 == 0) {
                last_removed = 4; // exactly halfway: to even
            }
            digits =
                vr + (((vr == vm && (!accept_bounds || !vm_trailing_zeros)) || last_removed >= 5)
                          ? 1
                          : 0);
        }
        count -= removed;
        if (digits == powers_of_ten_64.value[count]) {
            ++count; // rounding up carried into one more digit
        }
        if ((bits >> 63) != 0) {
            *out++ = '-';
        }
        return put_decimal(out, digits, count, removed - p);
    }
#endif
    return std::to_chars(out, out + 32, value).ptr;
}

} // namespace

void append_shortest(std::string& out, double value)
{
    if (!append_non_finite(out, value)) {
        char buffer[32]; // the shortest form of any double is at most 24 bytes
        out.append(buffer, put_shortest(buffer, value));
    }
}

char* put_json_number(char* out, double value)
{
    if (!std::isfinite(value)) {
        std::memcpy(out, "null", 4);
        return out + 4;
    }
    // The shortest form of any double is at most 24 bytes.
    char* end = put_shortest(out, value);
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
    // From the end: the decimals, the point, then the integer digits two at a
    // time, at least one.
    char* p = end;
    for (int i = 0; i < decimals; ++i) {
        *--p = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
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
    const double half_unit = 0.5 * std::pow(10.0, -decimals);
    return degrees >= 180 - half_unit ? 0.0 : degrees;
}

} // namespace sevenparam
