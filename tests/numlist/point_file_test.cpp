#include "numlist/point_file.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace sevenparam {
namespace {

point_file parse(const std::string& text, const std::string& file = "f.txt")
{
    return parse_point_text(text.data(), text.size(), file);
}

TEST(PointFile, AcceptedLayouts)
{
    const struct {
        std::string text;
        std::vector<std::string> names;
        std::vector<double> xyz;
        std::vector<std::size_t> lines;
    } cases[] = {
        // Blanks, tabs and commas between fields; comments; blank lines;
        // CR LF; no line end after the last line.
        {"P1 1 2 3\r\n# comment\r\n\r\n \tP2,4 , 5,\t6  # tail\r\nP3\t-7.5e1 0x10 .5",
         {"P1", "P2", "P3"},
         {1, 2, 3, 4, 5, 6, -75, 16, 0.5},
         {1, 4, 5}},
        {"1 2 3\n   \n#\n4,5,6\n", {}, {1, 2, 3, 4, 5, 6}, {1, 4}},
        // A byte order mark, as Windows editors write UTF-8.
        {"\xEF\xBB\xBFP1 1 2 3\n", {"P1"}, {1, 2, 3}, {1}},
        // A name is any bytes but blanks, commas, '#': GBK bytes and digits too.
        {"\xB5\xE3"
         "1 1 2 3\n007 4 5 6\n",
         {"\xB5\xE3"
          "1",
          "007"},
         {1, 2, 3, 4, 5, 6},
         {1, 2}},
        {"", {}, {}, {}},
        {"# nothing but a comment\n\n", {}, {}, {}},
    };
    for (const auto& c : cases) {
        const point_file points = parse(c.text);
        EXPECT_EQ(points.names, c.names) << c.text;
        EXPECT_EQ(points.xyz, c.xyz) << c.text;
        EXPECT_EQ(points.lines, c.lines) << c.text;
    }
}

TEST(PointFile, DecimalPointWhateverTheLocale)
{
    const char* const previous = std::setlocale(LC_ALL, nullptr);
    const std::string saved = previous ? previous : "C";
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) {
        GTEST_SKIP() << "no de_DE.UTF-8 locale (scripts/install-deps makes one)";
    }
    const point_file points = parse("A 1.5 2.25 -3.125\n");
    std::setlocale(LC_ALL, saved.c_str());
    EXPECT_EQ(points.xyz, (std::vector<double>{1.5, 2.25, -3.125}));
}

TEST(PointFile, EveryMalformedLineNamesFileAndLine)
{
    const struct {
        std::string text;
        std::string message;
    } cases[] = {
        {"1 2\n", "f.txt line 1: 2 fields where X Y Z or NAME X Y Z are expected"},
        {"\n# c\nP 1 2 3 4\n", "f.txt line 3: 5 fields where X Y Z or NAME X Y Z are expected"},
        {"P1 1 2 3\nP2 4 5x 6\n", "f.txt line 2: Y \"5x\" is not a number"},
        {"P1 1,2 ,abc\n", "f.txt line 1: Z \"abc\" is not a number"},
        {"1e999 2 3\n", "f.txt line 1: X \"1e999\" is out of range"},
        {"1 inf 3\n", "f.txt line 1: Y \"inf\" is not finite"},
        {"1 2 -nan\n", "f.txt line 1: Z \"-nan\" is not finite"},
        {"1,,2,3\n", "f.txt line 1: empty field between commas or at either end of the line"},
        {",1 2 3\n", "f.txt line 1: empty field between commas or at either end of the line"},
        {"1 2 3,\n", "f.txt line 1: empty field between commas or at either end of the line"},
        // Control bytes are escaped; a CR inside a line is no line end.
        {std::string("1 2 3\0", 6), "f.txt line 1: Z \"3\\x00\" is not a number"},
        {"1 2\r3 4\n", "f.txt line 1: Y \"2\\x0D3\" is not a number"},
        // Long fields are cut to an excerpt.
        {"1 2 " + std::string(40, '9') + "z\n",
         "f.txt line 1: Z \"9999999999999999999999999999999999999999...\" is not a number"},
        {"P1 1 2 3\r\n4 5 6\r\n",
         "f.txt line 2: a point without a name, where line 1 names its point"},
        {"1 2 3\nP 4 5 6\n",
         "f.txt line 2: a named point, where line 1 and the lines after it name none"},
        // A missing coordinate was once reported as "a point without a name".
        {"P1 1 2 3\nP2 4 5\n", "f.txt line 2: point \"P2\" holds 2 numbers where X Y Z are needed"},
        {"P1 1 2 3\nP2 4 x\n", "f.txt line 2: point \"P2\" holds 2 fields where X Y Z are needed"},
        {"P1 4\n", "f.txt line 1: point \"P1\" holds 1 number where X Y Z are needed"},
        {"P1\n", "f.txt line 1: point \"P1\" holds 0 numbers where X Y Z are needed"},
        {"7\n", "f.txt line 1: 1 field where X Y Z or NAME X Y Z are expected"},
        {"1 2 3\n4 5 6 7\n",
         "f.txt line 2: 4 numbers where X Y Z are needed, as line 1 and the lines after it name "
         "no point"},
    };
    for (const auto& c : cases) {
        try {
            parse(c.text);
            ADD_FAILURE() << "accepted: " << c.text;
        } catch (const point_file_error& e) {
            EXPECT_EQ(e.what(), c.message);
        }
    }
}

