#include "quality/orientation.h"
#include "quality/quality_report.h"
#include "quality/statistics.h"

#include "network.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

namespace sevenparam {
namespace {

using synthetic::make_network;

quality_report report_of(const synthetic::network& net, const report_settings& settings = {})
{
    return build_quality_report(net.source, net.target, {}, settings);
}

// Figures from printed tables: the normal quantile 3.2905 (alpha = 0.001
// two-sided) and 1.9600; Student's t of 9 degrees of freedom at 0.975,
// 2.262157, in tau = t sqrt(f) / sqrt(f - 1 + t^2) for f = 10; chi-square
// quantiles 18.307 (0.95, 10 degrees of freedom) and 29.588 (0.999, 10).
TEST(Statistics, CriticalValuesMatchTables)
{
    EXPECT_NEAR(w_critical_value(0.001), 3.2905, 1e-4);
    EXPECT_NEAR(w_critical_value(0.05), 1.9600, 1e-4);
    EXPECT_NEAR(tau_critical_value(0.05, 10), 1.903909, 1e-5);
    // tau is bounded by sqrt(f) and tends to the normal quantile.
    EXPECT_LT(tau_critical_value(0.001, 2), std::sqrt(2.0));
    EXPECT_NEAR(tau_critical_value(0.001, 1000000), 3.2905, 1e-4);
    EXPECT_NEAR(chi_square_critical_value(0.05, 10), 18.307, 1e-3);
    EXPECT_NEAR(chi_square_critical_value(0.001, 10), 29.588, 1e-3);
    EXPECT_THROW(w_critical_value(0), estimation_error);
    EXPECT_THROW(w_critical_value(1), estimation_error);
    EXPECT_THROW(tau_critical_value(0.01, 1), estimation_error);
}

// Fault pinned: --alpha 1e-16 or smaller ended with the library's raw
// "Overflow Error" (1 - alpha / 2 rounded to 1). The upper quantiles come
// from the complement now. Reference values computed independently with
// 50-digit arithmetic (mpmath: erfc, the regularised incomplete beta and
// gamma functions, solved for the quantile); near alpha = 1 from the
// leading terms of the series at 0 (1 - alpha = 2^-53).
TEST(Statistics, CriticalValuesForEveryLevelBetweenZeroAndOne)
{
    const double nearly_one = 0.9999999999999999;
    const struct {
        const char* what;
        double value, expected, relative;
    } cases[] = {
        {"w 1e-16", w_critical_value(1e-16), 8.304785425194115, 1e-13},
        {"w 1e-300", w_critical_value(1e-300), 37.065787880772135, 1e-13},
        {"w subnormal", w_critical_value(5e-324), 38.4854083355673, 1e-12},
        {"w nearly 1", w_critical_value(nearly_one), 1.3914582123358833e-16, 1e-6},
        {"tau 1e-16", tau_critical_value(1e-16, 10), 3.1616834585219555, 1e-12},
        {"tau 1e-300", tau_critical_value(1e-300, 10), 3.1622776601683793, 1e-15},
        {"tau subnormal", tau_critical_value(5e-324, 10), std::sqrt(10.0), 1e-15},
        {"tau nearly 1", tau_critical_value(nearly_one, 10), 1.5079543052735185e-16, 1e-6},
        {"chi-square 1e-16", chi_square_critical_value(1e-16, 10), 98.682034386803092, 1e-12},
        {"chi-square 1e-300", chi_square_critical_value(1e-300, 10), 1427.7719561298886, 1e-12},
        {"chi-square nearly 1", chi_square_critical_value(nearly_one, 10), 0.0033579155, 1e-6},
    };
    for (const auto& c : cases)
        EXPECT_NEAR(c.value / c.expected, 1, c.relative) << c.what << ": " << c.value;
    // A report at such a level runs through.
    report_settings settings;
    for (const double alpha : {1e-16, 1e-300, nearly_one}) {
        settings.alpha = alpha;
        EXPECT_NO_THROW(report_of(make_network(6, 2, 0.002), settings)) << alpha;
    }
}

TEST(Statistics, RedundancyNumbersSumToTheRedundancy)
{
    synthetic::transformation turned;
    turned.model = rotation_model::exact;
    turned.angles_rad = Eigen::Vector3d(0.2, -0.1, 0.3);
    for (const rotation_model model : {rotation_model::linearised, rotation_model::exact}) {
        report_settings settings;
        settings.model = model;
        settings.exclude = {"P3"};
        const quality_report report = report_of(make_network(9, 4, 0.002, turned), settings);
        double sum = 0;
        for (const residual_row& row : report.residuals) {
            EXPECT_TRUE(row.redundancy.minCoeff() > 0 || row.removed);
            sum += row.redundancy.sum();
        }
        EXPECT_EQ(report.redundancy, 3 * 8 - 7);
        EXPECT_NEAR(sum, 17.0, 1e-9);
    }
}

// A 5 cm blunder in one coordinate of one of 12 points with 2 mm noise.
TEST(Statistics, BlunderIsFlaggedAndSnoopedOut)
{
    synthetic::network net = make_network(12, 21, 0.002);
    net.target.xyz(6, 1) += 0.05;
    const quality_report plain = report_of(net);
    EXPECT_EQ(plain.tests.test, residual_tests::kind::tau);
    for (const residual_row& row : plain.residuals)
        EXPECT_EQ(row.flagged, row.name == "P7") << row.name << " " << row.figure;

    report_settings snoop;
    snoop.snoop = true;
    const quality_report snooped = report_of(net, snoop);
    ASSERT_EQ(snooped.excluded.size(), 1u);
    EXPECT_EQ(snooped.excluded[0].name, "P7");
    EXPECT_EQ(snooped.excluded[0].why, excluded_point::reason::snooping);
    EXPECT_EQ(snooped.excluded[0].figure, plain.residuals[6].figure);
    EXPECT_EQ(snooped.common_points, 11u);
    for (const residual_row& row : snooped.residuals)
        EXPECT_FALSE(row.flagged) << row.name;
    const residual_row& removed = snooped.residuals.back();
    EXPECT_TRUE(removed.removed);
    EXPECT_EQ(removed.name, "P7");
    EXPECT_NEAR(removed.xyz_m(1), 0.05, 0.01);

    report_settings excluded;
    excluded.exclude = {"7"};
    const quality_report without = report_of(net, excluded);
    EXPECT_EQ(without.parameters.value, snooped.parameters.value);
    EXPECT_EQ(without.excluded[0].why, excluded_point::reason::option);
    EXPECT_FALSE(without.excluded[0].figure);

    // The check-point residual is the residual the point gets from the others.
    EXPECT_LT((plain.residuals[6].check_m - removed.xyz_m).norm(), 1e-6);

    // Snooping stops at 5 points, blunders left or not.
    synthetic::network six = make_network(6, 21, 0.002);
    six.target.xyz(1, 0) += 0.5;
    six.target.xyz(4, 2) -= 0.5;
    snoop.sigma_apriori = 0.002;
    const quality_report five = report_of(six, snoop);
    EXPECT_EQ(five.common_points, 5u);
    EXPECT_TRUE(std::any_of(five.residuals.begin(), five.residuals.end(),
                            [](const residual_row& row) { return row.flagged; }));
}

// Clean networks of 10 points, tau test at alpha = 0.01: 30 tests each, 3000
// in all. Each test alone keeps its level, so about 30 coordinates exceed
// the critical value (binomial standard deviation 5.5). Were the tests of a
// network independent, 1 - 0.99^30 = 26 % of the networks would raise an
// alarm; they share one estimate, which moves that a little (27.8 % over
// 4,000 such networks).
TEST(Statistics, FalseAlarmsOfCleanNetworks)
{
    report_settings settings;
    settings.alpha = 0.01;
    int networks_with_alarm = 0, coordinates_over = 0;
    for (unsigned seed = 1000; seed < 1100; ++seed) {
        const quality_report report = report_of(make_network(10, seed, 0.002), settings);
        bool alarm = false;
        for (const residual_row& row : report.residuals) {
            alarm = alarm || row.flagged;
            coordinates_over += (row.w.array().abs() > report.tests.critical_value).count();
        }
        networks_with_alarm += alarm;
    }
    EXPECT_GE(coordinates_over, 14);
    EXPECT_LE(coordinates_over, 50);
    EXPECT_GE(networks_with_alarm, 12);
    EXPECT_LE(networks_with_alarm, 42);
}

TEST(Statistics, APrioriSigmaGivesTheWTestAndTheGlobalTest)
{
    const synthetic::network net = make_network(50, 8, 0.002);
    report_settings settings;
    settings.sigma_apriori = 0.002;
    const quality_report right = report_of(net, settings);
    EXPECT_EQ(right.tests.test, residual_tests::kind::w);
    EXPECT_NEAR(right.tests.critical_value, 3.2905, 1e-4);
    ASSERT_TRUE(right.tests.global);
    EXPECT_NEAR(right.tests.global->statistic, 143.0, 40.0); // expectation 3n - 7
    EXPECT_TRUE(right.tests.global->passed);
    // MDB = S sqrt(lambda0 / r).
    const residual_row& row = right.residuals[0];
    EXPECT_NEAR(row.mdb_m(0), 0.002 * std::sqrt(17.075 / row.redundancy(0)), 1e-15);

    settings.sigma_apriori = 0.001;
    const quality_report optimistic = report_of(net, settings);
    EXPECT_FALSE(optimistic.tests.global->passed);
    EXPECT_FALSE(report_of(net).tests.global);
}

TEST(Statistics, Exclusions)
{
    synthetic::network net = make_network(6, 2, 0.002);
    net.source.names[4] = "2"; // a name wins over a number
    report_settings settings;
    settings.exclude = {"2", "P1", "P1"};
    const quality_report report = report_of(net, settings);
    ASSERT_EQ(report.excluded.size(), 2u);
    EXPECT_EQ(report.excluded[0].name, "2");
    EXPECT_EQ(report.excluded[1].name, "P1");
    EXPECT_EQ(report.common_points, 4u);
    EXPECT_EQ(report.residuals[0].name, "P2");

    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"P9"}, {"0"}, {"7"}, {""}, {"1", "P2", "P3", "P4"}}) {
        settings.exclude = bad;
        EXPECT_THROW(report_of(net, settings), estimation_error) << bad[0];
    }
    EXPECT_THROW(report_of(make_network(2, 2, 0.002)), estimation_error);
}

