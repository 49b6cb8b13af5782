// Whether the target is a mirror image of the source: the handedness of the
// best orthogonal fit of the two centred point sets.
//
// Conventions: points one per row (n x 3, coordinate units, metres for
// ECEF), paired by row; both sets are reduced to their own centroids here.
// With H = sum t_i s_i' (centred target times centred source) and its
// singular value decomposition H = U diag(d1, d2, d3) V' (d1 >= d2 >= d3 >= 0),
// the best similarity t = c Q s over orthogonal Q is Q = U V' (Umeyama 1991,
// "Least-squares estimation of transformation parameters between two point
// patterns", IEEE PAMI 13(4)). Its determinant is that of U V'; when it is
// -1, Q includes a reflection, which no rotation can give: the best proper
// rotation U diag(1, 1, -1) V' is worse by
//   gain = 4 d3 (d1 + d2) / sum |s_i|^2  (m^2 in the residuals' v'v).
#ifndef SEVENPARAM_QUALITY_ORIENTATION_H
#define SEVENPARAM_QUALITY_ORIENTATION_H

#include "estimation/seven_parameters.h"

#include <vector>

namespace sevenparam {

// True when the target is mirrored against the source: the best orthogonal
// fit needs a reflection (det U V' < 0), and taking it matters, that is
//   - gain > 3 E, with E the residuals' v'v of the mirrored fit: the proper
//     fit leaves more than 4 times the mirrored one's residuals, and
//   - gain > 1e-12 sum |t_i|^2: above rounding, so that points in a plane,
//     whose mirror image is also a rotation, are never mirrored.
// False for fewer than 3 points or different counts. Never throws.
// With `kept` (one flag per row), only the rows flagged count; the points
// are read where they are, never copied.
bool target_mirrored(const point_matrix& source, const point_matrix& target);
bool target_mirrored(const point_matrix& source, const point_matrix& target,
                     const std::vector<char>& kept);

} // namespace sevenparam

#endif
