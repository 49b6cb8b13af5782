#include "numlist/coordinate_file.h"

#include "numlist/message_excerpt.h"

#include <optional>
#include <string>

namespace sevenparam {

namespace {

[[noreturn]] void fail(const std::string& file, std::size_t line, const std::string& what)
{
    point_line_error(file, line, what);
}

std::string excerpt(std::string_view bytes)
{
    return "\"" + message_excerpt(bytes) + "\"";
}

} // namespace

coordinate_file parse_coordinate_text(const char* text, std::size_t size, const std::string& file,
                                      const coordinate_layout& layout)
{
    coordinate_file result;
    point_file& points = result.points;
    points.file = file;
    std::size_t first_line = 0;
    bool named = false;

    const std::string expected =
        std::string(layout.axis_names[0]) + " " + layout.axis_names[1] + " " + layout.axis_names[2];
    const std::string expected_any =
        layout.third_required ? expected + " or NAME " + expected
                              : std::string(layout.axis_names[0]) + " " + layout.axis_names[1] +
                                    " [" + layout.axis_names[2] + "], with or without a NAME first";
    const precision_names precision_names = precision_names_along(layout.axis_names);
    point_lines reader = start_point_lines(text, size, file);
    point_fields fields;
    std::size_t count = 0;
    while (next_point_line(reader, fields, count)) {
        const std::size_t line = reader.line;
        // The count tells the precision: 3 more fields a point with
        // standard deviations, 6 with a covariance.
        const std::size_t plain_count = count <= 4 ? count : count <= 7 ? count - 3 : count - 6;
        const point_precision precision = count <= 4   ? point_precision::none
                                          : count <= 7 ? point_precision::sigmas
                                                       : point_precision::covariance;
        if (count > 10) {
            fail(file, line,
                 counted(count, "field") + " where " + expected_any +
                     " are expected, then 3 standard deviations, 6 covariance elements or none");
        }
        if (plain_count < 2 || (layout.third_required && plain_count == 2)) {
            fail(file, line, counted(count, "field") + " where " + expected_any + " are expected");
        }
        if (first_line != 0) {
            if (const std::string wrong =
                    precision_mismatch(precision, points.precision, first_line);
                !wrong.empty()) {
                fail(file, line, wrong);
            }
        }
        // The first field of three is a name when it is no coordinate.
        bool has_name = plain_count == 4;
        std::optional<double> first;
        if (plain_count == 3) {
            first = layout.field_reader(fields[0], 0);
            has_name = !first;
        }
        const std::size_t coordinates = plain_count - (has_name ? 1 : 0);
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
            points.precision = precision;
            // About 40 bytes of name and coordinates a point, 7 a precision
            // number.
            const std::size_t numbers = precision_numbers(precision);
            const std::size_t guess = size / (40 + 7 * numbers);
            points.xyz.reserve(guess * 3);
            points.lines.reserve(guess);
            points.precision_values.reserve(guess * numbers);
            if (named) {
                points.names.reserve(guess);
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
        if (const std::size_t numbers = precision_numbers(precision); numbers != 0) {
            const std::size_t old = points.precision_values.size();
            points.precision_values.resize(old + numbers);
            read_precision_fields(fields + plain_count, precision, precision_names, file, line,
                                  points.precision_values.data() + old);
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
    const std::string text = read_point_file_text(path);
    return parse_coordinate_text(text.data(), text.size(), path, layout);
}

} // namespace sevenparam
