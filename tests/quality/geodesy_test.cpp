#include "quality/geodesy.h"

#include <gtest/gtest.h>

#include <cmath>

namespace sevenparam {
namespace {

constexpr double degrees_per_rad = 180 / 3.14159265358979323846;

// Reference positions from GeographicLib (exact to double precision):
//   CartConvert -r -p 12 -e 6378137 1/298.257222101
// PROJ's cct +proj=cart +inv agrees near the surface but takes a single
// Bowring step, which is off by 1e-7 degree at 20,000 km.
struct geodetic_case {
    double x, y, z;     // m
    double lat, lon, h; // degrees, degrees, m
};
const geodetic_case cases[] = {
    {4027894.0, 307045.0, 4919474.0, 50.797810347004983, 4.359207248261931, 148.9286657649},
    {-2148744.3, -4426641.2, 4044655.9, 39.608600984002678, -115.892487911069622, 87.4600730595},
    {6378137.0, 0.0, 0.0, 0.0, 0.0, 0.0},                             // equator, on the ellipsoid
    {6378237.0, 0.0, 1.0e-3, 0.000000009043552, 0.0, 100.0000000013}, // just north of it
    {0.0, -6378137.0, 0.0, 0.0, -90.0, 0.0},
    {-6378137.0, 0.0, 0.0, 0.0, 180.0, 0.0},
    {-5000000.0, -3000000.0, -1200000.0, -11.710697971134262, -149.036243467926482,
     -424113.0574620842}, // deep below the surface
    {1000.0, -500.0, 6356752.314, 89.989990203752171, -26.565051177077990, 0.0975220950},
    {-1.0, 2.0, -6356952.0, -89.999979981031956, 116.565051177077990, 199.6858600346},
    {10.0, 10.0, 6356752.0, 89.999873384972290, 45.0, -0.3141247301},
    {0.0, 0.0, 6356752.314140347, 90.0, 0.0, 0.0}, // the pole itself
    {0.0, 0.0, -7000000.0, -90.0, 0.0, 643247.6858596430},
    {-4000000.0, 1000000.0, -4800000.0, -49.529337843608396, 165.963756532073518,
     -38088.3992396309},
    {20000000.0, -15000000.0, 10000000.0, 21.832789994076411, -36.869897645844020,
     20550636.4166318625}, // satellite height
    {6000000.0, 2000000.0, -5000.0, -0.045604159236752, 18.434948822922010, -53579.6898063052},
};

TEST(Geodesy, AgreesWithGeographicLib)
{
    for (const geodetic_case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.x << " " << c.y << " " << c.z);
        const geodetic_position g = ecef_to_geodetic(Eigen::Vector3d(c.x, c.y, c.z));
        EXPECT_NEAR(g.latitude_rad * degrees_per_rad, c.lat, 1e-9);
        EXPECT_NEAR(g.longitude_rad * degrees_per_rad, c.lon, 1e-9);
        EXPECT_NEAR(g.height_m, c.h, 1e-6);
    }
}

// East, north, up of a nearby point relative to an origin, from PROJ:
//   cct -d 9 +proj=topocentric +ellps=GRS80 +X_0=.. +Y_0=.. +Z_0=..
// The frame is linear in the difference, so the rotation must match.
TEST(Geodesy, EastNorthUpAgreesWithCctTopocentric)
{
    struct enu_case {
        Eigen::Vector3d origin, point, enu;
    };
    const enu_case enu_cases[] = {
        {{4027894.0, 307045.0, 4919474.0},
         {4027904.5, 307035.25, 4919480.75},
         {-10.519890392, -3.272442410, 11.379719980}},
        {{-2148744.3, -4426641.2, 4044655.9},
         {-2148740.3, -4426649.2, 4044650.9},
         {7.091930906, -7.326796734, 1.011219879}},
    };
    for (const enu_case& c : enu_cases) {
        const Eigen::Matrix3d r = enu_rotation(ecef_to_geodetic_trig(c.origin));
        EXPECT_LT((r * (c.point - c.origin) - c.enu).norm(), 2e-9);
        EXPECT_LT((r * r.transpose() - Eigen::Matrix3d::Identity()).norm(), 1e-15);
    }
    // Local coordinates, no ECEF: a finite frame all the same (the tiny one
    // once gave NaN).
    for (const Eigen::Vector3d& p : {Eigen::Vector3d(1000, 2000, 50), Eigen::Vector3d(1e-300, 0, 0),
                                     Eigen::Vector3d(0, 0, 0)}) {
        const Eigen::Matrix3d r = enu_rotation(ecef_to_geodetic_trig(p));
        EXPECT_LT((r * r.transpose() - Eigen::Matrix3d::Identity()).norm(), 1e-15) << p(0);
    }
}

} // namespace
} // namespace sevenparam
