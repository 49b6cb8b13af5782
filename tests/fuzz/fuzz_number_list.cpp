// Feeds arbitrary bytes to the number-list reader and checks what must hold
// for every input: the only errors are the two number errors, and they name a
// field that exists and its exact text; each field means what the C library's
// strtod makes of it in the "C" locale (the harness never sets a locale),
// with only white space allowed after the number; parse_number_list and
// read_coordinate_list agree; every value list survives a trip through
// join_numbers and back; the parameter output never shows "-0.000000" or
// "nan".
#include "numlist/number_list.h"
#include "numlist/result_file.h"

#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace sevenparam;

void check(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

// The fields as the reader must see them: spaces removed, split at every
// comma, the empty rest after a final comma (or of an empty text) dropped.
std::vector<std::string> expected_fields(const std::string& text)
{
    std::string compact;
    for (char c : text) {
        if (c != ' ') {
            compact += c;
        }
    }
    std::vector<std::string> fields;
    std::string field;
    for (char c : compact) {
        if (c == ',') {
            fields.push_back(field);
            field.clear();
        } else {
            field += c;
        }
    }
    if (!field.empty()) {
        fields.push_back(field);
    }
    return fields;
}

bool same_value(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b));
}

// 0 for success, 1 for an invalid number, 2 for a value out of range.
struct outcome {
    int kind = 0;
    std::size_t field_number = 0;
    std::string field_text;
};

template <typename Call> outcome run(Call call)
{
    outcome o;
    try {
        call();
    } catch (const invalid_number_error& e) {
        check(std::strcmp(e.what(), "invalid stod argument") == 0);
        o = {1, e.field_number(), e.field_text()};
    } catch (const number_out_of_range_error& e) {
        check(std::strcmp(e.what(), "stod argument out of range") == 0);
        o = {2, e.field_number(), e.field_text()};
    }
    return o;
}

bool is_field_space(char c)
{
    return c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The outcome that strtod predicts for one field. glibc flags a result that
// rounds to a subnormal as a range error too; the reader keeps such a value,
// so only zero and infinity count as out of range here.
outcome strtod_outcome(const std::string& field, std::size_t field_number, double& value)
{
    char* end = nullptr;
    errno = 0;
    value = std::strtod(field.c_str(), &end);
    const bool range = errno == ERANGE && (value == 0 || std::isinf(value));
    const std::size_t used = static_cast<std::size_t>(end - field.c_str());
    bool junk = used == 0;
    // The tail runs to the end of the field's bytes, past any NUL, which
    // strtod took for the end of the text.
    for (std::size_t i = used; i < field.size(); ++i) {
        junk = junk || !is_field_space(field[i]);
    }
    if (junk) {
        return {1, field_number, field};
    }
    if (range) {
        return {2, field_number, field};
    }
    return {};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> fields = expected_fields(text);

    std::vector<double> values;
    const outcome parsed = run([&] { values = parse_number_list(text); });
    if (parsed.kind != 0) {
        check(parsed.field_number >= 1 && parsed.field_number <= fields.size());
        check(parsed.field_text == fields[parsed.field_number - 1]);
    } else {
        check(values.size() == fields.size());
    }

    // Fields left of the bad one (all of them after a success) must convert
    // to strtod's value, sign of zero and of NaN included; the bad one must
    // fail the same way.
    const std::size_t good = parsed.kind != 0 ? parsed.field_number - 1 : fields.size();
    for (std::size_t i = 0; i < good; ++i) {
        double expected = 0;
        check(strtod_outcome(fields[i], i + 1, expected).kind == 0);
        if (parsed.kind == 0) {
            check(same_value(expected, values[i]) &&
                  std::signbit(expected) == std::signbit(values[i]));
        }
    }
    if (parsed.kind != 0) {
        double ignored = 0;
        const outcome expected = strtod_outcome(fields[good], good + 1, ignored);
        check(expected.kind == parsed.kind);
    }

    const std::size_t untouched = 0xDEADBEEF;
    std::size_t count = untouched;
    std::unique_ptr<double[]> array;
    const outcome read = run([&] { array = read_coordinate_list(text, count); });
    check(read.kind == parsed.kind && read.field_number == parsed.field_number &&
          read.field_text == parsed.field_text);
    if (parsed.kind != 0 || values.empty()) {
        check(array == nullptr && count == untouched);
        if (parsed.kind != 0) {
            return 0;
        }
    } else {
        check(array != nullptr && count == values.size());
        for (std::size_t i = 0; i < count; ++i) {
            check(same_value(array[i], values[i]));
        }
    }

    // "%f" text of any double is a number the reader takes back: no locale
    // comma, no range error (six decimals never underflow), the same count,
    // infinities and NaNs kept, finite values within the six-decimal rounding
    // plus the rounding of the read.
    std::vector<double> again;
    check(run([&] { again = parse_number_list(join_numbers(values)); }).kind == 0);
    check(again.size() == values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        const double v = values[i];
        if (std::isnan(v)) {
            check(std::isnan(again[i]) && std::signbit(again[i]) == std::signbit(v));
        } else if (std::isinf(v)) {
            check(again[i] == v);
        } else {
            check(std::fabs(again[i] - v) <= 1e-6 + std::fabs(v) * 0x1p-50);
        }
    }

    double args[7] = {};
    double ave[3] = {};
    for (std::size_t i = 0; i < values.size() && i < 10; ++i) {
        (i < 7 ? args[i] : ave[i - 7]) = values[i];
    }
    const std::string out = compose_parameter_output(args, ave, ave);
    check(out.find("-0.000000") == std::string::npos);
    check(out.find("nan") == std::string::npos);
    return 0;
}