TEST(PointFile, PrecisionsAfterTheCoordinates)
{
    const struct {
        std::string text;
        point_precision precision;
        std::vector<std::string> names;
        std::vector<double> values;
    } cases[] = {
        {"1 2 3 0.01 0.02 0.03\n4 5 6 0 0 1e-3\n",
         point_precision::sigmas,
         {},
         {0.01, 0.02, 0.03, 0, 0, 1e-3}},
        {"P1, 1, 2, 3, 0.01, 0.02, 0.03 # m\n",
         point_precision::sigmas,
         {"P1"},
         {0.01, 0.02, 0.03}},
        // A numeric name: the count of fields says it is one.
        {"7 1 2 3 4 0.5 0 9 0 1\n", point_precision::covariance, {"7"}, {4, 0.5, 0, 9, 0, 1}},
        // Fully correlated, and a zero variance with its row zero: singular
        // but semidefinite.
        {"1 2 3 1 1 0 1 0 0\n1 2 3 1 -0.5 0.5 1 0.5 1\n",
         point_precision::covariance,
         {},
         {1, 1, 0, 1, 0, 0, 1, -0.5, 0.5, 1, 0.5, 1}},
        {"1 2 3\n", point_precision::none, {}, {}},
    };
    for (const auto& c : cases) {
        const point_file points = parse(c.text);
        EXPECT_EQ(points.precision, c.precision) << c.text;
        EXPECT_EQ(points.names, c.names) << c.text;
        EXPECT_EQ(points.precision_values, c.values) << c.text;
        EXPECT_EQ(points.size() * precision_numbers(c.precision), c.values.size()) << c.text;
    }
}

