#include "quality/robust.h"

#include "estimation/chunks.h"
#include "quality/design_by_axis.h"
#include "quality/statistics.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace sevenparam {

double robust_constant(robust_estimator estimator)
{
    switch (estimator) {
    case robust_estimator::huber:
        return huber_constant;
    case robust_estimator::danish:
        return danish_constant;
    case robust_estimator::none:
        break;
    }
    return 0;
}

double robust_weight(robust_estimator estimator, double figure)
{
    const double k = robust_constant(estimator);
    if (estimator == robust_estimator::none || !(figure > k))
        return 1;
    const double ratio = figure / k;
    const double w = estimator == robust_estimator::huber ? 1 / ratio : std::exp(1 - ratio * ratio);
    return std::max(w, least_robust_weight);
}

double robust_scale(std::vector<double> values)
{
    values.erase(
        std::remove_if(values.begin(), values.end(), [](double v) { return std::isnan(v); }),
        values.end());
    if (values.empty())
        return 0;
    for (double& v : values)
        v = std::abs(v);
    const std::size_t middle = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle),
                     values.end());
    double median = values[middle];
    if (values.size() % 2 == 0) // the largest of the lower half, after nth_element
        median = 0.5 *
                 (median + *std::max_element(values.begin(),
                                             values.begin() + static_cast<std::ptrdiff_t>(middle)));
    return mad_to_sigma * median;
}

namespace {

// e_k / sqrt(D_kk) of every coordinate (see the header), 3 per point, NaN
// where the coordinate is not checked.
Eigen::VectorXd scaled_residuals(const gauss_helmert_result& fit,
                                 const std::vector<Eigen::Matrix3d>& source_covariance,
                                 const std::vector<Eigen::Matrix3d>& target_covariance,
                                 const std::vector<double>& weight, rotation_model model,
                                 unsigned threads)
{
    const adjustment_result& r = fit.result;
    const parameter_vector& x = r.args;
    const Eigen::Matrix3d j = (1 + x(6)) * rotation_matrix(model, x(3), x(4), x(5));
    const bool unit = source_covariance.empty() && target_covariance.empty();
    const design_by_axis design(model, x, design_terms::corrections);
    const std::size_t points = weight.size();
    Eigen::VectorXd scaled(3 * static_cast<Eigen::Index>(points));
    for_each_chunk(points, threads, [&](std::size_t, std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) {
            Eigen::Matrix3d c = Eigen::Matrix3d::Zero();
            if (unit)
                c.setIdentity();
            if (!target_covariance.empty())
                c += target_covariance[i];
            if (!source_covariance.empty())
                c += j * source_covariance[i] * j.transpose();
            const Eigen::Vector3d a = fit.adjusted[i].source_m - r.ave_src.transpose();
            const design_block b = design.at(a);
            const Eigen::Matrix3d d = c - weight[i] * (b * r.correction_cofactor * b.transpose());
            const Eigen::Index row = 3 * static_cast<Eigen::Index>(i);
            for (int k = 0; k < 3; ++k)
                scaled(row + k) = d(k, k) > least_checked_redundancy * c(k, k)
                                      ? r.residuals(row + k) / std::sqrt(d(k, k))
                                      : std::nan("");
        }
    });
    return scaled;
}

double rounding_noise_of(const point_matrix& target)
{
    const point_row centroid = target.colwise().mean();
    return stopping_rule{}.stall_factor * (1 + (target.rowwise() - centroid).cwiseAbs().maxCoeff());
}

} // namespace

double weighted_redundancy(const gauss_helmert_result& fit, const std::vector<double>& weight,
                           rotation_model model)
{
    const design_by_axis design(model, fit.result.args, design_terms::corrections);
    double sum = 0;
    for (std::size_t i = 0; i < weight.size(); ++i)
        if (weight[i] > 0) // of weight 0 the covariance is infinite
            sum += weight[i] * (misclosure_residual_covariance(fit, design, i) *
                                fit.misclosure_covariance[i].inverse())
                                   .trace();
    return sum;
}

robust_adjustment adjust_robustly(const point_matrix& source, const point_matrix& target,
                                  const std::vector<Eigen::Matrix3d>& source_covariance,
                                  const std::vector<Eigen::Matrix3d>& target_covariance,
                                  robust_estimator estimator, std::optional<double> sigma,
                                  rotation_model model, unsigned threads)
{
    if (estimator == robust_estimator::none)
        throw estimation_error("robust estimation: no estimator chosen");
    if (sigma && !(std::isfinite(*sigma) && *sigma > 0))
        throw estimation_error("robust estimation: the standard error of unit weight must be a "
                               "positive number, not " +
                               message_number(*sigma));
    const std::size_t points = static_cast<std::size_t>(source.rows());
    const double noise = rounding_noise_of(target);

    robust_adjustment out;
    out.summary.estimator = estimator;
    out.summary.constant = robust_constant(estimator);
    out.summary.weights.assign(points, 1.0);
    std::vector<double>& weight = out.summary.weights;
    out.fit = adjust_gauss_helmert(source, target, source_covariance, target_covariance, weight,
                                   model, threads);
    std::vector<double> next(points);
    for (;;) {
        const Eigen::VectorXd scaled =
            scaled_residuals(out.fit, source_covariance, target_covariance, weight, model, threads);
        const double s = sigma ? *sigma
                               : std::max(robust_scale(std::vector<double>(
                                              scaled.data(), scaled.data() + scaled.size())),
                                          noise);
        double change = 0;
        for (std::size_t i = 0; i < points; ++i) {
            // The largest |w_k| of the point's checked coordinates; NaN when none is.
            double figure = std::nan("");
            for (int k = 0; k < 3; ++k) {
                const double w = std::abs(scaled(3 * static_cast<Eigen::Index>(i) + k)) / s;
                if (!std::isnan(w))
                    figure = std::isnan(figure) ? w : std::max(figure, w);
            }
            next[i] = robust_weight(estimator, figure);
            change = std::max(change, std::abs(next[i] - weight[i]));
        }
        if (change <= robust_weight_tolerance)
            break;
        if (out.summary.iterations == robust_max_iterations)
            throw estimation_error("robust estimation: the weights of " + std::to_string(points) +
                                   " points did not settle after " +
                                   std::to_string(robust_max_iterations) +
                                   " adjustments (largest change " + message_number(change) + ")");
        weight.swap(next);
        out.fit = adjust_gauss_helmert(source, target, source_covariance, target_covariance, weight,
                                       model, threads);
        ++out.summary.iterations;
    }
    for (std::size_t i = 0; i < points; ++i)
        if (weight[i] < blunder_weight)
            out.summary.blunders.push_back(i);
    return out;
}

} // namespace sevenparam
