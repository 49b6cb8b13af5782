#include "quality/carried_precision.h"

#include "quality/geodesy.h"

#include <gtest/gtest.h>

#include <cmath>

namespace sevenparam {
namespace {

// sqrt(chi-square 0.95 quantile, 2 dof) = sqrt(-2 ln 0.05), to 17 digits.
constexpr double k95 = 2.4477468306808166;
constexpr double pi = 3.14159265358979323846;

// Ellipses of east-north blocks with known axes: the diagonal ones by hand,
// the others built as a^2 u u' + b^2 v v' with the major axis u at a known
// azimuth (clockwise from north, so u = (sin az, cos az) in east, north).
TEST(CarriedPrecision, EllipseOfAnEastNorthBlock)
{
    EXPECT_NEAR(ellipse_scale(), k95, 1e-15);
    const struct {
        double a, b, azimuth_deg;
    } cases[] = {{2, 1, 0},     {2, 1, 90}, {3, 1, 30}, {3, 1, 120}, {0.004, 0.001, 179.5},
                 {0.01, 0, 45}, {1, 1, 0}};
    for (const auto& c : cases) {
        const double az = c.azimuth_deg * pi / 180;
        const Eigen::Vector2d u(std::sin(az), std::cos(az));
        const Eigen::Vector2d v(std::cos(az), -std::sin(az));
        const Eigen::Matrix2d block = c.a * c.a * u * u.transpose() + c.b * c.b * v * v.transpose();
        const error_ellipse e = horizontal_ellipse(block);
        EXPECT_NEAR(e.semi_major_m, k95 * c.a, 1e-12 * c.a) << c.azimuth_deg;
        EXPECT_NEAR(e.semi_minor_m, k95 * c.b, 1e-7 * c.a) << c.azimuth_deg;
        EXPECT_NEAR(e.azimuth_deg, c.azimuth_deg, 1e-9) << c.a << " " << c.b;
    }
    // Diagonal blocks by hand: the larger variance gives the major axis.
    const error_ellipse east = horizontal_ellipse(Eigen::Vector2d(4, 1).asDiagonal());
    EXPECT_EQ(east.azimuth_deg, 90);
    EXPECT_DOUBLE_EQ(east.semi_major_m, 2 * k95);
    const error_ellipse circle = horizontal_ellipse(Eigen::Vector2d(1e-6, 1e-6).asDiagonal());
    EXPECT_EQ(circle.azimuth_deg, 0);
    // A circle up to rounding has no direction either.
    Eigen::Matrix2d nearly;
    nearly << 1e-6, 1e-22, 1e-22, 1e-6 * (1 + 1e-16);
    EXPECT_EQ(horizontal_ellipse(nearly).azimuth_deg, 0);
    EXPECT_TRUE(std::isnan(horizontal_ellipse(Eigen::Matrix2d::Constant(NAN)).azimuth_deg));
}

// On the equator at longitude 0 east is +Y, north +Z and up +X; at the
// north pole (longitude 0) east is +Y, north -X.
TEST(CarriedPrecision, StandardErrorsInTheLocalFrame)
{
    const Eigen::Matrix3d cov = Eigen::Vector3d(1e-4, 4e-4, 9e-4).asDiagonal();
    const struct {
        Eigen::Vector3d position;
        Eigen::Vector3d sigma_enu;
    } cases[] = {{{grs80::a, 0, 0}, {0.02, 0.03, 0.01}}, {{0, 0, grs80::b}, {0.02, 0.01, 0.03}}};
    for (const auto& c : cases) {
        const carried_precision p = describe_covariance(cov, c.position);
        EXPECT_LT((p.sigma_xyz_m - Eigen::Vector3d(0.01, 0.02, 0.03)).cwiseAbs().maxCoeff(), 1e-17);
        EXPECT_LT((p.sigma_enu_m - c.sigma_enu).cwiseAbs().maxCoeff(), 1e-15)
            << c.position.transpose();
    }
}

// Carried with only the translations' variances, every point has those as
// its own; the source point's covariance comes through (1 + m) R.
TEST(CarriedPrecision, TranslationsAndSourceCovariance)
{
    for (const rotation_model model : {rotation_model::linearised, rotation_model::exact}) {
        adjustment_result r;
        r.args << 0.1, -0.2, 0.3, 0.02, -0.05, 0.4, 2e-3;
        r.ave_src << 4027894.0, 307045.0, 4919474.0;
        r.ave_tar = r.ave_src + point_row(-120.5, 85.25, 410.75);
        cofactor_matrix c = cofactor_matrix::Zero();
        c.diagonal().head<3>() << 4e-6, 9e-6, 2.5e-5;
        const point_row p = r.ave_src + point_row(15000, -8000, 900);
        const carried_precision t = carry_precision(r, model, p, c);
        EXPECT_LT((t.sigma_xyz_m - Eigen::Vector3d(2e-3, 3e-3, 5e-3)).cwiseAbs().maxCoeff(), 1e-18);
        EXPECT_EQ(t.covariance_xyz_m2(0, 1), 0);

        const Eigen::Matrix3d s = Eigen::Vector3d(1e-4, 2e-4, 3e-4).asDiagonal();
        const Eigen::Matrix3d j = (1 + r.args(6)) * rotation_matrix(model, 0.02, -0.05, 0.4);
        const carried_precision both = carry_precision(r, model, p, c, s);
        const Eigen::Matrix3d expected =
            Eigen::Matrix3d(c.topLeftCorner<3, 3>()) + j * s * j.transpose();
        EXPECT_LT((both.covariance_xyz_m2 - expected).cwiseAbs().maxCoeff(), 1e-18);
    }
}

// B C B' against the same with B the numerical derivative of carry_point:
// by the parameters themselves for the linearised model, by small turns
// R <- R(d) R of the rotation for the exact one (the terms of
// correction_cofactor), with a covariance whose every entry counts.
TEST(CarriedPrecision, DesignAgainstNumericalDerivative)
{
    for (const rotation_model model : {rotation_model::linearised, rotation_model::exact}) {
        adjustment_result r;
        r.args << 0.1, -0.2, 0.3, 2e-5, -4e-5, 7e-5, 3e-6;
        if (model == rotation_model::exact)
            r.args.segment<3>(3) << 0.3, -0.2, 0.5;
        r.ave_src << 4027894.0, 307045.0, 4919474.0;
        r.ave_tar = r.ave_src + point_row(-120.5, 85.25, 410.75);
        const point_row p = r.ave_src + point_row(15000, -8000, 900);
        const Eigen::Matrix<double, 7, 7> a = Eigen::Matrix<double, 7, 7>::Random();
        const cofactor_matrix c = 1e-8 * (a * a.transpose());

        Eigen::Matrix<double, 3, 7> numerical;
        const double h = 1e-6;
        for (int j = 0; j < 7; ++j) {
            adjustment_result plus = r, minus = r;
            if (model == rotation_model::exact && j >= 3 && j < 6) {
                const Eigen::Matrix3d rot = rotation_matrix(model, r.args(3), r.args(4), r.args(5));
                const Eigen::Vector3d d = h * Eigen::Vector3d::Unit(j - 3);
                plus.args.segment<3>(3) =
                    exact_rotation_angles(rotation_matrix(model, d(0), d(1), d(2)) * rot);
                minus.args.segment<3>(3) =
                    exact_rotation_angles(rotation_matrix(model, -d(0), -d(1), -d(2)) * rot);
            } else {
                plus.args(j) += h;
                minus.args(j) -= h;
            }
            numerical.col(j) =
                ((carry_point(plus, p, model) - carry_point(minus, p, model)) / (2 * h))
                    .transpose();
        }
        const Eigen::Matrix3d expected = numerical * c * numerical.transpose();
        const carried_precision t = carry_precision(r, model, p, c);
        EXPECT_LT((t.covariance_xyz_m2 - expected).cwiseAbs().maxCoeff(),
                  1e-6 * expected.cwiseAbs().maxCoeff())
            << static_cast<int>(model);
        EXPECT_EQ(t.covariance_xyz_m2, t.covariance_xyz_m2.transpose());
    }
}

} // namespace
} // namespace sevenparam
