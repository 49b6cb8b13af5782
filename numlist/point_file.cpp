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
#include <string_view>

namespace sevenparam {

namespace {

constexpr const char* axis_names[] = {"X", "Y", "Z"};

bool is_blank(char c)
{
    return c == ' ' || c == '\t';
}

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

// What is wrong with a line of `count` fields (at most 5 of them stored) that
// is no point of a file whose points are `named`, or whose first point this
// is (`first_line` 0). Empty when the count fits and the caller goes on.
std::string wrong_fields(const std::string_view (&fields)[5], std::size_t count, bool named,
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

// Splits one line (comment and line end already cut off) into its fields.
// Returns the number of fields found, at most 5 stored; raises on an empty
// field.
std::size_t split_fields(const char* p, const char* end, std::string_view (&fields)[5],
                         const std::string& file, std::size_t line)
{
    std::size_t count = 0;
    bool after_comma = false;
    for (;;) {
        while (p != end && is_blank(*p)) {
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
        while (p != end && !is_blank(*p) && *p != ',') {
            ++p;
        }
        if (count < 5) {
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

} // namespace

point_file parse_point_text(const char* text, std::size_t size, const std::string& file)
{
    point_file points;
    points.file = file;
    // A rough guess (about 40 bytes a point) spares most reallocations.
    points.xyz.reserve(size / 40 * 3);
    points.lines.reserve(size / 40);

    bool named = false;
    std::size_t first_line = 0; // line of the first point, which decides `named`

    point_lines reader = start_point_lines(text, size, file);
    std::string_view fields[5];
    std::size_t count = 0;
    while (next_point_line(reader, fields, count)) {
        const std::size_t line = reader.line;
        if (const std::string wrong = wrong_fields(fields, count, named, first_line);
            !wrong.empty()) {
            fail(file, line, wrong);
        }
        const bool has_name = count == 4;
        if (first_line == 0) {
            first_line = line;
            named = has_name;
            if (named) {
                points.names.reserve(points.lines.capacity());
            }
        }
        const std::size_t first_coordinate = has_name ? 1 : 0;
        for (int axis = 0; axis < 3; ++axis) {
            points.xyz.push_back(coordinate(fields[first_coordinate + axis], axis, file, line));
        }
        if (has_name) {
            points.names.emplace_back(fields[0]);
        }
        points.lines.push_back(line);
    }
    return points;
}

std::string read_point_file_text(const std::string& path)
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
    // Reads on until the end, whatever the size said (a pipe has none), or
    // until the line being read is longer than any line may be: /dev/zero,
    // say, has neither an end nor a line end. The parser then refuses that
    // line, or an earlier one.
    constexpr std::size_t chunk = 1 << 20;
    std::string text;
    if (std::fseek(stream.get(), 0, SEEK_END) == 0) {
        // Only a hint: a directory, for one, reports a size it does not hold.
        // The room of a chunk more takes the last read, which finds the end,
        // without moving the whole text (that doubled its memory a moment).
        const long size = std::ftell(stream.get());
        if (size > 0 && static_cast<unsigned long>(size) < text.max_size() / 2) {
            try {
                text.reserve(static_cast<std::size_t>(size) + chunk);
            } catch (const std::bad_alloc&) {
            }
        }
        std::rewind(stream.get());
    }
    std::size_t line_length = 0; // bytes read since the last line end
    for (;;) {
        const std::size_t old = text.size();
        text.resize(old + chunk);
        const std::size_t got = std::fread(&text[old], 1, chunk, stream.get());
        text.resize(old + got);
        std::size_t k = got;
        while (k > 0 && text[old + k - 1] != '\n') {
            --k;
        }
        line_length = k > 0 ? got - k : line_length + got;
        if (got < chunk || line_length > point_line_limit + 1) {
            break;
        }
    }
    if (std::ferror(stream.get())) {
        cannot_read();
    }
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

bool next_point_line(point_lines& lines, std::string_view (&fields)[5], std::size_t& count)
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

void point_line_error(const std::string& file, std::size_t line, const std::string& what)
{
    throw point_file_error(escape_control_bytes(file) + " line " + std::to_string(line) + ": " +
                           what);
}

point_file read_point_file(const std::string& path)
{
    const std::string text = read_point_file_text(path);
    return parse_point_text(text.data(), text.size(), path);
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

std::vector<std::string> pair_point_names(const point_file& source, const point_file& target)
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
    return point_names(source.names.empty() ? target : source);
}

} // namespace sevenparam
