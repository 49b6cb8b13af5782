#include "quality/robust.h"

#include "network.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <vector>

namespace sevenparam {
namespace {

const std::vector<Eigen::Matrix3d> no_precision;

// The weight functions at their constants and beyond, by hand: Huber k / u,
// Danish exp(1 - (u / c)^2); a point not checked (NaN) keeps its weight,
// and no weight falls below the floor.
TEST(Robust, WeightFunctions)
{
    const struct {
        robust_estimator estimator;
        double figure, weight;
    } cases[] = {{robust_estimator::huber, 0, 1},
                 {robust_estimator::huber, 1.5, 1},
                 {robust_estimator::huber, 3, 0.5},
                 {robust_estimator::huber, 30, 0.05},
                 {robust_estimator::huber, NAN, 1},
                 {robust_estimator::huber, 1e20, least_robust_weight},
                 {robust_estimator::danish, 3, 1},
                 {robust_estimator::danish, 4.5, 0.2865047968601901},
                 {robust_estimator::danish, 6, 0.049787068367863944},
                 {robust_estimator::danish, 100, least_robust_weight},
                 {robust_estimator::none, 100, 1}};
    for (const auto& c : cases)
        EXPECT_NEAR(robust_weight(c.estimator, c.figure), c.weight, 1e-15 * c.weight)
            << static_cast<int>(c.estimator) << " at " << c.figure;
    EXPECT_EQ(robust_constant(robust_estimator::huber), 1.5);
    EXPECT_EQ(robust_constant(robust_estimator::danish), 3);
}

// 1 / Phi^-1(3/4) = 1.482602218505602 (Python's statistics.NormalDist)
// times the median absolute value; NaN left out.
TEST(Robust, MedianScale)
{
    const struct {
        std::vector<double> values;
        double median;
    } cases[] = {{{1, -2, 3}, 2}, {{4, -1, 3, 2}, 2.5}, {{NAN, -4}, 4}, {{}, 0}, {{NAN}, 0}};
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(robust_scale(c.values), 1.482602218505602 * c.median)
            << c.values.size() << " values";
}

// The redundancy of a reweighted adjustment: 3n - 7 with weights 1, that of
// the points left with others weighted out (to the least weight), 3m - 7.
TEST(Robust, WeightedRedundancy)
{
    const synthetic::network net = synthetic::make_network(20, 3, 0.002);
    const struct {
        std::vector<std::size_t> out;
        double redundancy;
    } cases[] = {{{}, 53}, {{0, 7, 19}, 44}, {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 23}};
    for (const auto& c : cases) {
        std::vector<double> w(20, 1.0);
        for (const std::size_t i : c.out)
            w[i] = least_robust_weight;
        const gauss_helmert_result fit = adjust_gauss_helmert(net.source.xyz, net.target.xyz, {},
                                                              {}, w, rotation_model::linearised);
        EXPECT_NEAR(weighted_redundancy(fit, w, rotation_model::linearised), c.redundancy, 1e-6)
            << c.out.size() << " out";
    }
}

// 20 points at `noise` with blunders of 10, 25 and 50 cm at rows 3, 9 and
// 15 (points P4, P10, P16).
synthetic::network planted_network(double noise)
{
    synthetic::network net = synthetic::make_network(20, 5, noise);
    net.target.xyz.row(3) += Eigen::RowVector3d(0.10, 0, 0);
    net.target.xyz.row(9) += Eigen::RowVector3d(0, 0.20, 0.15);
    net.target.xyz.row(15) += Eigen::RowVector3d(0, 0, -0.50);
    return net;
}

// 20 points at 2 mm noise with three blunders of 10 to 50 cm: each estimator,
// with the scale estimated or known, weights exactly the three below
// blunder_weight, the others near 1, and recovers the rotations, the scale
// and the carried centroid within 3 sigma of the truth.
TEST(Robust, PlantedBlundersAreWeightedOut)
{
    const double noise = 0.002;
    const synthetic::transformation truth;
    const synthetic::network net = planted_network(noise);
    const std::vector<std::size_t> expected = {3, 9, 15};

    // With precisions: 2 mm in the target, 1 mm in the source (which has
    // none), sigma then 1.
    const std::vector<Eigen::Matrix3d> target_precision(20, 4e-6 * Eigen::Matrix3d::Identity());
    const std::vector<Eigen::Matrix3d> source_precision(20, 1e-6 * Eigen::Matrix3d::Identity());
    const struct {
        robust_estimator estimator;
        std::optional<double> sigma;
        bool precisions;
        rotation_model model = rotation_model::linearised;
    } cases[] = {{robust_estimator::huber, std::nullopt, false},
                 {robust_estimator::danish, std::nullopt, false},
                 {robust_estimator::huber, noise, false},
                 {robust_estimator::danish, noise, false},
                 {robust_estimator::huber, 1.0, true},
                 {robust_estimator::danish, 1.0, true},
                 {robust_estimator::huber, std::nullopt, false, rotation_model::exact}};
    for (const auto& c : cases) {
        const std::string label = std::to_string(static_cast<int>(c.estimator)) +
                                  (c.precisions ? " precisions"
                                   : c.sigma    ? " sigma known"
                                                : " sigma robust") +
                                  (c.model == rotation_model::exact ? " exact" : "");
        const robust_adjustment out = adjust_robustly(
            net.source.xyz, net.target.xyz, c.precisions ? source_precision : no_precision,
            c.precisions ? target_precision : no_precision, c.estimator, c.sigma, c.model);
        EXPECT_EQ(out.summary.blunders, expected) << label;
        EXPECT_EQ(out.summary.constant, robust_constant(c.estimator));
        EXPECT_GT(out.summary.iterations, 0u) << label;
        for (std::size_t i = 0; i < 20; ++i) {
            const bool planted = i == 3 || i == 9 || i == 15;
            EXPECT_TRUE(planted || out.summary.weights[i] > 0.5) << label << " point " << i;
        }

        const adjustment_result& r = out.fit.result;
        const parameter_vector sigma =
            (c.precisions ? 1 : noise) * r.correction_cofactor.diagonal().cwiseSqrt();
        for (int j = 3; j < 6; ++j)
            EXPECT_LT(std::abs(r.args(j) - truth.angles_rad(j - 3)), 3 * sigma(j))
                << label << " parameter " << j;
        EXPECT_LT(std::abs(r.args(6) - truth.scale), 3 * sigma(6)) << label;
        const Eigen::Vector3d centroid =
            carry_point(r, r.ave_src, c.model).transpose() - truth.apply(r.ave_src.transpose());
        for (int k = 0; k < 3; ++k)
            EXPECT_LT(std::abs(centroid(k)), 3 * sigma(k)) << label << " axis " << k;
    }
}

// Without blunders no point is taken for one, and most keep their full
// weight; a noise-free network fits to rounding and keeps every weight 1.
TEST(Robust, CleanNetworkKeepsItsWeights)
{
    for (const double noise : {0.002, 0.0}) {
        const synthetic::network net = synthetic::make_network(20, 11, noise);
        for (const robust_estimator e : {robust_estimator::huber, robust_estimator::danish}) {
            const robust_adjustment out = adjust_robustly(net.source.xyz, net.target.xyz, {}, {}, e,
                                                          std::nullopt, rotation_model::linearised);
            EXPECT_TRUE(out.summary.blunders.empty()) << noise;
            for (const double w : out.summary.weights)
                EXPECT_GT(w, noise == 0 ? 1 - 1e-12 : 0.3) << noise;
        }
    }
}

// Masking: three points with blunders of 20 cm in every coordinate inflate
// sigma0 so much that no tau-test flags any of them, and data snooping,
// which removes one flagged point at a time, removes none. The median scale
// of robust estimation is not inflated: both estimators find all three.
TEST(Robust, FindsBlundersThatMaskEachOtherInDataSnooping)
{
    synthetic::network net = synthetic::make_network(20, 23, 0.002);
    net.target.xyz.row(2) += Eigen::RowVector3d(0.2, -0.2, 0.2);
    net.target.xyz.row(7) += Eigen::RowVector3d(-0.2, 0.2, 0.2);
    net.target.xyz.row(12) += Eigen::RowVector3d(0.2, 0.2, -0.2);
    report_settings settings;
    settings.snoop = true;
    const quality_report report = build_quality_report(net.source, net.target, {}, settings);
    EXPECT_TRUE(report.excluded.empty());
    EXPECT_FALSE(report.robust);
    for (const robust_estimator e : {robust_estimator::huber, robust_estimator::danish}) {
        const robust_adjustment out = adjust_robustly(net.source.xyz, net.target.xyz, {}, {}, e,
                                                      std::nullopt, rotation_model::linearised);
        EXPECT_EQ(out.summary.blunders, (std::vector<std::size_t>{2, 7, 12}));
    }
}

// The report with robust weights: the summary lists the blunders and the
// weights of the final set, and the parameters lie within 3 of their
// standard errors of the truth. The tests are the weighted model's, in
// which a point weighted out is flagged no more (Danish), while Huber's
// weights leave a blunder a figure of about sqrt(k u), which data snooping
// may then remove: the reweighting of the 17 points left finds none.
TEST(Robust, ReportWithRobustWeights)
{
    const synthetic::network net = planted_network(0.002);
    const synthetic::transformation truth;
    const std::vector<std::size_t> planted = {3, 9, 15};
    const struct {
        robust_estimator estimator;
        bool snoop;
        std::vector<std::string> excluded;
        std::vector<std::size_t> blunders;
    } cases[] = {{robust_estimator::danish, false, {}, planted},
                 {robust_estimator::danish, true, {}, planted},
                 {robust_estimator::huber, false, {}, planted},
                 {robust_estimator::huber, true, {"P16", "P10", "P4"}, {}}};
    for (const auto& c : cases) {
        const std::string label =
            std::to_string(static_cast<int>(c.estimator)) + (c.snoop ? " snoop" : "");
        report_settings settings;
        settings.robust = c.estimator;
        settings.snoop = c.snoop;
        const quality_report report = build_quality_report(net.source, net.target, {}, settings);
        ASSERT_TRUE(report.robust) << label;
        const robust_summary& r = *report.robust;
        EXPECT_EQ(r.estimator, c.estimator);
        EXPECT_EQ(r.weights.size(), report.common_points) << label;
        EXPECT_EQ(r.blunders, c.blunders) << label;
        std::vector<std::string> excluded;
        for (const excluded_point& p : report.excluded)
            excluded.push_back(p.name);
        EXPECT_EQ(excluded, c.excluded) << label;
        for (std::size_t k = 0; k < report.common_points; ++k) {
            const bool blunder = r.weights[k] < blunder_weight;
            EXPECT_TRUE(blunder || !report.residuals[k].flagged)
                << label << " " << report.residuals[k].name;
        }
        for (int j = 3; j < 6; ++j)
            EXPECT_LT(std::abs(report.parameters.value(j) - truth.angles_rad(j - 3)),
                      3 * report.parameters.sigma(j))
                << label << " parameter " << j;
        EXPECT_LT(std::abs(report.parameters.value(6) - truth.scale),
                  3 * report.parameters.sigma(6))
            << label;
    }

    // Variance components and robust weights would spoil each other.
    synthetic::network with_precisions = net;
    with_precisions.source.covariance.assign(20, 1e-6 * Eigen::Matrix3d::Identity());
    with_precisions.target.covariance.assign(20, 4e-6 * Eigen::Matrix3d::Identity());
    report_settings both;
    both.robust = robust_estimator::huber;
    both.variance_components = true;
    EXPECT_THROW(build_quality_report(with_precisions.source, with_precisions.target, {}, both),
                 estimation_error);
}

} // namespace
} // namespace sevenparam
