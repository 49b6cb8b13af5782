// Numbers as the report writes them. Every function appends to `out` and
// never consults the locale: the decimal separator is always ".".
#ifndef SEVENPARAM_REPORT_NUMBER_FORMAT_H
#define SEVENPARAM_REPORT_NUMBER_FORMAT_H

#include <cstddef>
#include <string>

namespace sevenparam {

// The shortest text that reads back as exactly `value` ("0.1", "-1.5e-07",
// "42"); "nan", "inf" or "-inf" when it is not finite.
void append_shortest(std::string& out, double value);

// The same as a JSON number: an integral value keeps a ".0" ("42.0"), so that
// it reads back as a floating-point number; a non-finite value is "null".
void append_json_number(std::string& out, double value);

// The most bytes put_json_number writes ("-2.2250738585072014e-308",
// "-9007199254740991.0").
inline constexpr std::size_t json_number_capacity = 26;

// append_json_number into `out`, which has room for json_number_capacity
// bytes; returns the end of the text. For rows built in a buffer of their own.
char* put_json_number(char* out, double value);

// format_fixed's largest output.
inline constexpr std::size_t fixed_capacity = 400;

// append_fixed into `out`, which has room for fixed_capacity bytes; returns
// the length written.
std::size_t format_fixed(char* out, double value, int decimals);

// The same text written so that it ends just before `end` (with room for
// fixed_capacity bytes before it); returns where it begins. For right-aligned
// columns.
char* format_fixed_before(char* end, double value, int decimals);

// `value` with exactly `decimals` (0 to 9) digits after the point, rounded to
// nearest, without an exponent; a value that rounds to zero has no minus sign.
// "nan", "inf" or "-inf" when it is not finite.
void append_fixed(std::string& out, double value, int decimals);

// `value` with `digits` (1 to 17) significant digits, in the shorter of fixed
// and exponent form ("0.00123", "1.23e-09").
void append_significant(std::string& out, double value, int digits);

// An azimuth of an axis in [0, 180) degrees as shown to `decimals` (0 to 9) decimals:
// one that rounds up to 180 is shown as 0, the same axis.
double axis_azimuth_shown(double degrees, int decimals);

} // namespace sevenparam

#endif
