// Adjustment of the seven parameters with errors in both systems: a
// Gauss-Helmert model, formed point by point.
//
// Model: for each common point i, with observed source x_i and target y_i
// (n x 3 rows, metres, geocentric) and their covariances Ss_i and St_i (m^2,
// X, Y, Z), the adjusted points satisfy
//     y^_i = T(x^_i; p),
// T the transformation of estimation/seven_parameters.h (centroid-based:
// ave_tar + t + (1 + m) R (x - ave_src), the rotation model given). The
// adjustment minimises the sum over the points of
//     w_i (v_s' Ss_i^-1 v_s + v_t' St_i^-1 v_t),   v = observed - adjusted,
// w_i a weight factor of the point (robust estimation), 1 when none. At each
// linearisation, at the adjusted source coordinates, point i adds its 3 x 7
// design block B_i with the weight block
//     W_i = w_i (St_i + J_i Ss_i J_i')^-1,   J_i = (1 + m) R,
// to the 7 x 7 normal equations; the loop runs until the parameter
// corrections stall (the stopping rule of estimation/seven_parameters.h).
// Nothing of size 3n x 3n is formed.
//
// The iteration, on coordinates reduced to the centroids of the observed
// points (fixed reference points, as in estimate_similarity). With the
// estimate p and the adjusted source points a_i (at first the observed
// ones), B_i is correction_design_block at a_i (so the exact model's
// rotation is turned by small angles, as estimate_similarity does) and the
// misclosure, the model being linear in the point,
//     l_i = y_i - T(a_i; p) - J_i (x_i - a_i) = y_i - T(x_i; p).
// The correction dp = (sum B_i' W_i B_i)^-1 sum B_i' W_i l_i; then with
// e_i = l_i - B_i dp and u_i = C_i^-1 e_i, C_i = St_i + J_i Ss_i J_i',
//     v_s,i = -Ss_i J_i' u_i,   v_t,i = St_i u_i,   a_i = x_i - v_s,i.
// It starts from estimate_similarity's solution. At the solution the
// residuals follow from the final p alone (u_i = C_i^-1 (y_i - T(x_i; p)))
// and the normal matrix is formed once more with the blocks at the final
// a_i; its inverse is the cofactor matrix reported. A point's weight factor
// scales W_i but not its residuals (a point of weight 0 keeps residuals, as
// the limit of a small weight, and adds nothing to the estimate).
//
// A system given no covariances (an empty vector) is free of errors; when
// neither has any, the target's are the identity (unit weights, errors in
// the target only), so that with every w_i = 1 the result is that of
// estimate_similarity to rounding.
#ifndef SEVENPARAM_QUALITY_GAUSS_HELMERT_H
#define SEVENPARAM_QUALITY_GAUSS_HELMERT_H

#include "estimation/seven_parameters.h"
#include "quality/design_by_axis.h"
#include "quality/quality_report.h"

#include <Eigen/Dense>

#include <cstddef>
#include <vector>

