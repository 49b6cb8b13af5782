#include "report/text_report.h"

#include "estimation/chunks.h"
#include "numlist/message_excerpt.h"
#include "quality/exports.h"
#include "report/number_format.h"
#include "report/report_options.h"
#include "report/row_blocks.h"
#include "report/text_encoding.h"
#include "report/warnings.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <ostream>
#include <string_view>
#include <vector>

namespace sevenparam {

namespace {

using row = std::vector<std::string>;

constexpr char indent[] = "  ";
constexpr char gap[] = "  ";
constexpr const char* parameter_names[] = {"tx", "ty", "tz", "ex", "ey", "ez", "m"};

std::string shortest(double value)
{
    std::string text;
    append_shortest(text, value);
    return text;
}

std::string fixed(double value, int decimals)
{
    std::string text;
    append_fixed(text, value, decimals);
    return text;
}

std::string significant(double value, int digits = 3)
{
    std::string text;
    append_significant(text, value, digits);
    return text;
}

void pad(std::string& line, std::size_t count)
{
    line.append(count, ' ');
}

// A point name as the text shows it: its bytes, each control byte as \xHH.
// `storage` holds the escaped form when there is one.
std::string_view shown_name(const std::string& name, std::string& storage)
{
    if (!has_control_bytes(name)) {
        return name;
    }
    storage = escape_control_bytes(name);
    return storage;
}

// Whether a name is printable ASCII only: shown as it is, a column a byte.
// Most names are, and the tables of a large network look at every row's.
bool plain_name(std::string_view name)
{
    for (const char c : name) {
        if (static_cast<unsigned char>(c) - 0x20u > 0x7Eu - 0x20u) {
            return false;
        }
    }
    return true;
}

std::string shown_name(const std::string& name)
{
    std::string storage;
    return std::string(shown_name(name, storage));
}

// A small table: every column as wide as its widest cell; `aligns` holds 'l'
// or 'r' per column, or 'n' for a column of point names (left-aligned, at
// most name_column_width wide: a wider name ends its line, and the row goes
// on in the next line under the next column). Trailing blanks are cut.
void write_table(std::ostream& out, const std::vector<row>& rows, const std::string& aligns)
{
    std::vector<std::size_t> widths(aligns.size(), 0);
    for (const row& cells : rows) {
        for (std::size_t c = 0; c < cells.size(); ++c) {
            const std::size_t width = display_width(cells[c]);
            widths[c] =
                std::max(widths[c], aligns[c] == 'n' ? std::min(width, name_column_width) : width);
        }
    }
    for (const row& cells : rows) {
        std::string line = indent;
        std::size_t position = std::size(indent) - 1; // columns of `line`
        for (std::size_t c = 0; c < cells.size(); ++c) {
            if (widths[c] == 0) {
                continue;
            }
            const std::size_t width = display_width(cells[c]);
            if (width > widths[c]) {
                line += cells[c];
                line.erase(line.find_last_not_of(' ') + 1);
                out << line << '\n';
                line.assign(position + widths[c], ' ');
            } else if (aligns[c] == 'r') {
                pad(line, widths[c] - width);
                line += cells[c];
            } else {
                line += cells[c];
                pad(line, widths[c] - width);
            }
            // A unit column ('u') follows its number after one blank.
            const char* after = c + 1 < aligns.size() && aligns[c + 1] == 'u' ? " " : gap;
            line += after;
            position += widths[c] + std::strlen(after);
        }
        line.erase(line.find_last_not_of(' ') + 1);
        out << line << '\n';
    }
}

void heading(std::ostream& out, const std::string& text)
{
    out << '\n' << text << '\n';
}

void write_summary(std::ostream& out, const quality_report& report)
{
    heading(out, "Summary");
    std::vector<row> rows = {
        {"common points", std::to_string(report.common_points)},
        {"redundancy (3n - 7)", std::to_string(report.redundancy)},
        {"rotation model", report.model == rotation_model::exact ? "exact" : "linearised"},
        {"iterations", std::to_string(report.iterations)},
        {"last convergence measure",
         significant(report.last_measure) + " (sum of |corrections|, m and rad)"},
        {"reciprocal condition number",
         significant(report.reciprocal_condition) + " (normal matrix scaled to a unit diagonal)"},
    };
    if (report.largest_residual < report.residuals.size()) {
        const residual_row& largest = report.residuals[report.largest_residual];
        rows.push_back(
            {"largest residual", fixed(largest.length_m, 4) + " m at " + shown_name(largest.name)});
    }
    write_table(out, rows, "ll");
    for (const std::string& warning : report_warnings(report)) {
        out << indent << "WARNING: " << warning << '\n';
    }
}

void write_parameters(std::ostream& out, const quality_report& report)
{
    heading(out, "Parameters as estimated (centroid-based, coordinate frame; p' = ave_tar + t + "
                 "(1 + m) R (p - ave_src))");
    std::vector<row> rows = {{"", "value", "", "", "", "standard error", "", "", ""}};
    const parameter_set& p = report.parameters;
    for (int k = 0; k < 7; ++k) {
        const double value = p.value(k);
        const double sigma = p.sigma(k);
        if (k < 3) {
            rows.push_back({parameter_names[k], shortest(value), "m", "", "", significant(sigma),
                            "m", "", ""});
        } else if (k < 6) {
            rows.push_back({parameter_names[k], shortest(value), "rad",
                            shortest(value * arcsec_per_rad), "arcsec", significant(sigma), "rad",
                            significant(sigma * arcsec_per_rad), "arcsec"});
        } else {
            rows.push_back({parameter_names[k], shortest(value), "(ratio)",
                            shortest(value * ppm_per_ratio), "ppm", significant(sigma), "(ratio)",
                            significant(sigma * ppm_per_ratio), "ppm"});
        }
    }
    write_table(out, rows, "lrurururu");

    heading(out, "Centroids");
    std::vector<row> centroids = {{"", "X", "", "Y", "", "Z", ""}};
    const auto centroid = [&](const char* label, const point_row& c) {
        centroids.push_back({label, shortest(c(0)), "m", shortest(c(1)), "m", shortest(c(2)), "m"});
    };
    centroid("source (ave_src)", report.centroid_source);
    centroid("target (ave_tar)", report.centroid_target);
    write_table(out, centroids, "lrururu");
}

void write_precision(std::ostream& out, const quality_report& report)
{
    heading(out, "Precision");
    const row sigma0 = report.stochastic.weighted
                           ? row{"sigma0", shortest(report.sigma0), "(unitless)",
                                 "sqrt(v'Pv / (3n - 7)), the square root of the variance factor"}
                           : row{"sigma0", shortest(report.sigma0), "m",
                                 "sqrt(v'v / (3n - 7)), residuals after the final correction"};
    write_table(out,
                {sigma0,
                 {"sigma0 as sevenparam prints it", shortest(report.sigma0_sevenparam), "m",
                  "sqrt(v'v / 2), misclosures of the last iteration"}},
                "lrul");
    if (report.stochastic.weighted) {
        out << indent
            << "standard errors take the a-priori variance factor 1 (the given precisions as "
               "they are), not sigma0\n";
    }
    out << indent << "correlation of the parameters (unitless)\n";
    std::vector<row> rows = {{""}};
    for (const char* name : parameter_names) {
        rows[0].push_back(name);
    }
    for (int i = 0; i < 7; ++i) {
        row cells = {parameter_names[i]};
        for (int j = 0; j < 7; ++j) {
            cells.push_back(fixed(report.correlation(i, j), 3));
        }
        rows.push_back(cells);
    }
    write_table(out, rows, "lrrrrrrr");
}

void write_bursa_wolf(std::ostream& out, const quality_report& report)
{
    heading(out, "Origin-based seven parameters (Bursa-Wolf; p' = T + (1 + m) R p)");
    const bursa_wolf_set& bw = report.bursa_wolf;
    std::vector<row> rows = {
        {"", "coordinate frame", "", "position vector", "", "standard error", ""}};
    const char* translation_names[] = {"tx", "ty", "tz"};
    const char* rotation_names[] = {"rx", "ry", "rz"};
    for (int k = 0; k < 3; ++k) {
        const std::string t = shortest(bw.translation_m(k));
        rows.push_back(
            {translation_names[k], t, "m", t, "m", significant(bw.sigma_translation_m(k)), "m"});
    }
    for (int k = 0; k < 3; ++k) {
        rows.push_back({rotation_names[k], shortest(bw.rotation_arcsec(k)), "arcsec",
                        shortest(-bw.rotation_arcsec(k)), "arcsec",
                        significant(bw.sigma_rotation_arcsec(k)), "arcsec"});
    }
    const std::string s = shortest(bw.scale_ppm);
    rows.push_back({"s", s, "ppm", s, "ppm", significant(bw.sigma_scale_ppm), "ppm"});
    write_table(out, rows, "lrururu");

    heading(out, "PROJ (each text ready for cct)");
    const auto text = [&](const char* label, const std::string& value) {
        out << indent << label << '\n' << indent << indent << value << '\n';
    };
    text("+towgs84 (position vector; m, arcsec, ppm):", report.towgs84);
    if (report.small_angle_exports_max_m > linearisation_warning_m) {
        out << indent
            << "WARNING: +towgs84 and the position-vector set take the small-angle "
               "rotation; with these angles they miss the exact transformation by up to "
            << significant(report.small_angle_exports_max_m)
            << " m at the common points: use the texts below\n";
    }
    text("origin-based, +proj=helmert:", report.proj_helmert);
    text("centroid form, +proj=molobadekas:", report.proj_molobadekas);
    text("centroid form as a pipeline:", report.proj_pipeline);
}

void write_linearisation(std::ostream& out, const quality_report& report)
{
    heading(out, "Linearisation check");
    write_table(
        out,
        {{"largest distance between the linearised and the exact rotation",
          significant(report.linearisation_max_m) + " m", "(over the centred common points)"}},
        "lll");
}

// The global test's statistic: v'v / S^2, or v'Pv with precisions given
// (the a-priori variance factor 1).
std::string global_statistic_label(const quality_report& report)
{
    return report.stochastic.weighted ? "v'Pv" : "v'v / S^2";
}

std::string global_test_text(const quality_report& report)
{
    const global_test& g = *report.tests.global;
    return global_statistic_label(report) + " = " + fixed(g.statistic, 3) + ", critical value " +
           fixed(g.critical_value, 3) + " (chi-square, " + std::to_string(report.redundancy) +
           " degrees of freedom): " + (g.passed ? "passed" : "FAILED");
}

// The stochastic model, the variance components and the robust estimation,
// each when the report has it.
void write_stochastic(std::ostream& out, const quality_report& report)
{
    const stochastic_model& s = report.stochastic;
    if (s.weighted) {
        heading(out, "Stochastic model");
        const char* given = s.source_precision && s.target_precision
                                ? "source and target points (errors in both systems)"
                            : s.source_precision
                                ? "source points only (the target taken as free of errors)"
                                : "target points only (the source taken as free of errors)";
        std::vector<row> rows = {
            {"precisions given", given},
            {"sigma0", shortest(report.sigma0) +
                           " (unitless: the square root of the variance factor v'Pv / (3n - 7))"},
        };
        if (report.tests.global) {
            rows.push_back({"global test", global_test_text(report) +
                                               " (does the variance factor agree with 1?)"});
        }
        rows.push_back({"standard errors", "of the parameters, w-tests and MDBs with the "
                                           "a-priori variance factor 1"});
        write_table(out, rows, "ll");
    }
    if (report.variance_components) {
        const variance_component_estimate& v = *report.variance_components;
        heading(out, "Variance components");
        write_table(
            out,
            {{"source factor", shortest(v.source_factor),
              "(unitless; multiplies the variances of the source points)"},
             {"target factor", shortest(v.target_factor),
              "(unitless; multiplies the variances of the target points)"},
             {"sigma0 before the refit", shortest(v.sigma0_before),
              "(unitless; the square root of the variance factor with the precisions as given)"},
             {"iterations", std::to_string(v.iterations), ""}},
            "lrl");
        out << indent
            << "this report is that of the refit with the precisions scaled by these factors\n";
    }
    if (report.robust) {
        const robust_summary& r = *report.robust;
        heading(out, "Robust estimation");
        std::string blunders;
        for (const std::size_t i : r.blunders) {
            if (i < report.residuals.size()) {
                blunders += (blunders.empty() ? "" : ", ") + shown_name(report.residuals[i].name);
            }
        }
        write_table(
            out,
            {{"estimator", std::string(robust_estimator_name(r.estimator)) + ", constant " +
                               shortest(r.constant) + " (standardised residual)"},
             {"iterations", std::to_string(r.iterations)},
             {"likely blunders", (blunders.empty() ? std::string("none") : blunders) +
                                     " (final weight below " + shortest(blunder_weight) + ")"}},
            "ll");
        out << indent << "each point's final weight (0 to 1) is in the residual table\n";
    }
}

void write_test_settings(std::ostream& out, const quality_report& report)
{
    heading(out, "Residual tests");
    const residual_tests& t = report.tests;
    const bool w = t.test == residual_tests::kind::w;
    std::size_t flagged = 0;
    for (const residual_row& r : report.residuals) {
        flagged += r.flagged && !r.removed ? 1 : 0;
    }
    std::vector<row> rows = {
        {"test", report.stochastic.weighted
                     ? "w-test (the given precisions, variance factor 1, normal distribution)"
                 : w ? "w-test (a-priori standard error given, normal distribution)"
                     : "Pope's tau-test (standard error sigma0, tau distribution)"},
        {"significance alpha", shortest(t.alpha) + " per coordinate, two-sided"},
        {"critical value", fixed(t.critical_value, 3) + " (unitless)"},
    };
    if (t.alpha_family) {
        rows.insert(rows.begin() + 2,
                    {"familywise significance",
                     shortest(*t.alpha_family) + " over the " +
                         std::to_string(3 * report.common_points) +
                         " tests; each takes 1 - (1 - " + shortest(*t.alpha_family) +
                         ")^(1/3n) (Sidak)"});
    }
    if (t.global) {
        rows.push_back({"global test", global_test_text(report)});
    } else {
        rows.push_back({"global test", "not made (needs an a-priori standard error, --sigma)"});
    }
    rows.push_back({"flagged points", std::to_string(flagged)});
    write_table(out, rows, "ll");
}

// One column of a long table: heading, decimals and the value of a row.
template <typename Row> struct column {
    const char* heading;
    int decimals;
    double (*value)(const Row&);
    bool test = false; // a test figure, which a removed point lacks
    // Instead of value: one figure per row in table order, NaN (a dash)
    // for the rows beyond its end.
    const std::vector<double>* per_row = nullptr;
};

template <typename Row> double value_of(const column<Row>& c, const Row& r, std::size_t i)
{
    if (c.per_row) {
        return i < c.per_row->size() ? (*c.per_row)[i] : std::nan("");
    }
    return c.value(r);
}

// The width of the column's widest number, from its largest magnitude, so
// that no value is formatted twice.
std::size_t number_width(double largest, bool negative, int decimals)
{
    std::string text;
    append_fixed(text, largest, decimals);
    return text.size() + (negative ? 1 : 0);
}

bool removed(const residual_row& r)
{
    return r.removed;
}
bool removed(const prediction_row&)
{
    return false;
}
const char* note_of(const residual_row& r)
{
    return r.removed ? "removed" : r.flagged ? "FLAGGED" : "";
}
const char* note_of(const prediction_row&)
{
    return "";
}

// A row of a table of common points whose figures stand apart from their
// residual rows: the point's name, its figures and the residual row's note.
template <typename Figures> struct named_row {
    const std::string& name;
    const Figures& figures;
    const char* note = "";
};
template <typename Figures> bool removed(const named_row<Figures>&)
{
    return false;
}
template <typename Figures> const char* note_of(const named_row<Figures>& r)
{
    return r.note;
}

// A table of one row per point, which may hold millions: written line by line.
template <typename Row>
void write_long_table(std::ostream& out, const std::vector<Row>& rows,
                      const std::vector<column<Row>>& columns, unsigned threads)
{
    // The widths from one pass over the rows, by chunks on the threads; the
    // largest magnitudes do not depend on the order they are taken in.
    struct extent {
        std::size_t name_width = 5; // "point"
        std::vector<double> largest;
        std::vector<char> negative;
        bool notes = false;
    };
    std::vector<extent> extents(std::max<std::size_t>(1, chunk_count(rows.size())));
    for (extent& e : extents) {
        e.largest.assign(columns.size(), 0.0);
        e.negative.assign(columns.size(), 0);
    }
    for_each_chunk(rows.size(), threads, [&](std::size_t chunk, std::size_t begin, std::size_t end) {
        extent& e = extents[chunk];
        std::string storage;
        for (std::size_t i = begin; i < end; ++i) {
            const Row& r = rows[i];
            // The widest name up to the limit; a wider one stands on a line
            // of its own, so that one long name does not widen every row.
            const std::size_t width = plain_name(r.name)
                                          ? r.name.size()
                                          : display_width(shown_name(r.name, storage));
            e.name_width = std::max(e.name_width, std::min(width, name_column_width));
            for (std::size_t k = 0; k < columns.size(); ++k) {
                const double v = value_of(columns[k], r, i);
                if (std::isfinite(v)) {
                    e.largest[k] = std::max(e.largest[k], std::fabs(v));
                    e.negative[k] = e.negative[k] || v < 0;
                }
            }
            e.notes = e.notes || *note_of(r);
        }
    });
    std::size_t name_width = 5;
    bool notes = false;
    for (const extent& e : extents) {
        name_width = std::max(name_width, e.name_width);
        notes = notes || e.notes;
    }
    std::vector<std::size_t> widths;
    for (std::size_t k = 0; k < columns.size(); ++k) {
        double largest = 0;
        bool negative = false;
        for (const extent& e : extents) {
            largest = std::max(largest, e.largest[k]);
            negative = negative || e.negative[k];
        }
        widths.push_back(std::max({std::string(columns[k].heading).size(),
                                   number_width(largest, negative, columns[k].decimals),
                                   std::size_t{4}}));
    }

    std::string line = indent;
    line += "point";
    pad(line, name_width - 5);
    for (std::size_t k = 0; k < columns.size(); ++k) {
        line += gap;
        pad(line, widths[k] - std::string(columns[k].heading).size());
        line += columns[k].heading;
    }
    if (notes) {
        line += gap;
        line += "note";
    }
    line += '\n';
    out << line;

    // Rows go into one buffer per block of rows (report/row_blocks.h), made
    // on several threads: no string or stream call per cell.
    // The most a row takes besides its name's bytes: no number is wider than
    // its column.
    std::size_t row_bound = std::size(indent) + name_width + std::size(gap) + 8 + 1; // note, \n
    for (const std::size_t w : widths) {
        row_bound += std::size(gap) + w;
    }
    const auto format_rows = [&](std::size_t begin, std::size_t end, std::string& text) {
        // A name as shown takes at most 4 bytes a byte (\xHH), and a long
        // one a line of its own.
        std::size_t bound = 0;
        for (std::size_t i = begin; i < end; ++i) {
            bound += row_bound + 4 * rows[i].name.size() + std::size(indent);
        }
        const std::size_t start = text.size();
        text.resize(start + bound);
        char* o = text.data() + start;
        const auto put = [&o](const char* t, std::size_t length) {
            std::memcpy(o, t, length);
            o += length;
        };
        const auto spaces = [&o](std::size_t count) {
            std::memset(o, ' ', count);
            o += count;
        };
        std::string storage;
        for (std::size_t i = begin; i < end; ++i) {
            const Row& r = rows[i];
            const bool plain = plain_name(r.name);
            const std::string_view name = plain ? r.name : shown_name(r.name, storage);
            put(indent, std::size(indent) - 1);
            put(name.data(), name.size());
            const std::size_t name_shown_width = plain ? name.size() : display_width(name);
            if (name_shown_width > name_width) {
                *o++ = '\n';
                put(indent, std::size(indent) - 1);
                spaces(name_width);
            } else {
                spaces(name_width - name_shown_width);
            }
            for (std::size_t k = 0; k < columns.size(); ++k) {
                // Right-aligned: blanks, then the number written backwards from
                // the column's end. The width came from the column's largest
                // magnitude, so no number is wider.
                const std::size_t width = std::size(gap) - 1 + widths[k];
                spaces(width);
                const double value = value_of(columns[k], r, i);
                // A removed point has no test figures; an undefined one is NaN.
                if ((columns[k].test && removed(r)) || std::isnan(value)) {
                    o[-1] = '-';
                } else {
                    format_fixed_before(o, value, columns[k].decimals);
                }
            }
            if (const char* note = note_of(r); *note) {
                put(gap, std::size(gap) - 1);
                put(note, std::strlen(note));
            }
            *o++ = '\n';
        }
        text.resize(static_cast<std::size_t>(o - text.data()));
    };
    write_row_blocks(out, rows.size(), threads, format_rows);
}

void write_residuals(std::ostream& out, const quality_report& report, unsigned threads)
{
    heading(out, "Residuals v = target - transformed source (X, Y, Z; east, north, up at the "
                 "target point on GRS80)");
    using r = const residual_row&;
    std::vector<column<residual_row>> residual_columns = {
        {"vX (m)", 4, [](r x) { return x.xyz_m(0); }, false},
        {"vY (m)", 4, [](r x) { return x.xyz_m(1); }, false},
        {"vZ (m)", 4, [](r x) { return x.xyz_m(2); }, false},
        {"vE (m)", 4, [](r x) { return x.enu_m(0); }, false},
        {"vN (m)", 4, [](r x) { return x.enu_m(1); }, false},
        {"vU (m)", 4, [](r x) { return x.enu_m(2); }, false},
        {"|v| (m)", 4, [](r x) { return x.length_m; }, false}};
    if (report.robust) {
        // The final weight of robust estimation; a point left out has none.
        residual_columns.push_back({"weight", 3, nullptr, true, &report.robust->weights});
    }
    write_long_table<residual_row>(out, report.residuals, residual_columns, threads);

    heading(out, "Tests per point (redundancy numbers r and standardised residuals w unitless; "
                 "figure = largest |w|; MDB = minimal detectable bias; check = residual had the "
                 "point been left out)");
    write_long_table<residual_row>(out, report.residuals,
                                   {{"rX", 3, [](r x) { return x.redundancy(0); }, true},
                                    {"rY", 3, [](r x) { return x.redundancy(1); }, true},
                                    {"rZ", 3, [](r x) { return x.redundancy(2); }, true},
                                    {"wX", 2, [](r x) { return x.w(0); }, true},
                                    {"wY", 2, [](r x) { return x.w(1); }, true},
                                    {"wZ", 2, [](r x) { return x.w(2); }, true},
                                    {"figure", 2, [](r x) { return x.figure; }, true},
                                    {"MDB X (m)", 4, [](r x) { return x.mdb_m(0); }, true},
                                    {"MDB Y (m)", 4, [](r x) { return x.mdb_m(1); }, true},
                                    {"MDB Z (m)", 4, [](r x) { return x.mdb_m(2); }, true},
                                    {"check X (m)", 4, [](r x) { return x.check_m(0); }, true},
                                    {"check Y (m)", 4, [](r x) { return x.check_m(1); }, true},
                                    {"check Z (m)", 4, [](r x) { return x.check_m(2); }, true}},
                                   threads);
}

// With precisions: each common point of the final set observed minus
// adjusted in both systems, and its adjusted coordinates.
void write_adjusted(std::ostream& out, const quality_report& report, unsigned threads)
{
    if (report.adjusted.empty()) {
        return;
    }
    using point = named_row<adjusted_point>;
    std::vector<point> rows;
    rows.reserve(report.adjusted.size());
    for (std::size_t i = 0; i < report.adjusted.size() && i < report.residuals.size(); ++i) {
        rows.push_back(
            {report.residuals[i].name, report.adjusted[i], note_of(report.residuals[i])});
    }
    using r = const point&;
    heading(out, "Residuals in both systems, observed - adjusted (X, Y, Z)");
    write_long_table<point>(
        out, rows,
        {{"source vX (m)", 4, [](r x) { return x.figures.source_residual_m(0); }},
         {"source vY (m)", 4, [](r x) { return x.figures.source_residual_m(1); }},
         {"source vZ (m)", 4, [](r x) { return x.figures.source_residual_m(2); }},
         {"target vX (m)", 4, [](r x) { return x.figures.target_residual_m(0); }},
         {"target vY (m)", 4, [](r x) { return x.figures.target_residual_m(1); }},
         {"target vZ (m)", 4, [](r x) { return x.figures.target_residual_m(2); }}},
        threads);
    heading(out, "Adjusted coordinates in both systems (X, Y, Z)");
    write_long_table<point>(out, rows,
                            {{"source X (m)", 4, [](r x) { return x.figures.source_m(0); }},
                             {"source Y (m)", 4, [](r x) { return x.figures.source_m(1); }},
                             {"source Z (m)", 4, [](r x) { return x.figures.source_m(2); }},
                             {"target X (m)", 4, [](r x) { return x.figures.target_m(0); }},
                             {"target Y (m)", 4, [](r x) { return x.figures.target_m(1); }},
                             {"target Z (m)", 4, [](r x) { return x.figures.target_m(2); }}},
                            threads);
}

const carried_precision& precision_of(const prediction_row& r)
{
    return r.precision;
}
const carried_precision& precision_of(const named_row<carried_precision>& r)
{
    return r.figures;
}

// The columns of a point's carried precision: standard errors along X, Y, Z
// and east, north, up, and the horizontal error ellipse.
template <typename Row> std::vector<column<Row>> precision_columns()
{
    using r = const Row&;
    return {{"sX (m)", 4, [](r x) { return precision_of(x).sigma_xyz_m(0); }},
            {"sY (m)", 4, [](r x) { return precision_of(x).sigma_xyz_m(1); }},
            {"sZ (m)", 4, [](r x) { return precision_of(x).sigma_xyz_m(2); }},
            {"sE (m)", 4, [](r x) { return precision_of(x).sigma_enu_m(0); }},
            {"sN (m)", 4, [](r x) { return precision_of(x).sigma_enu_m(1); }},
            {"sU (m)", 4, [](r x) { return precision_of(x).sigma_enu_m(2); }},
            {"major (m)", 4, [](r x) { return precision_of(x).ellipse.semi_major_m; }},
            {"minor (m)", 4, [](r x) { return precision_of(x).ellipse.semi_minor_m; }},
            {"azimuth (deg)", 1,
             [](r x) { return axis_azimuth_shown(precision_of(x).ellipse.azimuth_deg, 1); }}};
}

// The heading of a table of carried precision.
std::string precision_heading(const char* points)
{
    return std::string("Precision of ") + points +
           " (standard errors; horizontal error ellipse at " +
           significant(ellipse_confidence * 100, 6) +
           " % confidence: semi-axes, azimuth of the major axis clockwise from north)";
}

// With precisions: every common point as transformed, removed ones too.
void write_common_precision(std::ostream& out, const quality_report& report, unsigned threads)
{
    if (report.common_precision.empty()) {
        return;
    }
    using point = named_row<carried_precision>;
    std::vector<point> rows;
    rows.reserve(report.common_precision.size());
    for (std::size_t i = 0; i < report.common_precision.size() && i < report.residuals.size();
         ++i) {
        rows.push_back(
            {report.residuals[i].name, report.common_precision[i], note_of(report.residuals[i])});
    }
    heading(out, precision_heading("the common points as transformed"));
    write_long_table<point>(out, rows, precision_columns<point>(), threads);
}

void write_excluded(std::ostream& out, const quality_report& report)
{
    heading(out, "Points left out, in order");
    if (report.excluded.empty()) {
        out << indent << "none\n";
        return;
    }
    std::vector<row> rows;
    for (std::size_t i = 0; i < report.excluded.size(); ++i) {
        const excluded_point& e = report.excluded[i];
        std::string reason =
            e.why == excluded_point::reason::option ? "given with --exclude" : "data snooping";
        if (e.figure) {
            reason += ", figure " + fixed(*e.figure, 2);
        }
        rows.push_back({std::to_string(i + 1), shown_name(e.name), reason});
    }
    write_table(out, rows, "rnl");
}

void write_predictions(std::ostream& out, const quality_report& report, unsigned threads)
{
    if (report.predictions.empty()) {
        return;
    }
    heading(out, "Test points in the target system");
    using p = const prediction_row&;
    write_long_table<prediction_row>(out, report.predictions,
                                     {{"X (m)", 4, [](p x) { return x.xyz_m(0); }},
                                      {"Y (m)", 4, [](p x) { return x.xyz_m(1); }},
                                      {"Z (m)", 4, [](p x) { return x.xyz_m(2); }}},
                                     threads);
    heading(out, precision_heading("the test points as carried"));
    write_long_table<prediction_row>(out, report.predictions, precision_columns<prediction_row>(),
                                     threads);
}

} // namespace

void write_text_report(std::ostream& out, const quality_report& report, const std::string& title,
                       unsigned threads)
{
    out << title << '\n';
    write_summary(out, report);
    write_stochastic(out, report);
    write_parameters(out, report);
    write_precision(out, report);
    write_bursa_wolf(out, report);
    write_linearisation(out, report);
    write_test_settings(out, report);
    write_residuals(out, report, threads);
    write_adjusted(out, report, threads);
    write_common_precision(out, report, threads);
    write_excluded(out, report);
    write_predictions(out, report, threads);
}

} // namespace sevenparam