// Three points leave nothing to check a point by: its check-point residual
// and the quantities of an unchecked coordinate are NaN, and nothing throws.
TEST(Statistics, ThreePointsAreNotChecked)
{
    const quality_report report = report_of(make_network(3, 5, 0.002));
    EXPECT_EQ(report.redundancy, 2);
    for (const residual_row& row : report.residuals) {
        EXPECT_TRUE(std::isnan(row.check_m(0)));
        EXPECT_FALSE(row.flagged);
    }
}

// Fault pinned: noise-free points left residuals and sigma0 of rounding
// noise, whose ratio flagged points of an exact fit.
TEST(Statistics, AnExactFitFlagsNothing)
{
    for (unsigned seed = 1; seed <= 10; ++seed) {
        const quality_report report = report_of(make_network(3 + seed % 3, seed, 0.0));
        for (const residual_row& row : report.residuals)
            EXPECT_FALSE(row.flagged) << "seed " << seed << ", " << row.name;
    }
}

// A target with two axes swapped (or one negated) is a mirror image that no
// rotation fits; a rotated target, or points in a plane (whose mirror image
// is a rotation too), is not. Fault pinned: a mirrored target gave
// sigma0 of about 100 km and nothing flagged.
TEST(Orientation, MirroredTargetsAreFoundAndRotatedOnesAreNot)
{
    const auto signed_permutation = [](int a, int b, int c, double sign) {
        Eigen::Matrix3d p = Eigen::Matrix3d::Zero();
        p(0, a) = 1;
        p(1, b) = 1;
        p(2, c) = sign;
        return p;
    };
    const struct {
        const char* what;
        Eigen::Matrix3d turn;
        double noise_m;
        long points;
        double thickness; // of the network, as a share of its width
        bool mirrored;
    } cases[] = {
        {"x y z", signed_permutation(0, 1, 2, 1), 0.002, 12, 0.05, false},
        {"y z x", signed_permutation(1, 2, 0, 1), 0.002, 12, 0.05, false},
        {"y x -z", signed_permutation(1, 0, 2, -1), 0.002, 12, 0.05, false},
        {"y x z", signed_permutation(1, 0, 2, 1), 0.002, 12, 0.05, true},
        {"x z y", signed_permutation(0, 2, 1, 1), 0.002, 12, 0.05, true},
        {"z y x", signed_permutation(2, 1, 0, 1), 0, 12, 0.05, true},
        {"x y -z", signed_permutation(0, 1, 2, -1), 0.002, 4, 0.05, true},
        {"y x z, points in a plane", signed_permutation(1, 0, 2, 1), 0, 12, 0, false},
        {"y x z, 3 points", signed_permutation(1, 0, 2, 1), 0.002, 3, 0.05, false},
        {"x y z, nearly in a plane", signed_permutation(0, 1, 2, 1), 0.002, 12, 1e-9, false},
    };
    for (const auto& c : cases) {
        std::mt19937_64 random(7);
        std::uniform_real_distribution<double> spread(-10000, 10000);
        std::normal_distribution<double> noise(0, c.noise_m > 0 ? c.noise_m : 1);
        point_matrix source(c.points, 3), target(c.points, 3);
        for (long i = 0; i < c.points; ++i) {
            const Eigen::Vector3d p(spread(random), spread(random), c.thickness * spread(random));
            Eigen::Vector3d q = Eigen::Vector3d(100, -200, 300) + (1 + 4e-6) * c.turn * p;
            for (int k = 0; k < 3; ++k)
                q(k) += c.noise_m > 0 ? noise(random) : 0;
            source.row(i) = (Eigen::Vector3d(4027894.0, 307045.0, 4919474.0) + p).transpose();
            target.row(i) = q.transpose();
        }
        EXPECT_EQ(target_mirrored(source, target), c.mirrored) << c.what;
        // A point left out by its flag counts for nothing: here a wild one.
        point_matrix more_source(c.points + 1, 3), more_target(c.points + 1, 3);
        more_source << source, Eigen::RowVector3d(1e6, -2e6, 3e6);
        more_target << target, Eigen::RowVector3d(-5e6, 4e6, 1e6);
        std::vector<char> kept(static_cast<std::size_t>(c.points) + 1, 1);
        kept.back() = 0;
        EXPECT_EQ(target_mirrored(more_source, more_target, kept), c.mirrored) << c.what;
    }
}