TEST(PointFile, MalformedPrecisionsNameTheLine)
{
    const struct {
        std::string text;
        std::string message;
    } cases[] = {
        // Precisions on some lines only, or of two kinds.
        {"P1 1 2 3\nP2 4 5 6 .1 .1 .1\n",
         "f.txt line 2: 3 standard deviations, where line 1 gives none: give precisions for "
         "every point or for none"},
        {"1 2 3 .1 .1 .1\n\n4 5 6\n",
         "f.txt line 3: no precisions, where line 1 gives 3 standard deviations: give "
         "precisions for every point or for none"},
        {"1 2 3 .1 .1 .1\n4 5 6 1 0 0 1 0 1\n",
         "f.txt line 2: 6 covariance elements, where line 1 gives 3 standard deviations: give "
         "the same kind for every point"},
        {"P1 1 2 3 .1 .1 .1\n4 5 6 .1 .1 .1\n",
         "f.txt line 2: a point without a name, where line 1 names its point"},
        {"P1 1 2 3 .1 .1 .1\nP2 4 5 6 .1 .1\n",
         "f.txt line 2: point \"P2\" holds 5 numbers where X Y Z sX sY sZ are needed"},
        {"1 2 3 .1 .1 .1\n4 5 6 .1 .1\n",
         "f.txt line 2: 5 fields where X Y Z sX sY sZ are expected, as on line 1"},
        {"P1 1 2 3 4 5\n",
         "f.txt line 1: point \"P1\" holds 5 numbers where X Y Z, then 3 standard deviations, "
         "6 covariance elements or none are needed"},
        {"1 2 3 4 5 6 7 8\n",
         "f.txt line 1: 8 fields where X Y Z or NAME X Y Z are expected, then 3 standard "
         "deviations, 6 covariance elements or none"},
        // The numbers themselves.
        {"1 2 3 .1 x .1\n", "f.txt line 1: sY \"x\" is not a number"},
        {"1 2 3 .1 .1 nan\n", "f.txt line 1: sZ \"nan\" is not finite"},
        {"1 2 3 1e400 .1 .1\n", "f.txt line 1: sX \"1e400\" is out of range"},
        {"1 2 3 .1 .1 .1\n1 2 3 .1 .1 -0.01\n", "f.txt line 2: sZ \"-0.01\" is negative"},
        {"1 2 3 1 0 0 -1 0 1\n", "f.txt line 1: qyy \"-1\" is a negative variance"},
        {"1 2 3 1 0 0 1 0 inf\n", "f.txt line 1: qzz \"inf\" is not finite"},
        // |qxy| > sqrt(qxx qyy); then three correlations of -0.6, each
        // possible alone, together impossible; then a covariance beside a
        // zero variance.
        {"1 2 3 1 2 0 1 0 1\n",
         "f.txt line 1: the covariance \"1 2 0 1 0 1\" (qxx qxy qxz qyy qyz qzz) is not "
         "positive semidefinite"},
        {"1 2 3 1 -0.6 -0.6 1 -0.6 1\n",
         "f.txt line 1: the covariance \"1 -0.6 -0.6 1 -0.6 1\" (qxx qxy qxz qyy qyz qzz) is "
         "not positive semidefinite"},
        {"1 2 3 0 1e-9 0 1 0 1\n",
         "f.txt line 1: the covariance \"0 1e-9 0 1 0 1\" (qxx qxy qxz qyy qyz qzz) is not "
         "positive semidefinite"},
    };
    for (const auto& c : cases) {
        try {
            parse(c.text);
            ADD_FAILURE() << "accepted: " << c.text;
        } catch (const point_file_error& e) {
            EXPECT_EQ(e.what(), c.message);
        }
    }
}

TEST(PointFile, LinesUpToTheBound)
{
    const std::string at_bound = "# " + std::string(point_line_limit - 2, 'x');
    EXPECT_EQ(parse("1 2 3\n" + at_bound + "\r\n4 5 6").size(), 2u);
    EXPECT_EQ(parse(at_bound).size(), 0u);
    const struct {
        std::string text, file, message;
    } cases[] = {
        {"1 2 3\n" + at_bound + "x\n", "f.txt",
         "f.txt line 2: longer than 1048576 bytes, the most a line of a point file may hold"},
        {"1 2 " + std::string(point_line_limit, '3'), "f.txt",
         "f.txt line 1: longer than 1048576 bytes, the most a line of a point file may hold"},
        // The file's name shows its control bytes.
        {"1 2\n", "a\x1B[2J\n.txt",
         "a\\x1B[2J\\x0A.txt line 1: 2 fields where X Y Z or NAME X Y Z are expected"},
    };
    for (const auto& c : cases) {
        try {
            parse(c.text, c.file);
            ADD_FAILURE() << "accepted: " << c.message;
        } catch (const point_file_error& e) {
            EXPECT_EQ(e.what(), c.message);
        }
    }
}

#ifndef _WIN32
TEST(PointFile, AFileWithoutLineEndsIsNotReadWithoutBound)
{
    // /dev/zero once grew the memory until the system stopped the run.
    try {
        read_point_file("/dev/zero");
        ADD_FAILURE() << "read /dev/zero";
    } catch (const point_file_error& e) {
        EXPECT_EQ(std::string(e.what()), "/dev/zero line 1: longer than 1048576 bytes, the most "
                                         "a line of a point file may hold");
    }
}
#endif

