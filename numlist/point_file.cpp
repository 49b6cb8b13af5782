#include "numlist/point_file.h"

#include "numlist/message_excerpt.h"
#include "numlist/number_list.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string_view>
#include <vector>

#include <sys/stat.h>

namespace sevenparam {

namespace {

constexpr const char* axis_names[] = {"X", "Y", "Z"};

} // namespace

namespace {

// Text from the file, quoted, in the short printable form of every message.
std::string excerpt(std::string_view bytes)
{
    return "\"" + message_excerpt(bytes) + "\"";
}

[[noreturn]] void fail(const std::string& file, std::size_t line, const std::string& what)
{
    point_line_error(file, line, what);
}

bool is_number(std::string_view field)
{
    try {
        convert_number_field(field.data(), field.data() + field.size(), 1);
    } catch (const invalid_number_error&) {
        return false;
    } catch (const number_out_of_range_error&) {
    }
    return true;
}

// The layout of a line: whether it names its point, and the precision it
// gives.
struct line_shape {
    bool named = false;
    point_precision precision = point_precision::none;
};

// The shape of a line of `count` fields, if it has one.
std::optional<line_shape> shape_of(std::size_t count)
{
    switch (count) {
    case 3:
        return line_shape{false, point_precision::none};
    case 4:
        return line_shape{true, point_precision::none};
    case 6:
        return line_shape{false, point_precision::sigmas};
    case 7:
        return line_shape{true, point_precision::sigmas};
    case 9:
        return line_shape{false, point_precision::covariance};
    case 10:
        return line_shape{true, point_precision::covariance};
    default:
        return std::nullopt;
    }
}

std::size_t count_of(line_shape shape)
{
    return 3 + (shape.named ? 1 : 0) + precision_numbers(shape.precision);
}

// The numbers of a line giving `precision`, for messages: "X Y Z sX sY sZ".
std::string numbers_text(point_precision precision)
{
    const precision_names& names = geocentric_precision_names();
    std::string text = "X Y Z";
    if (precision == point_precision::sigmas) {
        for (const std::string& name : names.sigma) {
            text += " " + name;
        }
    } else if (precision == point_precision::covariance) {
        for (const std::string& name : names.covariance) {
            text += " " + name;
        }
    }
    return text;
}

constexpr const char* any_precision = ", then 3 standard deviations, 6 covariance elements or none";

// What is wrong with a line of `count` fields (the first point_fields_kept
// of them stored) of a plain file whose points are `named`, or whose first
// point this is (`first_line` 0), where the line holds at most 5 fields.
// Empty when the count fits and the caller goes on.
std::string wrong_plain_fields(const point_fields& fields, std::size_t count, bool named,
                               std::size_t first_line)
{
    const bool counts_fit = first_line == 0 ? count == 3 || count == 4 : count == (named ? 4 : 3);
    if (counts_fit) {
        return std::string();
    }
    const std::size_t stored = std::min<std::size_t>(count, 5);
    const bool leading_name = count >= 1 && !is_number(fields[0]);
    bool rest_numbers = true;
    for (std::size_t k = 1; k < stored; ++k) {
        rest_numbers = rest_numbers && is_number(fields[k]);
    }
    const char* kind = rest_numbers ? "number" : "field";
    // A name with too few coordinates: say how many there are.
    if (leading_name && count < 4 && (first_line == 0 ? count < 3 : named)) {
        return "point " + excerpt(fields[0]) + " holds " + counted(count - 1, kind) +
               " where X Y Z are needed";
    }
    if (first_line != 0 && (count == 3 || count == 4)) {
        const std::string first = std::to_string(first_line);
        if (count == 3) {
            return "a point without a name, where line " + first + " names its point";
        }
        return leading_name
                   ? "a named point, where line " + first + " and the lines after it name none"
                   : counted(count, kind) + " where X Y Z are needed, as line " + first +
                         " and the lines after it name no point";
    }
    return counted(count, "field") + " where X Y Z or NAME X Y Z are expected";
}

// What is wrong with a line of `count` fields in a file whose first point
// (on `first_line`, 0 when this is the first) has `file_shape`. Empty when
// the line fits.
std::string wrong_fields(const point_fields& fields, std::size_t count, line_shape file_shape,
                         std::size_t first_line)
{
    const std::optional<line_shape> shape = shape_of(count);
    const bool first = first_line == 0;
    // Plain files keep their own messages.
    if ((first || file_shape.precision == point_precision::none) && count <= 5) {
        return wrong_plain_fields(fields, count, file_shape.named, first_line);
    }
    // Most lines fit: the fields are looked at closer only for a message.
    if (first ? shape && (shape->named || shape->precision == point_precision::none)
              : count == count_of(file_shape)) {
        return std::string();
    }
    const std::size_t stored = std::min(count, point_fields_kept);
    const bool leading_name = !is_number(fields[0]);
    bool rest_numbers = true;
    for (std::size_t k = 1; k < stored; ++k) {
        rest_numbers = rest_numbers && is_number(fields[k]);
    }
    const char* kind = rest_numbers ? "number" : "field";
    const auto name_with = [&](const std::string& needed) {
        return "point " + excerpt(fields[0]) + " holds " + counted(count - 1, kind) + " where " +
               needed + " are needed";
    };
    if (first) {
        if (shape && !leading_name) {
            return std::string(); // an unnamed point with its precision
        }
        if (shape) {
            return name_with(std::string("X Y Z") + any_precision);
        }
        return counted(count, "field") + " where X Y Z or NAME X Y Z are expected" + any_precision;
    }
    const std::string first_text = std::to_string(first_line);
    // A name with a wrong number of numbers after it.
    if (file_shape.named && leading_name && !(shape && shape->named)) {
        return name_with(numbers_text(file_shape.precision));
    }
    if (!shape) {
        return counted(count, "field") + " where " + (file_shape.named ? "NAME " : "") +
               numbers_text(file_shape.precision) + " are expected, as on line " + first_text;
    }
    if (shape->precision != file_shape.precision) {
        return precision_mismatch(shape->precision, file_shape.precision, first_line);
    }
    return shape->named
               ? "a named point, where line " + first_text + " and the lines after it name none"
               : "a point without a name, where line " + first_text + " names its point";
}

// The bytes that end a field, by value: 1 for a blank, 2 for a comma.
// A table lookup a byte instead of three comparisons: a million-point file
// has some 40 million bytes to split.
struct separator_table {
    unsigned char kind[256];
    constexpr separator_table() : kind()
    {
        kind[static_cast<unsigned char>(' ')] = 1;
        kind[static_cast<unsigned char>('\t')] = 1;
        kind[static_cast<unsigned char>(',')] = 2;
    }
};
constexpr separator_table separators;

// Splits one line (comment and line end already cut off) into its fields.
// Returns the number of fields found, at most point_fields_kept stored;
// raises on an empty field.
std::size_t split_fields(const char* p, const char* end, point_fields& fields,
                         const std::string& file, std::size_t line)
{
    const auto kind = [](const char* c) { return separators.kind[static_cast<unsigned char>(*c)]; };
    std::size_t count = 0;
    bool after_comma = false;
    for (;;) {
        while (p != end && kind(p) == 1) {
            ++p;
        }
        if (p == end || *p == ',') {
            if (after_comma || (p != end && count == 0)) {
                fail(file, line, "empty field between commas or at either end of the line");
            }
            if (p == end) {
                return count;
            }
            after_comma = true;
            ++p;
            continue;
        }
        const char* start = p;
        while (p != end && kind(p) == 0) {
            ++p;
        }
        if (count < point_fields_kept) {
            fields[count] = std::string_view(start, static_cast<std::size_t>(p - start));
        }
        ++count;
        after_comma = false;
    }
}

double coordinate(std::string_view field, int axis, const std::string& file, std::size_t line)
{
    double value = 0;
    try {
        value = convert_number_field(field.data(), field.data() + field.size(),
                                     static_cast<std::size_t>(axis) + 1);
    } catch (const invalid_number_error&) {
        fail(file, line, std::string(axis_names[axis]) + " " + excerpt(field) + " is not a number");
    } catch (const number_out_of_range_error&) {
        fail(file, line, std::string(axis_names[axis]) + " " + excerpt(field) + " is out of range");
    }
    if (!std::isfinite(value)) {
        fail(file, line, std::string(axis_names[axis]) + " " + excerpt(field) + " is not finite");
    }
    return value;
}

// Appends the point of one line of `shape`, its fields checked for their
// count, to `points`. Raises point_file_error for a field that is no number
// or not finite, and for a precision the rules refuse.
void read_point_line(const point_fields& fields, line_shape shape, const std::string& file,
                     std::size_t line, point_file& points)
{
    const std::size_t first_coordinate = shape.named ? 1 : 0;
    for (int axis = 0; axis < 3; ++axis) {
        points.xyz.push_back(coordinate(fields[first_coordinate + axis], axis, file, line));
    }
    if (const std::size_t numbers = precision_numbers(shape.precision); numbers != 0) {
        const std::size_t old = points.precision_values.size();
        points.precision_values.resize(old + numbers);
        read_precision_fields(fields + first_coordinate + 3, shape.precision,
                              geocentric_precision_names(), file, line,
                              points.precision_values.data() + old);
    }
    if (shape.named) {
        points.names.emplace_back(fields[0]);
    }
    points.lines.push_back(line);
}

} // namespace

namespace {

// A point file parsed block by block: what the blocks so far gave, and the
// line reached.
struct point_parse {
    point_file points;
    line_shape shape;
    std::size_t first_line = 0; // line of the first point, which decides `shape`
    std::size_t line = 0;       // the last line read
    bool started = false;       // a block was parsed: no byte order mark to skip
};

// Parses the lines of the next block; `size_hint` is the size of the whole
// text, or a guess of it.
void parse_point_block(point_parse& parse, const char* text, std::size_t size,
                       std::size_t size_hint)
{
    point_file& points = parse.points;
    const std::string& file = points.file;
    point_lines reader = parse.started ? point_lines{text, text + size, &file, parse.line}
                                       : start_point_lines(text, size, file);
    parse.started = true;
    point_fields fields;
    std::size_t count = 0;
    while (next_point_line(reader, fields, count)) {
        const std::size_t line = reader.line;
        if (const std::string wrong = wrong_fields(fields, count, parse.shape, parse.first_line);
            !wrong.empty()) {
            fail(file, line, wrong);
        }
        if (parse.first_line == 0) {
            parse.first_line = line;
            parse.shape = *shape_of(count);
            points.precision = parse.shape.precision;
            // A rough guess (about 40 bytes of name and coordinates a point,
            // 7 a precision number) spares most reallocations.
            const std::size_t numbers = precision_numbers(parse.shape.precision);
            const std::size_t guess = size_hint / (40 + 7 * numbers);
            points.xyz.reserve(guess * 3);
            points.lines.reserve(guess);
            points.precision_values.reserve(guess * numbers);
            if (parse.shape.named) {
                points.names.reserve(guess);
            }
        }
        read_point_line(fields, parse.shape, file, line, points);
    }
    parse.line = reader.line;
}

} // namespace

point_file parse_point_text(const char* text, std::size_t size, const std::string& file)
{
    point_parse parse;
    parse.points.file = file;
    parse_point_block(parse, text, size, size);
    return std::move(parse.points);
}

point_file read_point_file(const std::string& path)
{
    point_parse parse;
    parse.points.file = path;
    read_point_file_blocks(path, [&parse](const char* text, std::size_t size,
                                          std::size_t size_hint) {
        parse_point_block(parse, text, size, size_hint);
    });
    return std::move(parse.points);
}

void read_point_file_blocks(
    const std::string& path,
    const std::function<void(const char* text, std::size_t size, std::size_t size_hint)>& take)
{
    const auto cannot_read = [&path] {
        throw point_file_error(escape_control_bytes(path) +
                               ": cannot read: " + std::strerror(errno));
    };
    errno = 0;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> stream(std::fopen(path.c_str(), "rb"),
                                                           &std::fclose);
    if (!stream) {
        cannot_read();
    }
    // Only a regular file's size is taken as a hint: a directory, for one,
    // reports a size it does not hold, and a disk device its whole size.
    std::size_t size_hint = 0;
    struct stat status {};
    if (fstat(fileno(stream.get()), &status) == 0 && S_ISREG(status.st_mode) &&
        status.st_size > 0) {
        size_hint = static_cast<std::size_t>(status.st_size);
    }
    // Reads on until the end, whatever the size said (a pipe has none), or
    // until the line being read is longer than any line may be: /dev/zero,
    // say, has neither an end nor a line end. The parser then refuses that
    // line, or an earlier one.
    constexpr std::size_t chunk = 1 << 20;
    std::vector<char> buffer(chunk);
    std::size_t held = 0; // bytes read and not yet handed over: part of a line
    for (;;) {
        if (buffer.size() < held + chunk) {
            buffer.resize(held + chunk);
        }
        const std::size_t got = std::fread(buffer.data() + held, 1, chunk, stream.get());
        if (std::ferror(stream.get())) {
            cannot_read();
        }
        held += got;
        if (got < chunk) {
            if (held > 0) {
                take(buffer.data(), held, size_hint);
            }
            return;
        }
        std::size_t whole = held; // up to the last line end
        while (whole > 0 && buffer[whole - 1] != '\n') {
            --whole;
        }
        if (whole > 0) {
            take(buffer.data(), whole, size_hint);
            std::memmove(buffer.data(), buffer.data() + whole, held - whole);
            held -= whole;
        }
        if (held > point_line_limit + 1) {
            take(buffer.data(), held, size_hint);
            return;
        }
    }
}

std::string read_point_file_text(const std::string& path)
{
    std::string text;
    read_point_file_blocks(path, [&text](const char* block, std::size_t size,
                                         std::size_t size_hint) {
        if (text.empty() && size_hint > 0 && size_hint < text.max_size() / 2) {
            // The room of the whole file, so that the text is not moved as it grows.
            try {
                text.reserve(size_hint);
            } catch (const std::bad_alloc&) {
            }
        }
        text.append(block, size);
    });
    return text;
}

point_lines start_point_lines(const char* text, std::size_t size, const std::string& file)
{
    point_lines lines{text, text + size, &file};
    // A UTF-8 byte order mark, as Windows editors write one, is no part of
    // the first field.
    if (size >= 3 && std::memcmp(text, "\xEF\xBB\xBF", 3) == 0) {
        lines.next += 3;
    }
    return lines;
}

bool next_point_line(point_lines& lines, point_fields& fields, std::size_t& count)
{
    while (lines.next != lines.end) {
        const char* p = lines.next;
        ++lines.line;
        const char* line_end = static_cast<const char*>(
            std::memchr(p, '\n', static_cast<std::size_t>(lines.end - p)));
        lines.next = line_end ? line_end + 1 : lines.end;
        if (!line_end) {
            line_end = lines.end;
        }
        if (line_end != p && line_end[-1] == '\r') {
            --line_end;
        }
        if (static_cast<std::size_t>(line_end - p) > point_line_limit) {
            fail(*lines.file, lines.line,
                 "longer than " + std::to_string(point_line_limit) +
                     " bytes, the most a line of a point file may hold");
        }
        if (const void* hash = std::memchr(p, '#', static_cast<std::size_t>(line_end - p))) {
            line_end = static_cast<const char*>(hash);
        }
        count = split_fields(p, line_end, fields, *lines.file, lines.line);
        if (count != 0) {
            return true;
        }
    }
    return false;
}

const precision_names& geocentric_precision_names()
{
    static const precision_names names{{"sX", "sY", "sZ"},
                                       {"qxx", "qxy", "qxz", "qyy", "qyz", "qzz"}};
    return names;
}

precision_names precision_names_along(const char* const (&axes)[3])
{
    precision_names names;
    std::size_t k = 0;
    for (int i = 0; i < 3; ++i) {
        names.sigma[i] = std::string("s(") + axes[i] + ")";
        for (int j = i; j < 3; ++j) {
            names.covariance[k++] = std::string("q(") + axes[i] + "," + axes[j] + ")";
        }
    }
    return names;
}

namespace {

double precision_number(std::string_view field, const std::string& name, const std::string& file,
                        std::size_t line)
{
    double value = 0;
    try {
        value = convert_number_field(field.data(), field.data() + field.size(), 1);
    } catch (const invalid_number_error&) {
        fail(file, line, name + " " + excerpt(field) + " is not a number");
    } catch (const number_out_of_range_error&) {
        fail(file, line, name + " " + excerpt(field) + " is out of range");
    }
    if (!std::isfinite(value)) {
        fail(file, line, name + " " + excerpt(field) + " is not finite");
    }
    return value;
}

// Whether the symmetric matrix of the upper triangle q (xx xy xz yy yz zz)
// is positive semidefinite to within covariance_tolerance: a row of a zero
// variance must be zero, and the principal minors of the correlation
// matrix of the rest, 1 - r^2 and its determinant, at least -tolerance.
// Scaling to correlations makes the test blind to the unit.
bool positive_semidefinite(const double* q)
{
    const double d[3] = {q[0], q[3], q[5]};
    const double c[3] = {q[1], q[2], q[4]}; // (0,1), (0,2), (1,2)
    const int rows[3][2] = {{0, 1}, {0, 2}, {1, 2}};
    double r[3] = {0, 0, 0};
    for (int k = 0; k < 3; ++k) {
        const double di = d[rows[k][0]];
        const double dj = d[rows[k][1]];
        if (di == 0 || dj == 0) {
            if (c[k] != 0) {
                return false;
            }
            continue;
        }
        r[k] = c[k] / (std::sqrt(di) * std::sqrt(dj));
        if (!(1 - r[k] * r[k] >= -covariance_tolerance)) {
            return false;
        }
    }
    const double det = 1 + 2 * r[0] * r[1] * r[2] - r[0] * r[0] - r[1] * r[1] - r[2] * r[2];
    return det >= -covariance_tolerance;
}

} // namespace

void read_precision_fields(const std::string_view* fields, point_precision precision,
                           const precision_names& names, const std::string& file, std::size_t line,
                           double* values)
{
    if (precision == point_precision::sigmas) {
        for (int k = 0; k < 3; ++k) {
            values[k] = precision_number(fields[k], names.sigma[k], file, line);
            if (!(values[k] >= 0)) {
                fail(file, line, names.sigma[k] + " " + excerpt(fields[k]) + " is negative");
            }
        }
        return;
    }
    if (precision != point_precision::covariance) {
        return;
    }
    for (int k = 0; k < 6; ++k) {
        values[k] = precision_number(fields[k], names.covariance[k], file, line);
    }
    for (const int k : {0, 3, 5}) {
        if (!(values[k] >= 0)) {
            fail(file, line,
                 names.covariance[k] + " " + excerpt(fields[k]) + " is a negative variance");
        }
    }
    if (!positive_semidefinite(values)) {
        std::string given, named;
        for (int k = 0; k < 6; ++k) {
            given += (k ? " " : "") + std::string(fields[k]);
            named += (k ? " " : "") + names.covariance[k];
        }
        fail(file, line,
             "the covariance " + excerpt(given) + " (" + named + ") is not positive semidefinite");
    }
}

std::string precision_mismatch(point_precision given, point_precision expected,
                               std::size_t first_line)
{
    if (given == expected) {
        return std::string();
    }
    const auto describe = [](point_precision p) -> std::string {
        return p == point_precision::sigmas       ? "3 standard deviations"
               : p == point_precision::covariance ? "6 covariance elements"
                                                  : "no precisions";
    };
    const std::string where = ", where line " + std::to_string(first_line) + " gives ";
    if (expected == point_precision::none) {
        return describe(given) + where + "none: give precisions for every point or for none";
    }
    if (given == point_precision::none) {
        return describe(given) + where + describe(expected) +
               ": give precisions for every point or for none";
    }
    return describe(given) + where + describe(expected) + ": give the same kind for every point";
}

void point_line_error(const std::string& file, std::size_t line, const std::string& what)
{
    throw point_file_error(escape_control_bytes(file) + " line " + std::to_string(line) + ": " +
                           what);
}

std::vector<std::string> point_names(const point_file& points)
{
    return points.names.empty() ? numbered_names(points.size()) : points.names;
}

std::vector<std::string> numbered_names(std::size_t count)
{
    std::vector<std::string> numbers;
    numbers.reserve(count);
    for (std::size_t i = 1; i <= count; ++i) {
        numbers.push_back(std::to_string(i));
    }
    return numbers;
}

std::vector<std::string> pair_point_names(point_file& source, point_file& target)
{
    if (source.size() != target.size()) {
        throw point_file_error(
            escape_control_bytes(source.file) + " holds " + counted(source.size(), "point") + ", " +
            escape_control_bytes(target.file) + " holds " + std::to_string(target.size()) +
            ": common points pair by order, so the counts must agree");
    }
    if (!source.names.empty() && !target.names.empty()) {
        for (std::size_t i = 0; i < source.size(); ++i) {
            if (source.names[i] != target.names[i]) {
                throw point_file_error(
                    "common point " + std::to_string(i + 1) + " is named " +
                    excerpt(source.names[i]) + " in " + escape_control_bytes(source.file) +
                    " line " + std::to_string(source.lines[i]) + " but " +
                    excerpt(target.names[i]) + " in " + escape_control_bytes(target.file) +
                    " line " + std::to_string(target.lines[i]));
            }
        }
    }
    point_file& named = source.names.empty() ? target : source;
    if (named.names.empty()) {
        return numbered_names(named.size());
    }
    return std::move(named.names);
}

} // namespace sevenparam