// The report carries the finding, over the points of the final estimation.
TEST(Orientation, TheReportSaysTheTargetIsMirrored)
{
    synthetic::network net = make_network(8, 3, 0.002);
    EXPECT_FALSE(report_of(net).mirrored);
    net.target.xyz.col(0).swap(net.target.xyz.col(1));
    EXPECT_TRUE(report_of(net).mirrored);
}

// ---- How build_quality_report combines the pieces. Each test below pins a
// fault that once went unnoticed. ----

// The figure is the largest |w|, not the largest w: a blunder of -5 cm (a
// negative w) in any one coordinate is flagged, at that point alone.
TEST(ReportCombination, NegativeBlunderIsFlaggedByItsFigure)
{
    const struct {
        int point, axis;
    } cases[] = {{2, 0}, {6, 1}, {9, 2}};
    for (const auto& c : cases) {
        synthetic::network net = make_network(12, 21, 0.002);
        net.target.xyz(c.point, c.axis) -= 0.05;
        const quality_report report = report_of(net);
        for (std::size_t i = 0; i < report.residuals.size(); ++i) {
            const residual_row& row = report.residuals[i];
            EXPECT_EQ(row.figure, row.w.cwiseAbs().maxCoeff()) << row.name;
            EXPECT_EQ(row.flagged, static_cast<int>(i) == c.point)
                << "blunder at " << c.point << "/" << c.axis << ", " << row.name << " figure "
                << row.figure;
        }
        EXPECT_LT(report.residuals[c.point].w(c.axis), 0);
    }
}