// A file is read and parsed in blocks of about a mebibyte: lines, CR LF
// ends and the byte order mark cut across a block's end read as in one
// text, and a message names the same line.
TEST(PointFile, ReadInBlocksAsParsedWhole)
{
    const std::size_t block = std::size_t{1} << 20;
    std::string points = "# points\r\n";
    for (int i = 0; points.size() < 3 * block; ++i) {
        points += "P" + std::to_string(i) + " " + std::to_string(i * 0.37) + " 2.5e3 -" +
                  std::to_string(i) + (i % 7 == 0 ? "  # note\r\n" : "\r\n");
    }
    // A CR LF split across the first block's end: the CR is its last byte.
    const std::string split = "# " + std::string(block - 3, 'x') + "\r\n" + "A 1 2 3\r\n";
    const std::string at_bound = "# " + std::string(point_line_limit - 2, 'x');
    const std::string cases[] = {
        "\xEF\xBB\xBF" + points,
        split + points,
        points + "B 1 2\n" + points,                  // refused past the first block
        points + at_bound + "x\n1 2 3\n",            // a line over the bound
        points + at_bound + "\r\n" + points,          // a line at the bound
    };
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / "sevenparam-blocks-test.txt";
    for (const std::string& text : cases) {
        std::ofstream(path, std::ios::binary) << text;
        const auto outcome = [&](const auto& read) {
            try {
                const point_file p = read();
                return std::to_string(p.size()) + " " + p.names.back() + " " +
                       std::to_string(p.xyz.back()) + " " + std::to_string(p.lines.back());
            } catch (const point_file_error& e) {
                return std::string(e.what());
            }
        };
        EXPECT_EQ(outcome([&] { return read_point_file(path.string()); }),
                  outcome([&] { return parse(text, path.string()); }));
    }
    std::filesystem::remove(path);
}

TEST(PointFile, ReadingWhatIsNoFile)
{
    // A directory once reported an absurd size and failed with the library's
    // allocation message rather than naming the input.
    for (const std::string path : {"no/such/points.txt", "."}) {
        try {
            read_point_file(path);
            ADD_FAILURE() << "read " << path;
        } catch (const point_file_error& e) {
            EXPECT_EQ(std::string(e.what()).rfind(path + ": cannot read: ", 0), 0u) << e.what();
        }
    }
}

TEST(PointFile, NamesPairByOrder)
{
    const point_file named = parse("A 1 2 3\nB 4 5 6\nC 7 8 9\n", "s.txt");
    const point_file unnamed = parse("1 2 3\n4 5 6\n\n7 8 9\n", "d.txt");
    // The names move out of the file that gives them (the source where both
    // do, and the target then keeps its own).
    const std::vector<std::string> letters{"A", "B", "C"};
    const struct {
        point_file source, target;
        std::vector<std::string> names;
        std::size_t target_names_left;
    } pairs[] = {{named, named, letters, 3},
                 {unnamed, named, letters, 0},
                 {unnamed, unnamed, {"1", "2", "3"}, 0}};
    for (auto p : pairs) {
        EXPECT_EQ(pair_point_names(p.source, p.target), p.names);
        EXPECT_TRUE(p.source.names.empty());
        EXPECT_EQ(p.target.names.size(), p.target_names_left);
    }

    struct {
        point_file source, target;
        std::string message;
    } errors[] = {
        {named, parse("A 1 2 3\n# moved\nC 4 5 6\nB 7 8 9\n", "d.txt"),
         "common point 2 is named \"B\" in s.txt line 2 but \"C\" in d.txt line 3"},
        {named, parse("1 2 3\n", "d.txt"),
         "s.txt holds 3 points, d.txt holds 1: common points pair by order, so the counts must "
         "agree"},
        {parse("1 2 3\n", "d.txt"), named,
         "d.txt holds 1 point, s.txt holds 3: common points pair by order, so the counts must "
         "agree"},
    };
    for (auto& e : errors) {
        try {
            pair_point_names(e.source, e.target);
            ADD_FAILURE() << "paired: " << e.message;
        } catch (const point_file_error& error) {
            EXPECT_EQ(error.what(), e.message);
        }
    }
}

} // namespace
} // namespace sevenparam
