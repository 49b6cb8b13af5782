#include "quality/quality_report.h"

#include "estimation/chunks.h"
#include "numlist/message_excerpt.h"
#include "quality/carried_precision.h"
#include "quality/design_by_axis.h"
#include "quality/exports.h"
#include "quality/gauss_helmert.h"
#include "quality/geodesy.h"
#include "quality/orientation.h"
#include "quality/precision.h"
#include "quality/robust.h"
#include "quality/snooping.h"
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
    require_covariances(points.covariance, points.xyz.rows(), role);
}

bool has_precisions(const named_points& source, const named_points& target)
{
    return !source.covariance.empty() || !target.covariance.empty();
}

// With precisions the a-priori variance factor is 1; a standard error of one
// coordinate would contradict them.
void require_stochastic_model(const named_points& source, const named_points& target,
                              const report_settings& settings)
{
    if (has_precisions(source, target) && settings.sigma_apriori)
        throw estimation_error("an a-priori standard error of one coordinate cannot be combined "
                               "with the precisions of the points, which are a priori already");
    if (settings.variance_components && (source.covariance.empty() || target.covariance.empty()))
        throw estimation_error("variance components need the precisions of both systems; the " +
                               std::string(source.covariance.empty() ? "source" : "target") +
                               " points have none");
    if (settings.variance_components && settings.robust != robust_estimator::none)
        throw estimation_error("variance components cannot be combined with robust estimation: "
                               "the blunders would spoil the components, and the weights the "
                               "variance factors");
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
            throw estimation_error("the point to leave out '" + message_excerpt(wanted) +
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

// The rounding noise of coordinates of this size: that of the estimation's
// stopping rule, 1e-12 of the largest centred coordinate (plus one).
double rounding_noise(const point_matrix& points, const point_row& centroid)
{
    const double largest =
        points.rows() == 0 ? 0.0 : (points.rowwise() - centroid).cwiseAbs().maxCoeff();
    return stopping_rule{}.stall_factor * (1 + largest);
}

// The rows of `all` (one per point, or none) whose `kept` flag is set.
std::vector<Eigen::Matrix3d> kept_covariances(const std::vector<Eigen::Matrix3d>& all,
                                              const std::vector<char>& kept, std::size_t count)
{
    std::vector<Eigen::Matrix3d> rows;
    if (all.empty())
        return rows;
    rows.reserve(count);
    for (std::size_t i = 0; i < all.size(); ++i)
        if (kept[i])
            rows.push_back(all[i]);
    return rows;
}

// The tests of a unit-weight point taken with sigma = 1 (test_weighted_point
// with the identity as S_i) for the standard error `sigma` (m): w and the
// figure divided by it, the MDB multiplied; w = 0 for sigma = 0 (a perfect
// fit), as test_point has it.
point_statistics with_sigma(point_statistics s, double sigma)
{
    for (int k = 0; k < 3; ++k) {
        if (std::isnan(s.w(k)))
            continue;
        s.w(k) = sigma > 0 ? s.w(k) / sigma : 0.0;
        s.mdb_m(k) *= sigma;
    }
    s.figure = sigma > 0 ? s.figure / sigma : 0.0;
    return s;
}

// One adjustment of the kept points with the figures its tests need.
struct adjustment {
    adjustment_result result;
    design_by_axis design;
    std::vector<std::size_t> index; // input row of each adjusted point
    double sigma0 = 0;              // sqrt(v'v / (3n - 7)), or sqrt(v'Pv / (3n - 7))
    double sigma = 0;               // the one of the tests: a priori, else sigma0; 1 weighted
    double critical = 0;            // critical value of the per-coordinate test
    // The factor of the parameters' cofactor matrix in their covariance:
    // sigma0^2 with unit weights, 1 with precisions.
    double variance_factor = 0;

    // With precisions: the adjustment with errors in both systems, the
    // source covariances of its points as adjusted when they differ from the
    // input's (scaled by the variance components, or of a subset; empty
    // otherwise: own_source_covariance) and the components.
    bool weighted = false;
    gauss_helmert_result weighted_fit;
    std::vector<Eigen::Matrix3d> source_covariance;
    std::optional<variance_component_estimate> components;
    // With robust estimation: the weights, and for unit weights
    // `reweighted`, whose tests take weighted_fit's weight blocks (the
    // identity over each point's weight factor) with sigma.
    bool reweighted = false;
    std::optional<robust_summary> robust;

    Eigen::Vector3d residual(std::size_t k) const
    {
        return result.residuals.segment<3>(3 * static_cast<Eigen::Index>(k));
    }
    // The source covariance of the k-th adjusted point as adjusted (zero
    // without source precisions).
    Eigen::Matrix3d own_source_covariance(const named_points& source, std::size_t k) const
    {
        if (!source_covariance.empty())
            return source_covariance[k];
        if (source.covariance.empty())
            return Eigen::Matrix3d::Zero();
        return source.covariance[index[k]];
    }
    // R_k of the k-th adjusted point.
    Eigen::Matrix3d residual_cofactor(const point_matrix& source, std::size_t k) const
    {
        const Eigen::Vector3d centred =
            (source.row(static_cast<Eigen::Index>(index[k])) - result.ave_src).transpose();
        return residual_cofactor_block(design.at(centred), result.correction_cofactor);
    }
    // The tests of the k-th adjusted point (quality/statistics.h).
    point_statistics statistics(const point_matrix& source, std::size_t k) const
    {
        if (weighted)
            return test_weighted_point(weighted_fit.misclosure_covariance[k],
                                       misclosure_residual_covariance(weighted_fit, design, k),
                                       residual(k));
        if (reweighted)
            return with_sigma(
                test_weighted_point(weighted_fit.misclosure_covariance[k],
                                    misclosure_residual_covariance(weighted_fit, design, k),
                                    residual(k)),
                sigma);
        return test_point(residual_cofactor(source, k), residual(k), sigma);
    }
};

// The adjustment with precisions of the kept points (a.index set).
void adjust_weighted(const named_points& source, const named_points& target,
                     const std::vector<char>& kept, std::size_t count,
                     const report_settings& settings, adjustment& a)
{
    a.weighted = true;
    // With every point kept, the inputs as they are; else copies of the
    // kept rows (the only copies: at a million points each is large).
    const bool all = count == kept.size();
    point_matrix kept_source, kept_target;
    std::vector<Eigen::Matrix3d> ss, st;
    if (!all) {
        kept_source = kept_rows(source.xyz, kept, count);
        kept_target = kept_rows(target.xyz, kept, count);
        ss = kept_covariances(source.covariance, kept, count);
        st = kept_covariances(target.covariance, kept, count);
    }
    const point_matrix& xs = all ? source.xyz : kept_source;
    const point_matrix& xt = all ? target.xyz : kept_target;
    const std::vector<Eigen::Matrix3d>& cs = all ? source.covariance : ss;
    const std::vector<Eigen::Matrix3d>& ct = all ? target.covariance : st;
    if (settings.variance_components) {
        variance_component_fit fit =
            estimate_variance_components(xs, xt, cs, ct, settings.model, settings.threads);
        a.weighted_fit = std::move(fit.adjustment);
        a.source_covariance = std::move(fit.source_covariance);
        a.components = fit.estimate;
    } else {
        a.weighted_fit = adjust_gauss_helmert(xs, xt, cs, ct, {}, settings.model, settings.threads);
        a.source_covariance = std::move(ss);
    }
    // The misclosures move to the report's adjustment; the fit keeps the
    // rest, which the tests take.
    Eigen::VectorXd residuals = std::move(a.weighted_fit.result.residuals);
    a.weighted_fit.result.residuals = Eigen::VectorXd();
    a.result = a.weighted_fit.result;
    a.result.residuals = std::move(residuals);
    a.design = design_by_axis(settings.model, a.result.args, design_terms::corrections);
    a.sigma0 = std::sqrt(a.weighted_fit.vpv /
                         static_cast<double>(redundancy_of(static_cast<long>(count))));
    a.sigma = 1;
    a.variance_factor = 1;
}

// The adjustment of the kept points (a.index set) with robust weights
// (quality/robust.h). With precisions it is the adjustment with precisions,
// sigma 1. With unit weights sigma is the a-priori one, else sigma0 of the
// weighted fit (the robust scale of the reweighting serves the weights
// only), 0 for a perfect fit. sigma0 = sqrt(v'Pv / f), f the redundancy
// of the reweighted points (weighted_redundancy), without the share of the
// points weighted out.
void adjust_robust(const named_points& source, const named_points& target,
                   const std::vector<char>& kept, std::size_t count,
                   const report_settings& settings, adjustment& a)
{
    const bool weighted = has_precisions(source, target);
    const std::vector<Eigen::Matrix3d> ss = kept_covariances(source.covariance, kept, count);
    std::optional<double> sigma = settings.sigma_apriori;
    if (weighted)
        sigma = 1.0;
    robust_adjustment fit =
        adjust_robustly(kept_rows(source.xyz, kept, count), kept_rows(target.xyz, kept, count),
                        ss, kept_covariances(target.covariance, kept, count), settings.robust,
                        sigma, settings.model, settings.threads);
    a.weighted = weighted;
    a.reweighted = !weighted;
    a.weighted_fit = std::move(fit.fit);
    a.robust = std::move(fit.summary);
    a.source_covariance = ss;
    a.result = a.weighted_fit.result;
    a.design = design_by_axis(settings.model, a.result.args, design_terms::corrections);
    const double f = weighted_redundancy(a.weighted_fit, a.robust->weights, settings.model);
    a.sigma0 = std::sqrt(
        a.weighted_fit.vpv /
        (f > 0 ? f : static_cast<double>(redundancy_of(static_cast<long>(count)))));
    a.sigma = sigma ? *sigma : a.sigma0;
    if (!sigma && a.sigma0 <= rounding_noise(target.xyz, a.result.ave_tar))
        a.sigma = 0;
    a.variance_factor = weighted ? 1.0 : a.sigma0 * a.sigma0;
}

adjustment adjust_kept(const named_points& source, const named_points& target,
                       const std::vector<char>& kept, std::size_t count,
                       const report_settings& settings)
{
    adjustment a;
    const bool weighted = has_precisions(source, target);
    // First, so that a bad significance level fails before the work.
    a.critical = test_level_of(settings, count, weighted).critical_value;
    a.index.reserve(count);
    for (std::size_t i = 0; i < kept.size(); ++i)
        if (kept[i])
            a.index.push_back(i);
    if (settings.robust != robust_estimator::none) {
        adjust_robust(source, target, kept, count, settings, a);
        return a;
    }
    if (weighted) {
        adjust_weighted(source, target, kept, count, settings, a);
        return a;
    }
    if (count == kept.size()) {
        a.result = estimate_similarity(source.xyz, target.xyz, settings.model, {},
                                       settings.threads);
    } else {
        a.result = estimate_similarity(kept_rows(source.xyz, kept, count),
                                       kept_rows(target.xyz, kept, count), settings.model, {},
                                       settings.threads);
    }
    a.design = design_by_axis(settings.model, a.result.args, design_terms::corrections);
    a.sigma0 = unit_weight_error(a.result.residuals);
    a.sigma = settings.sigma_apriori ? *settings.sigma_apriori : a.sigma0;
    // Points that fit exactly leave residuals of rounding noise, and sigma0
    // of the same noise: their ratio w says nothing, yet could pass any
    // critical value. Such a fit is a perfect one (w = 0).
    if (!settings.sigma_apriori && a.sigma0 <= rounding_noise(target.xyz, a.result.ave_tar))
        a.sigma = 0;
    a.variance_factor = a.sigma0 * a.sigma0;
    return a;
}

// The adjusted point (its place k in the adjustment) with the largest figure
// above the critical value, and that figure; k = a.index.size() when none.
std::pair<std::size_t, double> worst_flagged(const adjustment& a, const point_matrix& source)
{
    std::pair<std::size_t, double> worst(a.index.size(), a.critical);
    for (std::size_t k = 0; k < a.index.size(); ++k) {
        const double figure = a.weighted || a.reweighted
                                  ? a.statistics(source, k).figure
                                  : point_figure(a.residual_cofactor(source, k), a.residual(k),
                                                 a.sigma);
        if (figure > worst.second)
            worst = {k, figure};
    }
    return worst;
}

// The line of settings.progress on one removal of data snooping.
void report_removal(const report_settings& settings, const std::string& name, double figure,
                    double critical, std::size_t left_out, std::size_t points_left)
{
    if (settings.progress)
        settings.progress("data snooping: removed " + name + " (figure " + message_number(figure) +
                          ", critical value " + message_number(critical) + "), " +
                          std::to_string(left_out) + " left out, " + std::to_string(points_left) +
                          " points left");
}

// Data snooping of the adjustment with precisions: each removal is followed
// by a full adjustment of the points left (the weight blocks depend on the
// parameters, so the unit-weight downdate does not carry over).
adjustment snoop_weighted(const named_points& source, const named_points& target,
                          const report_settings& settings, adjustment a, std::vector<char>& kept,
                          std::vector<std::size_t>& removed, quality_report& report)
{
    for (;;) {
        const auto [worst, figure] = worst_flagged(a, source.xyz);
        if (worst == a.index.size())
            return a;
        const std::size_t row = a.index[worst];
        excluded_point point;
        point.name = source.names[row];
        point.why = excluded_point::reason::snooping;
        point.figure = figure;
        report.excluded.push_back(std::move(point));
        kept[row] = 0;
        removed.push_back(row);
        const std::size_t left = a.index.size() - 1;
        report_removal(settings, source.names[row], figure, a.critical, report.excluded.size(),
                       left);
        a = adjust_kept(source, target, kept, left, settings);
        if (static_cast<long>(left) - 1 < least_points_after_snooping)
            return a;
    }
}

// Adjusts the kept points; with snooping, removes the worst flagged point
// while that leaves enough points. The first is found in that adjustment,
// the others in its downdates (quality/snooping.h); after a removal the
// points left are adjusted once more in full.
adjustment adjust_with_snooping(const named_points& source, const named_points& target,
                                const report_settings& settings, std::vector<char>& kept,
                                std::vector<std::size_t>& removed, quality_report& report)
{
    adjustment a = adjust_kept(source, target, kept, kept.size() - removed.size(), settings);
    if (!settings.snoop || static_cast<long>(a.index.size()) - 1 < least_points_after_snooping)
        return a;
    if (a.weighted || a.reweighted)
        return snoop_weighted(source, target, settings, std::move(a), kept, removed, report);
    const auto [first, first_figure] = worst_flagged(a, source.xyz);
    if (first == a.index.size())
        return a;
    snooping_state state = start_snooping(source.xyz, target.xyz, kept, a.result,
                                          settings.model, settings.threads);
    const double noise = rounding_noise(target.xyz, a.result.ave_tar);
    largest_figure_point worst{a.index[first], first_figure};
    double critical = a.critical;
    for (;;) {
        excluded_point point;
        point.name = source.names[worst.row];
        point.why = excluded_point::reason::snooping;
        point.figure = worst.figure;
        report.excluded.push_back(std::move(point));
        kept[worst.row] = 0;
        removed.push_back(worst.row);
        remove_point(state, source.xyz, target.xyz, worst.row);
        report_removal(settings, source.names[worst.row], worst.figure, critical,
                       report.excluded.size(), state.points);
        if (static_cast<long>(state.points) - 1 < least_points_after_snooping)
            break;
        const double sigma =
            settings.sigma_apriori ? *settings.sigma_apriori : snooping_sigma0(state);
        if (!settings.sigma_apriori && sigma <= noise)
            break; // a perfect fit: nothing is flagged
        critical = test_level_of(settings, state.points).critical_value;
        worst = largest_figure(state, source.xyz, target.xyz, sigma);
        if (!(worst.figure > critical))
            break;
    }
    return adjust_kept(source, target, kept, state.points, settings);
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
    const double parameter_sigma = a.weighted ? 1.0 : a.sigma0;
    report.parameters.sigma = standard_errors(r.cofactor, parameter_sigma);
    report.sigma0_sevenparam = r.sigma0;
    report.correlation = correlation_matrix(r.cofactor);

    report.bursa_wolf =
        origin_based_set(r.args, r.cofactor, parameter_sigma, r.ave_src, r.ave_tar, model);
    proj_texts texts = proj_exports(r.args, report.bursa_wolf, r.ave_src, r.ave_tar, model);
    report.towgs84 = std::move(texts.towgs84);
    report.proj_helmert = std::move(texts.helmert);
    report.proj_molobadekas = std::move(texts.molobadekas);
    report.proj_pipeline = std::move(texts.pipeline);
}

void fill_tests(const adjustment& a, const report_settings& settings, quality_report& report)
{
    report.tests.alpha = test_level_of(settings, a.index.size(), a.weighted).alpha;
    report.tests.alpha_family = settings.alpha_family;
    report.tests.test = settings.sigma_apriori || a.weighted ? residual_tests::kind::w
                                                             : residual_tests::kind::tau;
    report.tests.critical_value = a.critical;
    if (a.weighted) {
        // v'Pv against chi-square: the a-priori variance factor is 1.
        global_test global;
        global.statistic = a.weighted_fit.vpv;
        global.critical_value = chi_square_critical_value(
            settings.alpha_family ? *settings.alpha_family : settings.alpha, report.redundancy);
        global.passed = global.statistic <= global.critical_value;
        report.tests.global = global;
    } else if (settings.sigma_apriori) {
        const double s = *settings.sigma_apriori;
        global_test global;
        global.statistic =
            (a.reweighted ? a.weighted_fit.vpv : a.result.residuals.squaredNorm()) / (s * s);
        global.critical_value = chi_square_critical_value(
            settings.alpha_family ? *settings.alpha_family : settings.alpha, report.redundancy);
        global.passed = global.statistic <= global.critical_value;
        report.tests.global = global;
    }
}

// The residual v of the point `name` at `target_point` into `row`: its
// name and v in X, Y, Z and in the local frame.
void fill_residual(residual_row& row, const std::string& name, const Eigen::Vector3d& v,
                   const point_row& target_point)
{
    row.name = name;
    row.xyz_m = v;
    row.enu_m = enu_rotation(ecef_to_geodetic_trig(target_point.transpose())) * v;
    row.length_m = v.norm();
}

// Residuals with their tests for the adjusted points, in input order, then
// the removed points' against the final transformation; the largest
// residual and the linearisation check over the adjusted points.
void fill_residuals(const adjustment& a, const named_points& source, const named_points& target,
                    const std::vector<std::size_t>& removed, rotation_model model,
                    unsigned threads, quality_report& report)
{
    const adjustment_result& r = a.result;
    reserve_on_threads(report.residuals, a.index.size() + removed.size(), threads);
    report.residuals.resize(a.index.size());
    const Eigen::Matrix3d linearisation = linearisation_difference(r.args);
    // Each chunk of points on a thread of its own, each with its largest
    // figures; these are then taken over the chunks in order.
    struct chunk_largest {
        std::size_t residual = 0;
        double squared_linearisation = 0;
        double squared_small_angle = 0;
    };
    std::vector<chunk_largest> largest(chunk_count(a.index.size()));
    for_each_chunk(a.index.size(), threads, [&](std::size_t chunk, std::size_t begin,
                                                 std::size_t end) {
        chunk_largest& c = largest[chunk];
        for (std::size_t k = begin; k < end; ++k) {
            const Eigen::Index i = static_cast<Eigen::Index>(a.index[k]);
            // Filled in its place: a row is some 200 bytes, and a million of
            // them are not worth copying once more.
            residual_row& row = report.residuals[k];
            fill_residual(row, source.names[a.index[k]], a.residual(k), target.xyz.row(i));
            row.index = a.index[k];
            const point_statistics s = a.statistics(source.xyz, k);
            row.redundancy = s.redundancy;
            row.w = s.w;
            row.figure = s.figure;
            row.flagged = s.figure > a.critical;
            row.mdb_m = s.mdb_m;
            row.check_m = s.check_m;
            if (k == begin || row.length_m > report.residuals[c.residual].length_m)
                c.residual = k;
            const Eigen::Vector3d centred = (source.xyz.row(i) - r.ave_src).transpose();
            c.squared_linearisation =
                std::max(c.squared_linearisation, (linearisation * centred).squaredNorm());
            if (model == rotation_model::exact)
                c.squared_small_angle =
                    std::max(c.squared_small_angle,
                             (linearisation * source.xyz.row(i).transpose()).squaredNorm());
        }
    });
    double largest_squared_linearisation = 0;
    double largest_squared_small_angle = 0;
    for (std::size_t chunk = 0; chunk < largest.size(); ++chunk) {
        const chunk_largest& c = largest[chunk];
        if (chunk == 0 || report.residuals[c.residual].length_m >
                              report.residuals[report.largest_residual].length_m)
            report.largest_residual = c.residual;
        largest_squared_linearisation =
            std::max(largest_squared_linearisation, c.squared_linearisation);
        largest_squared_small_angle = std::max(largest_squared_small_angle, c.squared_small_angle);
    }
    report.linearisation_max_m = std::sqrt(largest_squared_linearisation);
    report.linearisation_warning =
        model == rotation_model::linearised && report.linearisation_max_m > linearisation_warning_m;
    report.small_angle_exports_max_m = std::sqrt(largest_squared_small_angle);

    for (const std::size_t i : removed) {
        const Eigen::Index row_index = static_cast<Eigen::Index>(i);
        const Eigen::Vector3d v = target.xyz.row(row_index).transpose() -
                                  carry_point(r, source.xyz.row(row_index), model).transpose();
        residual_row row;
        fill_residual(row, source.names[i], v, target.xyz.row(row_index));
        row.index = i;
        row.removed = true;
        report.residuals.push_back(std::move(row));
    }
}

// The stochastic model and, with precisions, the adjusted points, the
// variance components and the precision of every common point carried by
// the final transformation (its own source covariance, as adjusted, with
// that of the parameters).
// The adjusted points move into the report (the fit's tests are done).
void fill_weighted(adjustment& a, const named_points& source, bool target_precision,
                   const report_settings& settings, quality_report& report)
{
    report.stochastic.weighted = a.weighted;
    report.stochastic.source_precision = !source.covariance.empty();
    report.stochastic.target_precision = target_precision;
    if (!a.weighted)
        return;
    report.variance_components = a.components;
    report.adjusted = std::move(a.weighted_fit.adjusted);
    a.weighted_fit.adjusted = std::vector<adjusted_point>();
    const double source_factor = a.components ? a.components->source_factor : 1.0;
    report.common_precision.resize(report.residuals.size());
    for_each_chunk(report.residuals.size(), settings.threads,
                   [&](std::size_t, std::size_t begin, std::size_t end) {
                       for (std::size_t k = begin; k < end; ++k) {
                           const std::size_t row = report.residuals[k].index;
                           Eigen::Matrix3d own = Eigen::Matrix3d::Zero();
                           if (!source.covariance.empty())
                               own = k < a.index.size() ? a.own_source_covariance(source, k)
                                                        : source_factor * source.covariance[row];
                           report.common_precision[k] = carry_precision(
                               a.result, settings.model,
                               source.xyz.row(static_cast<Eigen::Index>(row)),
                               a.result.correction_cofactor, own);
                       }
                   });
}

// A finite test point can still overflow on its way into the target system;
// it is refused as sevenparam refuses it: "test point N [name] is carried to a
// coordinate that is not finite: X = inf".
void require_finite_prediction(const prediction_row& row, std::size_t index)
{
    static const char* const axis_name[] = {"X", "Y", "Z"};
    for (int k = 0; k < 3; ++k) {
        if (std::isfinite(row.xyz_m(k)))
            continue;
        const std::string number = std::to_string(index + 1);
        throw estimation_error("test point " + number +
                               (row.name == number ? "" : " \"" + row.name + "\"") +
                               " is carried to a coordinate that is not finite: " + axis_name[k] +
                               " = " + message_number(row.xyz_m(k)));
    }
}

} // namespace

test_level test_level_of(const report_settings& settings, std::size_t points, bool weighted)
{
    test_level level;
    level.alpha = settings.alpha_family
                      ? sidak_alpha(*settings.alpha_family, 3 * static_cast<long>(points))
                      : settings.alpha;
    level.critical_value =
        settings.sigma_apriori || weighted
            ? w_critical_value(level.alpha)
            : tau_critical_value(level.alpha, redundancy_of(static_cast<long>(points)));
    return level;
}

// The covariances of the common points that build_report frees once it no
// longer needs them (none where null).
struct covariances_to_free {
    std::vector<Eigen::Matrix3d>* source = nullptr;
    std::vector<Eigen::Matrix3d>* target = nullptr;
};

// build_quality_report, freeing `to_free` on the way: the target's after
// the adjustment, the source's after the carried precisions.
static quality_report build_report(const named_points& source, const named_points& target,
                                   const named_points& test, const report_settings& settings,
                                   covariances_to_free to_free)
{
    require_consistent(source, "source");
    require_consistent(target, "target");
    require_consistent(test, "test");
    require_sigma(settings);
    require_stochastic_model(source, target, settings);
    if (source.xyz.rows() != target.xyz.rows())
        throw estimation_error("source and target hold different numbers of points: " +
                               std::to_string(source.xyz.rows()) + " and " +
                               std::to_string(target.xyz.rows()));

    quality_report report;
    std::vector<char> kept(source.names.size(), 1);
    std::vector<std::size_t> removed; // input rows in the order of removal
    apply_exclusions(settings, source, kept, removed, report);
    adjustment a = adjust_with_snooping(source, target, settings, kept, removed, report);
    const bool target_precision = !target.covariance.empty();
    if (to_free.target)
        *to_free.target = std::vector<Eigen::Matrix3d>();
    fill_estimate(a, settings.model, report);
    fill_tests(a, settings, report);
    fill_residuals(a, source, target, removed, settings.model, settings.threads, report);
    report.mirrored = target_mirrored(source.xyz, target.xyz, kept);
    // The tests are done: the per-point figures they took are freed before
    // the carried precisions are formed (at a million points each is large).
    a.result.residuals = Eigen::VectorXd();
    a.weighted_fit.misclosure_covariance = std::vector<Eigen::Matrix3d>();
    fill_weighted(a, source, target_precision, settings, report);
    if (to_free.source)
        *to_free.source = std::vector<Eigen::Matrix3d>();
    report.robust = a.robust;

    // The parameters' covariance in the terms of correction_design_block.
    const cofactor_matrix covariance = a.variance_factor * a.result.correction_cofactor;
    // A test point's own covariance is of the source system: the source
    // precisions' variance component scales it too.
    const double source_factor = a.components ? a.components->source_factor : 1.0;
    report.predictions.resize(test.names.size());
    for_each_chunk(test.names.size(), settings.threads,
                   [&](std::size_t, std::size_t begin, std::size_t end) {
                       for (std::size_t i = begin; i < end; ++i) {
                           prediction_row& row = report.predictions[i];
                           row.name = test.names[i];
                           const point_row p = test.xyz.row(static_cast<Eigen::Index>(i));
                           row.xyz_m = carry_point(a.result, p, settings.model).transpose();
                           row.precision = carry_precision(
                               a.result, settings.model, p, covariance,
                               test.covariance.empty()
                                   ? Eigen::Matrix3d::Zero().eval()
                                   : Eigen::Matrix3d(source_factor * test.covariance[i]));
                       }
                   });
    // In input order, after the threads: the first such point is named.
    for (std::size_t i = 0; i < report.predictions.size(); ++i) {
        require_finite_prediction(report.predictions[i], i);
    }
    return report;
}

quality_report build_quality_report(const named_points& source, const named_points& target,
                                    const named_points& test, const report_settings& settings)
{
    return build_report(source, target, test, settings, {});
}

quality_report build_quality_report_freeing(named_points& source, named_points& target,
                                            const named_points& test,
                                            const report_settings& settings)
{
    return build_report(source, target, test, settings, {&source.covariance, &target.covariance});
}

} // namespace sevenparam
