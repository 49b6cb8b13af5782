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

    write_rows(
        out, json_key::residuals, report.residuals,
        [](std::string& line, const residual_row& r) {
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
        },
        threads);
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
        },
        threads);
    if (more) {
        more(out);
    }
    out << "\n}\n";
}

} // namespace sevenparam
