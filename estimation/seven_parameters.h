// Seven-parameter similarity transformation between two Cartesian systems.
//
// Model (coordinate-frame rotation convention, small-angle form):
//
//     | X' |   | tx |           |  1   ez  -ey | | X |
//     | Y' | = | ty | + (1 + m) | -ez   1   ex | | Y |
//     | Z' |   | tz |           |  ey  -ex   1 | | Z |
//
// Take care: two sign conventions exist for the rotation terms. This is the
// coordinate-frame one (PROJ's "+convention=coordinate_frame"); in the
// position-vector convention every off-diagonal sign is the opposite. The
// rotation matrix is the linearised one: it is not the product of three exact
// rotations and is never re-orthogonalised, whatever the size of the angles.
// The translations are added after scaling and are not themselves scaled.
//
// Units: tx, ty, tz in the unit of the coordinates (metres for ECEF);
// ex, ey, ez in radians; m is the scale difference as a plain ratio (the scale
// factor is 1 + m; not parts per million). No unit conversion happens anywhere.
//
// The model always works on centred coordinates: the estimation reduces both
// point sets to their own centroids, so the estimated parameters map
// (source point - ave_src) to (target point - ave_tar). A raw source point p
// is carried into the target system as ave_tar + transform_point(p - ave_src).
// The translation of the datum change is therefore carried by the two
// centroids, and the estimated tx, ty, tz come out (nearly) zero.
#ifndef SEVENPARAM_ESTIMATION_SEVEN_PARAMETERS_H
#define SEVENPARAM_ESTIMATION_SEVEN_PARAMETERS_H

#include <Eigen/Dense>

#include <chrono>
#include <cstddef>
#include <iosfwd>
#include <stdexcept>
#include <string>

namespace sevenparam {

// tx, ty, tz, ex, ey, ez, m in this order; zeros are the identity.
using parameter_vector = Eigen::Matrix<double, 7, 1>;
// One point per row, columns X, Y, Z.
using point_matrix = Eigen::Matrix<double, Eigen::Dynamic, 3>;
// A point or a centroid as a 1 x 3 row.
using point_row = Eigen::RowVector3d;
// Partial derivatives of X', Y', Z' (rows) by the seven parameters (columns).
using design_block = Eigen::Matrix<double, 3, 7>;
// 3n x 7: rows 3i, 3i+1, 3i+2 are the X', Y', Z' equations of point i.
using design_matrix = Eigen::Matrix<double, Eigen::Dynamic, 7, Eigen::RowMajor>;
// 7 x 7 inverse of the normal matrix.
using cofactor_matrix = Eigen::Matrix<double, 7, 7>;

// The estimation's one error type: inconsistent or degenerate input, a
// singular normal matrix, or a loop that does not converge. The message names
// the problem with the numbers involved.
class estimation_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A number as the estimation's messages write it: the stream's default
// format ("%g", six significant digits), the same on every C library (a
// negative NaN stays "-nan"). For messages that name a value beside them.
std::string message_number(double v);

// Forward transformation of one point (X, Y, Z; coordinate units) by
// `params`. Returns the 1 x 3 row X', Y', Z':
//   X' = tx + s*((X + ez*Y) - ey*Z)
//   Y' = ty + s*((-(ez*X) + Y) + ex*Z)
//   Z' = tz + s*((ey*X - ex*Y) + Z)        with s = 1 + m.
// Neither centres nor de-centres; never throws.
point_row transform_point(const double& X, const double& Y, const double& Z,
                          const parameter_vector& params);

// Exact partial derivatives of transform_point's three outputs by the seven
// parameters, at the point (X, Y, Z) and the current params (s = 1 + m):
//   row X': 1 0 0    0    -s*Z   s*Y   (X + ez*Y) - ey*Z
//   row Y': 0 1 0   s*Z     0   -s*X   (-(ez*X) + Y) + ex*Z
//   row Z': 0 0 1  -s*Y    s*X    0    (ey*X - ex*Y) + Z
// The scale column is the rotated, unscaled point. Never throws.
design_block point_design_block(const double& X, const double& Y, const double& Z,
                                const parameter_vector& params);

// Stacks point_design_block of every row of `points` (n x 3, centred
// source) into a 3n x 7 design matrix, point by point. n = 0 gives a 0 x 7
// matrix. Never throws (beyond allocation failure).
design_matrix build_design_matrix(const point_matrix& points, const parameter_vector& params);

// Misclosure vector, 3n x 1 with n the rows of `source`: element 3i + k is
// target coordinate k of point i minus coordinate k of
// transform_point(source row i) ("observed minus computed"), in the row order
// of build_design_matrix. `target` must have at least as many rows as
// `source`; throws estimation_error otherwise (it never reads past it).
Eigen::VectorXd build_misclosure(const point_matrix& source, const point_matrix& target,
                                 const parameter_vector& params);

// Outcome of the adjustment.
struct adjustment_result {
    parameter_vector args;      // estimated parameters, order above
    point_row ave_src;          // centroid of the source points (coordinate units)
    point_row ave_tar;          // centroid of the target points
    double sigma0 = 0.0;        // unit-weight standard error: sqrt(v'v / 2)
    parameter_vector sigmax;    // standard errors of args: sigma0 * sqrt(diag(Q))
    std::size_t iterations = 0; // adjustment iterations run
    // Taken just before the adjustment loop; a prediction run reports the
    // seconds elapsed since then.
    std::chrono::steady_clock::time_point loop_started;

