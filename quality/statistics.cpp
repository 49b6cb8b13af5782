#include "quality/statistics.h"

#include <boost/math/distributions/chi_squared.hpp>
#include <boost/math/distributions/normal.hpp>
#include <boost/math/distributions/students_t.hpp>
#include <boost/math/special_functions/erf.hpp>

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
                               message_number(alpha));
}

void require_redundancy(long redundancy, long least, const char* test)
{
    if (redundancy < least)
        throw estimation_error(std::string("the ") + test + " needs a redundancy of at least " +
                               std::to_string(least) + ", not " + std::to_string(redundancy));
}

// The quantiles' failures are values, not exceptions: a quantile too large
// for a double is +infinity and one too small is 0. The upper quantile comes
// from the complement, so that a tail probability of 1e-300 is not lost in
// 1 - p.
using quantile_policy = boost::math::policies::policy<
    boost::math::policies::overflow_error<boost::math::policies::ignore_error>,
    boost::math::policies::underflow_error<boost::math::policies::ignore_error>,
    boost::math::policies::denorm_error<boost::math::policies::ignore_error>,
    boost::math::policies::evaluation_error<boost::math::policies::ignore_error>>;

// The x with P(X > x) = tail, 0 < tail < 1 (a tail that rounds to 0 gives
// +infinity). The library's own message never reaches the user: a failure
// is this program's error.
template <typename Distribution> double upper_quantile(const Distribution& d, double tail)
{
    if (!(tail > 0))
        return std::numeric_limits<double>::infinity();
    try {
        return boost::math::quantile(boost::math::complement(d, tail));
    } catch (const std::exception&) {
        throw estimation_error("no critical value for the significance level " +
                               message_number(tail) + " (tail probability)");
    }
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
    // P(|Z| > z) = erfc(z / sqrt 2) = alpha: no halving of alpha, which
    // would lose the smallest (subnormal) levels to 0.
    try {
        return std::sqrt(2.0) * boost::math::erfc_inv(alpha, quantile_policy());
    } catch (const std::exception&) {
        throw estimation_error("no critical value for the significance level " +
                               message_number(alpha));
    }
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
    const double t = upper_quantile(
        boost::math::students_t_distribution<double, quantile_policy>(f - 1), alpha / 2);
    // t sqrt(f) / sqrt(f - 1 + t^2), written so that a t too large to
    // square, or infinite, gives the bound sqrt(f).
    return std::sqrt(f) / std::sqrt((f - 1) / t / t + 1);
}

double chi_square_critical_value(double alpha, long redundancy)
{
    require_alpha(alpha);
    require_redundancy(redundancy, 1, "global test");
    return upper_quantile(boost::math::chi_squared_distribution<double, quantile_policy>(
                              static_cast<double>(redundancy)),
                          alpha);
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

point_statistics test_weighted_point(const Eigen::Matrix3d& misclosure_covariance,
                                     const Eigen::Matrix3d& residual_covariance,
                                     const Eigen::Vector3d& misclosure)
{
    const Eigen::Matrix3d weight = misclosure_covariance.inverse();
    const Eigen::Matrix3d redundancy = residual_covariance * weight;
    const Eigen::Matrix3d m = weight * residual_covariance * weight;
    const Eigen::Vector3d weighted = weight * misclosure;
    point_statistics s;
    s.redundancy = redundancy.diagonal();
    s.figure = 0;
    for (int k = 0; k < 3; ++k) {
        const bool checked = s.redundancy(k) >= unchecked && m(k, k) > 0;
        s.w(k) = checked ? weighted(k) / std::sqrt(m(k, k)) : not_a_number;
        s.mdb_m(k) = checked ? std::sqrt(mdb_lambda0 / m(k, k)) : not_a_number;
        if (std::abs(s.w(k)) > s.figure) // false for NaN
            s.figure = std::abs(s.w(k));
    }
    Eigen::Matrix3d inverse;
    double determinant = 0;
    bool invertible = false;
    residual_covariance.computeInverseAndDetWithCheck(inverse, determinant, invertible, 0.0);
    if (invertible && redundancy.determinant() >= unchecked)
        s.check_m = misclosure_covariance * (inverse * misclosure);
    else
        s.check_m.setConstant(not_a_number);
    return s;
}

} // namespace sevenparam