// The parameters' standard errors are sigma0 sqrt(Q_kk) with sigma0 =
// sqrt(v'v / (3n - 7)) of the report's own residuals, not sevenparam's
// sqrt(v'v / 2). Q is formed here afresh, (B'B)^-1 with B of the model's
// derivatives by the parameters themselves (the angles for the exact
// model), for both models.
TEST(ReportCombination, StandardErrorsAreSigma0TimesRootOfTheCofactors)
{
    synthetic::transformation turned;
    turned.model = rotation_model::exact;
    turned.angles_rad = Eigen::Vector3d(0.2, -0.1, 0.3);
    for (const rotation_model model : {rotation_model::linearised, rotation_model::exact}) {
        const synthetic::network net = make_network(9, 11, 0.003, turned);
        report_settings settings;
        settings.model = model;
        const quality_report report = report_of(net, settings);
        double squares = 0;
        for (const residual_row& row : report.residuals)
            squares += row.xyz_m.squaredNorm();
        const double sigma0 = std::sqrt(squares / (3 * 9 - 7));
        EXPECT_NEAR(report.sigma0 / sigma0, 1, 1e-12);
        Eigen::Matrix<double, 7, 7> normal = Eigen::Matrix<double, 7, 7>::Zero();
        for (Eigen::Index i = 0; i < net.source.xyz.rows(); ++i) {
            const point_row p = net.source.xyz.row(i) - report.centroid_source;
            const design_block b =
                point_design_block(model, p(0), p(1), p(2), report.parameters.value);
            normal += b.transpose() * b;
        }
        const Eigen::Matrix<double, 7, 7> q = normal.inverse();
        for (int k = 0; k < 7; ++k) {
            const double expected = sigma0 * std::sqrt(q(k, k));
            EXPECT_NEAR(report.parameters.sigma(k) / expected, 1, 1e-6)
                << "parameter " << k << (model == rotation_model::exact ? " exact" : "");
            // sevenparam's figure would be sqrt(20 / 2) = 3.2 times as large.
            EXPECT_GT(std::abs(report.sigma0_sevenparam * std::sqrt(q(k, k)) / expected - 1), 0.5);
        }
    }
}

