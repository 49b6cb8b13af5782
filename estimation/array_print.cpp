#include "estimation/array_print.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ostream>

namespace sevenparam {

namespace {

constexpr int field_width = 10;

void append_right_aligned(std::string& out, const char* text, std::size_t length)
{
    if (length < field_width)
        out.append(field_width - length, ' ');
    out.append(text, length);
}

} // namespace

void append_fixed4(std::string& out, double v)
{
    // printf's own text for the values that have no digits, fixed here so that
    // every C library gives the same listing.
    if (std::isnan(v)) {
        append_right_aligned(out, std::signbit(v) ? "-nan" : "nan", std::signbit(v) ? 4 : 3);
        return;
    }
    if (std::isinf(v)) {
        append_right_aligned(out, v < 0 ? "-inf" : "inf", v < 0 ? 4 : 3);
        return;
    }

    // A listing of 20,000 points holds a quarter of a million values, so the
    // common case is formatted here rather than by snprintf, exactly as
    // printf rounds: the decimal nearest to the binary value, ties to even.
    //
    // |v| = mant * 2^exp2 with mant < 2^53, so |v| * 10^4 = q * 2^(exp2 + 4)
    // with q = mant * 625 < 2^63: the scaled value is an integer shifted right
    // by s = -(exp2 + 4) bits, and the bits shifted out decide the rounding.
    const double magnitude = std::fabs(v);
    int exp2 = 0;
    const double fraction = std::frexp(magnitude, &exp2); // magnitude = fraction * 2^exp2
    const auto mant = static_cast<std::uint64_t>(std::ldexp(fraction, 53));
    exp2 -= 53;
    const int s = -(exp2 + 4);
    if (s <= 0) {
        // |v| >= 2^48: more digits than the fast path carries.
        char buffer[400];
        const int length = std::snprintf(buffer, sizeof buffer, "%10.4f", v);
        out.append(buffer, static_cast<std::size_t>(length));
        return;
    }
    const std::uint64_t q = mant * 625;
    std::uint64_t units = 0; // round(|v| * 10^4)
    if (s < 64) {
        units = q >> s;
        const std::uint64_t rest = q & ((std::uint64_t{1} << s) - 1);
        const std::uint64_t half = std::uint64_t{1} << (s - 1);
        if (rest > half || (rest == half && (units & 1) != 0))
            ++units;
    } // else q < 2^63 <= half: rounds to zero.

    // Digits from the right: four decimals, the point, at least one integer digit.
    char digits[32];
    char* p = digits + sizeof digits;
    for (int i = 0; i < 4; ++i) {
        *--p = static_cast<char>('0' + units % 10);
        units /= 10;
    }
    *--p = '.';
    do {
        *--p = static_cast<char>('0' + units % 10);
        units /= 10;
    } while (units != 0);
    if (std::signbit(v))
        *--p = '-';
    append_right_aligned(out, p, static_cast<std::size_t>(digits + sizeof digits - p));
}

void print_array(std::ostream& out, const char* label, const Eigen::Ref<const Eigen::MatrixXd>& a)
{
    const Eigen::Index rows = a.rows();
    const Eigen::Index cols = a.cols();
    std::string text;
    text.reserve(64 + static_cast<std::size_t>(rows * (cols * (field_width + 1) + 1)));
    text += label;
    text += "\n[";
    text += std::to_string(rows);
    text += ' ';
    text += std::to_string(cols);
    text += " 1 1]\n";
    if (a.size() == 0) {
        text += "<empty>\n";
    } else {
        for (Eigen::Index r = 0; r < rows; ++r) {
            for (Eigen::Index c = 0; c < cols; ++c) {
                append_fixed4(text, a(r, c));
                text += ' ';
            }
            text += '\n';
        }
        if (rows > 1)
            text += '\n';
    }
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.flush();
}

} // namespace sevenparam
