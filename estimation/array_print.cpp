#include "estimation/array_print.h"

#include "estimation/decimal_digits.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <vector>

namespace sevenparam {

namespace {

constexpr int field_width = 10;
// Below 2^48 a value's "%10.4f" text has at most 21 characters ("-", 15
// integer digits, ".", 4 decimals); above, printf may need up to 316.
constexpr double fast_limit = 281474976710656.0; // 2^48
constexpr std::size_t fast_text_max = 21;
constexpr std::size_t slow_text_max = 320;
// For a value below fast_limit, write_fixed4_before stores fixed-size words
// and may overwrite up to this many bytes before `end` (its text included).
constexpr std::size_t fast_write_reach = 40;

// Little-endian words hold their first byte lowest; on a big-endian machine
// the digit words would need their bytes reversed.
void store(char* dest, std::uint64_t word)
{
    std::memcpy(dest, &word, sizeof word);
}
void store(char* dest, std::uint32_t word)
{
    std::memcpy(dest, &word, sizeof word);
}

char* place_before(char* end, const char* text, std::size_t length)
{
    std::size_t padding = length < field_width ? field_width - length : 0;
    std::memcpy(end - length, text, length);
    while (padding-- > 0)
        *(end - length - padding - 1) = ' ';
    return end - length - (length < field_width ? field_width - length : 0);
}

// Writes the "%10.4f" text of v so that it ends just before `end`, and
// returns its first byte. The bytes before `end` must be writable: up to
// fast_write_reach of them when |v| < fast_limit, slow_text_max otherwise.
// Bytes before the returned start may be overwritten too, so a listing is
// formatted from its last value to its first.
char* write_fixed4_before(char* end, double v)
{
    // printf's own text for the values that have no digits, fixed here so that
    // every C library gives the same listing.
    if (std::isnan(v))
        return std::signbit(v) ? place_before(end, "-nan", 4) : place_before(end, "nan", 3);
    if (std::isinf(v))
        return v < 0 ? place_before(end, "-inf", 4) : place_before(end, "inf", 3);
    if (!(std::fabs(v) < fast_limit)) {
        char buffer[slow_text_max + 1];
        const int length = std::snprintf(buffer, sizeof buffer, "%10.4f", v);
        return place_before(end, buffer, static_cast<std::size_t>(length));
    }

    // A listing of 20,000 points holds a quarter of a million values, so the
    // common case is formatted here rather than by snprintf, exactly as
    // printf rounds: the decimal nearest to the binary value, ties to even.
    //
    // From the IEEE 754 bits, |v| = mant * 2^exp2 with mant < 2^53, so
    // |v| * 10^4 = q * 2^(exp2 + 4) with q = mant * 625 < 2^63: the scaled
    // value is q shifted right by s = -(exp2 + 4) > 0 bits (|v| < 2^48), and
    // the bits shifted out decide the rounding.
    std::uint64_t bits = 0;
    std::memcpy(&bits, &v, sizeof bits);
    const bool negative = (bits >> 63) != 0;
    const int biased_exponent = static_cast<int>((bits >> 52) & 0x7FF);
    std::uint64_t mant = bits & ((std::uint64_t{1} << 52) - 1);
    int exp2 = -1074; // subnormal
    if (biased_exponent != 0) {
        mant |= std::uint64_t{1} << 52;
        exp2 = biased_exponent - 1075;
    }
    const int s = -(exp2 + 4);
    const std::uint64_t q = mant * 625;
    std::uint64_t units = 0; // round(|v| * 10^4)
    if (s < 64) {
        units = q >> s;
        const std::uint64_t rest = q & ((std::uint64_t{1} << s) - 1);
        const std::uint64_t half = std::uint64_t{1} << (s - 1);
        // Branch-free: whether a value rounds up is as good as random.
        units += static_cast<std::uint64_t>((rest > half) | ((rest == half) & (units & 1)));
    } // else q < 2^63 <= half: rounds to zero.

    // Fixed work without data-dependent branches (the values of a listing
    // differ in length and sign at random): all 16 integer digit places and
    // the decimals are stored as words, then one word of spaces covers the
    // leading zeros and the padding, and the sign takes the place before the
    // first digit.
    const std::uint64_t whole = units / 10000; // < 2^48 < 10^15
    store(end - 4, four_digits(static_cast<std::uint32_t>(units % 10000)));
    end[-5] = '.';
    if (whole < 100000000) { // coordinates of the Earth's size and less
        store(end - 13, eight_digits(static_cast<std::uint32_t>(whole)));
        std::memcpy(end - 21, "00000000", 8);
    } else {
        store(end - 13, eight_digits(static_cast<std::uint32_t>(whole % 100000000)));
        store(end - 21, eight_digits(static_cast<std::uint32_t>(whole / 100000000)));
    }
    const int whole_digits = decimal_digit_count(whole); // at least one
    char* const first_digit = end - 5 - whole_digits;
    std::memcpy(first_digit - 16, "                ", 16);
    first_digit[-1] = negative ? '-' : ' ';
    const int length = whole_digits + 5 + (negative ? 1 : 0);
    return end - (length < field_width ? field_width : length);
}

} // namespace

void append_fixed4(std::string& out, double v)
{
    char buffer[slow_text_max + fast_write_reach];
    char* const end = buffer + sizeof buffer;
    const char* const start = write_fixed4_before(end, v);
    out.append(start, static_cast<std::size_t>(end - start));
}

void print_array(std::ostream& out, const char* label, const Eigen::Ref<const Eigen::MatrixXd>& a)
{
    // Like every formatted output function: nothing is formatted for a
    // stream that cannot take output.
    const std::ostream::sentry ready(out);
    if (!ready)
        return;
    const Eigen::Index rows = a.rows();
    const Eigen::Index cols = a.cols();
    std::string head = label;
    head += "\n[" + std::to_string(rows) + ' ' + std::to_string(cols) + " 1 1]\n";
    out.write(head.data(), static_cast<std::streamsize>(head.size()));
    if (a.size() == 0) {
        out << "<empty>\n";
        out.flush();
        return;
    }

    // Rows are formatted in groups, each from its end backwards into a buffer
    // sized for its longest possible text and written in one piece: no write
    // per row, and no buffer the size of the whole listing.
    constexpr Eigen::Index rows_per_group = 1024;
    std::vector<char> buffer;
    for (Eigen::Index first = 0; first < rows; first += rows_per_group) {
        const Eigen::Index last = std::min(rows, first + rows_per_group);
        std::size_t room = static_cast<std::size_t>(last - first) *
                               (static_cast<std::size_t>(cols) * (fast_text_max + 1) + 1) +
                           1 + fast_write_reach;
        for (Eigen::Index r = first; r < last; ++r)
            for (Eigen::Index c = 0; c < cols; ++c)
                if (!(std::fabs(a(r, c)) < fast_limit))
                    room += slow_text_max;
        if (buffer.size() < room)
            buffer.resize(room);
        char* const end = buffer.data() + room;
        char* start = end;
        if (last == rows && rows > 1)
            *--start = '\n';
        for (Eigen::Index r = last - 1; r >= first; --r) {
            *--start = '\n';
            for (Eigen::Index c = cols - 1; c >= 0; --c) {
                *--start = ' ';
                start = write_fixed4_before(start, a(r, c));
            }
        }
        out.write(start, static_cast<std::streamsize>(end - start));
    }
    out.flush();
}

} // namespace sevenparam
