// Precision of an adjustment of the seven parameters: the unit-weight
// standard error from the residuals, the parameters' standard errors and
// their correlations.
//
// Conventions: unit weights; the residuals v are the 3n values of
// adjustment_result::residuals (metres), Q the 7 x 7 cofactor matrix
// (B'B)^-1 in the parameter order of estimation/seven_parameters.h. A
// standard error has the unit of its parameter (m, rad, ratio).
#ifndef SEVENPARAM_QUALITY_PRECISION_H
#define SEVENPARAM_QUALITY_PRECISION_H

#include "estimation/seven_parameters.h"

#include <Eigen/Dense>

namespace sevenparam {

// Degrees of freedom of n common points: 3n - 7 (negative below 3 points).
long redundancy_of(long points);

// sigma0 = sqrt(v'v / (3n - 7)) with n = v.size() / 3. Throws
// estimation_error when 3n - 7 < 1 (fewer than 3 points).
double unit_weight_error(const Eigen::VectorXd& residuals);

// sigma0 * sqrt(diag(Q)).
parameter_vector standard_errors(const cofactor_matrix& cofactor, double sigma0);

// Q_ij / sqrt(Q_ii Q_jj): ones on the diagonal, symmetric. A zero or
// negative diagonal element (never from a successful adjustment) gives NaN
// in its row and column.
Eigen::Matrix<double, 7, 7> correlation_matrix(const cofactor_matrix& cofactor);

} // namespace sevenparam

#endif
