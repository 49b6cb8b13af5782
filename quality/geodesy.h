// Geodetic latitude, longitude and height from Earth-centred, Earth-fixed
// (ECEF) Cartesian coordinates on the GRS80 ellipsoid, and the local
// east-north-up frame at a point.
//
// Conventions and units:
//   - X, Y, Z in metres; X towards latitude 0, longitude 0; Z towards the
//     north pole; right-handed;
//   - latitude (geodetic, from the ellipsoid normal) and longitude in
//     radians; latitude in [-pi/2, pi/2], longitude in (-pi, pi], positive
//     east; height in metres above the ellipsoid, along its normal;
//   - GRS80: a = 6378137 m, 1/f = 298.257222101.
//
// Method: Bowring's iteration on the reduced (parametric) latitude, run to
// convergence rather than stopped after one step, so that the result is
// exact to double precision for any point outside the ellipsoid's evolute
// (every point more than about 43 km from the Earth's centre), from below
// the surface to far above it. It works on sines and cosines built with
// square roots only; the angles themselves come from atan2 at the end.
// Coordinates that are no ECEF (a local grid near the Earth's centre) still
// get finite values and an orthonormal frame, without geodetic meaning.
// The poles (X = Y = 0) are taken exactly: longitude 0, latitude +-pi/2 by
// the sign of Z (+pi/2 at the centre itself, with height -b).
#ifndef SEVENPARAM_QUALITY_GEODESY_H
#define SEVENPARAM_QUALITY_GEODESY_H

#include <Eigen/Dense>

namespace sevenparam {

struct grs80 {
    static constexpr double a = 6378137.0;                  // semi-major axis, m
    static constexpr double f = 1.0 / 298.257222101;        // flattening
    static constexpr double b = a * (1 - f);                // semi-minor axis, m
    static constexpr double e2 = f * (2 - f);               // first eccentricity squared
    static constexpr double ep2 = e2 / ((1 - f) * (1 - f)); // second eccentricity squared
};

// A geodetic position by the sines and cosines of its angles, as the local
// frame needs them, with the height in metres.
struct geodetic_trig {
    double sin_lat = 0, cos_lat = 1;
    double sin_lon = 0, cos_lon = 1;
    double height_m = 0;
};

// A geodetic position: latitude and longitude in radians, height in metres.
struct geodetic_position {
    double latitude_rad = 0;
    double longitude_rad = 0;
    double height_m = 0;
};

// ECEF (m) to the geodetic position on GRS80, by sines and cosines. Never
// throws; a non-finite coordinate gives non-finite values.
geodetic_trig ecef_to_geodetic_trig(const Eigen::Vector3d& xyz);

// ECEF (m) to latitude, longitude (radians) and height (m) on GRS80.
geodetic_position ecef_to_geodetic(const Eigen::Vector3d& xyz);

// The rotation from ECEF differences to local east, north, up at `position`:
// rows are the unit vectors east, north and up in ECEF, so that
// enu = enu_rotation(position) * dxyz. Orthonormal.
Eigen::Matrix3d enu_rotation(const geodetic_trig& position);

} // namespace sevenparam

#endif
