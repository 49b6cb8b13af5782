#include "quality/precision.h"

#include <cmath>
#include <limits>
#include <string>

namespace sevenparam {

long redundancy_of(long points)
{
    return 3 * points - 7;
}

double unit_weight_error(const Eigen::VectorXd& residuals)
{
    const long points = static_cast<long>(residuals.size() / 3);
    const long redundancy = redundancy_of(points);
    if (redundancy < 1)
        throw estimation_error("no redundancy with " + std::to_string(points) +
                               " common points: at least 3 are needed");
    return std::sqrt(residuals.squaredNorm() / static_cast<double>(redundancy));
}

parameter_vector standard_errors(const cofactor_matrix& cofactor, double sigma0)
{
    return sigma0 * cofactor.diagonal().cwiseSqrt();
}

Eigen::Matrix<double, 7, 7> correlation_matrix(const cofactor_matrix& cofactor)
{
    const parameter_vector d = cofactor.diagonal();
    parameter_vector inverse_root;
    for (int j = 0; j < 7; ++j)
        inverse_root(j) = d(j) > 0 ? 1 / std::sqrt(d(j)) : std::numeric_limits<double>::quiet_NaN();
    Eigen::Matrix<double, 7, 7> r =
        inverse_root.asDiagonal() * cofactor * inverse_root.asDiagonal();
    for (int j = 0; j < 7; ++j)
        if (d(j) > 0)
            r(j, j) = 1; // exactly, not 1 +- rounding
    return r;
}

} // namespace sevenparam