// Snooping removes the worst flagged point first, wherever it stands: +3 cm
// at the third point, +8 cm at the ninth, a-priori sigma 2 mm.
TEST(ReportCombination, SnoopingRemovesTheWorstPointFirst)
{
    synthetic::network net = make_network(12, 31, 0.002);
    net.target.xyz(2, 0) += 0.03;
    net.target.xyz(8, 2) += 0.08;
    report_settings settings;
    settings.sigma_apriori = 0.002;
    settings.snoop = true;
    const quality_report report = report_of(net, settings);
    ASSERT_EQ(report.excluded.size(), 2u);
    EXPECT_EQ(report.excluded[0].name, "P9");
    EXPECT_EQ(report.excluded[1].name, "P3");
    EXPECT_GT(*report.excluded[0].figure, *report.excluded[1].figure);
}

// Leaving points out: by number up to the last point, and the tests then
// use the kept points' redundancy, 3 * 10 - 7 = 23 after 2 of 12.
TEST(ReportCombination, ExclusionByNumberAndTheRedundancyAfterIt)
{
    report_settings settings;
    settings.exclude = {"6"};
    const quality_report six = report_of(make_network(6, 2, 0.002), settings);
    ASSERT_EQ(six.excluded.size(), 1u);
    EXPECT_EQ(six.excluded[0].name, "P6");
    EXPECT_EQ(six.common_points, 5u);
    EXPECT_EQ(six.residuals.back().name, "P6");
    EXPECT_TRUE(six.residuals.back().removed);

    settings.exclude = {"P4", "11"};
    for (const bool a_priori : {false, true}) {
        if (a_priori)
            settings.sigma_apriori = 0.002;
        const quality_report twelve = report_of(make_network(12, 2, 0.002), settings);
        EXPECT_EQ(twelve.redundancy, 23);
        if (a_priori) {
            EXPECT_EQ(twelve.tests.critical_value, w_critical_value(settings.alpha));
            ASSERT_TRUE(twelve.tests.global);
            EXPECT_EQ(twelve.tests.global->critical_value,
                      chi_square_critical_value(settings.alpha, 23));
        } else {
            EXPECT_EQ(twelve.tests.critical_value, tau_critical_value(settings.alpha, 23));
            EXPECT_NE(twelve.tests.critical_value, tau_critical_value(settings.alpha, 29));
        }
        double redundancy_sum = 0;
        for (const residual_row& row : twelve.residuals)
            redundancy_sum += row.redundancy.sum();
        EXPECT_NEAR(redundancy_sum, 23, 1e-9);
    }
}

} // namespace
} // namespace sevenparam
