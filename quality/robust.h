// Robust estimation of the seven parameters: iteratively reweighted least
// squares, which gives each common point a weight factor from its
// standardised residuals so that blunders lose their pull on the estimate
// instead of being searched for one at a time.
//
// Model: the adjustment of quality/gauss_helmert.h, each point i with its
// weight factor omega_i in [0, 1] (1 to begin with). After an adjustment,
// with Q its cofactor matrix (correction terms, the weights included), B_i
// the point's design block at its adjusted source point, C_i = St_i +
// J Ss_i J' the covariance of its misclosure e_i = y_i - T(x_i; p) at weight
// 1 (the identity for unit weights), each coordinate k of the point has
//     D_i = C_i - omega_i B_i Q B_i',        w_k = e_k / (sigma sqrt(D_kk)),
// the standardised residual as if the point had its full weight: D_kk is
// the variance of the misclosure's residual at weight 1, and for a point of
// small weight e_k is the whole of its error and D_kk its own variance, so
// that a blunder keeps its large w_k however little it weighs. With unit
// weights and every omega = 1, D_kk is the redundancy number r_k of
// quality/statistics.h and w_k the w of the report's tests.
//
// sigma, the standard error of unit weight, is known a priori where the
// tests take it so (a given a-priori standard error with unit weights, 1
// with precisions); otherwise it is estimated robustly in every iteration
// from the coordinates' e_k / sqrt(D_kk) as the median absolute value times
// mad_to_sigma (the median absolute deviation about the expected 0, a
// consistent estimate for normal errors that up to half of the values can
// be blunders without spoiling), and never taken below the rounding noise
// of the coordinates (1e-12 of the largest centred target coordinate, plus
// one: the estimation's stall level), so that a perfect fit gives every
// point its full weight.
//
// A point's figure u_i is its largest |w_k| (as in the report's tests);
// coordinates that the other points do not check (D_kk below
// least_checked_redundancy times C_kk) are left out of it and of the scale,
// and a point with none left keeps weight 1. Its next weight factor is, with
// the constant k of the estimator (in units of the standardised residual):
//   Huber:   1 for u <= k, else k / u                     (k = huber_constant)
//   Danish:  1 for u <= k, else exp(1 - (u / k)^2)         (k = danish_constant)
// Huber's weights fall as 1/u, so a blunder keeps a bounded pull (k sigma)
// and is weighted below blunder_weight only beyond u = k / blunder_weight =
// 30; the Danish method (Krarup's exponential down-weighting, in the form
// continuous at k) takes a point out all but entirely (below blunder_weight
// beyond u = k sqrt(1 + ln 20), about 6.0). Weights are never below
// least_robust_weight, so that the normal matrix keeps every point's rank.
//
// Iteration: adjust with the weights, compute the next weights; stop when no
// weight changes by more than robust_weight_tolerance, keeping the last
// adjustment and the weights it used. Fails (estimation_error) when that
// has not happened after robust_max_iterations adjustments, which a
// redescending (Danish) weight can cause by cycling between two sets.
#ifndef SEVENPARAM_QUALITY_ROBUST_H
#define SEVENPARAM_QUALITY_ROBUST_H

#include "estimation/seven_parameters.h"
#include "quality/gauss_helmert.h"
#include "quality/quality_report.h"

#include <Eigen/Dense>

#include <cstddef>
#include <optional>
#include <vector>

namespace sevenparam {

// Huber's constant: 95 % efficiency at normal errors, the usual choice.
inline constexpr double huber_constant = 1.5;
// The Danish method's: beyond 3 sigma, where a figure of normal errors
// seldom falls (about 1 point in 100 for the largest of three coordinates),
// and below the critical values of the report's tests (3.3 and more), so
// that down-weighting begins before a test would flag the point.
inline constexpr double danish_constant = 3.0;
// 1 / Phi^-1(3/4): the median absolute value of standard normal errors.
inline constexpr double mad_to_sigma = 1.482602218505602;
inline constexpr double robust_weight_tolerance = 1e-4;
inline constexpr std::size_t robust_max_iterations = 100;
inline constexpr double least_robust_weight = 1e-10;

// The estimator's constant (units of the standardised residual); 0 for none.
double robust_constant(robust_estimator estimator);

// The weight factor of a point of figure u (>= 0) under `estimator`, in
// [least_robust_weight, 1]; 1 for none and for a NaN figure (a point not
// checked).
double robust_weight(robust_estimator estimator, double figure);

// mad_to_sigma times the median of |values| (the mean of the two middle
// ones for an even count), NaN values left out; 0 when none is left.
double robust_scale(std::vector<double> values);

// The redundancy of a reweighted adjustment: sum over the points of
// w_i tr(Q_ee,i W_i), the redundancy numbers of each point (of the
// misclosures, quality/statistics.h) times its weight factor. With weights
// 1 it is 3n - 7; with weights 0 and 1 it is 3m - 7, m the points of weight
// 1, the redundancy of their adjustment alone, so that v'Pv over it
// estimates the variance factor without the points weighted out, which add
// nothing to v'Pv but 3 each to 3n - 7. `weight` holds one factor per point
// of `fit` (as it was adjusted).
double weighted_redundancy(const gauss_helmert_result& fit, const std::vector<double>& weight,
                           rotation_model model);

// The outcome: the adjustment with the final weights, and its summary
// (estimator, constant, iterations = the adjustments run after the first,
// weights one per point in the order given, blunders = the points' 0-based
// places in that order whose weight is below blunder_weight).
struct robust_adjustment {
    gauss_helmert_result fit;
    robust_summary summary;
};

// Reweights the common points (n x 3 each, metres; covariances as
// adjust_gauss_helmert takes them) until the weights settle. `sigma` is the
// standard error of unit weight when known (m for unit weights, 1 with
// precisions); none for the robust scale above. Throws estimation_error for
// a `sigma` that is not a positive finite number, for `estimator` none, for
// the failures of adjust_gauss_helmert, and when the weights do not settle
// ("robust estimation: the weights of N points did not settle after 100
// adjustments (largest change 0.3)").
robust_adjustment adjust_robustly(const point_matrix& source, const point_matrix& target,
                                  const std::vector<Eigen::Matrix3d>& source_covariance,
                                  const std::vector<Eigen::Matrix3d>& target_covariance,
                                  robust_estimator estimator, std::optional<double> sigma,
                                  rotation_model model, unsigned threads = 1);

} // namespace sevenparam

#endif
