#include "quality/gauss_helmert.h"

#include "estimation/chunks.h"

#include "network.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace sevenparam {
namespace {

const rotation_model both_models[] = {rotation_model::linearised, rotation_model::exact};

std::vector<Eigen::Matrix3d> random_covariances(std::mt19937_64& random, long points,
                                                double sigma_m)
{
    std::vector<Eigen::Matrix3d> c;
    for (long i = 0; i < points; ++i)
        c.push_back(synthetic::random_covariance(random, sigma_m));
    return c;
}

// Weighted least squares of the target alone by dense matrices: the 3n x 7
// design matrix of the angles' own derivatives, the 3n x 3n weight matrix,
// Gauss-Newton from the unit-weight solution.
parameter_vector dense_weighted_fit(const point_matrix& source, const point_matrix& target,
                                    const std::vector<Eigen::Matrix3d>& covariance,
                                    rotation_model model, cofactor_matrix& q)
{
    const Eigen::Index n = source.rows();
    const point_matrix xs = source.rowwise() - source.colwise().mean();
    const point_matrix yt = target.rowwise() - target.colwise().mean();
    Eigen::MatrixXd p = Eigen::MatrixXd::Zero(3 * n, 3 * n);
    for (Eigen::Index i = 0; i < n; ++i)
        p.block<3, 3>(3 * i, 3 * i) = covariance[static_cast<std::size_t>(i)].inverse();
    parameter_vector x = estimate_similarity(source, target, model).args;
    for (int iteration = 0; iteration < 30; ++iteration) {
        Eigen::MatrixXd b(3 * n, 7);
        Eigen::VectorXd l(3 * n);
        for (Eigen::Index i = 0; i < n; ++i) {
            b.middleRows<3>(3 * i) = point_design_block(model, xs(i, 0), xs(i, 1), xs(i, 2), x);
            l.segment<3>(3 * i) =
                (yt.row(i) - transform_point(model, xs(i, 0), xs(i, 1), xs(i, 2), x)).transpose();
        }
        q = (b.transpose() * p * b).inverse();
        x += q * b.transpose() * p * l;
    }
    return x;
}

// With errors in the target only, the adjustment is weighted least squares:
// the same parameters and cofactor matrix as the dense normal equations.
// Each point's covariance differs and is correlated. Both models.
TEST(GaussHelmert, TargetErrorsOnlyIsWeightedLeastSquares)
{
    for (const rotation_model model : both_models) {
        synthetic::network net = synthetic::make_network(7, 5, 0.01, synthetic::truth_of(model));
        std::mt19937_64 random(11);
        const std::vector<Eigen::Matrix3d> st = random_covariances(random, 7, 0.01);
        cofactor_matrix q;
        const parameter_vector expected =
            dense_weighted_fit(net.source.xyz, net.target.xyz, st, model, q);
        const gauss_helmert_result r =
            adjust_gauss_helmert(net.source.xyz, net.target.xyz, {}, st, {}, model);
        for (int j = 0; j < 7; ++j) {
            EXPECT_NEAR(r.result.args(j), expected(j), 1e-9 * (j == 6 || j >= 3 ? 1e-3 : 1))
                << static_cast<int>(model) << " parameter " << j;
            EXPECT_NEAR(r.result.cofactor(j, j) / q(j, j), 1, 1e-7)
                << static_cast<int>(model) << " parameter " << j;
        }
        for (const adjusted_point& a : r.adjusted)
            EXPECT_EQ(a.source_residual_m, Eigen::Vector3d::Zero());
    }
}

// Unit covariances in the target only: the unit-weight adjustment of
// estimate_similarity, to rounding, with v'Pv = v'v.
TEST(GaussHelmert, IdentityTargetCovarianceIsTheUnitWeightFit)
{
    for (const rotation_model model : both_models) {
        const synthetic::network net =
            synthetic::make_network(12, 3, 0.02, synthetic::truth_of(model));
        const adjustment_result plain = estimate_similarity(net.source.xyz, net.target.xyz, model);
        for (const bool given : {true, false}) {
            const std::vector<Eigen::Matrix3d> identity(given ? 12 : 0,
                                                        Eigen::Matrix3d::Identity());
            const gauss_helmert_result r =
                adjust_gauss_helmert(net.source.xyz, net.target.xyz, {}, identity, {}, model);
            EXPECT_LT((r.result.args - plain.args).cwiseAbs().maxCoeff(), 1e-12);
            EXPECT_LT((r.result.residuals - plain.residuals).cwiseAbs().maxCoeff(), 1e-9);
            // Q_jk / sqrt(Q_jj Q_kk): the translations' entries with the
            // rest are zero up to rounding on centred points.
            const parameter_vector root = plain.cofactor.diagonal().cwiseSqrt();
            EXPECT_LT(
                ((r.result.cofactor - plain.cofactor).array() / (root * root.transpose()).array())
                    .abs()
                    .maxCoeff(),
                1e-6);
            EXPECT_NEAR(r.vpv / plain.residuals.squaredNorm(), 1, 1e-9);
        }
    }
}

// Equal precisions in both systems and a scale near 1 double the variance of
// each misclosure: sigma0 is that of the target alone over sqrt 2, and the
// residuals split between the systems as the scale: |v_s| = (1 + m) |v_t|.
TEST(GaussHelmert, EqualPrecisionsInBothSystemsHalveTheVarianceFactor)
{
    for (const rotation_model model : both_models) {
        const synthetic::network net =
            synthetic::make_network(15, 8, 0.02, synthetic::truth_of(model));
        const std::vector<Eigen::Matrix3d> c(15, 4e-4 * Eigen::Matrix3d::Identity());
        const gauss_helmert_result target_only =
            adjust_gauss_helmert(net.source.xyz, net.target.xyz, {}, c, {}, model);
        const gauss_helmert_result both =
            adjust_gauss_helmert(net.source.xyz, net.target.xyz, c, c, {}, model);
        EXPECT_NEAR(std::sqrt(both.vpv / target_only.vpv), 1 / std::sqrt(2.0), 1e-5);
        for (const adjusted_point& a : both.adjusted)
            EXPECT_NEAR(a.source_residual_m.norm() / a.target_residual_m.norm(),
                        1 + both.result.args(6), 1e-9);
        // The adjusted points fit the transformation exactly.
        for (std::size_t i = 0; i < both.adjusted.size(); ++i) {
            const point_row carried =
                carry_point(both.result, both.adjusted[i].source_m.transpose(), model);
            EXPECT_LT((carried.transpose() - both.adjusted[i].target_m).norm(), 1e-8);
        }
    }
}

// The passes run by fixed chunks: 1, 2 and 7 threads give the same bits over
// more than two chunks of points, through the variance components' rounds
// of adjustments and their traces.
TEST(GaussHelmert, ThreadCountsGiveIdenticalBits)
{
    const long points = static_cast<long>(chunk_points) + 300; // two chunks
    synthetic::network net = synthetic::make_network(points, 4, 0.0);
    std::mt19937_64 random(5);
    const std::vector<Eigen::Matrix3d> ss = random_covariances(random, points, 0.01);
    const std::vector<Eigen::Matrix3d> st = random_covariances(random, points, 0.01);
    std::normal_distribution<double> normal;
    for (long i = 0; i < points; ++i) {
        const auto k = static_cast<std::size_t>(i);
        const Eigen::Vector3d zs(normal(random), normal(random), normal(random));
        const Eigen::Vector3d zt(normal(random), normal(random), normal(random));
        net.source.xyz.row(i) += (Eigen::LLT<Eigen::Matrix3d>(ss[k]).matrixL() * zs).transpose();
        net.target.xyz.row(i) += (Eigen::LLT<Eigen::Matrix3d>(st[k]).matrixL() * zt).transpose();
    }
    const variance_component_fit one = estimate_variance_components(
        net.source.xyz, net.target.xyz, ss, st, rotation_model::linearised, 1);
    for (const unsigned threads : {2u, 7u}) {
        const variance_component_fit r = estimate_variance_components(
            net.source.xyz, net.target.xyz, ss, st, rotation_model::linearised, threads);
        EXPECT_EQ(r.estimate.source_factor, one.estimate.source_factor) << threads;
        EXPECT_EQ(r.estimate.target_factor, one.estimate.target_factor) << threads;
        const gauss_helmert_result& a = r.adjustment;
        const gauss_helmert_result& b = one.adjustment;
        EXPECT_EQ(a.result.args, b.result.args) << threads;
        EXPECT_EQ(a.result.cofactor, b.result.cofactor) << threads;
        EXPECT_EQ(a.result.residuals, b.result.residuals) << threads;
        EXPECT_EQ(a.vpv, b.vpv) << threads;
        EXPECT_EQ(a.adjusted.back().source_m, b.adjusted.back().source_m) << threads;
    }
}

// Noise that is one draw for both systems of a point (e = (L_t - J L_s) z)
// barely tells the systems apart: Helmert's step alone overshoots by more
// each round and never settles. The shortened steps settle, at factors with
// v'Pv = 3n - 7 (sigma0 1) and both near 0.13.
TEST(GaussHelmert, VarianceComponentsSettleWhereHelmertOvershoots)
{
    const long points = 300;
    synthetic::network net = synthetic::make_network(points, 4, 0.0);
    std::mt19937_64 random(5);
    const std::vector<Eigen::Matrix3d> ss = random_covariances(random, points, 0.01);
    const std::vector<Eigen::Matrix3d> st = random_covariances(random, points, 0.01);
    std::normal_distribution<double> normal;
    for (long i = 0; i < points; ++i) {
        const auto k = static_cast<std::size_t>(i);
        const Eigen::Vector3d z(normal(random), normal(random), normal(random));
        net.source.xyz.row(i) += (Eigen::LLT<Eigen::Matrix3d>(ss[k]).matrixL() * z).transpose();
        net.target.xyz.row(i) += (Eigen::LLT<Eigen::Matrix3d>(st[k]).matrixL() * z).transpose();
    }
    const variance_component_fit fit = estimate_variance_components(
        net.source.xyz, net.target.xyz, ss, st, rotation_model::linearised);
    EXPECT_NEAR(fit.adjustment.vpv / (3 * points - 7), 1, 1e-6);
    EXPECT_NEAR(fit.estimate.source_factor, 0.13, 0.03);
    EXPECT_NEAR(fit.estimate.target_factor, 0.13, 0.03);
}

// The checks' verdicts at their edges, on matrices turned off the axes (so
// that no diagonal shortcut decides), with eigenvalues (1, 1, e): a
// covariance may have e down to -1e-12 of its largest entry, a misclosure's
// e must exceed 1e-12. The first faulty point in order is named, whatever
// the chunk or thread that finds it.
TEST(GaussHelmert, CovarianceChecksAtTheirEdges)
{
    const Eigen::Matrix3d turn =
        (Eigen::AngleAxisd(0.7, Eigen::Vector3d(1, 2, 3).normalized())).toRotationMatrix();
    const auto turned = [&](double e) {
        return Eigen::Matrix3d(turn * Eigen::Vector3d(1, 1, e).asDiagonal() * turn.transpose());
    };
    const struct {
        double e;
        const char* covariance_fault; // of require_covariances, or null
        bool without_error;           // as the only covariance of a misclosure
    } cases[] = {
        {1e-11, nullptr, false},
        {5e-13, nullptr, true},
        {0, nullptr, true},
        {-5e-14, nullptr, true},
        {-1e-9, "not positive semi-definite", true},
    };
    const synthetic::network net = synthetic::make_network(5, 2, 0.01);
    for (const auto& c : cases) {
        std::vector<Eigen::Matrix3d> covariance(5, Eigen::Matrix3d::Identity());
        covariance[1] = turned(c.e);
        const std::string faulty =
            c.covariance_fault
                ? std::string("the covariance of target point 2 is ") + c.covariance_fault
            : c.without_error ? "the covariances of point 2 leave a direction "
                                "without error in both systems"
                              : "";
        try {
            adjust_gauss_helmert(net.source.xyz, net.target.xyz, {}, covariance, {},
                                 rotation_model::linearised);
            EXPECT_EQ(faulty, "") << c.e;
        } catch (const estimation_error& e) {
            // An accepted point may still weigh too much for the normal
            // matrix: any other error then, but none of the checks'.
            if (faulty.empty())
                EXPECT_EQ(std::string(e.what()).find("covariance"), std::string::npos) << c.e;
            else
                EXPECT_EQ(std::string(e.what()), faulty) << c.e;
        }
    }
    const std::size_t points = 3 * chunk_points;
    std::vector<Eigen::Matrix3d> many(points, turned(0.5));
    many[2 * chunk_points + 3] = turned(-1e-9);
    many[chunk_points + 7] = turned(-1e-9);
    for (const unsigned threads : {1u, 2u, 3u}) {
        try {
            require_covariances(many, static_cast<Eigen::Index>(points), "source", threads);
            ADD_FAILURE() << "no error on " << threads << " threads";
        } catch (const estimation_error& e) {
            EXPECT_EQ(std::string(e.what()), "the covariance of source point " +
                                                 std::to_string(chunk_points + 8) +
                                                 " is not positive semi-definite");
        }
    }
}

// Covariances and weights that cannot be used are refused, naming the point;
// variance components of precisions of one shape in both systems too.
TEST(GaussHelmert, RefusesUnusablePrecisions)
{
    const synthetic::network net = synthetic::make_network(5, 2, 0.01);
    const std::vector<Eigen::Matrix3d> good(5, Eigen::Matrix3d::Identity());
    std::vector<Eigen::Matrix3d> asymmetric = good, singular = good, nan = good;
    asymmetric[2](0, 1) = 0.5;
    singular[3] = Eigen::Matrix3d::Zero();
    singular[3](0, 0) = 1;
    nan[1](2, 2) = std::nan("");
    std::vector<Eigen::Matrix3d> negative = good;
    negative[4](1, 1) = -1e-6;
    const struct {
        std::vector<Eigen::Matrix3d> source, target;
        std::vector<double> weight;
        const char* message;
    } cases[] = {
        {asymmetric, {}, {}, "the covariance of source point 3 is not symmetric"},
        {{},
         singular,
         {},
         "the covariances of point 4 leave a direction without error in both systems"},
        {{}, negative, {}, "the covariance of target point 5 is not positive semi-definite"},
        {{}, nan, {}, "the covariance of target point 2 is not finite"},
        {std::vector<Eigen::Matrix3d>(4, Eigen::Matrix3d::Identity()),
         {},
         {},
         "4 source covariances for 5 points"},
        {{},
         good,
         {1, 1, -1, 1, 1},
         "the weight of point 3 is not a finite number of at least 0: -1"},
    };
    for (const auto& c : cases) {
        try {
            adjust_gauss_helmert(net.source.xyz, net.target.xyz, c.source, c.target, c.weight,
                                 rotation_model::linearised);
            ADD_FAILURE() << "no error: " << c.message;
        } catch (const estimation_error& e) {
            EXPECT_EQ(std::string(e.what()), c.message);
        }
    }
    try {
        estimate_variance_components(net.source.xyz, net.target.xyz, good, good,
                                     rotation_model::linearised);
        ADD_FAILURE() << "no error for covariances of one shape";
    } catch (const estimation_error& e) {
        EXPECT_EQ(std::string(e.what()),
                  "the variance factors of the source and the target points cannot be told "
                  "apart: the two systems' precisions have the same shape at every point");
    }
}

} // namespace
} // namespace sevenparam
