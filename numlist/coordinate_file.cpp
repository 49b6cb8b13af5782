#include "numlist/coordinate_file.h"

#include "numlist/message_excerpt.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace sevenparam {

namespace {

bool is_blank(char c)
{
    return c == ' ' || c == '\t';
}

[[noreturn]] void fail(const std::string& file, std::size_t line, const std::string& what)
{
    throw point_file_error(file + " line " + std::to_string(line) + ": " + what);
}

std::string excerpt(std::string_view bytes)
{
    return "\"" + message_excerpt(bytes) + "\"";
}

// The fields of one line (comment and line end cut off); at most 5 stored.
std::size_t split(const char* p, const char* end, std::string_view (&fields)[5],
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

} // namespace

coordinate_file parse_coordinate_text(const char* text, std::size_t size, const std::string& file,
                                      const coordinate_layout& layout)
{
    coordinate_file result;
    point_file& points = result.points;
    points.file = file;
    points.xyz.reserve(size / 40 * 3);
    points.lines.reserve(size / 40);
    std::size_t first_line = 0;
    bool named = false;

    const char* p = text;
    const char* const end = text + size;
    if (size >= 3 && std::memcmp(text, "\xEF\xBB\xBF", 3) == 0) {
        p += 3;
    }
    const std::string expected =
        std::string(layout.axis_names[0]) + " " + layout.axis_names[1] + " " + layout.axis_names[2];
    std::size_t line = 0;
    std::string_view fields[5];
    while (p != end) {
        ++line;
        const char* line_end =
            static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
        const char* next = line_end ? line_end + 1 : end;
        if (!line_end) {
            line_end = end;
        }
        if (line_end != p && line_end[-1] == '\r') {
            --line_end;
        }
        if (const void* hash = std::memchr(p, '#', static_cast<std::size_t>(line_end - p))) {
            line_end = static_cast<const char*>(hash);
        }
        const std::size_t count = split(p, line_end, fields, file, line);
        p = next;
        if (count == 0) {
            continue;
        }
        if (count < 2 || count > 4 || (layout.third_required && count == 2)) {
            fail(file, line,
                 std::to_string(count) + " fields where " +
                     (layout.third_required
                          ? expected + " or NAME " + expected
                          : std::string(layout.axis_names[0]) + " " + layout.axis_names[1] + " [" +
                                layout.axis_names[2] +
                                "], with or without a "
                                "NAME first") +
                     " are expected");
        }
        // The first field of three is a name when it is no coordinate.
        bool has_name = count == 4;
        std::optional<double> first;
        if (count == 3) {
            first = layout.field_reader(fields[0], 0);
            has_name = !first;
        }
        const std::size_t coordinates = count - (has_name ? 1 : 0);
        if (layout.third_required && coordinates != 3) {
            fail(file, line,
                 "no " + std::string(layout.axis_names[2]) + " where " + expected +
                     " are expected");
        }
        const bool third = coordinates == 3;
        if (first_line == 0) {
            first_line = line;
            named = has_name;
            result.third_given = third;
            if (named) {
                points.names.reserve(points.lines.capacity());
            }
        } else if (has_name != named) {
            fail(file, line,
                 has_name ? "a named point, where line " + std::to_string(first_line) +
                                " and the lines after it name none"
                          : "a point without a name, where line " + std::to_string(first_line) +
                                " names its point");
        } else if (third != result.third_given) {
            fail(file, line,
                 third ? "a third number (" + std::string(layout.axis_names[2]) + "), where line " +
                             std::to_string(first_line) +
                             " gives none: give it for every point or "
                             "for none"
                       : "no third number (" + std::string(layout.axis_names[2]) +
                             "), where line " + std::to_string(first_line) +
                             " gives one: give it for every point or "
                             "for none");
        }
        const std::size_t offset = has_name ? 1 : 0;
        for (int axis = 0; axis < 3; ++axis) {
            if (axis == 2 && !third) {
                points.xyz.push_back(0.0);
                break;
            }
            const std::string_view field = fields[offset + static_cast<std::size_t>(axis)];
            const std::optional<double> value =
                axis == 0 && first && !has_name ? first : layout.field_reader(field, axis);
            if (!value) {
                fail(file, line,
                     std::string(layout.axis_names[axis]) + " " + excerpt(field) +
                         " is not a number");
            }
            points.xyz.push_back(*value);
        }
        if (has_name) {
            points.names.emplace_back(fields[0]);
        }
        points.lines.push_back(line);
    }
    return result;
}

coordinate_file read_coordinate_file(const std::string& path, const coordinate_layout& layout)
{
    errno = 0;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> stream(std::fopen(path.c_str(), "rb"),
                                                           &std::fclose);
    const auto cannot_read = [&path] {
        throw point_file_error(path + ": cannot read: " + std::strerror(errno));
    };
    if (!stream) {
        cannot_read();
    }
    std::string text;
    if (std::fseek(stream.get(), 0, SEEK_END) == 0) {
        // Only a hint: a pipe or a directory may report no or any size.
        const long size = std::ftell(stream.get());
        if (size > 0 && static_cast<unsigned long>(size) < text.max_size() / 2) {
            text.reserve(static_cast<std::size_t>(size) + 1);
        }
        std::rewind(stream.get());
    }
    constexpr std::size_t chunk = 1 << 20;
    for (;;) {
        const std::size_t old = text.size();
        text.resize(old + chunk);
        const std::size_t got = std::fread(&text[old], 1, chunk, stream.get());
        text.resize(old + got);
        if (got < chunk) {
            break;
        }
    }
    if (std::ferror(stream.get())) {
        cannot_read();
    }
    return parse_coordinate_text(text.data(), text.size(), path, layout);
}

} // namespace sevenparam
