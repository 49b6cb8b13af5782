// Number lists: the text form of every point list.
//
// A number list is a byte string of decimal numbers separated by "," (0x2C),
// three per point in the order X, Y, Z, point after point. Every space (0x20)
// is removed before the text is split, wherever it stands: "1 000.5" reads as
// 1000.5 and "1 2 3" as the single value 123. Each field between commas holds
// one number in the syntax of the C library's strtod in the "C" locale
// (leading tab, LF, VT, FF or CR skipped; optional sign; decimal or
// hexadecimal mantissa with optional exponent; "inf", "infinity", "nan" in any
// letter case). The decimal separator is always ".", whatever the process
// locale: a comma always separates fields. A field may be followed by white
// space (tab, LF, VT, FF, CR) and nothing else. A final comma adds nothing;
// the empty text, or one of spaces alone, is the empty list. Any other empty
// field ("1,,2", ",1", ",") is an invalid number. A NUL byte is an ordinary
// byte of its field, so it makes that field invalid.
#ifndef SEVENPARAM_NUMLIST_NUMBER_LIST_H
#define SEVENPARAM_NUMLIST_NUMBER_LIST_H

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace sevenparam {

// A field from which no number can be converted, or whose number is followed
// by anything but white space. what() is "invalid stod argument".
class invalid_number_error : public std::invalid_argument {
public:
    invalid_number_error(std::size_t field_number, std::string field_text);
    // 1-based number of the bad field in its list.
    std::size_t field_number() const noexcept { return field_number_; }
    // The field's bytes, after the spaces were removed.
    const std::string& field_text() const noexcept { return field_text_; }

private:
    std::size_t field_number_;
    std::string field_text_;
};

// A field whose value lies outside the range of a double: overflow, or a value
// so small that it rounds to zero. A value that rounds to a subnormal double is
// read as that value. what() is "stod argument out of range".
class number_out_of_range_error : public std::out_of_range {
public:
    number_out_of_range_error(std::size_t field_number, std::string field_text);
    std::size_t field_number() const noexcept { return field_number_; }
    const std::string& field_text() const noexcept { return field_text_; }

private:
    std::size_t field_number_;
    std::string field_text_;
};

// Converts one field, the bytes [first, last), in the syntax above (leading
// and trailing white space other than the space itself allowed; no commas,
// no spaces removed): the number reader shared by every input format.
// Raises invalid_number_error or number_out_of_range_error carrying
// `field_number` and the field's bytes.
double convert_number_field(const char* first, const char* last, std::size_t field_number);

// Parses `text` (taken as a copy; the caller's text is unchanged) into its
// values, in text order. Fields are converted from left to right; the first
// bad field raises invalid_number_error or number_out_of_range_error and no
// value is returned.
std::vector<double> parse_number_list(std::string text);

// Parses `text` like parse_number_list into a newly allocated array of exactly
// as many doubles as there are values, and stores that number in `count`
// (the true number of values, however many there are).
// For a text without values it returns null and leaves `count` untouched, so
// callers set their count to 0 first. Raises the errors of parse_number_list.
std::unique_ptr<double[]> read_coordinate_list(const std::string& text, std::size_t& count);

} // namespace sevenparam

#endif
