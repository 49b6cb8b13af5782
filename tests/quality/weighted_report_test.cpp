// The quality report of an adjustment with precisions (errors in both
// systems): how build_quality_report uses quality/gauss_helmert.h.
#include "quality/gauss_helmert.h"
#include "quality/quality_report.h"

#include "network.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace sevenparam {
namespace {

const rotation_model both_models[] = {rotation_model::linearised, rotation_model::exact};

Eigen::RowVector3d draw(std::mt19937_64& random, const Eigen::Matrix3d& c)
{
    std::normal_distribution<double> normal;
    const Eigen::Vector3d z(normal(random), normal(random), normal(random));
    return (Eigen::LLT<Eigen::Matrix3d>(c).matrixL() * z).transpose();
}

// Error-free points of `truth` with covariances of about source_m and
// target_m given for them; the noise drawn has `scale_source` and
// `scale_target` times those covariances.
synthetic::network precise_network(long points, unsigned seed, double source_m, double target_m,
                                   const synthetic::transformation& truth = {},
                                   double scale_source = 1, double scale_target = 1)
{
    synthetic::network net = synthetic::make_network(points, seed, 0.0, truth);
    std::mt19937_64 random(seed + 1000);
    for (long i = 0; i < points; ++i) {
        net.source.covariance.push_back(synthetic::random_covariance(random, source_m));
        net.target.covariance.push_back(synthetic::random_covariance(random, target_m));
        net.source.xyz.row(i) += draw(random, scale_source * net.source.covariance.back());
        net.target.xyz.row(i) += draw(random, scale_target * net.target.covariance.back());
    }
    return net;
}

// The weighted path's redundancy numbers sum to 3n - 7 over the points of
// the final set, the adjusted points fit the final transformation, and the
// global test's statistic is v'Pv = (3n - 7) sigma0^2. Both models, one
// point left out.
TEST(WeightedReport, RedundancyNumbersSumToTheRedundancy)
{
    for (const rotation_model model : both_models) {
        const synthetic::network net =
            precise_network(10, 3, 0.01, 0.02, synthetic::truth_of(model));
        report_settings settings;
        settings.model = model;
        settings.exclude = {"P4"};
        const quality_report report = build_quality_report(net.source, net.target, {}, settings);
        ASSERT_TRUE(report.stochastic.weighted);
        ASSERT_EQ(report.adjusted.size(), 9u);
        ASSERT_EQ(report.common_precision.size(), 10u);
        double sum = 0;
        for (const residual_row& row : report.residuals)
            sum += row.redundancy.sum();
        EXPECT_NEAR(sum, 3 * 9 - 7, 1e-9);
        EXPECT_EQ(report.tests.test, residual_tests::kind::w);
        ASSERT_TRUE(report.tests.global);
        EXPECT_NEAR(report.tests.global->statistic / (20 * report.sigma0 * report.sigma0), 1,
                    1e-12);
        adjustment_result fit;
        fit.args = report.parameters.value;
        fit.ave_src = report.centroid_source;
        fit.ave_tar = report.centroid_target;
        for (const adjusted_point& a : report.adjusted)
            EXPECT_LT(
                (carry_point(fit, a.source_m.transpose(), model).transpose() - a.target_m).norm(),
                1e-8);
        // The point left out: its residual against the final transformation.
        const residual_row& out = report.residuals.back();
        EXPECT_TRUE(out.removed);
        EXPECT_LT(
            (out.xyz_m -
             (net.target.xyz.row(3) - carry_point(fit, net.source.xyz.row(3), model)).transpose())
                .norm(),
            1e-9);
    }
}

// Unit covariances in the target alone are the unit-weight adjustment with
// an a-priori standard error of 1 m: every test figure is the same to
// rounding (the weighted formulas reduce to the unit-weight ones).
TEST(WeightedReport, IdentityPrecisionIsTheUnitWeightReportWithSigmaOne)
{
    for (const rotation_model model : both_models) {
        synthetic::network net = synthetic::make_network(9, 6, 0.3, synthetic::truth_of(model));
        net.target.xyz(4, 1) += 10.0; // a blunder, so that something is flagged
        report_settings unit;
        unit.model = model;
        unit.sigma_apriori = 1.0;
        const quality_report expected = build_quality_report(net.source, net.target, {}, unit);
        net.target.covariance.assign(9, Eigen::Matrix3d::Identity());
        report_settings weighted;
        weighted.model = model;
        const quality_report report = build_quality_report(net.source, net.target, {}, weighted);
        ASSERT_TRUE(report.stochastic.target_precision);
        EXPECT_FALSE(report.stochastic.source_precision);
        EXPECT_NEAR(report.tests.critical_value, expected.tests.critical_value, 1e-15);
        EXPECT_NEAR(report.tests.global->statistic / expected.tests.global->statistic, 1, 1e-9);
        for (std::size_t k = 0; k < report.residuals.size(); ++k) {
            const residual_row& r = report.residuals[k];
            const residual_row& e = expected.residuals[k];
            EXPECT_LT((r.redundancy - e.redundancy).cwiseAbs().maxCoeff(), 1e-9) << k;
            EXPECT_LT((r.w - e.w).cwiseAbs().maxCoeff(), 1e-7) << k;
            EXPECT_LT((r.mdb_m - e.mdb_m).cwiseAbs().maxCoeff(), 1e-7) << k;
            EXPECT_LT((r.check_m - e.check_m).cwiseAbs().maxCoeff(), 1e-7) << k;
            EXPECT_EQ(r.flagged, e.flagged) << k;
            EXPECT_EQ(report.adjusted[k].target_residual_m, r.xyz_m);
        }
        EXPECT_TRUE(report.residuals[4].flagged);
        for (int j = 0; j < 7; ++j)
            EXPECT_NEAR(report.parameters.sigma(j) / expected.parameters.sigma(j) * expected.sigma0,
                        1, 1e-7)
                << j;
    }
}

// Monte Carlo: 1,000 networks of 8 points with the same true coordinates
// and given covariances (both systems, correlated, different per point), and
// one test point with its own covariance, fresh noise each. The empirical
// variance of each rotation and the scale (the translations refer to each
// run's own centroids) and of the carried test point matches the reported
// (propagated) one within 15% (the sampling error of a variance from 1,000
// draws is 4.5%); the mean of sigma0^2 is 1 within 5% (its sampling error
// 1.3% with 3n - 7 = 17).
TEST(WeightedReport, MonteCarloMatchesThePropagatedPrecision)
{
    constexpr long points = 8;
    constexpr int runs = 1000;
    for (const rotation_model model : both_models) {
        const synthetic::network truth =
            precise_network(points, 21, 0.01, 0.02, synthetic::truth_of(model), 0, 0);
        named_points test;
        test.names = {"T"};
        const point_row test_point(4030000.0, 310000.0, 4918000.0);
        test.covariance = {Eigen::Vector3d(1e-4, 2e-4, 4e-4).asDiagonal()};
        std::mt19937_64 random(99);
        Eigen::Matrix<double, 7, runs> args;
        Eigen::Matrix<double, 3, runs> carried;
        double variance_factor = 0;
        quality_report last;
        for (int run = 0; run < runs; ++run) {
            synthetic::network net = truth;
            for (long i = 0; i < points; ++i) {
                const auto k = static_cast<std::size_t>(i);
                net.source.xyz.row(i) += draw(random, net.source.covariance[k]);
                net.target.xyz.row(i) += draw(random, net.target.covariance[k]);
            }
            test.xyz = test_point + draw(random, test.covariance[0]);
            report_settings settings;
            settings.model = model;
            last = build_quality_report(net.source, net.target, test, settings);
            args.col(run) = last.parameters.value;
            carried.col(run) = last.predictions[0].xyz_m;
            variance_factor += last.sigma0 * last.sigma0;
        }
        const auto empirical_variance = [](const auto& samples) {
            const auto centred = (samples.colwise() - samples.rowwise().mean()).eval();
            return (centred.rowwise().squaredNorm() / (runs - 1)).eval();
        };
        const Eigen::Matrix<double, 7, 1> parameter_variance = empirical_variance(args);
        for (int j = 3; j < 7; ++j)
            EXPECT_NEAR(parameter_variance(j) / std::pow(last.parameters.sigma(j), 2), 1, 0.15)
                << static_cast<int>(model) << " parameter " << j;
        const Eigen::Vector3d point_variance = empirical_variance(carried);
        const Eigen::Matrix3d& propagated = last.predictions[0].precision.covariance_xyz_m2;
        for (int k = 0; k < 3; ++k)
            EXPECT_NEAR(point_variance(k) / propagated(k, k), 1, 0.15)
                << static_cast<int>(model) << " axis " << k;
        EXPECT_NEAR(variance_factor / runs, 1, 0.05) << static_cast<int>(model);
    }
}

// Variance components recover the factors planted in the noise: 4 for the
// source precisions and 0.25 for the target's, from 3,000 points (each
// factor's sampling error here about 5%), within 15%. The report is that of
// the refit: sigma0 is then 1 to the iteration's tolerance.
TEST(WeightedReport, VarianceComponentsRecoverPlantedFactors)
{
    for (const rotation_model model : both_models) {
        const synthetic::network net =
            precise_network(3000, 8, 0.02, 0.01, synthetic::truth_of(model), 4, 0.25);
        report_settings settings;
        settings.model = model;
        settings.variance_components = true;
        const quality_report report = build_quality_report(net.source, net.target, {}, settings);
        ASSERT_TRUE(report.variance_components);
        const variance_component_estimate& vc = *report.variance_components;
        EXPECT_NEAR(vc.source_factor / 4, 1, 0.15) << static_cast<int>(model);
        EXPECT_NEAR(vc.target_factor / 0.25, 1, 0.15) << static_cast<int>(model);
        EXPECT_GT(vc.sigma0_before, 1.5);
        EXPECT_GT(vc.iterations, 1u);
        EXPECT_NEAR(report.sigma0, 1, 1e-6);
    }
}

// Mixed stochastic models are refused with a message, before any work.
TEST(WeightedReport, RefusesContradictorySettings)
{
    const synthetic::network net = precise_network(6, 2, 0.01, 0.02);
    synthetic::network target_only = net;
    target_only.source.covariance.clear();
    report_settings sigma;
    sigma.sigma_apriori = 0.01;
    report_settings components;
    components.variance_components = true;
    const synthetic::network plain = synthetic::make_network(6, 2, 0.01);
    const struct {
        const synthetic::network& net;
        const report_settings& settings;
        const char* message;
    } cases[] = {
        {net, sigma,
         "an a-priori standard error of one coordinate cannot be combined with the precisions "
         "of the points, which are a priori already"},
        {target_only, components,
         "variance components need the precisions of both systems; the source points have "
         "none"},
        {plain, components,
         "variance components need the precisions of both systems; the source points have "
         "none"},
    };
    for (const auto& c : cases) {
        try {
            build_quality_report(c.net.source, c.net.target, {}, c.settings);
            ADD_FAILURE() << "no error: " << c.message;
        } catch (const estimation_error& e) {
            EXPECT_EQ(std::string(e.what()), c.message);
        }
    }
}

// Data snooping with precisions removes a blunder of 10 times the target's
// standard error (full re-adjustments), and the thread count changes no bit
// of the report.
TEST(WeightedReport, SnoopingRemovesTheBlunder)
{
    synthetic::network net = precise_network(15, 12, 0.01, 0.01);
    net.target.xyz(6, 2) += 0.15;
    report_settings settings;
    settings.snoop = true;
    const quality_report report = build_quality_report(net.source, net.target, {}, settings);
    ASSERT_EQ(report.excluded.size(), 1u);
    EXPECT_EQ(report.excluded[0].name, "P7");
    EXPECT_EQ(report.common_points, 14u);
    settings.threads = 7;
    const quality_report seven = build_quality_report(net.source, net.target, {}, settings);
    EXPECT_EQ(seven.parameters.value, report.parameters.value);
    EXPECT_EQ(seven.sigma0, report.sigma0);
}

// A unit-weight run carries the test points' precision with the
// parameters' covariance sigma0^2 Q, and a test point's own covariance
// through J = (1 + m) R.
TEST(WeightedReport, UnitWeightPredictionsCarrySigma0SquaredQ)
{
    const synthetic::network net = synthetic::make_network(9, 3, 0.01);
    named_points test;
    test.names = {"T1", "T2"};
    test.xyz.resize(2, 3);
    test.xyz << 4030000.0, 310000.0, 4918000.0, 4030000.0, 310000.0, 4918000.0;
    test.covariance = {Eigen::Matrix3d::Zero(), 1e-4 * Eigen::Matrix3d::Identity()};
    const quality_report report = build_quality_report(net.source, net.target, test, {});
    const adjustment_result fit =
        estimate_similarity(net.source.xyz, net.target.xyz, rotation_model::linearised);
    const Eigen::Vector3d c = (test.xyz.row(0) - fit.ave_src).transpose();
    const design_block b = point_design_block(c(0), c(1), c(2), fit.args);
    const Eigen::Matrix3d expected =
        report.sigma0 * report.sigma0 * b * fit.cofactor * b.transpose();
    EXPECT_LT((report.predictions[0].precision.covariance_xyz_m2 - expected).norm(),
              1e-9 * expected.norm());
    const Eigen::Matrix3d own = report.predictions[1].precision.covariance_xyz_m2 -
                                report.predictions[0].precision.covariance_xyz_m2;
    EXPECT_NEAR(own(0, 0) / 1e-4, std::pow(1 + fit.args(6), 2), 1e-9);
    EXPECT_TRUE(report.common_precision.empty());
    EXPECT_FALSE(report.stochastic.weighted);
}

} // namespace
} // namespace sevenparam
