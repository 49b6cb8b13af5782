#include "quality/quality_report.h"

#include "quality/exports.h"
#include "quality/geodesy.h"
#include "quality/precision.h"
#include "quality/statistics.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <unordered_map>
#include <utility>

namespace sevenparam {

namespace {

// Snooping stops before the final set would drop below this.
constexpr long least_points_after_snooping = 5;
constexpr long least_common_points = 3;

void require_consistent(const named_points& points, const char* role)
{
    if (points.names.size() != static_cast<std::size_t>(points.xyz.rows()))
        throw estimation_error(std::string(role) +
                               " points: " + std::to_string(points.names.size()) + " names for " +
                               std::to_string(points.xyz.rows()) + " points");
}

// The significance level is checked with the critical values.
void require_sigma(const report_settings& settings)
{
    if (settings.sigma_apriori &&
        !(std::isfinite(*settings.sigma_apriori) && *settings.sigma_apriori > 0))
        throw estimation_error("the a-priori standard error must be a positive number of metres");
}

// The 1-based number `text` names, or 0 when it is no number from 1 to count.
std::size_t point_number(const std::string& text, std::size_t count)
{
    if (text.empty() || text.size() > 18)
        return 0;
    std::size_t number = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return 0;
        number = number * 10 + static_cast<std::size_t>(c - '0');
    }
    return number <= count ? number : 0;
}

// Marks the points of settings.exclude in `kept` (false) and lists them in
// the order given. A name leaves out every point of that name; a wanted
// point named by no point is taken as a 1-based number.
void apply_exclusions(const report_settings& settings, const named_points& source,
                      std::vector<char>& kept, std::vector<std::size_t>& removed,
                      quality_report& report)
{
    const std::size_t count = source.names.size();
    const auto remove = [&](std::size_t i) {
        if (!kept[i])
            return;
        kept[i] = 0;
        removed.push_back(i);
        excluded_point point;
        point.name = source.names[i];
        point.why = excluded_point::reason::option;
        report.excluded.push_back(std::move(point));
    };
    // The points of each wanted name, from one pass over the names.
    std::unordered_map<std::string, std::vector<std::size_t>> named;
    for (const std::string& wanted : settings.exclude)
        named.emplace(wanted, std::vector<std::size_t>());
    if (!named.empty())
        for (std::size_t i = 0; i < count; ++i) {
            const auto found = named.find(source.names[i]);
            if (found != named.end())
                found->second.push_back(i);
        }
    for (const std::string& wanted : settings.exclude) {
        const std::vector<std::size_t>& rows = named[wanted];
        for (const std::size_t i : rows)
            remove(i);
        if (!rows.empty())
            continue;
        const std::size_t number = point_number(wanted, count);
        if (number == 0)
            throw estimation_error("the point to leave out '" + wanted +
                                   "' is neither the name of a common point nor a number from 1 "
                                   "to " +
                                   std::to_string(count));
        remove(number - 1);
    }
    const std::size_t left = count - removed.size();
    if (left >= static_cast<std::size_t>(least_common_points))
        return;
    if (removed.empty())
        throw estimation_error("only " + std::to_string(count) +
                               " common points: at least 3 are needed");
    throw estimation_error("leaving out " + std::to_string(removed.size()) + " of " +
                           std::to_string(count) + " common points leaves " + std::to_string(left) +
                           ": at least 3 are needed");
}

// The rows of `all` whose `kept` flag is set, in order.
point_matrix kept_rows(const point_matrix& all, const std::vector<char>& kept, std::size_t count)
{
    point_matrix rows(static_cast<Eigen::Index>(count), 3);
    Eigen::Index k = 0;
    for (Eigen::Index i = 0; i < all.rows(); ++i)
        if (kept[static_cast<std::size_t>(i)])
            rows.row(k++) = all.row(i);
    return rows;
}

// The design blocks of centred source points at one estimate. The last four
// columns of point_design_block are linear in the point (the rotation's and
// scale's derivatives of (1 + m) R p), so the blocks at the three unit
// vectors give every point's block by a few products, without the model's
// trigonometry per point.
struct design_by_axis {
    Eigen::Matrix<double, 3, 4> axis[3];

    design_by_axis() = default;
    design_by_axis(rotation_model model, const parameter_vector& args)
    {
        for (int k = 0; k < 3; ++k) {
            const Eigen::Vector3d unit = Eigen::Vector3d::Unit(k);
            axis[k] = point_design_block(model, unit(0), unit(1), unit(2), args).rightCols<4>();
        }
    }
    design_block at(const Eigen::Vector3d& p) const
    {
        design_block block;
        block.leftCols<3>().setIdentity();
        block.rightCols<4>() = p(0) * axis[0] + p(1) * axis[1] + p(2) * axis[2];
        return block;
    }
};

// The rounding noise of coordinates of this size: that of the estimation's
// stopping rule, 1e-12 of the largest centred coordinate (plus one).
double rounding_noise(const point_matrix& points, const point_row& centroid)
{
    const double largest =
        points.rows() == 0 ? 0.0 : (points.rowwise() - centroid).cwiseAbs().maxCoeff();
    return stopping_rule{}.stall_factor * (1 + largest);
}

// One adjustment of the kept points with the figures its tests need.
struct adjustment {
    adjustment_result result;
    design_by_axis design;
    std::vector<std::size_t> index; // input row of each adjusted point
    double sigma0 = 0;              // sqrt(v'v / (3n - 7))
    double sigma = 0;               // the one of the tests: a priori, else sigma0
    double critical = 0;            // critical value of the per-coordinate test