namespace sevenparam {

struct gauss_helmert_result {
    // args, ave_src and ave_tar (the reference points of the centroid form),
    // iterations, last_measure, reciprocal_condition as estimate_similarity
    // gives them; cofactor and correction_cofactor (sum B_i' W_i B_i)^-1,
    // the parameters' covariance with variance factor 1; residuals the 3n
    // misclosures y_i - T(x_i; p) of the observed points, which at the
    // solution are v_t,i - J_i v_s,i. sigma0 and sigmax are the unit-weight
    // figures of those misclosures, sqrt(l'l / 2) and sigma0 sqrt(diag Q).
    adjustment_result result;
    std::vector<adjusted_point> adjusted; // one per point
    // W_i^-1 at the solution: the covariance of point i's misclosure (m^2;
    // every entry +infinity for a point of weight 0).
    std::vector<Eigen::Matrix3d> misclosure_covariance;
    double vpv = 0; // the minimised sum above, at the solution (unitless)
};

// Throws estimation_error as estimate_similarity does, for a covariance
// that is not finite, symmetric and positive semi-definite (naming the
// point's 1-based row), for a point whose C_i is singular (to 1e-12 of its
// largest eigenvalue: a direction without error in both systems) and for a
// weight factor that is not a finite number >= 0.
// Vectors that are not empty hold one entry per point. The passes over the
// points run by the fixed chunks of estimation/chunks.h on `threads`
// threads: the same bits for any count.
gauss_helmert_result adjust_gauss_helmert(const point_matrix& source, const point_matrix& target,
                                          const std::vector<Eigen::Matrix3d>& source_covariance,
                                          const std::vector<Eigen::Matrix3d>& target_covariance,
                                          const std::vector<double>& point_weight,
                                          rotation_model model, unsigned threads = 1);

// The checks of adjust_gauss_helmert on one system's covariances (`role`
// "source" or "target"), for callers that adjust a subset of the points and
// want the message to name the row of the whole set: empty, or `points`
// finite, symmetric, positive semi-definite matrices (a zero variance is an
// error-free coordinate). Judged on `threads` threads by the fixed chunks of
// estimation/chunks.h; the point named is the first faulty one in order.
void require_covariances(const std::vector<Eigen::Matrix3d>& covariance, Eigen::Index points,
                         const char* role, unsigned threads = 1);

// Q_ee,i = S_i - B_i Q B_i' (m^2): the covariance of point i's misclosure as
// the adjustment estimates it (quality/statistics.h), with S_i the
// misclosure_covariance, Q the correction_cofactor and B_i the block of
// `design` (design_by_axis of the result's args, correction terms) at the
// adjusted source point, centred.
Eigen::Matrix3d misclosure_residual_covariance(const gauss_helmert_result& adjustment,
                                               const design_by_axis& design, std::size_t i);

// Variance components: one factor for the source covariances and one for the
// target's, estimated by Helmert's method. At an adjustment with the
// precisions scaled by the current factors f_s, f_t (covariances f_s Ss_i,
// f_t St_i), with V_s = J Ss_i J' and V_t = St_i so scaled and M = W Q_ee W
// (3n x 3n, W the block-diagonal weight matrix), the factors' corrections
// theta solve
//     sum_h tr(M V_g M V_h) theta_h = e' M V_g M e = sum u_i' V_g,i u_i,
// u_i = W_i e_i. The traces are formed point
// by point (gauss_helmert.cpp). The row sums of the matrix are each system's
// share of the redundancy, r_g = tr(V_g M) (r_s + r_t = 3n - 7); where a
// theta is not positive, Foerstner's q_g / r_g takes its place for that
// round. Each factor becomes f_g theta_g^lambda, the step lambda 1 at first,
// halved (down to 1/64) after a theta turns to the other side of 1 with more
// than a quarter of its last distance from 1 in the logarithm (an overshoot,
// as when the data barely tell the systems apart), else doubled up to 1. The
// adjustment is repeated with the new factors until both theta are within
// 1e-8 of 1 (at most 100 rounds). Unitless; the result's
// adjustment is that of the final factors. The two systems' precisions must
// differ in shape from point to point (as the covariances of real networks
// do): two factors of covariances proportional in both systems cannot be
// told apart.
struct variance_component_fit {
    gauss_helmert_result adjustment;
    std::vector<Eigen::Matrix3d> source_covariance, target_covariance; // scaled
    variance_component_estimate estimate;
};
// Both systems need covariances. Throws estimation_error as
// adjust_gauss_helmert does, when either is empty, when a system's share of
// the redundancy (or of v'Pv) is below 1e-9 of the whole (its factor cannot
// be estimated), when det H is below 1e-6 of H_ss H_tt (the precisions have
// the same shape in both systems, as with one standard deviation for every
// coordinate of each), and when the factors do not settle.
variance_component_fit
estimate_variance_components(const point_matrix& source, const point_matrix& target,
                             const std::vector<Eigen::Matrix3d>& source_covariance,
                             const std::vector<Eigen::Matrix3d>& target_covariance,
                             rotation_model model, unsigned threads = 1);

} // namespace sevenparam

#endif
