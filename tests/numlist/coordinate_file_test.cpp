#include "numlist/coordinate_file.h"

#include "numlist/number_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace sevenparam {
namespace {

// A reader of plain numbers, and of "<n>d" as n (standing for a
// sexagesimal angle the caller would read).
coordinate_layout layout(bool third_required)
{
    coordinate_layout l;
    l.field_reader = [](std::string_view field, int) -> std::optional<double> {
        if (!field.empty() && field.back() == 'd') {
            field.remove_suffix(1);
        }
        try {
            return convert_number_field(field.data(), field.data() + field.size(), 1);
        } catch (const std::exception&) {
            return std::nullopt;
        }
    };
    l.axis_names[0] = "northing";
    l.axis_names[1] = "easting";
    l.axis_names[2] = "height";
    l.third_required = third_required;
    return l;
}

coordinate_file parse(const std::string& text, bool third_required = false)
{
    return parse_coordinate_text(text.data(), text.size(), "c.txt", layout(third_required));
}

TEST(CoordinateFile, Layouts)
{
    const struct {
        std::string text;
        bool third_required;
        std::vector<std::string> names;
        std::vector<double> xyz;
        bool third_given;
    } cases[] = {
        {"1 2\n3,4\n", false, {}, {1, 2, 0, 3, 4, 0}, false},
        // Three fields: a name when the first is no coordinate, else a height.
        {"P1 1 2\nP2 3 4d\n", false, {"P1", "P2"}, {1, 2, 0, 3, 4, 0}, false},
        {"1 2 3\n", false, {}, {1, 2, 3}, true},
        {"\xEF\xBB\xBFP1 1 2 3 # h\r\n\r\nP2 4 5 6", false, {"P1", "P2"}, {1, 2, 3, 4, 5, 6}, true},
        // A three-dimensional CRS: three fields are always coordinates.
        {"1 2 3\n", true, {}, {1, 2, 3}, true},
        {"7 1 2 3\n", true, {"7"}, {1, 2, 3}, true},
    };
    for (const auto& c : cases) {
        const coordinate_file f = parse(c.text, c.third_required);
        EXPECT_EQ(f.points.names, c.names) << c.text;
        EXPECT_EQ(f.points.xyz, c.xyz) << c.text;
        EXPECT_EQ(f.third_given, c.third_given) << c.text;
    }
}

TEST(CoordinateFile, PrecisionsAfterTheCoordinates)
{
    const struct {
        std::string text;
        bool third_required;
        std::vector<std::string> names;
        point_precision precision;
        std::vector<double> values;
    } cases[] = {
        // Without a height the precisions still come in threes: the third
        // is the height's.
        {"1 2 .1 .2 .3\n", false, {}, point_precision::sigmas, {.1, .2, .3}},
        // Six fields: a name when the first is no coordinate, else a height.
        {"P1 1 2 .1 .2 .3\n", false, {"P1"}, point_precision::sigmas, {.1, .2, .3}},
        {"1 2 3 .1 .2 .3\n", false, {}, point_precision::sigmas, {.1, .2, .3}},
        {"P1 1 2 3 4 0 0 4 0 9\n", false, {"P1"}, point_precision::covariance, {4, 0, 0, 4, 0, 9}},
        {"1 2 3 4 0 0 4 0 9\n", true, {}, point_precision::covariance, {4, 0, 0, 4, 0, 9}},
    };
    for (const auto& c : cases) {
        const coordinate_file f = parse(c.text, c.third_required);
        EXPECT_EQ(f.points.names, c.names) << c.text;
        EXPECT_EQ(f.points.precision, c.precision) << c.text;
        EXPECT_EQ(f.points.precision_values, c.values) << c.text;
    }
    const struct {
        std::string text, message;
    } bad[] = {
        {"1 2 .1 .2 .3\n1 2\n",
         "c.txt line 2: no precisions, where line 1 gives 3 standard deviations: give "
         "precisions for every point or for none"},
        {"1 2 .1 .2 -.3\n", "c.txt line 1: s(height) \"-.3\" is negative"},
        {"1 2 1 2 0 1 0 1\n",
         "c.txt line 1: the covariance \"1 2 0 1 0 1\" (q(northing,northing) "
         "q(northing,easting) q(northing,height) q(easting,easting) q(easting,height) "
         "q(height,height)) is not positive semidefinite"},
        {"1 2 3 4 5 6 7 8 9 10 11\n",
         "c.txt line 1: 11 fields where northing easting [height], with or without a NAME "
         "first are expected, then 3 standard deviations, 6 covariance elements or none"},
    };
    for (const auto& c : bad) {
        try {
            parse(c.text);
            ADD_FAILURE() << "accepted: " << c.text;
        } catch (const point_file_error& e) {
            EXPECT_EQ(std::string(e.what()), c.message);
        }
    }
}

TEST(CoordinateFile, MalformedLinesNameFileLineAndAxis)
{
    const struct {
        std::string text;
        bool third_required;
        std::string message;
    } cases[] = {
        {"P1 1 2\nP2 1 2 3\n", false,
         "c.txt line 2: a third number (height), where line 1 gives none: give it for every "
         "point or for none"},
        {"1 2 3\n1 2\n", false,
         "c.txt line 2: no third number (height), where line 1 gives one: give it for every "
         "point or for none"},
        {"P1 1 2\n1 2\n", false,
         "c.txt line 2: a point without a name, where line 1 names its point"},
        {"P1 1 x2 3\n", false, "c.txt line 1: easting \"x2\" is not a number"},
        {"1\n", false,
         "c.txt line 1: 1 field where northing easting [height], with or without a NAME first "
         "are expected"},
        {"P1 1 2\n", true, "c.txt line 1: no height where northing easting height are expected"},
        {"1 2\n", true,
         "c.txt line 1: 2 fields where northing easting height or NAME northing easting height "
         "are expected"},
        // The point files' line rules hold here too: once a CRS file could
        // grow without bound (/dev/zero), as a point file once could.
        {"1 2 3\n" + std::string(point_line_limit + 1, '0') + "\n", false,
         "c.txt line 2: longer than 1048576 bytes, the most a line of a point file may hold"},
    };
    for (const auto& c : cases) {
        try {
            parse(c.text, c.third_required);
            ADD_FAILURE() << "accepted: " << c.text;
        } catch (const point_file_error& e) {
            EXPECT_EQ(std::string(e.what()), c.message);
        }
    }
}

} // namespace
} // namespace sevenparam
