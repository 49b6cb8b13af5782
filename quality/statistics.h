// Statistical tests of the residuals of a seven-parameter adjustment and the
// reliability of each common point.
//
// Conventions: unit weights; for common point i, B_i is its 3 x 7 design
// block at the final parameters (point_design_block of the model used, on
// the centred source point), Q the 7 x 7 cofactor matrix (B'B)^-1 and v_i
// its three residuals (m, target minus transformed source). Everything is
// formed point by point from these blocks; the 3n x 3n matrix
// Q_vv = I - B Q B' is never built. Its 3 x 3 diagonal block of point i is
//   R_i = I - B_i Q B_i'.
//
// Per coordinate k of a point, with sigma the standard error of one
// coordinate (the a-priori S, else sigma0 = sqrt(v'v / (3n - 7))):
//   redundancy number  r_k = (R_i)_kk, in [0, 1]; over all points they sum
//                      to 3n - 7;
//   standardised       w_k = v_k / (sigma sqrt(r_k));
//   minimal detectable bias  mdb_k = sigma sqrt(lambda0 / r_k), lambda0 =
//                      17.075 (alpha0 = 0.001, power 0.80), in m;
// and per point
//   figure             the largest |w_k|;
//   check-point residual  R_i^-1 v_i (m): the residual the point would have
//                      had it been left out of the estimation.
// Where a point is not checked by the others (r_k below 1e-10, or the
// determinant of R_i below 1e-10, as with only 3 common points, where R_i is
// singular), the quantities that divide by it are NaN and the figure
// ignores them. With sigma = 0 (a perfect fit) w is 0.
//
// With precisions given (quality/gauss_helmert.h) the observation of point
// i is its misclosure e_i = y_i - T(x_i; p) (m), the target point minus the
// transformed source point as above, with the a-priori covariance (variance
// factor 1)
//   S_i = W_i^-1 = St_i + J Ss_i J',        J = (1 + m) R,
// and, after the adjustment, the covariance of its estimate
//   Q_ee,i = S_i - B_i Q B_i',             Q = (sum B_j' W_j B_j)^-1,
// B_i the design block (correction terms) at the adjusted source point. A
// blunder of size b in coordinate k of the target point (or, to first order,
// of -b in the source point's coordinate k) adds b to e_ik, so per
// coordinate k, with M_i = W_i Q_ee,i W_i the covariance of W_i e_i:
//   redundancy number  r_k = (Q_ee,i W_i)_kk; over all points they sum to
//                      3n - 7;
//   w-test             w_k = (W_i e_i)_k / sqrt((M_i)_kk), standard normal
//                      without blunder (Baarda's test of a correlated
//                      observation);
//   minimal detectable bias  mdb_k = sqrt(lambda0 / (M_i)_kk), in m;
//   check-point residual  S_i Q_ee,i^-1 e_i (m), the misclosure the point
//                      would have had it been left out;
// with the same limits as above (r_k, det(Q_ee,i W_i) below 1e-10: NaN).
// With S_i the identity these are the unit-weight figures with sigma = 1.
//
// Critical values are two-sided per coordinate at significance alpha:
//   w-test (sigma a priori)  the standard normal quantile at 1 - alpha/2
//                            (3.29 for alpha = 0.001);
//   Pope's tau (sigma0)      tau = t sqrt(f) / sqrt(f - 1 + t^2), t the
//                            Student quantile of f - 1 degrees of freedom at
//                            1 - alpha/2, f = 3n - 7;
//   global test              v'v / S^2 against the chi-square quantile of f
//                            degrees of freedom at 1 - alpha.
// Quantiles come from Boost.Math, for every alpha in (0, 1), the smallest
// (subnormal) doubles and those next to 1 included: each upper quantile is
// taken from the tail probability itself (the complement, or
// sqrt(2) erfc^-1(alpha) for the normal), never from 1 - p, which rounds to
// 1 below about 1e-16. A quantile beyond the largest double is +infinity
// (tau is then sqrt(f), its bound). The library's messages never reach the
// user.
#ifndef SEVENPARAM_QUALITY_STATISTICS_H
#define SEVENPARAM_QUALITY_STATISTICS_H

#include "estimation/seven_parameters.h"

#include <Eigen/Dense>

namespace sevenparam {

// A redundancy number (or determinant of R_i) below this: the coordinate (or
// point) is not checked by the others.
inline constexpr double least_checked_redundancy = 1e-10;

// Non-centrality of the minimal detectable bias: alpha0 = 0.001, power 0.80.
inline constexpr double mdb_lambda0 = 17.075;

// Sidak's significance of each of `tests` independent tests whose family has
// significance `family` (the chance of at least one false alarm):
// 1 - (1 - family)^(1 / tests). Throws estimation_error unless
// 0 < family < 1 and tests >= 1.
double sidak_alpha(double family, long tests);

// Critical values (unitless). Each throws estimation_error unless 0 < alpha < 1, and
// tau_critical_value unless f >= 2, chi_square_critical_value unless f >= 1.
double w_critical_value(double alpha);
double tau_critical_value(double alpha, long redundancy);
double chi_square_critical_value(double alpha, long redundancy);

// R_i = I - B_i Q B_i'.
Eigen::Matrix3d residual_cofactor_block(const design_block& block, const cofactor_matrix& cofactor);

// The tests of one point (see above), sigma > 0 or 0.
struct point_statistics {
    Eigen::Vector3d redundancy;
    Eigen::Vector3d w;
    double figure = 0;
    Eigen::Vector3d mdb_m;
    Eigen::Vector3d check_m;
};
point_statistics test_point(const Eigen::Matrix3d& residual_cofactor, const Eigen::Vector3d& v,
                            double sigma);

// The tests of one point with precisions (see above): S_i, Q_ee,i (m^2) and
// the misclosure e_i (m).
point_statistics test_weighted_point(const Eigen::Matrix3d& misclosure_covariance,
                                     const Eigen::Matrix3d& residual_covariance,
                                     const Eigen::Vector3d& misclosure);

// The figure alone (largest |w_k|), as test_point gives it, for the search of
// data snooping.
double point_figure(const Eigen::Matrix3d& residual_cofactor, const Eigen::Vector3d& v,
                    double sigma);

} // namespace sevenparam

#endif
