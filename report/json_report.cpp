#include "report/json_report.h"

#include "quality/exports.h"
#include "report/json_writer.h"
#include "report/number_format.h"
#include "report/report_options.h"
#include "report/text_encoding.h"
#include "report/warnings.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstring>
#include <limits>
#include <ostream>

namespace sevenparam {

namespace json_key {
inline constexpr char program[] = "program";
inline constexpr char version[] = "version";
inline constexpr char rotation[] = "rotation";
inline constexpr char common_points[] = "common_points";
inline constexpr char redundancy[] = "redundancy";
inline constexpr char iterations[] = "iterations";
inline constexpr char last_measure[] = "last_measure";
inline constexpr char reciprocal_condition[] = "reciprocal_condition";
inline constexpr char largest_residual[] = "largest_residual";
inline constexpr char sigma0[] = "sigma0";
inline constexpr char sigma0_sevenparam[] = "sigma0_sevenparam";
inline constexpr char centroid_source[] = "centroid_source";
inline constexpr char centroid_target[] = "centroid_target";
inline constexpr char correlation[] = "correlation";
inline constexpr char linearisation_max_m[] = "linearisation_max_m";
inline constexpr char linearisation_warning[] = "linearisation_warning";
inline constexpr char mirrored[] = "mirrored";
inline constexpr char warnings[] = "warnings";
inline constexpr char parameters[] = "parameters";
inline constexpr char sigma[] = "sigma";
inline constexpr char bursa_wolf[] = "bursa_wolf";
inline constexpr char bursa_wolf_position_vector[] = "bursa_wolf_position_vector";
inline constexpr char towgs84[] = "towgs84";
inline constexpr char small_angle_exports_max_m[] = "small_angle_exports_max_m";
inline constexpr char proj_helmert[] = "proj_helmert";
inline constexpr char proj_molobadekas[] = "proj_molobadekas";
inline constexpr char proj_pipeline[] = "proj_pipeline";
inline constexpr char tests[] = "tests";
inline constexpr char alpha[] = "alpha";
inline constexpr char alpha_family[] = "alpha_family";
inline constexpr char kind[] = "kind";
inline constexpr char critical_value[] = "critical_value";
inline constexpr char global[] = "global";
inline constexpr char statistic[] = "statistic";
inline constexpr char passed[] = "passed";
inline constexpr char excluded[] = "excluded";
inline constexpr char reason[] = "reason";
inline constexpr char figure[] = "figure";
inline constexpr char residuals[] = "residuals";
inline constexpr char predictions[] = "predictions";
inline constexpr char name[] = "name";
inline constexpr char xyz_m[] = "xyz_m";
inline constexpr char enu_m[] = "enu_m";
inline constexpr char length_m[] = "length_m";
inline constexpr char w[] = "w";
inline constexpr char flagged[] = "flagged";
inline constexpr char mdb_m[] = "mdb_m";
inline constexpr char check_m[] = "check_m";
inline constexpr char removed[] = "removed";
// Precisions, variance components and robust estimation.
inline constexpr char stochastic[] = "stochastic";
inline constexpr char weighted[] = "weighted";
inline constexpr char source_precision[] = "source_precision";
inline constexpr char target_precision[] = "target_precision";
inline constexpr char variance_factor_apriori[] = "variance_factor_apriori";
inline constexpr char variance_components[] = "variance_components";
inline constexpr char source_factor[] = "source_factor";
inline constexpr char target_factor[] = "target_factor";
inline constexpr char sigma0_before[] = "sigma0_before";
inline constexpr char robust[] = "robust";
inline constexpr char estimator[] = "estimator";
inline constexpr char constant[] = "constant";
inline constexpr char blunder_weight[] = "blunder_weight";
inline constexpr char blunders[] = "blunders";
inline constexpr char weight[] = "weight";
inline constexpr char source_residual_m[] = "source_residual_m";
inline constexpr char target_residual_m[] = "target_residual_m";
inline constexpr char source_adjusted_m[] = "source_adjusted_m";
inline constexpr char target_adjusted_m[] = "target_adjusted_m";
inline constexpr char sigma_xyz_m[] = "sigma_xyz_m";
inline constexpr char sigma_enu_m[] = "sigma_enu_m";
inline constexpr char covariance_xyz_m2[] = "covariance_xyz_m2";
inline constexpr char ellipse[] = "ellipse";
inline constexpr char semi_major_m[] = "semi_major_m";
inline constexpr char semi_minor_m[] = "semi_minor_m";
inline constexpr char azimuth_deg[] = "azimuth_deg";
inline constexpr char confidence[] = "confidence";
// The parameter keys, as estimated and origin-based, in parameter order.
inline constexpr const char* estimated[] = {"tx", "ty", "tz", "ex", "ey", "ez", "m"};
inline constexpr const char* estimated_alt[] = {"ex_arcsec", "ey_arcsec", "ez_arcsec", "m_ppm"};
inline constexpr const char* origin_based[] = {"tx_m",      "ty_m",      "tz_m", "rx_arcsec",
                                               "ry_arcsec", "rz_arcsec", "s_ppm"};
} // namespace json_key

namespace {

using json = nlohmann::ordered_json;

void estimated_set(json_writer& w, const parameter_vector& p)
{
    for (int k = 0; k < 7; ++k) {
        json_member(w, json_key::estimated[k], p(k));
    }
    for (int k = 0; k < 3; ++k) {
        json_member(w, json_key::estimated_alt[k], p(3 + k) * arcsec_per_rad);
    }
    json_member(w, json_key::estimated_alt[3], p(6) * ppm_per_ratio);
}

void origin_set(json_writer& w, const Eigen::Vector3d& t, const Eigen::Vector3d& r, double s)
{
    for (int k = 0; k < 3; ++k) {
        json_member(w, json_key::origin_based[k], t(k));
    }
    for (int k = 0; k < 3; ++k) {
        json_member(w, json_key::origin_based[3 + k], r(k));
    }
    json_member(w, json_key::origin_based[6], s);
}

void bursa_wolf(json_writer& w, const char* key, const bursa_wolf_set& bw, double rotation_sign)
{
    json_open_object(w, key);
    origin_set(w, bw.translation_m, rotation_sign * bw.rotation_arcsec, bw.scale_ppm);
    json_open_object(w, json_key::sigma);
    origin_set(w, bw.sigma_translation_m, bw.sigma_rotation_arcsec, bw.sigma_scale_ppm);
    json_close(w);
    json_close(w);
}

// The stochastic model, the variance components and the robust estimation,
// each only when the report has it, so that a report without them keeps
// the members it always had.
void write_stochastic(json_writer& w, const quality_report& report)
{
    const stochastic_model& s = report.stochastic;
    if (s.weighted) {
        json_open_object(w, json_key::stochastic);
        json_member(w, json_key::weighted, true);
        json_member(w, json_key::source_precision, s.source_precision);
        json_member(w, json_key::target_precision, s.target_precision);
        json_member(w, json_key::variance_factor_apriori, 1.0);
        json_close(w);
    }
    if (report.variance_components) {
        const variance_component_estimate& v = *report.variance_components;
        json_open_object(w, json_key::variance_components);
        json_member(w, json_key::source_factor, v.source_factor);
        json_member(w, json_key::target_factor, v.target_factor);
        json_member(w, json_key::sigma0_before, v.sigma0_before);
        json_member(w, json_key::iterations, v.iterations);
        json_close(w);
    }
    if (report.robust) {
        const robust_summary& r = *report.robust;
        json_open_object(w, json_key::robust);
        json_member(w, json_key::estimator, robust_estimator_name(r.estimator));
        json_member(w, json_key::constant, r.constant);
        json_member(w, json_key::iterations, r.iterations);
        json_member(w, json_key::blunder_weight, blunder_weight);
        json blunders = json::array();
        for (const std::size_t i : r.blunders) {
            if (i < report.residuals.size()) {
                blunders.push_back(to_utf8(report.residuals[i].name));
            }
        }
        json_member(w, json_key::blunders, blunders);
        json_close(w);
    }
}

// The members before the long arrays, in their order, into the open object.
void write_head(json_writer& w, const quality_report& report, const std::string& version)
{
    json_member(w, json_key::program, report_program_name);
    json_member(w, json_key::version, version);
    json_member(w, json_key::rotation,
                report.model == rotation_model::exact ? rotation_exact : rotation_linearised);
    json_member(w, json_key::warnings, nlohmann::ordered_json(report_warnings(report)));
    json_member(w, json_key::mirrored, report.mirrored);
    json_member(w, json_key::common_points, report.common_points);
    json_member(w, json_key::redundancy, report.redundancy);
    json_member(w, json_key::iterations, report.iterations);
    json_member(w, json_key::last_measure, report.last_measure);
    json_member(w, json_key::reciprocal_condition, report.reciprocal_condition);
    if (report.largest_residual < report.residuals.size()) {
        const residual_row& r = report.residuals[report.largest_residual];
        json_open_object(w, json_key::largest_residual);
        json_member(w, json_key::name, to_utf8(r.name));
        json_member(w, json_key::length_m, r.length_m);
        json_close(w);
    } else {
        json_member(w, json_key::largest_residual, nullptr);
    }
    json_member(w, json_key::sigma0, report.sigma0);
    json_member(w, json_key::sigma0_sevenparam, report.sigma0_sevenparam);
    json_number_array(w, json_key::centroid_source, report.centroid_source);
    json_number_array(w, json_key::centroid_target, report.centroid_target);
    json_number_rows(w, json_key::correlation, report.correlation);
    json_member(w, json_key::linearisation_max_m, report.linearisation_max_m);
    json_member(w, json_key::linearisation_warning, report.linearisation_warning);

    json_open_object(w, json_key::parameters);
    estimated_set(w, report.parameters.value);
    json_open_object(w, json_key::sigma);
    estimated_set(w, report.parameters.sigma);
    json_close(w);
    json_close(w);
    bursa_wolf(w, json_key::bursa_wolf, report.bursa_wolf, 1);
    bursa_wolf(w, json_key::bursa_wolf_position_vector, report.bursa_wolf, -1);
    json_member(w, json_key::towgs84, report.towgs84);
    json_member(w, json_key::small_angle_exports_max_m, report.small_angle_exports_max_m);
    json_member(w, json_key::proj_helmert, report.proj_helmert);
    json_member(w, json_key::proj_molobadekas, report.proj_molobadekas);
    json_member(w, json_key::proj_pipeline, report.proj_pipeline);

    const residual_tests& t = report.tests;
    json_open_object(w, json_key::tests);
    json_member(w, json_key::alpha, t.alpha);
    if (t.alpha_family) {
        json_member(w, json_key::alpha_family, *t.alpha_family);
    }
    json_member(w, json_key::kind, t.test == residual_tests::kind::w ? "w" : "tau");
    json_member(w, json_key::critical_value, t.critical_value);
    if (t.global) {
        json_open_object(w, json_key::global);
        json_member(w, json_key::statistic, t.global->statistic);
        json_member(w, json_key::critical_value, t.global->critical_value);
        json_member(w, json_key::passed, t.global->passed);
        json_close(w);
    } else {
        json_member(w, json_key::global, nullptr);
    }
    json_close(w);

    json_open_array(w, json_key::excluded);
    for (const excluded_point& e : report.excluded) {
        json_open_object(w);
        json_member(w, json_key::name, to_utf8(e.name));
        json_member(w, json_key::reason,
                    e.why == excluded_point::reason::option ? "option" : "snooping");
        json_member(w, json_key::figure, e.figure ? json(*e.figure) : json(nullptr));
        json_close(w);
    }
    json_close(w);
    write_stochastic(w, report);
}

// Row members go through a small buffer and one append each: the residual
// array holds millions of them. A key longer than key_room takes the plain
// way.
constexpr std::size_t key_room = 24;

// Puts `"key": ` at `o` (key_room + 4 bytes at most); returns its end.
char* put_key(char* o, const char* name, std::size_t length)
{
    *o++ = '"';
    std::memcpy(o, name, length);
    o += length;
    std::memcpy(o, "\": ", 3);
    return o + 3;
}

// Appends `"key": ` to a row.
void key(std::string& line, const char* name)
{
    line += '"';
    line += name;
    line += "\": ";
}

void number(std::string& line, const char* name, double value)
{
    const std::size_t length = std::strlen(name);
    if (length > key_room) {
        key(line, name);
        append_json_number(line, value);
        line += ", ";
        return;
    }
    char buffer[key_room + 4 + json_number_capacity + 2];
    char* o = put_json_number(put_key(buffer, name, length), value);
    std::memcpy(o, ", ", 2);
    line.append(buffer, o + 2);
}

void triple(std::string& line, const char* name, const Eigen::Vector3d& v)
{
    const std::size_t length = std::strlen(name);
    char buffer[key_room + 4 + 1 + 3 * (json_number_capacity + 1) + 2];
    char* o = buffer;
    if (length > key_room) {
        key(line, name);
    } else {
        o = put_key(o, name, length);
    }
    *o++ = '[';
    for (int k = 0; k < 3; ++k) {
        o = put_json_number(o, v(k));
        *o++ = ',';
    }
    std::memcpy(o - 1, "], ", 3);
    line.append(buffer, o + 2);
}

// The members of a carried precision, after a ", ", none after them.
void precision_members(std::string& line, const carried_precision& p)
{
    line += ", ";
    triple(line, json_key::sigma_xyz_m, p.sigma_xyz_m);
    triple(line, json_key::sigma_enu_m, p.sigma_enu_m);
    key(line, json_key::covariance_xyz_m2);
    line += '[';
    for (int i = 0; i < 3; ++i) {
        line += '[';
        for (int k = 0; k < 3; ++k) {
            append_json_number(line, p.covariance_xyz_m2(i, k));
            line += k < 2 ? "," : "]";
        }
        line += i < 2 ? "," : "], ";
    }
    key(line, json_key::ellipse);
    line += '{';
    number(line, json_key::semi_major_m, p.ellipse.semi_major_m);
    number(line, json_key::semi_minor_m, p.ellipse.semi_minor_m);
    number(line, json_key::azimuth_deg, p.ellipse.azimuth_deg);
    key(line, json_key::confidence);
    append_json_number(line, ellipse_confidence);
    line += '}';
}

void name_of(std::string& line, const std::string& name)
{
    key(line, json_key::name);
    // Most names are printable ASCII without quotes or backslashes, which
    // stand in JSON as they are.
    const bool plain = std::all_of(name.begin(), name.end(), [](char c) {
        return c >= 0x20 && c < 0x7F && c != '"' && c != '\\';
    });
    if (plain) {
        line += '"';
        line += name;
        line += '"';
    } else {
        line += json(to_utf8(name)).dump(-1, ' ', false, json::error_handler_t::replace);
    }
    line += ", ";
}

// The members of residual row i. The robust weights and the adjusted points
// are by row, for the rows of the final set, which come first.
void residual_members(std::string& line, const quality_report& report, std::size_t i)
{
    const residual_row& r = report.residuals[i];
    name_of(line, r.name);
    triple(line, json_key::xyz_m, r.xyz_m);
    triple(line, json_key::enu_m, r.enu_m);
    number(line, json_key::length_m, r.length_m);
    triple(line, json_key::redundancy, r.redundancy);
    triple(line, json_key::w, r.w);
    number(line, json_key::figure, r.figure);
    key(line, json_key::flagged);
    line += r.flagged ? "true, " : "false, ";
    triple(line, json_key::mdb_m, r.mdb_m);
    triple(line, json_key::check_m, r.check_m);
    key(line, json_key::removed);
    line += r.removed ? "true" : "false";
    if (report.robust) {
        const std::vector<double>& weights = report.robust->weights;
        line += ", ";
        key(line, json_key::weight);
        append_json_number(line, !r.removed && i < weights.size()
                                     ? weights[i]
                                     : std::numeric_limits<double>::quiet_NaN());
    }
    if (i < report.adjusted.size()) {
        const adjusted_point& a = report.adjusted[i];
        line += ", ";
        triple(line, json_key::source_residual_m, a.source_residual_m);
        triple(line, json_key::target_residual_m, a.target_residual_m);
        triple(line, json_key::source_adjusted_m, a.source_m);
        triple(line, json_key::target_adjusted_m, a.target_m);
        line.resize(line.size() - 2); // the last ", "
    }
    if (i < report.common_precision.size()) {
        precision_members(line, report.common_precision[i]);
    }
}

// One array of rows, each row's object on a line of its own.
template <typename Row, typename Write>
void write_rows(std::ostream& out, const char* name, const std::vector<Row>& rows, Write write_row,
                unsigned threads)
{
    json_row_array(out, name, rows.size(), threads,
                   [&](std::string& line, std::size_t i) { write_row(line, rows[i]); });
}

} // namespace

void write_json_report(std::ostream& out, const quality_report& report, const std::string& version,
                       unsigned threads, const std::function<void(std::ostream&)>& more)
{
    // Pretty-printed, but an array of numbers stays on one line (a matrix one
    // row a line), and the object stays open for the long arrays.
    json_writer head;
    json_open_object(head);
    write_head(head, report, version);
    out << head.text;

    json_row_array(
        out, json_key::residuals, report.residuals.size(), threads,
        [&report](std::string& line, std::size_t i) { residual_members(line, report, i); });
    write_rows(
        out, json_key::predictions, report.predictions,
        [](std::string& line, const prediction_row& p) {
            name_of(line, p.name);
            key(line, json_key::xyz_m);
            line += '[';
            for (int k = 0; k < 3; ++k) {
                append_json_number(line, p.xyz_m(k));
                line += k < 2 ? "," : "]";
            }
            precision_members(line, p.precision);
        },
        threads);
    if (more) {
        more(out);
    }
    out << "\n}\n";
}

} // namespace sevenparam
