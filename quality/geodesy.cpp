#include "quality/geodesy.h"

#include <cmath>

namespace sevenparam {

namespace {

// (y, x) scaled to a unit vector, as (sin, cos) of the angle atan2(y, x).
void unit(double y, double x, double& sin_out, double& cos_out)
{
    // Plain sqrt rather than hypot: the terms are Earth-sized and this runs
    // a few times per point; hypot only where the squares would underflow.
    double length = std::sqrt(x * x + y * y);
    if (!(length > 1e-150))
        length = std::hypot(x, y);
    sin_out = y / length;
    cos_out = x / length;
}

} // namespace

geodetic_trig ecef_to_geodetic_trig(const Eigen::Vector3d& xyz)
{
    constexpr double a = grs80::a, b = grs80::b, e2 = grs80::e2, ep2 = grs80::ep2;
    // Enough for any point outside the evolute; the loop usually stops after
    // two or three steps.
    constexpr int max_steps = 10;

    geodetic_trig g;
    const double x = xyz(0), y = xyz(1), z = xyz(2);
    const double p = std::hypot(x, y); // distance from the polar axis
    if (p == 0) {
        // On the axis: the longitude is arbitrary (0), the latitude a pole.
        g.sin_lat = z < 0 ? -1 : 1;
        g.cos_lat = 0;
        g.height_m = std::abs(z) - b;
        return g;
    }
    g.sin_lon = y / p;
    g.cos_lon = x / p;

    // Reduced latitude beta from tan(beta) = (a/b) tan(phi), started from
    // the geocentric direction; each step takes the latitude of the normal
    // through the ellipsoid point of beta, then beta of that latitude:
    //   tan(phi) = (z + e'^2 b sin^3 beta) / (p - e^2 a cos^3 beta)
    double sin_beta, cos_beta;
    unit(a * z, b * p, sin_beta, cos_beta);
    for (int step = 0; step < max_steps; ++step) {
        unit(z + ep2 * b * sin_beta * sin_beta * sin_beta,
             p - e2 * a * cos_beta * cos_beta * cos_beta, g.sin_lat, g.cos_lat);
        double next_sin, next_cos;
        unit(b * g.sin_lat, a * g.cos_lat, next_sin, next_cos);
        const double change = std::abs(next_sin - sin_beta) + std::abs(next_cos - cos_beta);
        sin_beta = next_sin;
        cos_beta = next_cos;
        if (!(change > 1e-16))
            break;
    }
    // Height along the normal: the point's distance along it minus the
    // ellipsoid's, a sqrt(1 - e^2 sin^2 phi); well conditioned at any latitude.
    g.height_m = p * g.cos_lat + z * g.sin_lat - a * std::sqrt(1 - e2 * g.sin_lat * g.sin_lat);
    return g;
}

geodetic_position ecef_to_geodetic(const Eigen::Vector3d& xyz)
{
    const geodetic_trig g = ecef_to_geodetic_trig(xyz);
    geodetic_position position;
    position.latitude_rad = std::atan2(g.sin_lat, g.cos_lat);
    position.longitude_rad = std::atan2(g.sin_lon, g.cos_lon);
    position.height_m = g.height_m;
    return position;
}

Eigen::Matrix3d enu_rotation(const geodetic_trig& g)
{
    Eigen::Matrix3d r;
    r << -g.sin_lon, g.cos_lon, 0,                                 // east
        -g.sin_lat * g.cos_lon, -g.sin_lat * g.sin_lon, g.cos_lat, // north
        g.cos_lat * g.cos_lon, g.cos_lat * g.sin_lon, g.sin_lat;   // up
    return r;
}

} // namespace sevenparam
