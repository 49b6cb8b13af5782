#include "numlist/number_list.h"
#include "numlist/result_file.h"

#include <gtest/gtest.h>

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace sevenparam {
namespace {

const double inf_v = std::numeric_limits<double>::infinity();
const double nan_v = std::numeric_limits<double>::quiet_NaN();

// Compares bit for bit apart from the NaN payload, so that -0.0 differs from
// 0.0 and a NaN equals a NaN of the same sign.
void expect_same_values(const std::vector<double>& expected, const std::vector<double>& got,
                        const std::string& text)
{
    ASSERT_EQ(expected.size(), got.size()) << "text: " << text;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(std::signbit(expected[i]), std::signbit(got[i])) << text << " value " << i;
        if (std::isnan(expected[i])) {
            EXPECT_TRUE(std::isnan(got[i])) << text << " value " << i;
        } else {
            EXPECT_EQ(expected[i], got[i]) << text << " value " << i;
        }
    }
}

TEST(ParseNumberList, AcceptedTexts)
{
    const struct {
        std::string text;
        std::vector<double> values;
    } cases[] = {
        {"1,2,3,4,5,6", {1, 2, 3, 4, 5, 6}},
        {"1, 2, 3", {1, 2, 3}},
        {"1 2 3", {123}}, // spaces go before the split: one value
        {"1 000.5", {1000.5}},
        {"1.5e3,-2,+.5", {1500, -2, 0.5}},
        {"1,2,3,", {1, 2, 3}},
        {"1,2,3, ", {1, 2, 3}},
        {"1,2,3\r", {1, 2, 3}},
        {"\t1\t,\n2\v,\f3\r\n", {1, 2, 3}},
        {"inf,nan,0x10", {inf_v, nan_v, 16}},
        {"-INF,Infinity,-0X1.8p1,0x.8,0XaP-4,0x1p+2", {-inf_v, inf_v, -3, 0.5, 0.625, 4}},
        {"nan(abc),-0,1.,1E-2", {nan_v, -0.0, 1, 0.01}},
        {"1.7976931348623157e308", {std::numeric_limits<double>::max()}},
        // Rounds to a subnormal, not to zero: a value, not a range error.
        {"5e-324", {std::numeric_limits<double>::denorm_min()}},
        {"", {}},
        {"    ", {}},
    };
    for (const auto& c : cases) {
        expect_same_values(c.values, parse_number_list(c.text), c.text);
    }
}

// Plain decimals are read by a fast path of their own; every value must be
// std::from_chars's, bit for bit, at the edges of that path (2^53, 19 digits,
// 22 decimals) and on random decimals of 1 to 20 digits.
TEST(ConvertNumberField, PlainDecimalsAsFromChars)
{
    std::vector<std::string> texts = {
        "0", "-0", "+0.5", "-0.000", "00012.50", "9007199254740992", "9007199254740993",
        "-9007199254740995.0", "900719925474099.3", "0.1", "0.3", "1234567890123456789",
        "12345678901234567890", "0.0000000000000000000001", "0.00000000000000000000001",
        "1.0000000000000000000001", "4503599627370497.5", "-1381872.1740", "1.", ".5", "1.5\r"};
    std::mt19937_64 random(17);
    for (int i = 0; i < 200000; ++i) {
        const int digits = 1 + static_cast<int>(random() % 20);
        std::string text = random() % 2 ? "-" : "";
        const auto point = static_cast<int>(random() % static_cast<unsigned>(digits + 1));
        for (int k = 0; k < digits; ++k) {
            if (k == point && k > 0)
                text += '.';
            text += static_cast<char>('0' + random() % 10);
        }
        texts.push_back(text);
    }
    for (const std::string& text : texts) {
        const char* first = text.data();
        const char* last = text.data() + text.size();
        const bool negative = *first == '-';
        double expected = 0;
        const auto result = std::from_chars(first + (*first == '-' || *first == '+'), last, expected);
        ASSERT_EQ(result.ec, std::errc()) << text;
        expected = negative ? -expected : expected;
        const double got = convert_number_field(first, last, 1);
        EXPECT_EQ(std::signbit(expected), std::signbit(got)) << text;
        EXPECT_EQ(expected, got) << text;
    }
}

TEST(ParseNumberList, MinusNanKeepsItsSign)
{
    const std::vector<double> v = parse_number_list("-nan,nan");
    ASSERT_EQ(2u, v.size());
    EXPECT_TRUE(std::isnan(v[0]) && std::signbit(v[0]));
    EXPECT_TRUE(std::isnan(v[1]) && !std::signbit(v[1]));
}

enum class error_kind { invalid, range };

// Each bad text with the field that its error must name (the leftmost bad
// one) and that field's text after space removal.
TEST(ParseNumberList, ErrorsNameTheLeftmostBadField)
{
    const struct {
        std::string text;
        error_kind kind;
        std::size_t field;
        std::string field_text;
    } cases[] = {
        {"1,2,3,\t", error_kind::invalid, 4, "\t"},
        {"1,,2", error_kind::invalid, 2, ""},
        {",1", error_kind::invalid, 1, ""},
        {",", error_kind::invalid, 1, ""},
        {"abc,3", error_kind::invalid, 1, "abc"},
        // Trailing bytes after a number were once dropped without notice:
        // "12abc" read as 12, and a line feed swallowed the 4 of "3\n4".
        {"12abc,3", error_kind::invalid, 1, "12abc"},
        {"1,2,3\n4,5,6", error_kind::invalid, 3, "3\n4"},
        {"1, 2 x", error_kind::invalid, 2, "2x"},
        {std::string("1\0002", 3), error_kind::invalid, 1, std::string("1\0002", 3)},
        {"+-1", error_kind::invalid, 1, "+-1"},
        {"--1", error_kind::invalid, 1, "--1"},
        {"1e", error_kind::invalid, 1, "1e"},
        {".", error_kind::invalid, 1, "."},
        {"nan(", error_kind::invalid, 1, "nan("},
        // After "0x" only a hex digit or a point starts a hex number; strtod
        // would convert the "0" and leave the rest behind.
        {"0x", error_kind::invalid, 1, "0x"},
        {"0xinf", error_kind::invalid, 1, "0xinf"},
        {"0x-1", error_kind::invalid, 1, "0x-1"},
        {"0x.p1", error_kind::invalid, 1, "0x.p1"},
        // Found by fuzzing: the hex reader took a doubled exponent sign and
        // read "0x8p+-1" as 4.
        {"0x1p2,0x8p+-1", error_kind::invalid, 2, "0x8p+-1"},
        {"0x.8P-+1", error_kind::invalid, 1, "0x.8P-+1"},
        {"1e400", error_kind::range, 1, "1e400"},
        {"1e400x", error_kind::invalid, 1, "1e400x"}, // not a number at all
        {"1, -1e-400", error_kind::range, 2, "-1e-400"},
        {"0x1p-1075", error_kind::range, 1, "0x1p-1075"},
        {"1,abc,1e400", error_kind::invalid, 2, "abc"},
        {"1,1e400,abc", error_kind::range, 2, "1e400"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("text: " + c.text);
        try {
            parse_number_list(c.text);
            ADD_FAILURE() << "no error";
        } catch (const invalid_number_error& e) {
            EXPECT_EQ(error_kind::invalid, c.kind);
            EXPECT_STREQ("invalid stod argument", e.what());
            EXPECT_EQ(c.field, e.field_number());
            EXPECT_EQ(c.field_text, e.field_text());
        } catch (const number_out_of_range_error& e) {
            EXPECT_EQ(error_kind::range, c.kind);
            EXPECT_STREQ("stod argument out of range", e.what());
            EXPECT_EQ(c.field, e.field_number());
            EXPECT_EQ(c.field_text, e.field_text());
        }
    }
}

TEST(ParseNumberList, ErrorsAreTheStandardTypes)
{
    EXPECT_THROW(parse_number_list("x"), std::invalid_argument);
    EXPECT_THROW(parse_number_list("1e999"), std::out_of_range);
}

TEST(ReadCoordinateList, CountsEveryValue)
{
    std::size_t count = 0;
    std::unique_ptr<double[]> values = read_coordinate_list("1,2,3,4,5,6,7", count);
    ASSERT_NE(nullptr, values);
    EXPECT_EQ(7u, count);
    EXPECT_EQ(7.0, values[6]);

    // A 16-bit count once turned 65,536 values into a count of 0.
    std::string text;
    for (int i = 0; i < 65536; ++i) {
        text += std::to_string(i) + ",";
    }
    values = read_coordinate_list(text, count);
    ASSERT_EQ(65536u, count);
    EXPECT_EQ(0.0, values[0]);
    EXPECT_EQ(65535.0, values[65535]);
}

TEST(ReadCoordinateList, EmptyListLeavesCountUntouched)
{
    for (const std::string text : {"", "   "}) {
        std::size_t count = 42;
        EXPECT_EQ(nullptr, read_coordinate_list(text, count));
        EXPECT_EQ(42u, count);
    }
}

TEST(ReadCoordinateList, ErrorLeavesCountUntouched)
{
    std::size_t count = 42;
    EXPECT_THROW(read_coordinate_list("1,2,x", count), invalid_number_error);
    EXPECT_EQ(42u, count);
}

// The library may run in a process whose locale uses a decimal comma; the
// point must still be the decimal separator, both when reading and writing.
class DecimalCommaLocale : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "German"}) {
            if (std::setlocale(LC_ALL, name) != nullptr) {
                return;
            }
        }
        GTEST_SKIP() << "no decimal-comma locale installed";
    }
    void TearDown() override { std::setlocale(LC_ALL, "C"); }
};

TEST_F(DecimalCommaLocale, PointStaysTheDecimalSeparator)
{
    ASSERT_STREQ(",", std::localeconv()->decimal_point);
    expect_same_values({1.5, 2.25, 3}, parse_number_list("1.5,2.25,3"), "1.5,2.25,3");
    expect_same_values({1, 5}, parse_number_list("1,5"), "1,5");
    EXPECT_EQ("1.500000,-0.250000", join_numbers({1.5, -0.25}));
}

} // namespace
} // namespace sevenparam
