#include "quality/carried_precision.h"

#include "quality/geodesy.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace sevenparam {

double ellipse_scale()
{
    return std::sqrt(-2 * std::log(1 - ellipse_confidence));
}

error_ellipse horizontal_ellipse(const Eigen::Matrix2d& east_north_m2)
{
    const double ee = east_north_m2(0, 0);
    const double nn = east_north_m2(1, 1);
    // The block is symmetric up to rounding; take the mean of its two halves.
    const double en = 0.5 * (east_north_m2(0, 1) + east_north_m2(1, 0));
    const double mean = 0.5 * (ee + nn);
    const double half_difference = 0.5 * (nn - ee);
    const double radius = std::hypot(half_difference, en);
    static const double scale = ellipse_scale(); // a constant: once, not per point
    error_ellipse e;
    e.semi_major_m = scale * std::sqrt(std::max(0.0, mean + radius));
    e.semi_minor_m = scale * std::sqrt(std::max(0.0, mean - radius));
    // The major axis's direction (sin a, cos a) in (east, north) is the
    // eigenvector of the larger eigenvalue, at tan 2a = 2 en / (nn - ee).
    // Where the eigenvalues differ by rounding only, every direction is one.
    const double noise = 8 * std::numeric_limits<double>::epsilon() * std::abs(mean);
    if (!(radius > noise)) {
        e.azimuth_deg = std::isfinite(radius) ? 0.0 : std::numeric_limits<double>::quiet_NaN();
        return e;
    }
    constexpr double degrees_per_radian = 57.295779513082320876798;
    double azimuth = 0.5 * std::atan2(2 * en, nn - ee) * degrees_per_radian; // (-90, 90]
    if (azimuth < 0)
        azimuth += 180;
    e.azimuth_deg = azimuth >= 180 ? 0.0 : azimuth;
    return e;
}

carried_precision describe_covariance(const Eigen::Matrix3d& covariance_xyz_m2,
                                      const Eigen::Vector3d& position_m)
{
    carried_precision p;
    p.covariance_xyz_m2 = covariance_xyz_m2;
    p.sigma_xyz_m = covariance_xyz_m2.diagonal().cwiseMax(0.0).cwiseSqrt();
    const Eigen::Matrix3d enu = enu_rotation(ecef_to_geodetic_trig(position_m));
    const Eigen::Matrix3d local = enu * covariance_xyz_m2 * enu.transpose();
    p.sigma_enu_m = local.diagonal().cwiseMax(0.0).cwiseSqrt();
    p.ellipse = horizontal_ellipse(local.topLeftCorner<2, 2>());
    return p;
}

carried_precision carry_precision(const adjustment_result& result, rotation_model model,
                                  const point_row& source_point,
                                  const cofactor_matrix& correction_covariance,
                                  const Eigen::Matrix3d& source_covariance)
{
    const parameter_vector& x = result.args;
    const point_row centred = source_point - result.ave_src;
    const design_block b = correction_design_block(model, centred(0), centred(1), centred(2), x);
    const Eigen::Matrix3d j = (1 + x(6)) * rotation_matrix(model, x(3), x(4), x(5));
    Eigen::Matrix3d covariance =
        b * correction_covariance * b.transpose() + j * source_covariance * j.transpose();
    // Symmetric by construction; make it so to the last bit.
    covariance = 0.5 * (covariance + covariance.transpose()).eval();
    return describe_covariance(covariance, carry_point(result, source_point, model).transpose());
}

} // namespace sevenparam
