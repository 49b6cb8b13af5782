#include "quality/statistics.h"

#include <boost/math/distributions/chi_squared.hpp>
#include <boost/math/distributions/normal.hpp>
#include <boost/math/distributions/students_t.hpp>

#include <cmath>
#include <limits>
#include <string>

namespace sevenparam {

namespace {

constexpr double unchecked = least_checked_redundancy;
constexpr double not_a_number = std::numeric_limits<double>::quiet_NaN();

void require_alpha(double alpha)
{
    if (!(alpha > 0 && alpha < 1))
        throw estimation_error("the significance level must lie between 0 and 1, not " +
                               std::to_string(alpha));
}

void require_redundancy(long redundancy, long least, const char* test)
{
    if (redundancy < least)
        throw estimation_error(std::string("the ") + test + " needs a redundancy of at least " +
                               std::to_string(least) + ", not " + std::to_string(redundancy));
}

// w_k of one coordinate; NaN when unchecked, 0 for sigma = 0.
double standardised(double v, double r, double sigma)
{
    if (!(r >= unchecked))
        return not_a_number;
    return sigma > 0 ? v / (sigma * std::sqrt(r)) : 0.0;
}

} // namespace

double w_critical_value(double alpha)
{
    require_alpha(alpha);
    return boost::math::quantile(boost::math::normal_distribution<double>(), 1 - alpha / 2);
}

double sidak_alpha(double family, long tests)
{
    require_alpha(family);
    if (tests < 1)
        throw estimation_error("Sidak's rule needs at least one test");
    // log1p and expm1 keep the digits of a small share of a small family.
    return -std::expm1(std::log1p(-family) / static_cast<double>(tests));
}

double tau_critical_value(double alpha, long redundancy)
{
    require_alpha(alpha);
    require_redundancy(redundancy, 2, "tau test");
    const double f = static_cast<double>(redundancy);
    const double t =
        boost::math::quantile(boost::math::students_t_distribution<double>(f - 1), 1 - alpha / 2);
    return t * std::sqrt(f) / std::sqrt(f - 1 + t * t);
}

double chi_square_critical_value(double alpha, long redundancy)
{
    require_alpha(alpha);
    require_redundancy(redundancy, 1, "global test");
    return boost::math::quantile(
        boost::math::chi_squared_distribution<double>(static_cast<double>(redundancy)), 1 - alpha);
}

Eigen::Matrix3d residual_cofactor_block(const design_block& block, const cofactor_matrix& cofactor)
{
    return Eigen::Matrix3d::Identity() - block * cofactor * block.transpose();
}

double point_figure(const Eigen::Matrix3d& residual_cofactor, const Eigen::Vector3d& v,
                    double sigma)
{
    double figure = 0;
    for (int k = 0; k < 3; ++k) {
        const double w = std::abs(standardised(v(k), residual_cofactor(k, k), sigma));
        if (w > figure) // false for NaN
            figure = w;
    }
    return figure;
}

point_statistics test_point(const Eigen::Matrix3d& residual_cofactor, const Eigen::Vector3d& v,
                            double sigma)
{
    point_statistics s;
    s.redundancy = residual_cofactor.diagonal();
    for (int k = 0; k < 3; ++k) {
        const double r = s.redundancy(k);
        s.w(k) = standardised(v(k), r, sigma);
        s.mdb_m(k) = r >= unchecked ? sigma * std::sqrt(mdb_lambda0 / r) : not_a_number;
    }
    s.figure = point_figure(residual_cofactor, v, sigma);

    // R_i^-1 v_i. R_i is symmetric with eigenvalues in [0, 1], so a
    // determinant of at least `unchecked` bounds its smallest eigenvalue
    // from below by as much: the others check the point in every direction.
    Eigen::Matrix3d inverse;
    double determinant = 0;
    bool invertible = false;
    residual_cofactor.computeInverseAndDetWithCheck(inverse, determinant, invertible, 0.0);
    if (invertible && determinant >= unchecked)
        s.check_m = inverse * v;
    else
        s.check_m.setConstant(not_a_number);
    return s;
}

} // namespace sevenparam