    Eigen::Vector3d residual(std::size_t k) const
    {
        return result.residuals.segment<3>(3 * static_cast<Eigen::Index>(k));
    }
    // R_k of the k-th adjusted point.
    Eigen::Matrix3d residual_cofactor(const point_matrix& source, std::size_t k) const
    {
        const Eigen::Vector3d centred =
            (source.row(static_cast<Eigen::Index>(index[k])) - result.ave_src).transpose();
        return residual_cofactor_block(design.at(centred), result.cofactor);
    }
};

adjustment adjust_kept(const named_points& source, const named_points& target,
                       const std::vector<char>& kept, std::size_t count,
                       const report_settings& settings)
{
    adjustment a;
    // First, so that a bad significance level fails before the work.
    a.critical = settings.sigma_apriori
                     ? w_critical_value(settings.alpha)
                     : tau_critical_value(settings.alpha, redundancy_of(static_cast<long>(count)));
    a.index.reserve(count);
    for (std::size_t i = 0; i < kept.size(); ++i)
        if (kept[i])
            a.index.push_back(i);
    if (count == kept.size()) {
        a.result = estimate_similarity(source.xyz, target.xyz, settings.model);
    } else {
        a.result = estimate_similarity(kept_rows(source.xyz, kept, count),
                                       kept_rows(target.xyz, kept, count), settings.model);
    }
    a.design = design_by_axis(settings.model, a.result.args);
    a.sigma0 = unit_weight_error(a.result.residuals);
    a.sigma = settings.sigma_apriori ? *settings.sigma_apriori : a.sigma0;
    // Points that fit exactly leave residuals of rounding noise, and sigma0
    // of the same noise: their ratio w says nothing, yet could pass any
    // critical value. Such a fit is a perfect one (w = 0).
    if (!settings.sigma_apriori && a.sigma0 <= rounding_noise(target.xyz, a.result.ave_tar))
        a.sigma = 0;
    return a;
}

// The adjusted point (its place k in the adjustment) with the largest figure
// above the critical value, and that figure; k = a.index.size() when none.
std::pair<std::size_t, double> worst_flagged(const adjustment& a, const point_matrix& source)
{
    std::pair<std::size_t, double> worst(a.index.size(), a.critical);
    for (std::size_t k = 0; k < a.index.size(); ++k) {
        const double figure = point_figure(a.residual_cofactor(source, k), a.residual(k), a.sigma);
        if (figure > worst.second)
            worst = {k, figure};
    }
    return worst;
}

// Adjusts the kept points; with snooping, removes the worst flagged point
// and adjusts again while that leaves enough points.
adjustment adjust_with_snooping(const named_points& source, const named_points& target,
                                const report_settings& settings, std::vector<char>& kept,
                                std::vector<std::size_t>& removed, quality_report& report)
{
    for (;;) {
        const std::size_t points = kept.size() - removed.size();
        adjustment a = adjust_kept(source, target, kept, points, settings);
        if (!settings.snoop || static_cast<long>(points) - 1 < least_points_after_snooping)
            return a;
        const auto [k, figure] = worst_flagged(a, source.xyz);
        if (k == a.index.size())
            return a;
        const std::size_t i = a.index[k];
        excluded_point point;
        point.name = source.names[i];
        point.why = excluded_point::reason::snooping;
        point.figure = figure;
        report.excluded.push_back(std::move(point));
        kept[i] = 0;
        removed.push_back(i);
    }
}

// Summary, parameters, precision and exports of the final adjustment.
void fill_estimate(const adjustment& a, rotation_model model, quality_report& report)
{
    const adjustment_result& r = a.result;
    report.model = model;
    report.common_points = a.index.size();
    report.redundancy = redundancy_of(static_cast<long>(a.index.size()));
    report.iterations = r.iterations;
    report.last_measure = r.last_measure;
    report.reciprocal_condition = r.reciprocal_condition;
    report.centroid_source = r.ave_src;
    report.centroid_target = r.ave_tar;
    report.parameters.value = r.args;
    report.sigma0 = a.sigma0;
    report.parameters.sigma = standard_errors(r.cofactor, a.sigma0);
    report.sigma0_sevenparam = r.sigma0;
    report.correlation = correlation_matrix(r.cofactor);

    report.bursa_wolf = origin_based_set(r.args, r.cofactor, a.sigma0, r.ave_src, r.ave_tar, model);
    proj_texts texts = proj_exports(r.args, report.bursa_wolf, r.ave_src, r.ave_tar, model);
    report.towgs84 = std::move(texts.towgs84);
    report.proj_helmert = std::move(texts.helmert);
    report.proj_molobadekas = std::move(texts.molobadekas);
    report.proj_pipeline = std::move(texts.pipeline);
}

void fill_tests(const adjustment& a, const report_settings& settings, quality_report& report)
{
    report.tests.alpha = settings.alpha;
    report.tests.test =
        settings.sigma_apriori ? residual_tests::kind::w : residual_tests::kind::tau;
    report.tests.critical_value = a.critical;
    if (settings.sigma_apriori) {
        const double s = *settings.sigma_apriori;
        global_test global;
        global.statistic = a.result.residuals.squaredNorm() / (s * s);
        global.critical_value = chi_square_critical_value(settings.alpha, report.redundancy);
        global.passed = global.statistic <= global.critical_value;
        report.tests.global = global;
    }
}

// The target system's image of a source point under the final transformation.
residual_row residual_of(const std::string& name, const Eigen::Vector3d& v,
                         const point_row& target_point)
{
    residual_row row;
    row.name = name;
    row.xyz_m = v;
    row.enu_m = enu_rotation(ecef_to_geodetic_trig(target_point.transpose())) * v;
    row.length_m = v.norm();
    return row;
}

// Residuals with their tests for the adjusted points, in input order, then
// the removed points' against the final transformation; the largest
// residual and the linearisation check over the adjusted points.
void fill_residuals(const adjustment& a, const named_points& source, const named_points& target,
                    const std::vector<std::size_t>& removed, rotation_model model,
                    quality_report& report)
{
    const adjustment_result& r = a.result;
    report.residuals.reserve(a.index.size() + removed.size());
    const Eigen::Matrix3d linearisation = linearisation_difference(r.args);
    double largest_squared_linearisation = 0;
    double largest_squared_small_angle = 0;
    for (std::size_t k = 0; k < a.index.size(); ++k) {
        const Eigen::Index i = static_cast<Eigen::Index>(a.index[k]);
        const Eigen::Vector3d v = a.residual(k);
        residual_row row = residual_of(source.names[a.index[k]], v, target.xyz.row(i));
        row.index = a.index[k];
        const point_statistics s = test_point(a.residual_cofactor(source.xyz, k), v, a.sigma);
        row.redundancy = s.redundancy;
        row.w = s.w;
        row.figure = s.figure;
        row.flagged = s.figure > a.critical;
        row.mdb_m = s.mdb_m;
        row.check_m = s.check_m;
        if (k == 0 || row.length_m > report.residuals[report.largest_residual].length_m)
            report.largest_residual = k;
        report.residuals.push_back(std::move(row));
        const Eigen::Vector3d centred = (source.xyz.row(i) - r.ave_src).transpose();
        largest_squared_linearisation =
            std::max(largest_squared_linearisation, (linearisation * centred).squaredNorm());
        if (model == rotation_model::exact)
            largest_squared_small_angle =
                std::max(largest_squared_small_angle,
                         (linearisation * source.xyz.row(i).transpose()).squaredNorm());
    }
    report.linearisation_max_m = std::sqrt(largest_squared_linearisation);
    report.small_angle_exports_max_m = std::sqrt(largest_squared_small_angle);

    for (const std::size_t i : removed) {
        const Eigen::Index row_index = static_cast<Eigen::Index>(i);
        const Eigen::Vector3d v = target.xyz.row(row_index).transpose() -
                                  carry_point(r, source.xyz.row(row_index), model).transpose();
        residual_row row = residual_of(source.names[i], v, target.xyz.row(row_index));
        row.index = i;
        row.removed = true;
        report.residuals.push_back(std::move(row));
    }
}

} // namespace

