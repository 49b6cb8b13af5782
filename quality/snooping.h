// Data snooping without a new adjustment per removal.
//
// The adjustment of the kept common points is held as its normal equations
// N dx = b (N = sum B_i'B_i, b = sum B_i'l_i, 7 x 7 and 7 x 1; B_i the design
// block, l_i the misclosure of point i at the estimate x), on coordinates
// reduced to a frame fixed when snooping starts (the centroids of the points
// kept then). Removing point j downdates them by its contribution,
//   N' = N - B_j'B_j,   b' = b - B_j'l_j,   x' = x + N'^-1 b',
// which is the Gauss-Newton step of the adjustment without point j, started
// from x. The model is not linear in its parameters (the scale multiplies the
// rotation), so one pass over the points then forms N, b and v'v at x' and
// checks the next correction; more passes follow while it is above the
// adjustment's stopping threshold (estimation/seven_parameters.h), which,
// started this close, is rare. The same pass finds the point with the
// largest figure, with the redundancy numbers of the downdated N^-1: a
// removal costs one pass over the points. Both rotation models work so; the
// exact model needs no other treatment, since its blocks come from the same
// derivatives.
//
// A reduction to another frame changes the translations only: the rotations,
// the scale, the residuals, the redundancy numbers and every test agree with
// those of a full adjustment of the same points (reduced to their own
// centroids) to rounding.
//
// Every pass runs over fixed chunks of the input rows (estimation/chunks.h),
// so the figures are the same whatever the number of threads.
//
// Units: those of estimation/seven_parameters.h (coordinates in m, angles in
// rad, m as a ratio); figures unitless.
#ifndef SEVENPARAM_QUALITY_SNOOPING_H
#define SEVENPARAM_QUALITY_SNOOPING_H

#include "estimation/seven_parameters.h"

#include <Eigen/Dense>

#include <cstddef>
#include <vector>

namespace sevenparam {

struct snooping_state {
    rotation_model model = rotation_model::linearised;
    unsigned threads = 1;
    std::vector<char> kept; // per input row: still adjusted
    std::size_t points = 0; // kept rows
    point_row frame_source, frame_target; // subtracted from every point
    parameter_vector x;                   // the estimate in that frame
    Eigen::Matrix<double, 7, 7> normal;   // N at x
    parameter_vector right_side;          // b at x
    double squared_residuals = 0;         // v'v of the misclosures at x
    cofactor_matrix cofactor;             // N^-1
    double tolerance = 0; // a correction measure (sum |dx_j|) at or below this ends a step
    // The kept row with the largest figure at sigma = 1 in the last pass
    // (source.rows() when none is above 0), and that figure squared.
    std::size_t worst_row = 0;
    double worst = 0;
};

// The state of the adjustment `adjusted` of the rows of `source` and
// `target` (raw coordinates, input rows) flagged in `kept`, reduced to its
// centroids; one pass forms its normal equations. `threads` as
// for_each_chunk. Throws estimation_error when the normal matrix is singular.
snooping_state start_snooping(const point_matrix& source, const point_matrix& target,
                              const std::vector<char>& kept, const adjustment_result& adjusted,
                              rotation_model model, unsigned threads);

// Removes the kept input row `row` (see above). Throws estimation_error when
// the rest is rank-deficient or the iteration does not settle within the
// stopping rule's iterations.
void remove_point(snooping_state& state, const point_matrix& source, const point_matrix& target,
                  std::size_t row);

// v'v / (3n - 7) square-rooted, n the kept points: sigma0 at the estimate.
double snooping_sigma0(const snooping_state& state);

// The residual v = target - transformed source of input row `row` at the
// state's estimate (m).
Eigen::Vector3d snooping_residual(const snooping_state& state, const point_matrix& source,
                                  const point_matrix& target, std::size_t row);

// The kept point with the largest figure (quality/statistics.h) as the last
// pass found it, and its figure with this sigma; the first such row in input
// order on a tie. row == source.rows() when no figure is above 0. Takes no
// pass over the points.
struct largest_figure_point {
    std::size_t row = 0;
    double figure = 0;
};
largest_figure_point largest_figure(const snooping_state& state, const point_matrix& source,
                                    const point_matrix& target, double sigma);

} // namespace sevenparam

#endif
