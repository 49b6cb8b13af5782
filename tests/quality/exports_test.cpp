#include "quality/exports.h"
#include "quality/precision.h"
#include "quality/quality_report.h"

#include "network.h"

#include <gtest/gtest.h>

#include <charconv>
#include <string>

namespace sevenparam {
namespace {

using synthetic::make_network;
using synthetic::transformation;

quality_report report_of(const synthetic::network& net, rotation_model model,
                         const named_points& test = {})
{
    report_settings settings;
    settings.model = model;
    return build_quality_report(net.source, net.target, test, settings);
}

// The exact rotation's order and signs, from PROJ:
//   echo 1000000 2000000 3000000 | cct -d 6 +proj=helmert
//     +convention=coordinate_frame +exact +rx=20000 +ry=-30000 +rz=50000
TEST(Exports, ExactRotationIsPropsExactHelmert)
{
    const double a = 1 / arcsec_per_rad;
    const Eigen::Vector3d turned =
        rotation_matrix(rotation_model::exact, 20000 * a, -30000 * a, 50000 * a) *
        Eigen::Vector3d(1e6, 2e6, 3e6);
    EXPECT_LT((turned - Eigen::Vector3d(1900912.672930, 1879700.224504, 2617872.815072)).norm(),
              1e-6);
}

TEST(Precision, Sigma0OfTwoMillimetreNoiseAndAPlantedResidual)
{
    synthetic::network net = make_network(2000, 7, 0.002);
    net.target.xyz(1234, 2) += 0.03;
    const quality_report report = report_of(net, rotation_model::linearised);
    // v'v of the clean points over 3n - 7; the planted 3 cm (15 times the
    // noise) adds about 0.03^2 / 5993 to sigma0^2, 0.04 mm on 2 mm.
    EXPECT_NEAR(report.sigma0, 0.002, 0.0001);
    EXPECT_EQ(report.redundancy, 5993);
    EXPECT_EQ(report.residuals[report.largest_residual].name, "P1235");
    EXPECT_NEAR(report.residuals[1234].xyz_m(2), 0.03, 0.008);
    for (int j = 0; j < 7; ++j)
        EXPECT_EQ(report.correlation(j, j), 1.0);
    EXPECT_LT((report.correlation - report.correlation.transpose()).norm(), 1e-15);
}

struct model_case {
    rotation_model model;
    double angle_rad; // size of the rotations of the data
};
const model_case model_cases[] = {
    {rotation_model::linearised, 5e-6},
    {rotation_model::exact, 0.05},
};

// p' = T + (1 + m) R p must give the report's predictions of the centroid
// form: the same transformation, only written about the origin.
TEST(Exports, OriginBasedSetReproducesTheCentroidForm)
{
    for (const model_case& c : model_cases) {
        transformation truth;
        truth.model = c.model;
        truth.angles_rad = Eigen::Vector3d(1, -2, 3) * c.angle_rad;
        const synthetic::network net = make_network(30, 3, 0.01, truth);
        named_points test;
        test.names = {"far", "near"};
        test.xyz.resize(2, 3);
        test.xyz << 4127894.0, 207045.0, 4819474.0, 4027000.0, 307000.0, 4919000.0;
        const quality_report report = report_of(net, c.model, test);
        const bursa_wolf_set& bw = report.bursa_wolf;
        const Eigen::Vector3d e = bw.rotation_arcsec / arcsec_per_rad;
        const Eigen::Matrix3d r = rotation_matrix(c.model, e(0), e(1), e(2));
        for (int i = 0; i < 2; ++i) {
            const Eigen::Vector3d p = test.xyz.row(i).transpose();
            const Eigen::Vector3d q = bw.translation_m + (1 + bw.scale_ppm / 1e6) * (r * p);
            EXPECT_LT((q - report.predictions[static_cast<std::size_t>(i)].xyz_m).norm(), 1e-7);
        }
    }
}

// sigma0^2 J Q J' with J by central differences of T(t, e, m).
TEST(Exports, StandardErrorsFollowANumericalJacobian)
{
    for (const model_case& c : model_cases) {
        transformation truth;
        truth.model = c.model;
        truth.angles_rad = Eigen::Vector3d(1, -2, 3) * c.angle_rad;
        const synthetic::network net = make_network(40, 11, 0.02, truth);
        const quality_report report = report_of(net, c.model);
        const adjustment_result r = estimate_similarity(net.source.xyz, net.target.xyz, c.model);
        const auto origin = [&](const parameter_vector& x) {
            return origin_based_set(x, r.cofactor, 1, r.ave_src, r.ave_tar, c.model).translation_m;
        };
        Eigen::Matrix<double, 7, 7> j = Eigen::Matrix<double, 7, 7>::Identity();
        for (int k = 3; k < 7; ++k) {
            parameter_vector up = r.args, down = r.args;
            const double step = 1e-7;
            up(k) += step;
            down(k) -= step;
            j.block<3, 1>(0, k) = (origin(up) - origin(down)) / (2 * step);
        }
        const parameter_vector sigma =
            report.sigma0 * (j * r.cofactor * j.transpose()).diagonal().cwiseSqrt();
        const bursa_wolf_set& bw = report.bursa_wolf;
        for (int k = 0; k < 3; ++k) {
            EXPECT_NEAR(bw.sigma_translation_m(k), sigma(k), 1e-6 * sigma(k));
            EXPECT_NEAR(bw.sigma_rotation_arcsec(k), sigma(3 + k) * arcsec_per_rad,
                        1e-12 * arcsec_per_rad);
        }
        EXPECT_NEAR(bw.sigma_scale_ppm, sigma(6) * 1e6, 1e-12);
        // The origin-based translations are far less certain than the
        // centroid-based ones: the lever arm of the rotations is the Earth's radius.
        EXPECT_GT(bw.sigma_translation_m.minCoeff(), 10 * report.parameters.sigma(0));
    }
}

// The numbers after `key=` in a text, up to the next blank, as doubles.
std::vector<double> numbers_after(const std::string& text, const std::string& key)
{
    std::vector<double> values;
    std::size_t at = text.find(key + "=");
    if (at == std::string::npos)
        return values;
    at += key.size() + 1;
    const char* p = text.data() + at;
    const char* end = text.data() + text.size();
    for (;;) {
        double v;
        const std::from_chars_result read = std::from_chars(p, end, v);
        if (read.ec != std::errc())
            break;
        values.push_back(v);
        p = read.ptr;
        if (p == end || *p != ',')
            break;
        ++p;
    }
    return values;
}

TEST(Exports, TextsCarryEveryNumberExactly)
{
    for (const model_case& c : model_cases) {
        transformation truth;
        truth.model = c.model;
        const synthetic::network net = make_network(10, 5, 0.003, truth);
        const quality_report report = report_of(net, c.model);
        const bursa_wolf_set& bw = report.bursa_wolf;
        const Eigen::Vector3d& t = bw.translation_m;
        const Eigen::Vector3d& rot = bw.rotation_arcsec;

        // Position vector: the same translation and scale, rotations negated.
        const std::vector<double> towgs84 = {t(0),    t(1),    t(2),        -rot(0),
                                             -rot(1), -rot(2), bw.scale_ppm};
        EXPECT_EQ(numbers_after(report.towgs84, "+towgs84"), towgs84);

        const std::string exact = c.model == rotation_model::exact ? " +exact" : "";
        for (const std::string* text : {&report.proj_helmert, &report.proj_molobadekas}) {
            EXPECT_EQ(numbers_after(*text, "+rx"), std::vector<double>{rot(0)});
            EXPECT_EQ(numbers_after(*text, "+rz"), std::vector<double>{rot(2)});
            EXPECT_EQ(numbers_after(*text, "+s"), std::vector<double>{bw.scale_ppm});
            EXPECT_NE(text->find("+convention=coordinate_frame" + exact), std::string::npos);
            EXPECT_EQ(text->find("+exact") != std::string::npos, !exact.empty());
        }
        EXPECT_EQ(report.proj_helmert.rfind("+proj=helmert +x=", 0), 0u);
        EXPECT_EQ(numbers_after(report.proj_helmert, "+y"), std::vector<double>{t(1)});
        EXPECT_EQ(report.proj_molobadekas.rfind("+proj=molobadekas +x=", 0), 0u);
        EXPECT_EQ(numbers_after(report.proj_molobadekas, "+py"),
                  std::vector<double>{report.centroid_source(1)});
        EXPECT_EQ(numbers_after(report.proj_molobadekas, "+x"),
                  std::vector<double>{report.centroid_target(0) - report.centroid_source(0) +
                                      report.parameters.value(0)});

        // Pipeline: minus the source centroid, the estimate, the target centroid.
        const std::string& pipe = report.proj_pipeline;
        const std::size_t helmert = pipe.find("+step +proj=helmert");
        const std::size_t last = pipe.rfind("+step +proj=affine");
        ASSERT_EQ(pipe.rfind("+proj=pipeline +step +proj=affine +xoff=", 0), 0u);
        ASSERT_LT(helmert, last);
        EXPECT_EQ(numbers_after(pipe, "+zoff"), std::vector<double>{-report.centroid_source(2)});
        EXPECT_EQ(numbers_after(pipe.substr(helmert), "+x"),
                  std::vector<double>{report.parameters.value(0)});
        EXPECT_EQ(numbers_after(pipe.substr(last), "+xoff"),
                  std::vector<double>{report.centroid_target(0)});
    }
    EXPECT_EQ(shortest_text(1e-5), "1e-05");
    EXPECT_EQ(shortest_text(0.1), "0.1");
}

TEST(Exports, LinearisationCheck)
{
    transformation small, large;
    large.model = rotation_model::exact;
    large.angles_rad = Eigen::Vector3d(0.01, -0.02, 0.03);
    // Second-order terms: about angle^2 / 2 times 20 km.
    EXPECT_LT(report_of(make_network(10, 1, 0.001, small), rotation_model::linearised)
                  .linearisation_max_m,
              1e-5);
    const quality_report turned =
        report_of(make_network(10, 1, 0.001, large), rotation_model::exact);
    EXPECT_GT(turned.linearisation_max_m, 1.0);
    EXPECT_LT(turned.linearisation_max_m, 100.0);
}

} // namespace
} // namespace sevenparam
