#include "quality/exports.h"
#include "quality/precision.h"
#include "quality/quality_report.h"

#include "network.h"

#include <gtest/gtest.h>

#include <charconv>
#include <map>
#include <sstream>
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

// The numeric "+key=value" options of a PROJ text (commas separate the
// values of +towgs84), and the steps of a pipeline.
using option_values = std::map<std::string, std::vector<double>>;
option_values values_of(const std::string& text)
{
    option_values values;
    std::istringstream words(text);
    for (std::string word; words >> word;) {
        const std::size_t equals = word.find('=');
        std::vector<double> numbers;
        const char *p = word.data() + equals + 1, *end = word.data() + word.size();
        for (double x; equals != std::string::npos; ++p) {
            const std::from_chars_result read = std::from_chars(p, end, x);
            if (read.ec != std::errc())
                break;
            numbers.push_back(x);
            p = read.ptr;
            if (p == end || *p != ',')
                break;
        }
        // A word that is no number after '=' ("+proj=helmert") is a key of its own.
        values[numbers.empty() ? word : word.substr(0, equals)] = numbers;
    }
    return values;
}

TEST(Exports, TextsCarryEveryNumberExactly)
{
    for (const model_case& c : model_cases) {
        transformation truth;
        truth.model = c.model;
        const quality_report report = report_of(make_network(10, 5, 0.003, truth), c.model);
        const bursa_wolf_set& bw = report.bursa_wolf;
        const Eigen::Vector3d t = bw.translation_m, r = bw.rotation_arcsec;
        const Eigen::Vector3d shift = report.centroid_target - report.centroid_source +
                                      report.parameters.value.head<3>().transpose();
        const point_row& src = report.centroid_source;
        const point_row& tar = report.centroid_target;
        const parameter_vector& e = report.parameters.value;
        option_values helmert = {
            {"+proj=helmert", {}}, {"+x", {t(0)}},         {"+y", {t(1)}},
            {"+z", {t(2)}},        {"+rx", {r(0)}},        {"+ry", {r(1)}},
            {"+rz", {r(2)}},       {"+s", {bw.scale_ppm}}, {"+convention=coordinate_frame", {}}};
        if (c.model == rotation_model::exact)
            helmert["+exact"] = {};
        option_values molobadekas = helmert;
        molobadekas.erase("+proj=helmert");
        molobadekas["+proj=molobadekas"] = {};
        molobadekas["+x"] = {shift(0)};
        molobadekas["+y"] = {shift(1)};
        molobadekas["+z"] = {shift(2)};
        molobadekas["+px"] = {src(0)};
        molobadekas["+py"] = {src(1)};
        molobadekas["+pz"] = {src(2)};
        option_values centred = helmert;
        centred["+x"] = {e(0)};
        centred["+y"] = {e(1)};
        centred["+z"] = {e(2)};

        // Position vector: the same translation and scale, rotations negated.
        EXPECT_EQ(
            values_of(report.towgs84),
            (option_values{{"+towgs84", {t(0), t(1), t(2), -r(0), -r(1), -r(2), bw.scale_ppm}}}));
        EXPECT_EQ(values_of(report.proj_helmert), helmert);
        EXPECT_EQ(values_of(report.proj_molobadekas), molobadekas);
        // Pipeline: minus the source centroid, the estimate, the target centroid.
        const std::string& pipe = report.proj_pipeline;
        const std::size_t second = pipe.find(" +step", 20), third = pipe.rfind(" +step");
        EXPECT_EQ(values_of(pipe.substr(0, second)), (option_values{{"+proj=pipeline", {}},
                                                                    {"+step", {}},
                                                                    {"+proj=affine", {}},
                                                                    {"+xoff", {-src(0)}},
                                                                    {"+yoff", {-src(1)}},
                                                                    {"+zoff", {-src(2)}}}));
        centred["+step"] = {};
        EXPECT_EQ(values_of(pipe.substr(second, third - second)), centred);
        EXPECT_EQ(values_of(pipe.substr(third)), (option_values{{"+step", {}},
                                                                {"+proj=affine", {}},
                                                                {"+xoff", {tar(0)}},
                                                                {"+yoff", {tar(1)}},
                                                                {"+zoff", {tar(2)}}}));
    }
    EXPECT_EQ(shortest_text(1e-5), "1e-05");
    EXPECT_EQ(shortest_text(0.1), "0.1");
}

} // namespace
} // namespace sevenparam