quality_report build_quality_report(const named_points& source, const named_points& target,
                                    const named_points& test, const report_settings& settings)
{
    require_consistent(source, "source");
    require_consistent(target, "target");
    require_consistent(test, "test");
    require_sigma(settings);
    if (source.xyz.rows() != target.xyz.rows())
        throw estimation_error("source and target hold different numbers of points: " +
                               std::to_string(source.xyz.rows()) + " and " +
                               std::to_string(target.xyz.rows()));

    quality_report report;
    std::vector<char> kept(source.names.size(), 1);
    std::vector<std::size_t> removed; // input rows in the order of removal
    apply_exclusions(settings, source, kept, removed, report);
    const adjustment a = adjust_with_snooping(source, target, settings, kept, removed, report);
    fill_estimate(a, settings.model, report);
    fill_tests(a, settings, report);
    fill_residuals(a, source, target, removed, settings.model, report);

    report.predictions.reserve(test.names.size());
    for (Eigen::Index i = 0; i < test.xyz.rows(); ++i) {
        prediction_row row;
        row.name = test.names[static_cast<std::size_t>(i)];
        row.xyz_m = carry_point(a.result, test.xyz.row(i), settings.model).transpose();
        report.predictions.push_back(std::move(row));
    }
    return report;
}

} // namespace sevenparam