    // For quality reports; the listing and sevenparam's figures above do not
    // use them.
    //
    // Q = (B'B)^-1 of the last iteration (B at the parameters before its
    // correction), unit weights, as the cofactor matrix of args; sigmax is
    // sigma0 * sqrt(diag(cofactor)). For the exact model it is propagated
    // from correction_cofactor (see estimate_similarity); near ey = +-90
    // degrees its entries of ex and ez grow without bound.
    cofactor_matrix cofactor = cofactor_matrix::Zero();
    // The same Q in the terms the loop corrects, those of
    // correction_design_block: equal to cofactor for the linearised model.
    // B Q B' (and so the residuals' cofactors) is the same in either terms;
    // this form stays well-conditioned for every rotation.
    cofactor_matrix correction_cofactor = cofactor_matrix::Zero();
    // Residuals after the final correction, 3n x 1 in the row order of
    // build_design_matrix: centred target minus transform_point(centred
    // source, args) of the model estimated. sigma0 above does not use them
    // (it takes the misclosures before the last correction).
    Eigen::VectorXd residuals;
    // The convergence measure sum_j |dx_j| of the last iteration.
    double last_measure = 0.0;
    // Reciprocal condition number of the last normal matrix scaled to a
    // unit diagonal (its smallest over its largest eigenvalue).
    double reciprocal_condition = 0.0;
};

// Stopping rule of the adjustment loop. With dx the correction of an
// iteration, the convergence measure is sum_j |dx_j|. The loop ends, converged,
//   - as soon as the measure is not greater than `threshold`, or
//   - when the measure has stalled at double-precision rounding noise: it has
//     set no new lowest value for `stall_iterations` iterations in a row and its
//     lowest value is below stall_factor * (1 + largest |centred coordinate|).
//     Earth-size coordinates settle around 1e-9, above the threshold, and are
//     sound data all the same.
// When neither has happened after `max_iterations` iterations, it fails with
// estimation_error("no convergence after N iterations ...").
struct stopping_rule {
    double threshold = 1e-10;
    int stall_iterations = 3;
    double stall_factor = 1e-12;
    int max_iterations = 100;
};

// A normal matrix scaled to a unit diagonal whose reciprocal condition number
// is below this is rank-deficient (coincident or collinear points).
constexpr double min_reciprocal_condition = 1e-10;

// Iterated unweighted least squares (Gauss-Newton on centred coordinates).
//
// `source` and `target` hold X, Y, Z triples (source_count and target_count
// values). Writes the listing to `out`: both point matrices, both centroids,
// both centred matrices, "Args" after each iteration, and the final heading
// with the parameter vector; each text line is followed by a flush.
//
// Throws estimation_error, before anything is printed, when a value count is
// not a multiple of 3, the two lists hold different numbers of points, there
// are fewer than 3 points or a coordinate is not finite; and during the loop
// when the normal matrix is rank-deficient or the loop does not converge.
adjustment_result estimate_seven_parameters(const double* source, std::size_t source_count,
                                            const double* target, std::size_t target_count,
                                            std::ostream& out, const stopping_rule& rule = {});

// ---- The same adjustment without a listing, for either rotation model. ----

// Which rotation matrix R the model uses (see the model at the top):
//   linearised  the small-angle matrix above, exactly the one of
//               transform_point; sevenparam's only model;
//   exact       R = R3(ez) * R2(ey) * R1(ex), with the coordinate-frame
//               rotations about the axes
//                 R1(a) = | 1    0      0   |   R2(a) = | cos a  0  -sin a |
//                         | 0  cos a  sin a |           |   0    1    0    |
//                         | 0 -sin a  cos a |           | sin a  0   cos a |
//                 R3(a) = |  cos a  sin a  0 |
//                         | -sin a  cos a  0 |
//                         |    0      0    1 |
//               which is orthogonal for any angle and agrees with the
//               linearised matrix to first order. It is the matrix of PROJ's
//               "+proj=helmert +convention=coordinate_frame +exact".
enum class rotation_model { linearised, exact };

// The 3 x 3 rotation matrix R of `model` for the angles ex, ey, ez
// (radians): a point p (a column) turns into R p, before scaling.
Eigen::Matrix3d rotation_matrix(rotation_model model, double ex, double ey, double ez);

// transform_point for either model: t + (1 + m) R (X, Y, Z). With
// rotation_model::linearised it is transform_point itself, bit for bit.
point_row transform_point(rotation_model model, const double& X, const double& Y, const double& Z,
                          const parameter_vector& params);

// point_design_block for either model; the rotation columns of the exact
// model are s * (dR/d angle) (X, Y, Z), its scale column R (X, Y, Z). With
// rotation_model::linearised it is point_design_block itself.
design_block point_design_block(rotation_model model, const double& X, const double& Y,
                                const double& Z, const parameter_vector& params);

// The angles ex, ey, ez of a rotation matrix `r` (orthogonal, det +1) as
// R = R3(ez) R2(ey) R1(ex) (radians): ey in [-pi/2, pi/2], ex and ez in
// [-pi, pi]. At ey = +-pi/2 only ex -+ ez is determined: ex is then 0.
// rotation_matrix(exact, angles) gives back r to rounding. Never throws.
Eigen::Vector3d exact_rotation_angles(const Eigen::Matrix3d& r);

// The design block of the parameters the adjustment loop corrects, at the
// point (X, Y, Z) and the estimate `params`: point_design_block itself for
// the linearised model. For the exact model the rotation columns are the
// derivatives by small angles d turning R, R <- R(d) R, at d = 0:
//   s * (0, qz, -qy), s * (-qz, 0, qx), s * (qy, -qx, 0)   with q = R (X, Y, Z),
// independent for every R; the scale column is q. Never throws.
design_block correction_design_block(rotation_model model, const double& X, const double& Y,
                                     const double& Z, const parameter_vector& params);

// The inverse Q of a 7 x 7 normal matrix N (sum of B'PB over the points),
// judged and inverted through its unit-diagonal form D N D, D = diag(N)^-1/2,
// as the adjustment loop does; reciprocal_condition is set to that form's
// smallest over largest eigenvalue. Throws estimation_error when N is not
// finite or that figure is below min_reciprocal_condition (coincident or
// collinear points).
cofactor_matrix invert_normal_matrix(const Eigen::Matrix<double, 7, 7>& normal,
                                     double& reciprocal_condition);

// The exact model's cofactor matrix of (t, ex, ey, ez, m) at `args` from the
// cofactor matrix q of the loop's corrections (correction_design_block terms):
// T q T' with T = diag(I, J^-1, 1), J the columns of the axes of the three
// rotations as R = R3 R2 R1 sees them (det J = cos ey, so that ex and ez are
// unbounded at ey = +-90 degrees). Never throws.
cofactor_matrix exact_args_cofactor(const parameter_vector& args, const cofactor_matrix& q);

// Estimates the parameters of `model` from raw common points, one point per
// row (n x 3, coordinate units), without printing anything. The input rules
// and errors are those of estimate_seven_parameters (at least 3 points, equal
// counts, finite coordinates, the rank limit, the stopping rule).
//   - linearised: starts from zero and runs the very loop of
//     estimate_seven_parameters, so every figure of the result is the one
//     sevenparam gets from the same points;
//   - exact: Gauss-Newton started from the closed-form similarity of the
//     centred points (Eigen's umeyama, with scaling). The loop works on the
//     rotation matrix R itself: each correction turns it by small angles
//     about the target axes, R <- R(d) R (see correction_design_block), so
//     no rotation is singular for it, ey = +-90 degrees included, and it
//     converges for any angle. The angles are read out of the final R by
//     exact_rotation_angles.
// loop_started is set as there; the result carries the same fields.
// The passes over the points run on `threads` threads by fixed chunks of
// chunk_points points (estimation/chunks.h): the result is the same bits
// for any count, and up to chunk_points points (more than sevenparam's
// inputs can hold) the same bits as the plain loop of sevenparam.
adjustment_result estimate_similarity(const point_matrix& source, const point_matrix& target,
                                      rotation_model model, const stopping_rule& rule = {},
                                      unsigned threads = 1);

// A raw source point p (coordinate units) carried into the target system by
// an estimate of `model`: ave_tar + transform_point(model, p - ave_src, args).
// Never throws.
point_row carry_point(const adjustment_result& result, const point_row& p,
                      rotation_model model = rotation_model::linearised);

} // namespace sevenparam

#endif
