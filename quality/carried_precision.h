// The precision of a point carried into the target system by an estimate of
// the seven parameters, and its forms for the report: standard errors along
// geocentric X, Y, Z and local east, north, up, and the horizontal error
// ellipse.
//
// Propagation (first order): a source point p, centred as c = p - ave_src,
// is carried to ave_tar + t + (1 + m) R c (estimation/seven_parameters.h).
// Its covariance in the target system is
//     C_p = B C_x B' + J S J',    J = (1 + m) R,
// with
//   - B the 3 x 7 correction_design_block at c: the derivatives by the terms
//     the adjustment loop corrects (small turns of R for the exact model,
//     the angles themselves for the linearised one), whose covariance is
//     C_x = (variance factor) * adjustment_result::correction_cofactor. That
//     form stays well-conditioned for every rotation, while the angles'
//     own cofactor grows without bound near ey = +-90 degrees; B C_x B' is
//     the same in either terms. Correlations of the parameters are kept;
//     the centroids are taken as fixed (their uncertainty is in C_x through
//     the translations, which are those of the centred model);
//   - S the point's own covariance in the source system (X, Y, Z, m^2),
//     zero when none is given, taken as independent of the parameters.
//
// Conventions and units: covariances in m^2, standard errors and semi-axes
// in metres, geocentric X, Y, Z; east, north, up at the carried point on
// GRS80 (quality/geodesy.h). The error ellipse is that of the east-north
// block at confidence ellipse_confidence (quality/quality_report.h): its
// semi-axes are the square roots of the block's eigenvalues times
// sqrt(chi-square quantile, 2 degrees of freedom) = sqrt(-2 ln(1 - P))
// (2.4477 for P = 0.95); the azimuth of the major semi-axis is in degrees
// clockwise from north (towards east), in [0, 180), and 0 for a circle.
#ifndef SEVENPARAM_QUALITY_CARRIED_PRECISION_H
#define SEVENPARAM_QUALITY_CARRIED_PRECISION_H

#include "estimation/seven_parameters.h"
#include "quality/quality_report.h"

#include <Eigen/Dense>

namespace sevenparam {

// The scale of the semi-axes of an error ellipse at ellipse_confidence:
// sqrt(-2 ln(1 - P)), the square root of the chi-square quantile with 2
// degrees of freedom.
double ellipse_scale();

// The error ellipse of a 2 x 2 covariance of east (row and column 0) and
// north (1), m^2, at ellipse_confidence. Eigenvalues below zero (rounding of
// a singular block) count as zero. The axes of a circle, or of a block whose
// two eigenvalues differ by rounding only, have azimuth 0. Never throws; a
// non-finite entry gives non-finite values.
error_ellipse horizontal_ellipse(const Eigen::Matrix2d& east_north_m2);

// The standard errors and the ellipse of a covariance along geocentric X, Y,
// Z (m^2) of a point at `position_m` (ECEF, m; it fixes the local frame).
carried_precision describe_covariance(const Eigen::Matrix3d& covariance_xyz_m2,
                                      const Eigen::Vector3d& position_m);

// The precision of the raw source point `source_point` (coordinate units)
// carried by `result`, an estimate of `model`: C_p above with
// `correction_covariance` as C_x (7 x 7, in the terms of
// correction_design_block, the order of parameter_vector) and
// `source_covariance` as S. The local frame is that at the carried point
// carry_point(result, source_point, model). Never throws.
carried_precision
carry_precision(const adjustment_result& result, rotation_model model,
                const point_row& source_point, const cofactor_matrix& correction_covariance,
                const Eigen::Matrix3d& source_covariance = Eigen::Matrix3d::Zero());

} // namespace sevenparam

#endif
