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
    double angle_rad;          // size of the rotations of the data
    double linearisation_m[2]; // bounds of linearisation_max_m: about angle^2 / 2 times 30 km
};
const model_case model_cases[] = {
    {rotation_model::linearised, 5e-6, {0, 1e-5}},
    {rotation_model::exact, 0.05, {100, 1000}},
};

// p' = T + (1 + m) R p gives the report's predictions of the centroid form,
// and the standard errors of T are sigma0^2 J Q J' with J by central
// differences of T(t, e, m).
TEST(Exports, OriginBasedSetAndItsStandardErrors)
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
        EXPECT_GT(report.linearisation_max_m, c.linearisation_m[0]);
        EXPECT_LT(report.linearisation_max_m, c.linearisation_m[1]);

        const adjustment_result a = estimate_similarity(net.source.xyz, net.target.xyz, c.model);
        Eigen::Matrix<double, 7, 7> j = Eigen::Matrix<double, 7, 7>::Identity();
        for (int k = 3; k < 7; ++k) {
            parameter_vector up = a.args, down = a.args;
            up(k) += 1e-7;
            down(k) -= 1e-7;
            j.block<3, 1>(0, k) =
                (origin_based_set(up, a.cofactor, 1, a.ave_src, a.ave_tar, c.model).translation_m -
                 origin_based_set(down, a.cofactor, 1, a.ave_src, a.ave_tar, c.model)
                     .translation_m) /
                2e-7;
        }
        const parameter_vector sigma =
            report.sigma0 * (j * a.cofactor * j.transpose()).diagonal().cwiseSqrt();
        for (int k = 0; k < 3; ++k) {
            EXPECT_NEAR(bw.sigma_translation_m(k), sigma(k), 1e-6 * sigma(k));
            EXPECT_NEAR(bw.sigma_rotation_arcsec(k), sigma(3 + k) * arcsec_per_rad, 1e-12);
        }
        EXPECT_NEAR(bw.sigma_scale_ppm, sigma(6) * 1e6, 1e-12);
        // The lever arm of the rotations is the Earth's radius: T is far less
        // certain than the centroid-based t.
        EXPECT_GT(bw.sigma_translation_m.minCoeff(), 10 * report.parameters.sigma(0));
    }
}

// The comma-separated numbers of the first " +key=" in `text`.
std::vector<double> numbers_after(const std::string& text, const std::string& key)
{
    std::vector<double> numbers;
    const std::size_t at = text.find(key + "=");
    if (at == std::string::npos)
        return numbers;
    const char* end = text.data() + text.size();
    for (const char* p = text.data() + at + key.size(); p != end && *p != ' ';) {
        double x;
        p = std::from_chars(p + 1, end, x).ptr;
        numbers.push_back(x);
    }
    return numbers;
}

// Every number reads back to the very double; the position vector negates
// the rotations; only the coordinate-frame texts of the exact model say +exact.
TEST(Exports, TextsCarryEveryNumberExactly)
{
    for (const model_case& c : model_cases) {
        transformation truth;
        truth.model = c.model;
        const quality_report q = report_of(make_network(10, 5, 0.003, truth), c.model);
        const Eigen::Vector3d t = q.bursa_wolf.translation_m, r = q.bursa_wolf.rotation_arcsec;
        const double s = q.bursa_wolf.scale_ppm;
        const point_row &src = q.centroid_source, &tar = q.centroid_target;
        const parameter_vector& e = q.parameters.value;
        const std::string& pipe = q.proj_pipeline;
        const std::string helmert_step = pipe.substr(pipe.find("+proj=helmert"));
        const std::string last_step = pipe.substr(pipe.rfind("+step"));
        const struct {
            const std::string& text;
            const char* key;
            std::vector<double> expected;
        } cases[] = {
            {q.towgs84, "+towgs84", {t(0), t(1), t(2), -r(0), -r(1), -r(2), s}},
            {q.proj_helmert, " +x", {t(0)}},
            {q.proj_helmert, " +rz", {r(2)}},
            {q.proj_helmert, " +s", {s}},
            {q.proj_molobadekas, " +y", {tar(1) - src(1) + e(1)}},
            {q.proj_molobadekas, " +ry", {r(1)}},
            {q.proj_molobadekas, " +pz", {src(2)}},
            {pipe, " +xoff", {-src(0)}},
            {helmert_step, " +z", {e(2)}},
            {helmert_step, " +rx", {r(0)}},
            {last_step, " +zoff", {tar(2)}},
        };
        for (const auto& k : cases)
            EXPECT_EQ(numbers_after(k.text, k.key), k.expected) << k.key << " in " << k.text;
        const std::string exact = c.model == rotation_model::exact ? " +exact" : "";
        for (const std::string* text : {&q.proj_helmert, &q.proj_molobadekas, &helmert_step})
            EXPECT_EQ(text->substr(text->find(" +convention"), 29 + exact.size()),
                      " +convention=coordinate_frame" + exact);
        EXPECT_EQ(pipe.find("+exact") != std::string::npos, !exact.empty());
        EXPECT_EQ(q.towgs84.find("+exact"), std::string::npos);
    }
    EXPECT_EQ(shortest_text(1e-5), "1e-05");
}

} // namespace
} // namespace sevenparam
