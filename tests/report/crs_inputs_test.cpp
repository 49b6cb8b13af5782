// The precisions of points in coordinate reference systems, as the inputs
// gather them: turned from a file's own axes into geocentric X, Y, Z.
#include "report/crs_run.h"

#include <Eigen/Dense>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace sevenparam {
namespace {

// The largest element of |a - b| against the largest of |b|.
double relative_difference(const Eigen::Matrix3d& a, const Eigen::Matrix3d& b)
{
    return (a - b).cwiseAbs().maxCoeff() / b.cwiseAbs().maxCoeff();
}

// The local north, east, up at latitude and longitude (deg), as rows.
Eigen::Matrix3d north_east_up(double lat_deg, double lon_deg)
{
    const double radians = std::acos(-1.0) / 180;
    const double f = lat_deg * radians, l = lon_deg * radians;
    Eigen::Matrix3d r;
    r << -std::sin(f) * std::cos(l), -std::sin(f) * std::sin(l), std::cos(f), //
        -std::sin(l), std::cos(l), 0,                                         //
        std::cos(f) * std::cos(l), std::cos(f) * std::sin(l), std::sin(f);
    return r;
}

std::string upper_triangle(const Eigen::Matrix3d& c)
{
    char text[200];
    std::snprintf(text, sizeof text, " %.17g %.17g %.17g %.17g %.17g %.17g", c(0, 0), c(0, 1),
                  c(0, 2), c(1, 1), c(1, 2), c(2, 2));
    return text;
}

report_inputs gather(const std::string& src_crs, const std::string& des_crs, bool east_first,
                     const std::string& src_text, const std::string& des_text,
                     std::optional<double> src_sigma = {})
{
    std::ofstream("crs_inputs_src.txt") << src_text;
    std::ofstream("crs_inputs_des.txt") << des_text;
    crs_options crs;
    crs.src_crs = src_crs;
    crs.des_crs = des_crs;
    crs.east_first = east_first;
    crs_run run = open_crs_run(crs);
    input_options o;
    o.src_file = "crs_inputs_src.txt";
    o.des_file = "crs_inputs_des.txt";
    o.precision.src_sigma = src_sigma;
    report_inputs inputs = gather_crs_inputs(o, run, "prog");
    std::remove("crs_inputs_src.txt");
    std::remove("crs_inputs_des.txt");
    return inputs;
}

// Covariances along north, east, up (m^2), one a point, all different.
std::vector<Eigen::Matrix3d> local_covariances()
{
    std::vector<Eigen::Matrix3d> c;
    for (int i = 0; i < 3; ++i) {
        Eigen::Matrix3d l;
        l << 3e-3, 0, 0, (1.0 + i) * 1e-3, 2e-3, 0, -1e-3, 0.5e-3 * i, 5e-3;
        c.push_back(l * l.transpose());
    }
    return c;
}

TEST(CrsPrecision, GeographicAxesGiveWhatTheirRotationToXyzGives)
{
    // The same covariances along north, east, up in a geographic file, in
    // either axis order, and turned to X, Y, Z by hand in a geocentric one:
    // the inputs must hold the same geocentric covariances.
    const double lat[] = {31.2, -12.5, 64.9}, lon[] = {113.4, -70.25, 179.9}, h[] = {10, 250, -30};
    const std::vector<Eigen::Matrix3d> neu = local_covariances();
    std::string north_first, east_first, xyz;
    for (int i = 0; i < 3; ++i) {
        Eigen::Matrix3d swap;
        swap << 0, 1, 0, 1, 0, 0, 0, 0, 1;
        const Eigen::Matrix3d r = north_east_up(lat[i], lon[i]);
        north_first += "P" + std::to_string(i) + " " + std::to_string(lat[i]) + " " +
                       std::to_string(lon[i]) + " " + std::to_string(h[i]) +
                       upper_triangle(neu[i]) + "\n";
        east_first += "P" + std::to_string(i) + " " + std::to_string(lon[i]) + " " +
                      std::to_string(lat[i]) + " " + std::to_string(h[i]) +
                      upper_triangle(swap * neu[i] * swap) + "\n";
        // Geocentric coordinates do not matter to a geocentric CRS's covariances.
        xyz += "P" + std::to_string(i) + " " + std::to_string(6e6 + i) + " 1 2" +
               upper_triangle(r.transpose() * neu[i] * r) + "\n";
    }
    const report_inputs geographic = gather("EPSG:4979", "EPSG:4978", false, north_first, xyz);
    const report_inputs swapped = gather("EPSG:4979", "EPSG:4978", true, east_first, xyz);
    ASSERT_EQ(geographic.source.covariance.size(), 3u);
    ASSERT_EQ(swapped.source.covariance.size(), 3u);
    ASSERT_EQ(geographic.target.covariance.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        const Eigen::Matrix3d& expected = geographic.target.covariance[i];
        EXPECT_LT(relative_difference(geographic.source.covariance[i], expected), 1e-12) << i;
        EXPECT_LT(relative_difference(swapped.source.covariance[i], expected), 1e-12) << i;
    }
}

TEST(CrsPrecision, ProjectedAxesCarryTheScale)
{
    // On the central meridian of a transverse Mercator projection the grid
    // runs east and north and its scale is k0, 0.9996 for UTM: a metre along
    // either grid axis is 1 / k0 metres on the ground. So a covariance along
    // easting, northing, height of UTM 50N (easting first, central meridian
    // 117E) is one along east, north, up scaled by 1 / k0, which a
    // geographic file at the same places gives exactly. On the ellipsoid,
    // that is: at a height h a grid metre spans (R + h) / R times more.
    const double k0 = 0.9996;
    const std::vector<Eigen::Matrix3d> map = local_covariances();
    const double northing[] = {3500000, 4100000, -2500000}, height[] = {0, 0, 0};
    std::string projected_text, plain_text;
    for (int i = 0; i < 3; ++i) {
        const std::string point =
            "500000 " + std::to_string(northing[i]) + " " + std::to_string(height[i]);
        projected_text += point + upper_triangle(map[static_cast<std::size_t>(i)]) + "\n";
        plain_text += point + "\n";
    }
    const report_inputs projected =
        gather("EPSG:32650", "EPSG:32650", false, projected_text, plain_text);
    ASSERT_EQ(projected.source.covariance.size(), 3u);

    // The same places in latitude, longitude, height on the same datum.
    coordinate_rows lat_lon = projected.source.xyz;
    const reference_system geographic("EPSG:4979", false);
    std::string reason;
    ASSERT_EQ(geographic.from_geocentric(lat_lon.data(), 3, reason), 3u) << reason;
    Eigen::Matrix3d to_north_east_up; // rows: north, east, up from easting, northing, height
    to_north_east_up << 0, 1 / k0, 0, 1 / k0, 0, 0, 0, 0, 1;
    std::string geographic_text;
    for (int i = 0; i < 3; ++i) {
        ASSERT_NEAR(lat_lon(i, 1), 117, 1e-9);
        char point[100];
        std::snprintf(point, sizeof point, "%.17g %.17g %.17g", lat_lon(i, 0), lat_lon(i, 1),
                      lat_lon(i, 2));
        geographic_text += point +
                           upper_triangle(to_north_east_up * map[static_cast<std::size_t>(i)] *
                                          to_north_east_up.transpose()) +
                           "\n";
    }
    const report_inputs expected =
        gather("EPSG:4979", "EPSG:4979", false, geographic_text, geographic_text);
    for (std::size_t i = 0; i < 3; ++i) {
        // Central differences through PROJ: about 1e-10 of the largest element.
        EXPECT_LT(
            relative_difference(projected.source.covariance[i], expected.source.covariance[i]),
            1e-9)
            << i;
    }
}

TEST(CrsPrecision, OneSigmaIsTheSameInEveryAxis)
{
    // --src-sigma along a geographic CRS's north, east and up is sigma^2 I
    // along X, Y, Z too.
    const report_inputs inputs =
        gather("EPSG:4979", "EPSG:4979", false, "31 113 10\n-40 10 0\n70 -100 3000\n",
               "31 113 10\n-40 10 0\n70 -100 3000\n", 0.02);
    ASSERT_EQ(inputs.source.covariance.size(), 3u);
    EXPECT_TRUE(inputs.target.covariance.empty());
    for (const Eigen::Matrix3d& c : inputs.source.covariance) {
        EXPECT_LT(relative_difference(c, 4e-4 * Eigen::Matrix3d::Identity()), 1e-15);
    }
}

} // namespace
} // namespace sevenparam
