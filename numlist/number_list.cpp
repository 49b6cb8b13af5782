#include "numlist/number_list.h"

#include "estimation/decimal_digits.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <system_error>
#include <utility>

namespace sevenparam {

invalid_number_error::invalid_number_error(std::size_t field_number, std::string field_text)
    : std::invalid_argument("invalid stod argument"), field_number_(field_number),
      field_text_(std::move(field_text))
{
}

number_out_of_range_error::number_out_of_range_error(std::size_t field_number,
                                                     std::string field_text)
    : std::out_of_range("stod argument out of range"), field_number_(field_number),
      field_text_(std::move(field_text))
{
}

namespace {

// The white space that strtod skips in the "C" locale, less the space itself,
// which never reaches a field.
bool is_field_space(char c)
{
    return c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool is_hex_digit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// libstdc++'s hex reader (GCC 12) takes "p+-1" as the exponent -1, so that
// "0x8p+-1" would read as 4. In strtod's syntax the exponent is one optional
// sign and then digits; a malformed one is not part of the number and would be
// left behind as trailing bytes, which makes the field invalid anyway.
bool hex_exponent_sound(const char* first, const char* last)
{
    for (const char* q = first; q != last; ++q) {
        if (*q == 'p' || *q == 'P') {
            ++q;
            if (q != last && (*q == '+' || *q == '-')) {
                ++q;
            }
            return q != last && *q >= '0' && *q <= '9';
        }
    }
    return true;
}

// A field that is a plain decimal, [+-]DIGITS[.DIGITS], as nearly every
// coordinate is, read without from_chars: where the integer m of all its
// digits is at most 2^53 and at most 22 of them follow the point, m and
// 10^decimals are both doubles exactly, and their quotient, rounded once,
// is the correctly rounded value that from_chars gives too (Clinger's fast
// path). False, with `value` untouched, for any other field.
bool read_plain_decimal(const char* p, const char* end, double& value)
{
    const bool negative = p != end && *p == '-';
    if (p != end && (*p == '-' || *p == '+')) {
        ++p;
    }
    constexpr int most_digits = 19; // m below 10^19 fits 64 bits
    std::uint64_t m = 0;
    int digits = 0;
    const auto take_digits = [&] {
        const char* const start = p;
        for (; p != end && static_cast<unsigned char>(*p - '0') < 10; ++p) {
            m = m * 10 + static_cast<unsigned>(*p - '0');
            ++digits;
        }
        return static_cast<int>(p - start);
    };
    if (take_digits() == 0) {
        return false;
    }
    int decimals = 0;
    if (p != end && *p == '.') {
        ++p;
        decimals = take_digits();
        if (decimals == 0) {
            return false;
        }
    }
    if (p != end || digits > most_digits || m > (std::uint64_t{1} << 53) || decimals > 22) {
        return false;
    }
    const double magnitude = static_cast<double>(m) / exact_powers_of_ten[decimals];
    value = negative ? -magnitude : magnitude;
    return true;
}

} // namespace

// std::from_chars never consults the locale, so a decimal-comma locale in the
// calling process cannot change what a field means.
double convert_number_field(const char* first, const char* last, std::size_t field_number)
{
    if (double value = 0; read_plain_decimal(first, last, value)) {
        return value;
    }
    const char* p = first;
    const char* const end = last;
    const auto field = [&] { return std::string(first, last); };
    while (p != end && is_field_space(*p)) {
        ++p;
    }

    bool negative = false;
    if (p != end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
        // from_chars takes a '-' of its own; strtod does not take two signs.
        if (p != end && (*p == '+' || *p == '-')) {
            throw invalid_number_error(field_number, field());
        }
    }

    double value = 0.0;
    std::from_chars_result result{};
    if (end - p >= 3 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X') &&
        (is_hex_digit(p[2]) || p[2] == '.')) {
        // from_chars' hex form has no "0x" prefix but would accept a sign,
        // "inf" or "nan" after it; the digit-or-point test above keeps those
        // out. A failing hex field such as "0x.p1" would give strtod only its
        // "0", leaving "x.p1" behind, which is refused anyway.
        result = std::from_chars(p + 2, end, value, std::chars_format::hex);
        if (result.ec != std::errc::invalid_argument && !hex_exponent_sound(p + 2, result.ptr)) {
            throw invalid_number_error(field_number, field());
        }
    } else {
        result = std::from_chars(p, end, value, std::chars_format::general);
    }

    if (result.ec == std::errc::invalid_argument) {
        throw invalid_number_error(field_number, field());
    }
    // Anything after the number but white space would otherwise be dropped
    // without notice ("12abc" read as 12, a line feed swallowing the next
    // number). Such a field is no number at all, so this test comes before the
    // range test: "1e400x" is invalid, not out of range.
    for (const char* q = result.ptr; q != end; ++q) {
        if (!is_field_space(*q)) {
            throw invalid_number_error(field_number, field());
        }
    }
    if (result.ec == std::errc::result_out_of_range) {
        throw number_out_of_range_error(field_number, field());
    }
    // Negation rather than a multiplication keeps the sign of "-nan" and
    // gives -0.0 for "-0".
    return negative ? -value : value;
}

std::vector<double> parse_number_list(std::string text)
{
    std::string compact;
    compact.reserve(text.size());
    for (char c : text) {
        if (c != ' ') {
            compact.push_back(c);
        }
    }

    std::vector<double> values;
    std::size_t field_number = 0;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = compact.find(',', start);
        if (comma == std::string::npos) {
            // The rest after the last comma: empty after a final comma or for
            // an empty text, and then it adds nothing.
            if (start < compact.size()) {
                values.push_back(convert_number_field(
                    compact.data() + start, compact.data() + compact.size(), ++field_number));
            }
            return values;
        }
        values.push_back(
            convert_number_field(compact.data() + start, compact.data() + comma, ++field_number));
        start = comma + 1;
    }
}

std::unique_ptr<double[]> read_coordinate_list(const std::string& text, std::size_t& count)
{
    const std::vector<double> values = parse_number_list(text);
    if (values.empty()) {
        return nullptr;
    }
    std::unique_ptr<double[]> array(new double[values.size()]);
    std::copy(values.begin(), values.end(), array.get());
    count = values.size();
    return array;
}

} // namespace sevenparam
