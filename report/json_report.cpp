#include "report/json_report.h"

#include "quality/exports.h"
#include "report/number_format.h"
#include "report/report_options.h"
#include "report/text_encoding.h"

#include <nlohmann/json.hpp>

#include <algorithm>
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

constexpr char indent[] = "    ";

template <typename Vector> json array_of(const Vector& v)
{
    json a = json::array();
    for (Eigen::Index i = 0; i < v.size(); ++i) {
        a.push_back(v(i));
    }
    return a;
}

json estimated_set(const parameter_vector& p)
{
    json o;
    for (int k = 0; k < 7; ++k) {
        o[json_key::estimated[k]] = p(k);
    }
    for (int k = 0; k < 3; ++k) {
        o[json_key::estimated_alt[k]] = p(3 + k) * arcsec_per_rad;
    }
    o[json_key::estimated_alt[3]] = p(6) * ppm_per_ratio;
    return o;
}

json origin_set(const Eigen::Vector3d& t, const Eigen::Vector3d& r, double s)
{
    json o;
    for (int k = 0; k < 3; ++k) {
        o[json_key::origin_based[k]] = t(k);
    }
    for (int k = 0; k < 3; ++k) {
        o[json_key::origin_based[3 + k]] = r(k);
    }
    o[json_key::origin_based[6]] = s;
    return o;
}

json bursa_wolf(const bursa_wolf_set& bw, double rotation_sign)
{
    json o = origin_set(bw.translation_m, rotation_sign * bw.rotation_arcsec, bw.scale_ppm);
    o[json_key::sigma] =
        origin_set(bw.sigma_translation_m, bw.sigma_rotation_arcsec, bw.sigma_scale_ppm);
    return o;
}

json head_of(const quality_report& report, const std::string& version)
{
    json o;
    o[json_key::program] = report_program_name;
    o[json_key::version] = version;
    o[json_key::rotation] =
        report.model == rotation_model::exact ? rotation_exact : rotation_linearised;
    o[json_key::common_points] = report.common_points;
    o[json_key::redundancy] = report.redundancy;
    o[json_key::iterations] = report.iterations;
    o[json_key::last_measure] = report.last_measure;
    o[json_key::reciprocal_condition] = report.reciprocal_condition;
    if (report.largest_residual < report.residuals.size()) {
        const residual_row& r = report.residuals[report.largest_residual];
        o[json_key::largest_residual] = {{json_key::name, to_utf8(r.name)},
                                         {json_key::length_m, r.length_m}};
    } else {
        o[json_key::largest_residual] = nullptr;
    }
    o[json_key::sigma0] = report.sigma0;
    o[json_key::sigma0_sevenparam] = report.sigma0_sevenparam;
    o[json_key::centroid_source] = array_of(report.centroid_source);
    o[json_key::centroid_target] = array_of(report.centroid_target);
    json correlation = json::array();
    for (int i = 0; i < 7; ++i) {
        correlation.push_back(array_of(report.correlation.row(i)));
    }
    o[json_key::correlation] = correlation;
    o[json_key::linearisation_max_m] = report.linearisation_max_m;
    o[json_key::linearisation_warning] = report.model == rotation_model::linearised &&
                                         report.linearisation_max_m > linearisation_warning_m;

    json parameters = estimated_set(report.parameters.value);
    parameters[json_key::sigma] = estimated_set(report.parameters.sigma);
    o[json_key::parameters] = parameters;
    o[json_key::bursa_wolf] = bursa_wolf(report.bursa_wolf, 1);
    o[json_key::bursa_wolf_position_vector] = bursa_wolf(report.bursa_wolf, -1);
    o[json_key::towgs84] = report.towgs84;
    o[json_key::small_angle_exports_max_m] = report.small_angle_exports_max_m;
    o[json_key::proj_helmert] = report.proj_helmert;
    o[json_key::proj_molobadekas] = report.proj_molobadekas;
    o[json_key::proj_pipeline] = report.proj_pipeline;

    const residual_tests& t = report.tests;
    json tests = {{json_key::alpha, t.alpha},
                  {json_key::kind, t.test == residual_tests::kind::w ? "w" : "tau"},
                  {json_key::critical_value, t.critical_value}};
    if (t.global) {
        tests[json_key::global] = {{json_key::statistic, t.global->statistic},
                                   {json_key::critical_value, t.global->critical_value},
                                   {json_key::passed, t.global->passed}};
    } else {
        tests[json_key::global] = nullptr;
    }
    o[json_key::tests] = tests;

    json excluded = json::array();
    for (const excluded_point& e : report.excluded) {
        json item = {
            {json_key::name, to_utf8(e.name)},
            {json_key::reason, e.why == excluded_point::reason::option ? "option" : "snooping"}};
        item[json_key::figure] = e.figure ? json(*e.figure) : json(nullptr);
        excluded.push_back(item);
    }
    o[json_key::excluded] = excluded;
    return o;
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
    key(line, name);
    append_json_number(line, value);
    line += ", ";
}

void triple(std::string& line, const char* name, const Eigen::Vector3d& v)
{
    key(line, name);
    line += '[';
    for (int k = 0; k < 3; ++k) {
        append_json_number(line, v(k));
        line += k < 2 ? "," : "], ";
    }
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
void write_rows(std::ostream& out, const char* name, const std::vector<Row>& rows, Write write_row)
{
    out << ",\n  \"" << name << "\": [";
    std::string line;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        line.assign(i == 0 ? "\n" : ",\n");
        line += indent;
        line += '{';
        write_row(line, rows[i]);
        line += '}';
        out.write(line.data(), static_cast<std::streamsize>(line.size()));
    }
    out << (rows.empty() ? "]" : "\n  ]");
}

} // namespace

void write_json_report(std::ostream& out, const quality_report& report, const std::string& version,
                       const std::function<void(std::ostream&)>& more)
{
    // Pretty-printed, but an array of numbers stays on one line (a matrix one
    // row a line), and the object stays open for the long arrays.
    const auto dump = [](const json& value, int indent) {
        std::string text = value.dump(indent, ' ', false, json::error_handler_t::replace);
        std::string shifted;
        for (const char c : text) {
            shifted += c;
            if (c == '\n') {
                shifted += "  ";
            }
        }
        return shifted;
    };
    const json whole_head = head_of(report, version);
    std::string head = "{";
    for (const auto& item : whole_head.items()) {
        head += head.size() == 1 ? "\n  " : ",\n  ";
        head += json(item.key()).dump() + ": ";
        const json& value = item.value();
        if (value.is_array() && !value.empty() && value[0].is_array()) {
            head += "[";
            for (std::size_t i = 0; i < value.size(); ++i) {
                head += (i == 0 ? "\n    " : ",\n    ") + dump(value[i], -1);
            }
            head += "\n  ]";
        } else if (value.is_array() && !value.empty() && value[0].is_number()) {
            head += dump(value, -1);
        } else {
            head += dump(value, 2);
        }
    }
    out << head;

    write_rows(out, json_key::residuals, report.residuals,
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
               });
    write_rows(out, json_key::predictions, report.predictions,
               [](std::string& line, const prediction_row& p) {
                   name_of(line, p.name);
                   key(line, json_key::xyz_m);
                   line += '[';
                   for (int k = 0; k < 3; ++k) {
                       append_json_number(line, p.xyz_m(k));
                       line += k < 2 ? "," : "]";
                   }
               });
    if (more) {
        more(out);
    }
    out << "\n}\n";
}

} // namespace sevenparam
