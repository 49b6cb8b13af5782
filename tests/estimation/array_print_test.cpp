#include "estimation/array_print.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <sstream>

namespace sevenparam {
namespace {

std::string printf_fixed4(double v)
{
    char buffer[400];
    std::snprintf(buffer, sizeof buffer, "%10.4f", v);
    return buffer;
}

std::string fixed4(double v)
{
    std::string text;
    append_fixed4(text, v);
    return text;
}

std::string listing(const char* label, const Eigen::MatrixXd& a)
{
    std::ostringstream out;
    print_array(out, label, a);
    return out.str();
}

// The fast formatter must round exactly as printf does: the decimal nearest
// to the binary value, exact ties to even, negative values that round to zero
// keeping their sign.
TEST(Fixed4Format, AgreesWithPrintfOnChosenValues)
{
    const double values[] = {0.0,
                             -0.0,
                             1.0,
                             -1.0,
                             0.5,
                             0.03125,
                             0.09375,
                             -0.03125,
                             0.00005,
                             0.00015,
                             -0.00004,
                             1e-300,
                             -1e-300,
                             std::numeric_limits<double>::denorm_min(),
                             0.99995,
                             9.99995,
                             6378137.0,
                             -6378137.12345,
                             123456.78905,
                             2.8e14,
                             3e14,
                             1e20,
                             -1e300,
                             std::numeric_limits<double>::max(),
                             4503599627370495.5,
                             281474976710655.9999};
    for (double v : values)
        EXPECT_EQ(fixed4(v), printf_fixed4(v)) << "value " << v;
}

TEST(Fixed4Format, AgreesWithPrintfOnRandomValues)
{
    std::mt19937_64 random(20261208);
    std::uniform_real_distribution<double> coordinate(-7e6, 7e6);
    std::uniform_int_distribution<int> exponent(-30, 60);
    for (int i = 0; i < 200000; ++i) {
        const double v = i % 2 == 0 ? coordinate(random)
                                    : std::ldexp(coordinate(random) / 7e6, exponent(random));
        ASSERT_EQ(fixed4(v), printf_fixed4(v)) << "value " << v;
    }
    // Exact ties: v * 10^4 ends in exactly .5 only for v = odd / 32.
    for (int k = -4001; k <= 4001; k += 2) {
        const double v = k / 32.0;
        ASSERT_EQ(fixed4(v), printf_fixed4(v)) << "value " << v;
    }
}

TEST(Fixed4Format, NonFiniteValuesAreRightAligned)
{
    EXPECT_EQ(fixed4(std::numeric_limits<double>::quiet_NaN()), "       nan");
    EXPECT_EQ(fixed4(-std::numeric_limits<double>::quiet_NaN()), "      -nan");
    EXPECT_EQ(fixed4(std::numeric_limits<double>::infinity()), "       inf");
    EXPECT_EQ(fixed4(-std::numeric_limits<double>::infinity()), "      -inf");
}

TEST(ArrayListing, ColumnVectorEndsWithAnEmptyLine)
{
    Eigen::MatrixXd args(7, 1);
    args << 0, 1.5, -2, 1e-5, 0.00004, 12345678.9, -0.5;
    EXPECT_EQ(listing("Args", args), "Args\n[7 1 1 1]\n"
                                     "    0.0000 \n"
                                     "    1.5000 \n"
                                     "   -2.0000 \n"
                                     "    0.0000 \n"
                                     "    0.0000 \n"
                                     "12345678.9000 \n"
                                     "   -0.5000 \n"
                                     "\n");
}

TEST(ArrayListing, SingleRowHasNoEmptyLine)
{
    const Eigen::RowVector3d centroid(-2148744.5, 4426641.25, 4044655.875);
    std::ostringstream out;
    print_array(out, "ave_src", centroid);
    EXPECT_EQ(out.str(), "ave_src\n[1 3 1 1]\n-2148744.5000 4426641.2500 4044655.8750 \n");
}

TEST(ArrayListing, PointMatrixOneRowPerPoint)
{
    Eigen::MatrixXd points(2, 3);
    points << 1, 2, 3, -4.25, 5.125, -6;
    EXPECT_EQ(listing("source_points", points), "source_points\n[2 3 1 1]\n"
                                                "    1.0000     2.0000     3.0000 \n"
                                                "   -4.2500     5.1250    -6.0000 \n"
                                                "\n");
}

// Long listings are formatted in groups of rows; the text must not show it.
TEST(ArrayListing, LongListingMatchesPrintfRowByRow)
{
    std::mt19937_64 random(5);
    std::uniform_real_distribution<double> coordinate(-7e6, 7e6);
    Eigen::MatrixXd points(2500, 3);
    for (Eigen::Index i = 0; i < points.size(); ++i)
        points.data()[i] = coordinate(random);
    points(1023, 2) = 1e300; // wider than the usual room of a value
    points(1024, 0) = -std::numeric_limits<double>::infinity();
    points(2499, 1) = std::numeric_limits<double>::quiet_NaN();
    std::string expected = "source_points\n[2500 3 1 1]\n";
    for (Eigen::Index r = 0; r < points.rows(); ++r) {
        for (Eigen::Index c = 0; c < 3; ++c)
            expected += (std::isnan(points(r, c))   ? "       nan"
                         : std::isinf(points(r, c)) ? "      -inf"
                                                    : printf_fixed4(points(r, c))) +
                        " ";
        expected += "\n";
    }
    expected += "\n";
    EXPECT_EQ(listing("source_points", points), expected);
}

TEST(ArrayListing, StreamThatTakesNoOutputGetsNothing)
{
    std::ostringstream out;
    out.setstate(std::ios::badbit);
    print_array(out, "Args", Eigen::MatrixXd::Ones(7, 1));
    EXPECT_EQ(out.str(), "");
}

TEST(ArrayListing, EmptyArray)
{
    EXPECT_EQ(listing("source_points", Eigen::MatrixXd(0, 3)),
              "source_points\n[0 3 1 1]\n<empty>\n");
}

} // namespace
} // namespace sevenparam
