// The report's own pieces: names as UTF-8, number texts, the JSON and text
// renderings of a hand-filled report, and the gathering of inputs.
#include "report/inputs.h"
#include "report/json_report.h"
#include "report/number_format.h"
#include "report/report_options.h"
#include "report/row_blocks.h"
#include "report/text_encoding.h"
#include "report/text_report.h"
#include "report/warnings.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace sevenparam {
namespace {

// "点1" (point 1) in GBK, as a Chinese Windows system writes it, and in UTF-8.
const std::string gbk_name = "\xB5\xE3"
                             "1";
const std::string utf8_name = "\xE7\x82\xB9"
                              "1";

TEST(TextEncoding, NamesBecomeUtf8)
{
    EXPECT_EQ(to_utf8(gbk_name), utf8_name);
    EXPECT_EQ(to_utf8(utf8_name), utf8_name); // already UTF-8: unchanged
    EXPECT_EQ(to_utf8("P01"), "P01");
    // Never fails: whatever the bytes, the result is UTF-8.
    for (const std::string bytes : {"\xFF\xFE", "A\xB5", "\x80\x81\x82", "\xC0\xAF"}) {
        EXPECT_TRUE(is_utf8(to_utf8(bytes))) << bytes;
    }
    EXPECT_FALSE(is_utf8("\xED\xA0\x80")); // a UTF-16 surrogate
    EXPECT_EQ(display_width(utf8_name), 3u);
    EXPECT_EQ(display_width(gbk_name), 3u);
}

TEST(TextEncoding, OnlyWellFormedUtf8IsKept)
{
    const struct {
        std::string bytes;
        bool utf8;
    } cases[] = {
        // Overlong forms of "/" are no UTF-8.
        {"\xE0\x80\xAF", false},
        {"\xF0\x80\x80\xAF", false},
        {"\xC1\xBF", false},
        // The smallest and largest of each length, and just beyond U+10FFFF.
        {"\xC2\x80", true},
        {"\xE0\xA0\x80", true},
        {"\xF0\x90\x80\x80", true},
        {"\xF4\x8F\xBF\xBF", true},
        {"\xF4\x90\x80\x80", false},
        {"\xED\x9F\xBF", true}, // U+D7FF, just below the surrogates
    };
    for (const auto& c : cases) {
        EXPECT_EQ(is_utf8(c.bytes), c.utf8) << c.bytes;
    }
    // A GBK name whose bytes begin with an overlong form ("鄝疉") is converted,
    // not passed on as if it were UTF-8.
    EXPECT_EQ(to_utf8("\xE0\x80\xAF"
                      "A"),
              "\xE9\x84\x9D\xE7\x96\x89");
}

TEST(NumberFormat, Texts)
{
    const auto text = [](auto append, double value, auto... more) {
        std::string out;
        append(out, value, more...);
        return out;
    };
    EXPECT_EQ(text(append_fixed, 0.00005, 4), "0.0001");
    EXPECT_EQ(text(append_fixed, -0.00004, 4), "0.0000"); // no "-0.0000"
    EXPECT_EQ(text(append_fixed, -1234.56789, 2), "-1234.57");
    EXPECT_EQ(text(append_fixed, 7.0, 0), "7");
    EXPECT_EQ(text(append_fixed, 1e20, 1), "100000000000000000000.0");
    EXPECT_EQ(text(append_fixed, -std::numeric_limits<double>::infinity(), 3), "-inf");
    EXPECT_EQ(text(append_shortest, 0.1), "0.1");
    EXPECT_EQ(text(append_shortest, -1.6976557996976114e-06), "-1.6976557996976114e-06");
    // Fault pinned: a tie in the last decimal that the double holds exactly.
    EXPECT_EQ(text(append_fixed, 10.5, 1), "10.5");
    EXPECT_EQ(text(append_fixed, -10.25, 2), "-10.25");
    EXPECT_EQ(text(append_fixed, 0.125, 3), "0.125");
    char buffer[fixed_capacity + 1];
    char* const end = buffer + sizeof buffer;
    EXPECT_EQ(std::string(format_fixed_before(end, 10.5, 1), end), "10.5");
    EXPECT_EQ(std::string(buffer, format_fixed(buffer, 10.5, 1)), "10.5");
    EXPECT_EQ(text(append_json_number, 42.0), "42.0");
    EXPECT_EQ(text(append_json_number, std::numeric_limits<double>::quiet_NaN()), "null");
    // Fault pinned: an axis at 179.96 degrees was shown as "180.0", outside [0, 180).
    EXPECT_EQ(axis_azimuth_shown(179.96, 1), 0.0);
    EXPECT_EQ(axis_azimuth_shown(179.94, 1), 179.94);
    // The widest texts fit put_json_number's room: the longest shortest
    // form, an integral value with its ".0", a non-finite value.
    for (const auto& [value, expected] :
         std::vector<std::pair<double, std::string>>{
             {-2.2250738585072014e-308, "-2.2250738585072014e-308"},
             {-9007199254740991.0, "-9007199254740991.0"},
             {-std::numeric_limits<double>::infinity(), "null"},
             {1e22, "1e+22"}}) {
        char room[json_number_capacity];
        EXPECT_EQ(std::string(room, put_json_number(room, value)), expected);
    }
}

// The shortest texts take their digits from libfmt's Dragonbox and lay them
// out as std::to_chars does: every kind of double reads the same as the
// standard library writes it (the tie of fixed and exponent form, the
// zeros of large integers, the widths of exponents, subnormals, -0).
TEST(NumberFormat, ShortestIsToChars)
{
    std::vector<double> values = {0.0, -0.0, 1.0, 10000.0, 100000.0, 0.001, 0.0001, 0.00012,
                                  1e15, 1e16, 1e17, 123456789012345680.0, 9007199254740993.0,
                                  1.2345678901234567e21, 5e-324, -2.2250738585072014e-308,
                                  1.7976931348623157e308, 1e-5, 1e-100, 1e100};
    for (int p = -325; p <= 308; ++p) {
        values.push_back(std::pow(10.0, p));
        values.push_back(-3 * std::pow(10.0, p - 1));
    }
    std::mt19937_64 random(17);
    for (int i = 0; i < 300000; ++i) {
        const std::uint64_t bits = random();
        double d;
        std::memcpy(&d, &bits, sizeof d);
        if (std::isfinite(d)) {
            values.push_back(d);
        }
        values.push_back(std::ldexp(static_cast<double>(random() >> 11), static_cast<int>(random() % 120) - 60));
        values.push_back(static_cast<double>(random() >> (random() % 64)));
    }
    for (const double v : values) {
        char expected[64];
        const std::string standard(expected, std::to_chars(expected, expected + sizeof expected, v).ptr);
        std::string shortest;
        append_shortest(shortest, v);
        ASSERT_EQ(shortest, standard);
        const bool integral = standard.find_first_of(".e") == std::string::npos;
        char room[json_number_capacity];
        ASSERT_EQ(std::string(room, put_json_number(room, v)), standard + (integral ? ".0" : ""));
    }
}

// Blocks of rows formatted on several threads, the writing thread among
// them, come out as formatted in order on one; a block that fails stops
// the writing and its exception comes out once every thread has stopped.
TEST(RowBlocks, SameBytesOnAnyThreadsAndFailuresRaised)
{
    const auto format = [](std::size_t begin, std::size_t end, std::string& text) {
        for (std::size_t i = begin; i < end; ++i) {
            text += std::to_string(i * i % 977) + (i % 3 == 0 ? "\n" : ",");
        }
    };
    for (const std::size_t count : {std::size_t{0}, std::size_t{1}, row_block_size,
                                    row_block_size + 1, 9 * row_block_size + 5}) {
        std::string expected;
        format(0, count, expected);
        for (const unsigned threads : {1u, 2u, 3u, 7u}) {
            std::ostringstream out;
            write_row_blocks(out, count, threads, format);
            EXPECT_EQ(out.str(), expected) << count << " rows, " << threads << " threads";
        }
    }
    for (const unsigned threads : {1u, 2u, 7u}) {
        std::ostringstream out;
        EXPECT_THROW(write_row_blocks(out, 9 * row_block_size, threads,
                                      [&](std::size_t begin, std::size_t end, std::string& text) {
                                          if (begin == 4 * row_block_size) {
                                              throw std::runtime_error("block 4");
                                          }
                                          format(begin, end, text);
                                      }),
                     std::runtime_error)
            << threads << " threads";
    }
}

quality_report sample_report()
{
    quality_report r;
    r.common_points = 4;
    r.redundancy = 5;
    r.iterations = 2;
    r.sigma0 = 0.0021;
    r.sigma0_sevenparam = 0.0033;
    r.parameters.value << 1e-10, -2e-10, 3e-10, -1.6976557996976114e-06, 5.4e-06, -1.2e-05,
        3.6993130366398366e-06;
    r.parameters.sigma.setConstant(1e-3);
    r.centroid_source << -2187996.6686083334, 4777864.9529, 3556060.6399916667;
    r.centroid_target << -2188096.9211333334, 4777972.090583333, 3556133.2235499993;
    r.bursa_wolf.translation_m << -15.4, 121.8, 63.2;
    r.bursa_wolf.rotation_arcsec << -0.35, 1.12, -2.48;
    r.bursa_wolf.scale_ppm = 3.7;
    r.bursa_wolf.sigma_translation_m.setConstant(0.02);
    r.bursa_wolf.sigma_rotation_arcsec.setConstant(0.001);
    r.linearisation_max_m = 2e-4;
    r.linearisation_warning = true;
    r.mirrored = true;
    r.towgs84 = "+towgs84=-15.4,121.8,63.2,0.35,-1.12,2.48,3.7";
    residual_row kept;
    kept.name = gbk_name;
    kept.xyz_m << 0.0012345678901234567, -0.002, 0.003;
    kept.length_m = 0.00374;
    kept.w << 0.5, -3.5, 1;
    kept.figure = 3.5;
    kept.mdb_m << std::numeric_limits<double>::quiet_NaN(), 0.0123, 0.0123; // undefined
    kept.flagged = true;
    residual_row left_out;
    left_out.name = "P\"9\\"; // JSON must escape both
    left_out.removed = true;
    left_out.xyz_m << 0.05, 0, 0;
    r.residuals = {kept, left_out};
    r.tests.critical_value = 3.29;
    r.excluded = {{"P9", excluded_point::reason::snooping, 6.25}};
    r.predictions = {{"T1", Eigen::Vector3d(-1789110.26936, 4915375.2222954, 3638142.9461719), {}}};
    return r;
}

// sample_report after an adjustment with precisions of both systems,
// variance components and Huber's robust estimation: the first point is a
// likely blunder; the point left out has no adjusted coordinates and no
// weight, but its carried precision.
quality_report weighted_report()
{
    quality_report r = sample_report();
    r.stochastic = {true, true, true};
    r.sigma0 = 1.25;
    r.tests.test = residual_tests::kind::w;
    r.tests.global = global_test{12.5, 20.515, true};
    r.variance_components = variance_component_estimate{1.5, 0.75, 1.375, 3};
    r.robust = robust_summary{robust_estimator::huber, 1.5, 7, {0.04}, {0}};
    adjusted_point a;
    a.source_residual_m << 0.0011, -0.0022, 0.0005;
    a.target_residual_m << -0.0007, 0.0019, -0.0031;
    a.source_m << -2187996.1234, 4777864.5678, 3556060.25;
    a.target_m << -2188096.5, 4777972.0625, 3556133.125;
    r.adjusted = {a};
    carried_precision c;
    c.covariance_xyz_m2 << 4e-6, 1e-6, -5e-7, 1e-6, 9e-6, 2e-6, -5e-7, 2e-6, 1.6e-5;
    c.sigma_xyz_m << 0.002, 0.003, 0.004;
    c.sigma_enu_m << 0.0025, 0.0018, 0.0041;
    c.ellipse = {0.0123, 0.0045, 33.5};
    carried_precision d = c;
    d.ellipse.azimuth_deg = 171.25;
    r.common_precision = {c, d};
    r.predictions[0].precision = c;
    return r;
}

TEST(JsonReport, SameContentAsTheReport)
{
    const quality_report r = sample_report();
    std::ostringstream out;
    write_json_report(out, r, "9.9");
    const nlohmann::json j = nlohmann::json::parse(out.str());

    EXPECT_EQ(j["version"], "9.9");
    EXPECT_EQ(j["rotation"], "linearised");
    EXPECT_EQ(j["common_points"], 4);
    EXPECT_EQ(j["redundancy"], 5);
    EXPECT_EQ(j["largest_residual"]["name"], utf8_name);
    // Numbers read back as the very doubles.
    EXPECT_EQ(j["parameters"]["ex"].get<double>(), r.parameters.value(3));
    EXPECT_EQ(j["parameters"]["sigma"]["m"].get<double>(), 1e-3);
    EXPECT_EQ(j["centroid_source"][2].get<double>(), r.centroid_source(2));
    EXPECT_EQ(j["bursa_wolf"]["rx_arcsec"].get<double>(), -0.35);
    EXPECT_EQ(j["bursa_wolf_position_vector"]["rx_arcsec"].get<double>(), 0.35);
    EXPECT_EQ(j["bursa_wolf"]["sigma"]["s_ppm"].get<double>(), 0.0);
    EXPECT_EQ(j["towgs84"], r.towgs84);
    EXPECT_TRUE(j["linearisation_warning"].get<bool>());
    EXPECT_TRUE(j["mirrored"].get<bool>());
    EXPECT_EQ(j["warnings"], nlohmann::json(report_warnings(r)));
    EXPECT_EQ(j["tests"]["kind"], "tau");
    EXPECT_TRUE(j["tests"]["global"].is_null());
    ASSERT_EQ(j["correlation"].size(), 7u);

    ASSERT_EQ(j["residuals"].size(), 2u);
    const auto& first = j["residuals"][0];
    EXPECT_EQ(first["name"], utf8_name);
    EXPECT_EQ(first["xyz_m"][0].get<double>(), r.residuals[0].xyz_m(0));
    EXPECT_EQ(first["w"][1].get<double>(), -3.5);
    EXPECT_TRUE(first["flagged"].get<bool>());
    EXPECT_FALSE(first["removed"].get<bool>());
    for (const char* key : {"enu_m", "length_m", "redundancy", "figure", "mdb_m", "check_m"}) {
        EXPECT_TRUE(first.contains(key)) << key;
    }
    EXPECT_TRUE(j["residuals"][1]["removed"].get<bool>());
    EXPECT_EQ(j["residuals"][1]["name"], "P\"9\\");
    EXPECT_EQ(j["excluded"][0]["reason"], "snooping");
    EXPECT_EQ(j["excluded"][0]["figure"].get<double>(), 6.25);
    EXPECT_EQ(j["predictions"][0]["xyz_m"][1].get<double>(), 4915375.2222954);
}

// The JSON of an adjustment with precisions, variance components and robust
// estimation: each figure under its key, a row a line.
TEST(JsonReport, PrecisionsVarianceComponentsAndRobustEstimation)
{
    using json = nlohmann::json;
    std::ostringstream out;
    write_json_report(out, weighted_report(), "9.9");
    const std::string text = out.str();
    const json j = json::parse(text);
    const struct {
        const char* pointer;
        json value;
    } cases[] = {
        {"/stochastic/weighted", true},
        {"/stochastic/source_precision", true},
        {"/stochastic/target_precision", true},
        {"/stochastic/variance_factor_apriori", 1.0},
        {"/sigma0", 1.25},
        {"/tests/global/statistic", 12.5},
        {"/variance_components/source_factor", 1.5},
        {"/variance_components/target_factor", 0.75},
        {"/variance_components/sigma0_before", 1.375},
        {"/variance_components/iterations", 3},
        {"/robust/estimator", "huber"},
        {"/robust/constant", 1.5},
        {"/robust/iterations", 7},
        {"/robust/blunder_weight", 0.05},
        {"/robust/blunders", json::array({utf8_name})},
        {"/residuals/0/weight", 0.04},
        {"/residuals/1/weight", nullptr},
        {"/residuals/0/source_residual_m", {0.0011, -0.0022, 0.0005}},
        {"/residuals/0/target_residual_m", {-0.0007, 0.0019, -0.0031}},
        {"/residuals/0/source_adjusted_m", {-2187996.1234, 4777864.5678, 3556060.25}},
        {"/residuals/0/target_adjusted_m", {-2188096.5, 4777972.0625, 3556133.125}},
        {"/residuals/1/ellipse/azimuth_deg", 171.25},
        {"/predictions/0/sigma_xyz_m", {0.002, 0.003, 0.004}},
        {"/predictions/0/sigma_enu_m", {0.0025, 0.0018, 0.0041}},
        {"/predictions/0/covariance_xyz_m2",
         {{4e-6, 1e-6, -5e-7}, {1e-6, 9e-6, 2e-6}, {-5e-7, 2e-6, 1.6e-5}}},
        {"/predictions/0/ellipse",
         {{"semi_major_m", 0.0123},
          {"semi_minor_m", 0.0045},
          {"azimuth_deg", 33.5},
          {"confidence", 0.95}}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(j.at(json::json_pointer(c.pointer)), c.value) << c.pointer;
    }
    EXPECT_FALSE(j["residuals"][1].contains("source_adjusted_m")) << "a point left out";
    // Each row an object on a line of its own.
    for (const char* row : {"\n    {\"name\": \"P\\\"9\\\\\", ", "\n    {\"name\": \"T1\", "}) {
        const std::size_t at = text.find(row);
        ASSERT_NE(at, std::string::npos) << row;
        std::string line = text.substr(at + 5, text.find('\n', at + 1) - at - 5);
        if (line.back() == ',') {
            line.pop_back();
        }
        EXPECT_TRUE(json::parse(line).is_object()) << line;
    }

    // Without precisions and robust estimation the keys are not there.
    std::ostringstream plain_out;
    write_json_report(plain_out, sample_report(), "9.9");
    const json plain = json::parse(plain_out.str());
    for (const char* key : {"stochastic", "variance_components", "robust"}) {
        EXPECT_FALSE(plain.contains(key)) << key;
    }
    for (const char* key : {"weight", "source_residual_m", "sigma_xyz_m", "ellipse"}) {
        EXPECT_FALSE(plain["residuals"][0].contains(key)) << key;
    }
    EXPECT_TRUE(plain["predictions"][0].contains("ellipse"));
}

// Three points in the plane Z = 0: the Z residuals are absorbed by tz, ex and
// ey, so no other point checks a Z coordinate. Its w and MDB are undefined:
// NaN in the report, null in the JSON, a dash in the text; X and Y are
// checked (redundancy 2 in all).
TEST(JsonReport, UncheckedCoordinatesAreNull)
{
    named_points source, target;
    source.names = target.names = {"A", "B", "C"};
    source.xyz.resize(3, 3);
    target.xyz.resize(3, 3);
    source.xyz << 0, 0, 0, 1000, 0, 0, 0, 1000, 0;
    target.xyz << 100.003, 200.001, 300.002, 1100.001, 199.998, 299.996, 99.997, 1200.002, 300.004;
    const quality_report report = build_quality_report(source, target, {}, {});
    EXPECT_EQ(report.redundancy, 2);
    std::ostringstream out;
    write_json_report(out, report, "9.9");
    const nlohmann::json j = nlohmann::json::parse(out.str());
    for (std::size_t i = 0; i < 3; ++i) {
        const residual_row& row = report.residuals[i];
        EXPECT_TRUE(std::isnan(row.w(2)) && std::isnan(row.mdb_m(2))) << row.name;
        EXPECT_TRUE(std::isfinite(row.w(0)) && std::isfinite(row.mdb_m(1))) << row.name;
        const auto& json_row = j["residuals"][i];
        EXPECT_TRUE(json_row["w"][2].is_null()) << row.name;
        EXPECT_TRUE(json_row["mdb_m"][2].is_null()) << row.name;
        EXPECT_TRUE(json_row["w"][0].is_number()) << row.name;
    }
}

TEST(TextReport, NamesAsGivenAndTheMarks)
{
    std::ostringstream out;
    write_text_report(out, sample_report(), "title");
    const std::string text = out.str();
    const auto has = [&text](const std::string& part) {
        return text.find(part) != std::string::npos;
    };
    EXPECT_EQ(text.rfind("title\n", 0), 0u);
    EXPECT_TRUE(has("\n  " + gbk_name + "  ")) << "the name's bytes unchanged";
    EXPECT_TRUE(has("-1.6976557996976114e-06 rad")) << "every digit of an estimate";
    EXPECT_TRUE(has("FLAGGED"));
    EXPECT_FALSE(has("nan")) << "an undefined figure is a dash";
    EXPECT_TRUE(has("removed"));
    // The warnings stand in the summary at the top, before the parameters.
    const std::size_t parameters = text.find("\nParameters as estimated");
    const std::size_t mirrored = text.find("\n  WARNING: the target is mirrored against the "
                                           "source, so no rotation fits it: are two axes "
                                           "swapped?\n");
    const std::size_t linearisation = text.find(
        "\n  WARNING: the small-angle rotation departs from the exact one by up to 0.2 mm at "
        "the common points, above 0.1 mm: the linearised model limits this result; --rotation "
        "exact removes the limit\n");
    EXPECT_LT(mirrored, parameters);
    EXPECT_LT(linearisation, parameters);
    EXPECT_EQ(text.find("WARNING: the", parameters), std::string::npos) << "once, at the top";
    EXPECT_TRUE(has("1  P9  data snooping, figure 6.25"));
    EXPECT_TRUE(has("T1     -1789110.2694  4915375.2223  3638142.9462"));
    EXPECT_TRUE(has("largest residual             0.0037 m at " + gbk_name));
}

std::string text_of(const quality_report& r)
{
    std::ostringstream out;
    write_text_report(out, r, "title");
    return out.str();
}

// Every figure of an adjustment with precisions, variance components and
// robust estimation, as the text shows it.
TEST(TextReport, PrecisionsVarianceComponentsAndRobustEstimation)
{
    const std::string text = text_of(weighted_report());
    const std::string lines[] = {
        "\nStochastic model\n  precisions given  source and target points (errors in both "
        "systems)\n",
        "  sigma0            1.25 (unitless: the square root of the variance factor v'Pv / (3n - "
        "7))\n",
        "  global test       v'Pv = 12.500, critical value 20.515 (chi-square, 5 degrees of "
        "freedom): passed (does the variance factor agree with 1?)\n",
        "  standard errors   of the parameters, w-tests and MDBs with the a-priori variance "
        "factor 1\n",
        "  source factor              1.5  (unitless; multiplies the variances of the source",
        "  target factor             0.75  (unitless;",
        "  sigma0 before the refit  1.375  (unitless;",
        "  this report is that of the refit with the precisions scaled by these factors\n",
        "  estimator        huber, constant 1.5 (standardised residual)\n",
        "  iterations       7\n",
        "  likely blunders  " + gbk_name + " (final weight below 0.05)\n",
        // sigma0 is no length with precisions given.
        "  sigma0                            1.25 (unitless)  sqrt(v'Pv / (3n - 7))",
        "  standard errors take the a-priori variance factor 1",
        // The weight column: a point left out has none.
        "|v| (m)  weight  note\n",
        "   0.0037   0.040  FLAGGED\n",
        "   0.0000       -  removed\n",
        // Both systems, for the point of the final set only.
        "  " + gbk_name +
            "           0.0011        -0.0022         0.0005        -0.0007         0.0019        "
            "-0.0031  FLAGGED\n",
        "  " + gbk_name +
            "    -2187996.1234  4777864.5678  3556060.2500  -2188096.5000  4777972.0625  "
            "3556133.1250  FLAGGED\n",
        // Carried precision: common points (the one left out too) and the test point.
        "Precision of the common points as transformed (standard errors; horizontal error "
        "ellipse at 95 % confidence",
        "  P\"9\\   0.0020  0.0030  0.0040  0.0025  0.0018  0.0041     0.0123     0.0045          "
        "171.3  removed\n",
        "  T1     0.0020  0.0030  0.0040  0.0025  0.0018  0.0041     0.0123     0.0045           "
        "33.5\n",
    };
    for (const std::string& line : lines) {
        EXPECT_NE(text.find(line), std::string::npos) << line;
    }
    EXPECT_EQ(text.find("Residuals in both systems", text.find("\n  P\"9\\   0.0020")),
              std::string::npos)
        << "no adjusted coordinates for the point left out";

    // Without precisions and robust estimation none of it but the test
    // points' precision, and sigma0 stays a length.
    const std::string plain = text_of(sample_report());
    for (const char* absent : {"Stochastic model", "Variance components", "Robust estimation",
                               "weight", "both systems", "common points as transformed", "v'Pv"}) {
        EXPECT_EQ(plain.find(absent), std::string::npos) << absent;
    }
    EXPECT_NE(plain.find("Precision of the test points as carried"), std::string::npos);
    EXPECT_NE(plain.find("  sigma0" + std::string(26, ' ') + "0.0021 m  sqrt(v'v"),
              std::string::npos);
}

TEST(TextReport, NamesShowControlBytesAndTheirColumnIsCapped)
{
    const std::size_t cap = name_column_width;
    const std::string fits(cap, 'F');
    const std::string wide(cap + 1, 'W');
    const struct {
        std::string name;  // of the first point
        std::string shown; // in the text
        bool alone;        // on a line of its own
        std::size_t column;
    } cases[] = {
        // A name once sent its terminal controls and line breaks as they were.
        {"A\x1B[2J\n\x7F", "A\\x1B[2J\\x0A\\x7F", false, 16},
        {fits, fits, false, cap},
        // One long name once padded every row to its width.
        {wide, wide, true, cap},
        {"\t" + std::string(cap - 1, 'T'), "\\x09" + std::string(cap - 1, 'T'), true, cap},
    };
    for (const auto& c : cases) {
        quality_report r = sample_report();
        r.residuals[0].name = c.name;
        r.excluded[0].name = c.name;
        const std::string text = text_of(r);
        const auto has = [&text](const std::string& part) {
            return text.find(part) != std::string::npos;
        };
        EXPECT_EQ(text.find_first_of("\x01\x02\x07\x09\x0D\x1B\x7F"), std::string::npos) << c.shown;
        const std::string row = "\n  " + c.shown;
        const std::string next = std::string(2 + c.column, ' ');
        EXPECT_TRUE(has(
            row + (c.alone ? "\n" + next + "  " : std::string(2 + c.column - c.shown.size(), ' '))))
            << c.shown;
        // The other point's row, and the table's heading, as wide as the column.
        EXPECT_TRUE(has("\n  P\"9\\" + std::string(c.column - 4 + 2, ' ') + " ")) << c.shown;
        EXPECT_TRUE(has("\n  point" + std::string(c.column - 5 + 2, ' ') + " ")) << c.shown;
        EXPECT_TRUE(has("0.0037 m at " + c.shown + "\n")) << c.shown;
        // Points left out: number, name, reason, the reason under its column.
        EXPECT_TRUE(
            has("\n  1  " + c.shown +
                (c.alone ? "\n" + std::string(5 + c.column, ' ') + "  data snooping"
                         : std::string(c.column - c.shown.size() + 2, ' ') + "data snooping")))
            << c.shown;
    }
}

TEST(TextReport, GrowsWithThePointsNotWithTheLongestName)
{
    quality_report r = sample_report();
    for (int i = 0; i < 100; ++i) {
        r.residuals.push_back(r.residuals[1]);
    }
    const std::size_t base = text_of(r).size();
    const std::string long_name(100000, 'L');
    r.residuals[0].name = long_name;
    // The name, whole, in the summary and in each of the two tables of points.
    // Every row may widen to the cap, no further.
    const std::size_t rows = 2 * r.residuals.size();
    EXPECT_LT(text_of(r).size(), base + 3 * long_name.size() + rows * name_column_width);

    // JSON keeps the names as they are.
    r.residuals[0].name = "A\x1B[2J";
    std::ostringstream json;
    write_json_report(json, r, "9.9");
    EXPECT_EQ(nlohmann::json::parse(json.str())["residuals"][0]["name"], "A\x1B[2J");
}

TEST(Inputs, BothSourcesGiveTheSamePoints)
{
    const std::string src = "0,0,0,10,0,0,0,10,0,0,0,10";
    const std::string des = "100,200,300,110,200,300,100,210,300,100,200,310";
    input_options lists;
    lists.inputsrc = src;
    lists.inputdes = des;
    const report_inputs from_lists = gather_inputs(lists, "prog");

    std::ofstream("report_test_src.txt") << "0 0 0\n10 0 0\n0 10 0\n0 0 10\n";
    std::ofstream("report_test_des.txt") << "100 200 300\n110,200,300\n100 210 300\n"
                                            "100 200 310\n";
    input_options files;
    files.src_file = "report_test_src.txt";
    files.des_file = "report_test_des.txt";
    const report_inputs from_files = gather_inputs(files, "prog");
    std::remove("report_test_src.txt");
    std::remove("report_test_des.txt");

    EXPECT_EQ(from_lists.source.names, (std::vector<std::string>{"1", "2", "3", "4"}));
    EXPECT_EQ(from_files.source.names, from_lists.source.names);
    EXPECT_EQ(from_files.target.names, from_lists.target.names);
    EXPECT_EQ(from_files.source.xyz, from_lists.source.xyz);
    EXPECT_EQ(from_files.target.xyz, from_lists.target.xyz);
    EXPECT_EQ(from_lists.test.xyz.rows(), 0);
}

TEST(Inputs, PrecisionsBecomeCovariancesAlongXyz)
{
    // The six columns are the upper triangle row by row; sigmas square onto
    // the diagonal; --src-sigma covers the source and the test points.
    std::ofstream("report_test_src.txt") << "0 0 0 4 1 2 9 3 16\n10 0 0 4 0 0 9 0 16\n"
                                            "0 10 0 1 0 0 1 0 1\n";
    std::ofstream("report_test_des.txt") << "1 2 3 .1 .2 .3\n1 2 3 0 0 0\n1 2 3 1 1 1\n";
    input_options files;
    files.src_file = "report_test_src.txt";
    files.des_file = "report_test_des.txt";
    const report_inputs from_files = gather_inputs(files, "prog");
    std::remove("report_test_src.txt");
    std::remove("report_test_des.txt");
    Eigen::Matrix3d first;
    first << 4, 1, 2, 1, 9, 3, 2, 3, 16;
    ASSERT_EQ(from_files.source.covariance.size(), 3u);
    ASSERT_EQ(from_files.target.covariance.size(), 3u);
    EXPECT_EQ(from_files.source.covariance[0], first);
    const Eigen::Matrix3d squares = Eigen::Vector3d(.1 * .1, .2 * .2, .3 * .3).asDiagonal();
    EXPECT_EQ(from_files.target.covariance[0], squares);

    input_options lists;
    lists.inputsrc = "0,0,0,10,0,0,0,10,0";
    lists.inputdes = "1,2,3,4,5,6,7,8,9";
    lists.inputtest = "5,5,5";
    lists.precision.src_sigma = 0.5;
    const report_inputs from_lists = gather_inputs(lists, "prog");
    EXPECT_TRUE(from_lists.target.covariance.empty());
    ASSERT_EQ(from_lists.test.covariance.size(), 1u);
    EXPECT_EQ(from_lists.test.covariance[0], 0.25 * Eigen::Matrix3d::Identity());
    EXPECT_EQ(from_lists.source.covariance.size(), 3u);
}

TEST(Inputs, ProfileValuesWinOverTheOptions)
{
    // As in sevenparam: the profile's src wins over --inputsrc, and --inputdes
    // fills the des the profile lacks.
    const std::string src = "0,0,0,10,0,0,0,10,0";
    const std::string des = "100,200,300,110,200,300,100,210,300";
    std::ofstream("report_test_p.ini") << "src=" << src << "\n";
    input_options o;
    o.inputfile = "report_test_p.ini";
    o.inputsrc = "1,2,3,4,5,6,7,8,9";
    o.inputdes = des;
    const report_inputs inputs = gather_inputs(o, "prog");
    std::remove("report_test_p.ini");

    input_options lists;
    lists.inputsrc = src;
    lists.inputdes = des;
    const report_inputs expected = gather_inputs(lists, "prog");
    EXPECT_EQ(inputs.source.xyz, expected.source.xyz);
    EXPECT_EQ(inputs.target.xyz, expected.target.xyz);
    EXPECT_EQ(inputs.common_origin, "profile report_test_p.ini key src and --inputdes");
}

TEST(Inputs, ErrorsNameTheInputAndTheirKind)
{
    const auto options = [](std::optional<std::string> src, std::optional<std::string> des,
                            std::optional<std::string> src_file = {}) {
        input_options o;
        o.inputsrc = std::move(src);
        o.inputdes = std::move(des);
        o.src_file = std::move(src_file);
        return o;
    };
    const std::string three = "0,0,0,1,0,0,0,1,0";
    const struct {
        input_options given;
        int status;
        std::string message;
    } cases[] = {
        {options({}, {}), report_exit_usage_error,
         "no common points: give --src-file and --des-file, or --inputsrc and --inputdes (or "
         "--inputfile)"},
        {options(three, {}), report_exit_usage_error,
         "no target points: give --inputdes, a profile (--inputfile) with key des, or point "
         "files (--src-file, --des-file)"},
        {options(three, {}, "s.txt"), report_exit_usage_error,
         "number lists (--inputsrc, --inputdes, --inputtest, --inputfile) and point files "
         "(--src-file, --des-file, --test-file) cannot be mixed"},
        {options({}, {}, "s.txt"), report_exit_usage_error,
         "point files come in pairs: give both --src-file and --des-file"},
        {options("0,0,0,abc", three), report_exit_data_error,
         "--inputsrc field 4 \"abc\": not a number"},
        {options(three, "1,2,3,nan,0,0,0,1,0"), report_exit_data_error,
         "--inputdes field 4: not a finite number"},
        {options(three, "1,2,3,4"), report_exit_data_error,
         "--inputdes holds 4 values, not whole points of 3"},
        {options(three, "1,2,3"), report_exit_data_error,
         "--inputsrc holds 3 points, --inputdes holds 1: common points pair by order, so the "
         "counts must agree"},
        // Counts of one said "1 points", "1 values".
        {options("1,2,3", three), report_exit_data_error,
         "--inputsrc holds 1 point, --inputdes holds 3: common points pair by order, so the "
         "counts must agree"},
        {options(three, "1"), report_exit_data_error,
         "--inputdes holds 1 value, not whole points of 3"},
        // An empty file name once failed to open '' with status 1.
        {options({}, {}, ""), report_exit_usage_error, "--src-file: empty file name"},
        {options("0,0,0,1,0,0", "0,0,0,1,0,0"), report_exit_data_error,
         "--inputsrc and --inputdes hold 2 common points: at least 3 are needed"},
    };
    for (const auto& c : cases) {
        try {
            gather_inputs(c.given, "prog");
            ADD_FAILURE() << "accepted: " << c.message;
        } catch (const input_error& e) {
            EXPECT_EQ(e.status(), c.status) << c.message;
            EXPECT_EQ(e.what(), c.message);
        }
    }
}

} // namespace
} // namespace sevenparam
