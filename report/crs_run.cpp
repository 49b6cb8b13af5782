#include "report/crs_run.h"

#include "numlist/coordinate_file.h"
#include "numlist/message_excerpt.h"
#include "numlist/number_list.h"
#include "quality/exports.h"
#include "report/html.h"
#include "report/json_writer.h"
#include "report/number_format.h"
#include "report/report_options.h"
#include "report/text_encoding.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <future>
#include <ostream>

namespace sevenparam {

namespace {

using json = nlohmann::ordered_json;

// Points a small-angle method may miss the exact transformation by.
constexpr double small_angle_limit_m = 1e-4;

[[noreturn]] void usage(const std::string& message)
{
    throw input_error(report_exit_usage_error, message);
}

[[noreturn]] void bad_data(const std::string& message)
{
    throw input_error(report_exit_data_error, message);
}

std::string label(const crs_description& d)
{
    return d.code.empty() ? "\"" + d.name + "\"" : d.code;
}

std::string kind_text(crs_kind kind)
{
    switch (kind) {
    case crs_kind::geocentric:
        return "geocentric";
    case crs_kind::geographic_2d:
        return "geographic 2D";
    case crs_kind::geographic_3d:
        return "geographic 3D";
    case crs_kind::projected:
        return "projected";
    case crs_kind::compound:
        return "compound";
    }
    return "";
}

// The name of each of the three numbers of a point, for messages and headings.
std::vector<std::string> number_names(const crs_description& d)
{
    std::vector<std::string> names;
    for (const crs_axis& axis : d.axes) {
        names.push_back(axis.name);
    }
    if (d.height_beside()) {
        names.push_back("ellipsoidal height");
    }
    return names;
}

// Decimals of a number of the axis `k` (three numbers a point): 9 for
// degrees, 4 for metres (both about 0.1 mm).
int decimals_of(const crs_description& d, std::size_t k)
{
    return k < d.axes.size() && d.axes[k].angular ? 9 : 4;
}

std::string unit_of(const crs_description& d, std::size_t k)
{
    if (k < d.axes.size()) {
        return d.axes[k].angular ? "deg" : d.axes[k].unit == "metre" ? "m" : d.axes[k].unit;
    }
    return "m";
}

// A field of a coordinate file: decimal, or for an angular axis also
// sexagesimal.
std::optional<double> read_field(std::string_view field, bool angular)
{
    try {
        const double value = convert_number_field(field.data(), field.data() + field.size(), 1);
        if (std::isfinite(value)) {
            return value;
        }
        return std::nullopt;
    } catch (const std::exception&) {
    }
    return angular ? parse_angle_degrees(field) : std::nullopt;
}

// Converts `points` (three numbers a point, read in `system`) to geocentric
// in place; `where(i)` names point i in messages.
// Returns the number of points outside the system's area of use.
std::size_t to_geocentric(const reference_system& system, coordinate_rows& points,
                          const std::function<std::string(std::size_t)>& where)
{
    std::string reason;
    const auto count = static_cast<std::size_t>(points.rows());
    std::size_t outside = 0;
    const std::size_t bad = system.to_geocentric(points.data(), count, reason, &outside);
    if (bad < count) {
        bad_data(where(bad) + ": " + label(system.description()) +
                 " cannot carry this point to geocentric coordinates (" + reason + ")");
    }
    return outside;
}

void warn_outside(crs_run& run, const reference_system& system, std::size_t count,
                  std::size_t total, const std::string& what)
{
    if (count == 0) {
        return;
    }
    const area_of_use& area = *system.description().area;
    std::string box;
    for (double v : {area.west, area.south, area.east, area.north}) {
        box += box.empty() ? "" : ", ";
        append_shortest(box, v);
    }
    run.warnings.push_back(std::to_string(count) + " of the " + std::to_string(total) + " " + what +
                           " lie outside the area of use of " + label(system.description()) + " (" +
                           area.name + "; west, south, east, north " + box + " deg)");
}

// Turns `covariances` (m^2), one a point along the numbers of `read` in
// `system`, into covariances along geocentric X, Y, Z: C' = J C J' with the
// conversion's Jacobian J at each point (crs/crs.h). `where(i)` names point
// i in messages.
void covariances_to_geocentric(const reference_system& system, const coordinate_rows& read,
                               std::vector<Eigen::Matrix3d>& covariances,
                               const std::function<std::string(std::size_t)>& where)
{
    if (covariances.empty() || system.description().kind == crs_kind::geocentric) {
        return;
    }
    using jacobian = Eigen::Matrix<double, 3, 3, Eigen::RowMajor>;
    constexpr std::size_t chunk = 1 << 16;
    std::vector<double> jacobians;
    const std::size_t count = covariances.size();
    for (std::size_t start = 0; start < count; start += chunk) {
        const std::size_t n = std::min(chunk, count - start);
        jacobians.resize(9 * n);
        std::string reason;
        const std::size_t bad =
            system.geocentric_jacobians(read.data() + 3 * start, n, jacobians.data(), reason);
        if (bad < n) {
            bad_data(where(start + bad) + ": " + label(system.description()) +
                     " cannot carry this point's precision to geocentric coordinates (" + reason +
                     ")");
        }
        for (std::size_t i = 0; i < n; ++i) {
            const Eigen::Map<const jacobian> j(jacobians.data() + 9 * i);
            Eigen::Matrix3d& c = covariances[start + i];
            const Eigen::Matrix3d turned = j * c * j.transpose();
            c = 0.5 * (turned + turned.transpose()); // symmetric to the last bit
        }
    }
}

struct side_read {
    crs_points points;
    coordinate_rows geocentric;
    point_file file; // names and lines
    std::size_t outside = 0;
    bool own_precision = false;              // the file gives its points' precisions
    std::vector<Eigen::Matrix3d> covariance; // along geocentric X, Y, Z (m^2)
};

// One file's points in `system`, with their precisions: the file's own, or
// `sigma` for every number of a file that gives none.
side_read read_side(const std::string& path, const reference_system& system,
                    std::optional<double> sigma)
{
    const crs_description& d = system.description();
    coordinate_layout layout;
    bool angular[3] = {false, false, false};
    for (std::size_t k = 0; k < d.axes.size() && k < 3; ++k) {
        angular[k] = d.axes[k].angular;
    }
    layout.field_reader = [angular](std::string_view field, int axis) {
        return read_field(field, angular[axis]);
    };
    const std::vector<std::string> names = number_names(d);
    std::string name_store[3];
    for (int k = 0; k < 3; ++k) {
        name_store[k] = names[static_cast<std::size_t>(k)];
        layout.axis_names[k] = name_store[k].c_str();
    }
    layout.third_required = !d.height_beside();
    side_read side;
    try {
        coordinate_file read = read_coordinate_file(path, layout);
        side.points.heights_given = read.third_given;
        side.file = std::move(read.points);
    } catch (const point_file_error& e) {
        bad_data(e.what());
    }
    side.points.origin = path;
    side.points.read = Eigen::Map<const coordinate_rows>(
        side.file.xyz.data(), static_cast<Eigen::Index>(side.file.size()), 3);
    side.geocentric = side.points.read;
    const auto where = [&side](std::size_t i) {
        return side.file.file + " line " + std::to_string(side.file.lines[i]);
    };
    side.outside = to_geocentric(system, side.geocentric, where);
    side.own_precision = side.file.precision != point_precision::none;
    side.covariance = take_covariances(side.file, sigma);
    covariances_to_geocentric(system, side.points.read, side.covariance, where);
    return side;
}

point_matrix as_points(const coordinate_rows& rows)
{
    return rows;
}

void add_height_notes(crs_run& run)
{
    const auto note = [&run](const crs_points& points, const reference_system& system,
                             const char* what) {
        if (system.description().height_beside() && !points.heights_given &&
            points.read.rows() > 0) {
            run.warnings.push_back(std::string(what) + " (" + points.origin +
                                   ") give no heights: every one is taken at ellipsoidal "
                                   "height 0 m in " +
                                   label(system.description()));
        }
    };
    note(run.common_source, *run.source, "the source points");
    note(run.common_target, *run.target, "the target points");
    note(run.test, *run.source, "the test points");
}

// reference_system::from_geocentric on `points`, a large set in two halves
// on two threads, the second with a PROJ context of its own.
std::size_t from_geocentric_on_two_threads(const reference_system& system, coordinate_rows& points,
                                           std::string& reason)
{
    const auto count = static_cast<std::size_t>(points.rows());
    constexpr std::size_t least_for_two = 100000;
    if (count < least_for_two) {
        return system.from_geocentric(points.data(), count, reason);
    }
    const std::size_t half = count / 2;
    std::string second_reason;
    auto second = std::async(std::launch::async, [&] {
        const reference_system copy(system.definition(), system.description().east_first);
        return half + copy.from_geocentric(points.data() + 3 * half, count - half, second_reason);
    });
    const std::size_t first = system.from_geocentric(points.data(), half, reason);
    const std::size_t other = second.get();
    if (first < half) {
        return first;
    }
    reason = second_reason;
    return other;
}

} // namespace

crs_run open_crs_run(const crs_options& options)
{
    if (!options.src_crs || !options.des_crs) {
        const char* given = options.src_crs      ? report_option::src_crs
                            : options.des_crs    ? report_option::des_crs
                            : options.east_first ? report_option::east_first
                            : options.wkt        ? report_option::wkt
                            : options.projjson   ? report_option::projjson
                                                 : report_option::geojson;
        usage(std::string(given) + " needs both " + report_option::src_crs + " and " +
              report_option::des_crs);
    }
    crs_run run;
    const auto open = [&options](const std::string& definition, const char* option) {
        if (definition.empty()) {
            usage(std::string(option) + ": empty CRS");
        }
        try {
            return std::make_unique<reference_system>(definition, options.east_first);
        } catch (const crs_error& e) {
            usage(std::string(option) + " '" + definition + "': " + e.what());
        }
    };
    run.source = open(*options.src_crs, report_option::src_crs);
    run.target = open(*options.des_crs, report_option::des_crs);
    return run;
}

report_inputs gather_crs_inputs(const input_options& options, crs_run& run,
                                const char* program_path)
{
    const bool files = options.src_file || options.des_file || options.test_file;
    const bool lists =
        options.inputsrc || options.inputdes || options.inputtest || options.inputfile;
    report_inputs inputs;
    if (lists || !files) {
        // Number lists: three numbers a point, read as gather_inputs reads them.
        inputs = gather_inputs(options, program_path);
        const auto convert = [&run](const reference_system& system, named_points& points,
                                    crs_points& read, const std::string& origin, const char* what) {
            read.read = points.xyz;
            read.origin = origin;
            coordinate_rows geocentric = read.read;
            const std::size_t outside = to_geocentric(system, geocentric, [&origin](std::size_t i) {
                return origin + " point " + std::to_string(i + 1);
            });
            points.xyz = as_points(geocentric);
            covariances_to_geocentric(
                system, read.read, points.covariance,
                [&origin](std::size_t i) { return origin + " point " + std::to_string(i + 1); });
            warn_outside(run, system, outside, static_cast<std::size_t>(geocentric.rows()), what);
        };
        convert(*run.source, inputs.source, run.common_source, "the source list", "source points");
        convert(*run.target, inputs.target, run.common_target, "the target list", "target points");
        convert(*run.source, inputs.test, run.test, "the test list", "test points");
        add_height_notes(run);
        return inputs;
    }
    // Point files give at once whether they name their points and hold
    // heights; gather_inputs settles the mixing and pairing of options.
    if (!options.src_file || !options.des_file) {
        return gather_inputs(options, program_path); // raises its usage error
    }
    check_precisions(options, own_precisions(), false);
    const precision_options& precision = options.precision;
    // One side on another thread, with the target's own PROJ context.
    auto pending = std::async(std::launch::async, read_side, std::cref(*options.des_file),
                              std::cref(*run.target), precision.des_sigma);
    side_read source;
    try {
        source = read_side(*options.src_file, *run.source, precision.src_sigma);
    } catch (...) {
        pending.wait();
        throw;
    }
    side_read target = pending.get();
    check_common_counts(source.file.size(), escape_control_bytes(source.file.file),
                        target.file.size(), escape_control_bytes(target.file.file));
    try {
        inputs.source.names = pair_point_names(source.file, target.file);
    } catch (const point_file_error& e) {
        bad_data(e.what());
    }
    // Where both files name their points (the same names), each side takes
    // its own file's.
    inputs.target.names =
        target.file.names.empty() ? inputs.source.names : std::move(target.file.names);
    inputs.source.xyz = as_points(source.geocentric);
    inputs.target.xyz = as_points(target.geocentric);
    own_precisions given;
    given.source = source.own_precision ? escape_control_bytes(*options.src_file) : "";
    given.target = target.own_precision ? escape_control_bytes(*options.des_file) : "";
    check_precisions(options, given, false);
    inputs.source.covariance = std::move(source.covariance);
    inputs.target.covariance = std::move(target.covariance);
    inputs.common_origin = *options.src_file + " and " + *options.des_file;
    const std::size_t n = source.file.size();
    warn_outside(run, *run.source, source.outside, n, "source points");
    warn_outside(run, *run.target, target.outside, n, "target points");
    run.common_source = std::move(source.points);
    run.common_target = std::move(target.points);
    if (options.test_file) {
        side_read test = read_side(*options.test_file, *run.source, precision.src_sigma);
        given.test = test.own_precision ? escape_control_bytes(*options.test_file) : "";
        check_precisions(options, given, false);
        inputs.test.names = point_names(test.file);
        inputs.test.xyz = as_points(test.geocentric);
        inputs.test.covariance = std::move(test.covariance);
        warn_outside(run, *run.source, test.outside, test.file.size(), "test points");
        run.test = std::move(test.points);
    } else {
        inputs.test.xyz.resize(0, 3);
        run.test.read.resize(0, 3);
    }
    check_precisions(options, given, true);
    add_height_notes(run);
    return inputs;
}

namespace {

// The transformation as a coordinate operation (crs/crs.h); reads only the
// two systems' definitions, so it may run beside their conversions.
operation_texts operation_of(const crs_run& run, const quality_report& report,
                             const std::string& program_version)
{
    const crs_description& target = run.target->description();
    const bursa_wolf_set& bw = report.bursa_wolf;
    helmert_parameters p;
    p.tx_m = bw.translation_m(0);
    p.ty_m = bw.translation_m(1);
    p.tz_m = bw.translation_m(2);
    p.rx_arcsec = bw.rotation_arcsec(0);
    p.ry_arcsec = bw.rotation_arcsec(1);
    p.rz_arcsec = bw.rotation_arcsec(2);
    p.s_ppm = bw.scale_ppm;
    const crs_description& source = run.source->description();
    operation_metadata metadata;
    metadata.name = source.name + " to " + target.name + " (estimated by sevenparam-report)";
    metadata.remarks = "Seven-parameter transformation estimated by sevenparam-report " +
                       program_version + " from " + std::to_string(report.common_points) +
                       " common points (" +
                       (report.model == rotation_model::exact ? "exact" : "linearised") +
                       " rotation model); the accuracy is the RMS of the residual lengths at "
                       "the common points.";
    metadata.accuracy_m = run.rms_m;
    metadata.exact = report.model == rotation_model::exact;
    if (metadata.exact && report.small_angle_exports_max_m > small_angle_limit_m) {
        std::string miss;
        append_significant(miss, report.small_angle_exports_max_m, 3);
        metadata.small_angle_refusal =
            "with --rotation exact, EPSG's small-angle Helmert methods would miss the "
            "transformation by up to " +
            miss + " m at the common points (more than 0.1 mm); the pipeline carries +exact";
    }
    try {
        return export_operation(*run.source, *run.target, p, metadata);
    } catch (const crs_error& e) {
        throw std::runtime_error(std::string("the transformation as an operation: ") + e.what());
    }
}

} // namespace

void complete_crs_run(crs_run& run, const quality_report& report, const report_inputs& inputs,
                      const std::string& program_version, bool map_layer)
{
    const crs_description& target = run.target->description();
    const auto m = static_cast<Eigen::Index>(report.predictions.size());
    run.predictions.resize(m, 3);
    for (Eigen::Index i = 0; i < m; ++i) {
        run.predictions.row(i) = report.predictions[static_cast<std::size_t>(i)].xyz_m.transpose();
    }
    run.test_lonlat = run.predictions;
    std::string reason;
    const std::size_t bad =
        run.target->from_geocentric(run.predictions.data(), static_cast<std::size_t>(m), reason);
    if (bad < static_cast<std::size_t>(m)) {
        bad_data("test point " + report.predictions[bad].name + ": " + label(target) +
                 " cannot take its prediction (" + reason + ")");
    }
    run.target->geocentric_to_longitude_latitude(run.test_lonlat.data(),
                                                 static_cast<std::size_t>(m));
    if (map_layer) {
        run.target_lonlat = inputs.target.xyz;
        run.target->geocentric_to_longitude_latitude(
            run.target_lonlat.data(), static_cast<std::size_t>(run.target_lonlat.rows()));
    }
    double squares = 0;
    std::size_t used = 0;
    for (const residual_row& r : report.residuals) {
        if (!r.removed) {
            squares += r.length_m * r.length_m;
            ++used;
        }
    }
    run.rms_m = used ? std::sqrt(squares / static_cast<double>(used)) : 0;
    // Built meanwhile on another thread (PROJ's C++ API with a database of its own).
    auto pending_operation = std::async(std::launch::async, operation_of, std::cref(run),
                                        std::cref(report), std::cref(program_version));

    if (target.kind == crs_kind::projected) {
        // The transformed source point is the given target point less its
        // residual; its map coordinates against the given ones, converted
        // while the reports are written.
        const auto n = static_cast<Eigen::Index>(report.residuals.size());
        coordinate_rows carried(n, 3);
        std::vector<Eigen::Index> given(static_cast<std::size_t>(n));
        for (Eigen::Index k = 0; k < n; ++k) {
            const residual_row& r = report.residuals[static_cast<std::size_t>(k)];
            given[static_cast<std::size_t>(k)] = static_cast<Eigen::Index>(r.index);
            carried.row(k) =
                inputs.target.xyz.row(static_cast<Eigen::Index>(r.index)) - r.xyz_m.transpose();
        }
        run.axis_residuals_ready =
            std::async(std::launch::async, [&run, carried = std::move(carried),
                                            given = std::move(given)]() mutable {
                std::string ignored; // a point PROJ cannot take gives NaN
                from_geocentric_on_two_threads(*run.target, carried, ignored);
                const auto rows = static_cast<Eigen::Index>(given.size());
                run.axis_residuals.resize(rows, 2);
                for (Eigen::Index k = 0; k < rows; ++k) {
                    for (Eigen::Index c = 0; c < 2; ++c) {
                        const double v =
                            run.common_target.read(given[static_cast<std::size_t>(k)], c) -
                            carried(k, c);
                        run.axis_residuals(k, c) = std::isfinite(v) ? v : NAN;
                    }
                }
            }).share();
    }

    run.operation = pending_operation.get();
}

// ---------------------------------------------------------------- text

namespace {

void wait_for_axis_residuals(const crs_run& run)
{
    if (run.axis_residuals_ready.valid()) {
        run.axis_residuals_ready.wait();
    }
}

std::string axes_text(const crs_description& d)
{
    std::string text;
    const std::vector<std::string> names = number_names(d);
    for (std::size_t k = 0; k < names.size(); ++k) {
        if (k == d.axes.size() && d.height_beside()) {
            text += "; optional ";
        } else if (k > 0) {
            text += ", ";
        }
        text += names[k] + " (" + unit_of(d, k) + ")";
    }
    return text;
}

// A table of one row per point, which may hold millions: names then numbers,
// right-aligned, written from one buffer without a string per cell.
template <typename Name, typename Value, typename Note>
void write_point_table(std::ostream& out, const std::vector<std::string>& headings,
                       const std::vector<int>& decimals, std::size_t rows, Name name, Value value,
                       Note note)
{
    std::size_t name_width = 5;
    for (std::size_t i = 0; i < rows; ++i) {
        name_width = std::max(name_width, display_width(name(i)));
    }
    std::vector<std::size_t> widths;
    for (std::size_t k = 0; k < headings.size(); ++k) {
        const std::size_t width = std::max<std::size_t>(headings[k].size(), 4);
        double largest = 0;
        bool negative = false;
        for (std::size_t i = 0; i < rows; ++i) {
            const double v = value(i, k);
            if (std::isfinite(v)) {
                largest = std::max(largest, std::fabs(v));
                negative = negative || v < 0;
            }
        }
        std::string text;
        append_fixed(text, largest, decimals[k]);
        widths.push_back(std::max(width, text.size() + (negative ? 1 : 0)));
    }
    std::string line = "  point";
    line.append(name_width - 5, ' ');
    for (std::size_t k = 0; k < headings.size(); ++k) {
        line.append(2 + widths[k] - headings[k].size(), ' ');
        line += headings[k];
    }
    out << line << '\n';
    // A row's bound: its name, the columns (a number never wider than its
    // column, format_fixed_before's room before it), a note.
    std::size_t row_bound = 2 + name_width + 2 + 16 + fixed_capacity;
    for (const std::size_t w : widths) {
        row_bound += 2 + w;
    }
    std::vector<char> buffer(std::max<std::size_t>(1 << 20, 4 * row_bound));
    char* o = buffer.data();
    for (std::size_t i = 0; i < rows; ++i) {
        const std::string& n = name(i);
        if (static_cast<std::size_t>(buffer.data() + buffer.size() - o) < row_bound + n.size()) {
            out.write(buffer.data(), o - buffer.data());
            o = buffer.data();
            if (buffer.size() < row_bound + n.size()) {
                buffer.resize(row_bound + n.size());
                o = buffer.data();
            }
        }
        *o++ = ' ';
        *o++ = ' ';
        std::memcpy(o, n.data(), n.size());
        o += n.size();
        const std::size_t fill = name_width - std::min(name_width, display_width(n));
        std::memset(o, ' ', fill);
        o += fill;
        for (std::size_t k = 0; k < headings.size(); ++k) {
            std::memset(o, ' ', 2 + widths[k]);
            o += 2 + widths[k];
            format_fixed_before(o, value(i, k), decimals[k]);
        }
        if (const char* text = note(i); *text) {
            const std::size_t length = std::strlen(text);
            *o++ = ' ';
            *o++ = ' ';
            std::memcpy(o, text, length);
            o += length;
        }
        *o++ = '\n';
    }
    out.write(buffer.data(), o - buffer.data());
}

const char* no_note(std::size_t)
{
    return "";
}

} // namespace

void write_crs_text(std::ostream& out, const crs_run& run, const quality_report& report)
{
    wait_for_axis_residuals(run);
    const crs_description& source = run.source->description();
    const crs_description& target = run.target->description();
    out << "\nCoordinate reference systems (points converted to geocentric X, Y, Z on each "
           "CRS's own datum; no datum shift)\n";
    const auto describe = [&out](const char* role, const crs_description& d) {
        out << "  " << role << d.name << (d.code.empty() ? "" : " (" + d.code + ")") << ", "
            << kind_text(d.kind) << "\n    coordinates: " << axes_text(d)
            << (d.east_first ? ", east first as asked" : "") << '\n';
    };
    describe("source  ", source);
    describe("target  ", target);
    for (const std::string& warning : run.warnings) {
        out << "  WARNING: " << warning << '\n';
    }

    if (run.axis_residuals.rows() > 0) {
        out << "\nResiduals along the target CRS's axes (given target minus transformed "
               "source, m)\n";
        write_point_table(
            out, {"v " + target.axes[0].name + " (m)", "v " + target.axes[1].name + " (m)"}, {4, 4},
            report.residuals.size(),
            [&report](std::size_t i) -> const std::string& { return report.residuals[i].name; },
            [&run](std::size_t i, std::size_t k) {
                return run.axis_residuals(static_cast<Eigen::Index>(i),
                                          static_cast<Eigen::Index>(k));
            },
            [&report](std::size_t i) {
                const residual_row& r = report.residuals[i];
                return r.removed ? "removed" : r.flagged ? "FLAGGED" : "";
            });
    }

    if (!report.predictions.empty()) {
        out << "\nTest points in the target CRS (" << label(target) << ")\n";
        std::vector<std::string> headings;
        std::vector<int> decimals;
        const std::vector<std::string> names = number_names(target);
        for (std::size_t k = 0; k < 3; ++k) {
            headings.push_back((k < target.axes.size() ? target.axes[k].name : "height") + " (" +
                               unit_of(target, k) + ")");
            decimals.push_back(decimals_of(target, k));
        }
        write_point_table(
            out, headings, decimals, report.predictions.size(),
            [&report](std::size_t i) -> const std::string& { return report.predictions[i].name; },
            [&run](std::size_t i, std::size_t k) {
                return run.predictions(static_cast<Eigen::Index>(i), static_cast<Eigen::Index>(k));
            },
            no_note);
    }

    out << "\nThe transformation as a CRS-to-CRS operation\n";
    const operation_texts& op = run.operation;
    if (!op.method.empty()) {
        out << "  method: " << op.method << '\n';
    }
    std::string rms;
    append_fixed(rms, run.rms_m, 4);
    out << "  accuracy: " << rms << " m (RMS of the residual lengths at the common points)\n";
    if (!op.pipeline.empty()) {
        out << "  PROJ pipeline from source CRS to target CRS coordinates (for cct):\n    "
            << op.pipeline << '\n';
    }
    if (op.wkt.empty()) {
        out << "  WKT2:2019 and PROJJSON: not given: " << op.missing << '\n';
    } else {
        out << "  WKT2:2019 and PROJJSON: with " << report_option::wkt << " and "
            << report_option::projjson << ", and in the JSON report\n";
    }
}

// ---------------------------------------------------------------- JSON

namespace {

json crs_json(const crs_description& d, const crs_points& points)
{
    json axes = json::array();
    for (const crs_axis& axis : d.axes) {
        axes.push_back(
            {{"name", axis.name}, {"abbreviation", axis.abbreviation}, {"unit", axis.unit}});
    }
    json object = {{"name", d.name},
                   {"code", d.code.empty() ? json(nullptr) : json(d.code)},
                   {"kind", kind_text(d.kind)},
                   {"axes", axes},
                   {"east_first", d.east_first},
                   {"heights_given", points.heights_given}};
    return object;
}

void json_string(std::string& line, const std::string& bytes)
{
    line += json(to_utf8(bytes)).dump(-1, ' ', false, json::error_handler_t::replace);
}

} // namespace

void write_crs_json(std::ostream& out, const crs_run& run, const quality_report& report)
{
    wait_for_axis_residuals(run);
    // Members of the report's object, still open when this is called.
    json_writer w = json_continue_object();
    const auto item = [&w](const char* key, const json& value) { json_member(w, key, value); };
    item("source_crs", crs_json(run.source->description(), run.common_source));
    item("target_crs", crs_json(run.target->description(), run.common_target));
    item("test_heights_given",
         report.predictions.empty() ? json(nullptr) : json(run.test.heights_given));
    item("crs_warnings", json(run.warnings));
    const operation_texts& op = run.operation;
    item("operation_method", op.method.empty() ? json(nullptr) : json(op.method));
    item("operation_accuracy_m", run.rms_m);
    item("operation_wkt", op.wkt.empty() ? json(nullptr) : json(op.wkt));
    item("operation_projjson", op.projjson.empty() ? json(nullptr) : json::parse(op.projjson));
    item("operation_pipeline", op.pipeline.empty() ? json(nullptr) : json(op.pipeline));
    item("operation_missing", op.missing.empty() ? json(nullptr) : json(op.missing));
    out << w.text;
    json_row_array(out, "target_crs_coordinates", report.predictions.size(), 1,
                   [&](std::string& line, std::size_t i) {
                       line += "\"name\": ";
                       json_string(line, report.predictions[i].name);
                       line += ", \"coordinates\": [";
                       for (Eigen::Index k = 0; k < 3; ++k) {
                           append_json_number(line,
                                              run.predictions(static_cast<Eigen::Index>(i), k));
                           line += k < 2 ? "," : "]";
                       }
                   });
    if (run.axis_residuals.rows() > 0) {
        json_row_array(
            out, "target_crs_residuals", report.residuals.size(), 1,
            [&](std::string& line, std::size_t i) {
                line += "\"name\": ";
                json_string(line, report.residuals[i].name);
                line += ", \"v_m\": [";
                append_json_number(line, run.axis_residuals(static_cast<Eigen::Index>(i), 0));
                line += ',';
                append_json_number(line, run.axis_residuals(static_cast<Eigen::Index>(i), 1));
                line += "]";
            });
    } else {
        out << ",\n  \"target_crs_residuals\": null";
    }
}

// ---------------------------------------------------------------- HTML

void write_crs_html(std::ostream& out, const crs_run& run, const quality_report& report)
{
    wait_for_axis_residuals(run);
    const crs_description& target = run.target->description();
    out << "<h2>Coordinate reference systems</h2>\n<table>\n";
    const auto row = [&out](const char* role, const crs_description& d) {
        out << "<tr><th>" << role << "</th><td>"
            << html_name_text(d.name + (d.code.empty() ? "" : " (" + d.code + ")") + ", " +
                              kind_text(d.kind) + "; " + axes_text(d) +
                              (d.east_first ? ", east first" : ""))
            << "</td></tr>\n";
    };
    row("Source", run.source->description());
    row("Target", target);
    out << "</table>\n";
    for (const std::string& warning : run.warnings) {
        out << "<p class=\"warning\">Warning: " << html_name_text(warning) << "</p>\n";
    }
    if (!report.predictions.empty()) {
        out << "<h3>Test points in the target CRS</h3>\n<table>\n<tr><th class=\"name\">Point</th>";
        for (std::size_t k = 0; k < 3; ++k) {
            out << "<th>"
                << html_name_text((k < target.axes.size() ? target.axes[k].name : "height") + " (" +
                                  unit_of(target, k) + ")")
                << "</th>";
        }
        out << "</tr>\n";
        for (std::size_t i = 0; i < report.predictions.size(); ++i) {
            std::string line =
                "<tr><td class=\"name\">" + html_name_text(report.predictions[i].name) + "</td>";
            for (std::size_t k = 0; k < 3; ++k) {
                line += "<td>";
                append_fixed(
                    line,
                    run.predictions(static_cast<Eigen::Index>(i), static_cast<Eigen::Index>(k)),
                    decimals_of(target, k));
                line += "</td>";
            }
            out << line << "</tr>\n";
        }
        out << "</table>\n";
    }
    if (run.axis_residuals.rows() > 0) {
        out << "<h3>Residuals along the target CRS's axes (m)</h3>\n<div class=\"scroll\"><table>\n"
               "<tr><th class=\"name\">Point</th><th>v "
            << html_name_text(target.axes[0].name) << " (m)</th><th>v "
            << html_name_text(target.axes[1].name) << " (m)</th></tr>\n";
        for (std::size_t i = 0; i < report.residuals.size(); ++i) {
            std::string line =
                "<tr><td class=\"name\">" + html_name_text(report.residuals[i].name) + "</td>";
            for (Eigen::Index k = 0; k < 2; ++k) {
                line += "<td>";
                append_fixed(line, run.axis_residuals(static_cast<Eigen::Index>(i), k), 4);
                line += "</td>";
            }
            out << line << "</tr>\n";
        }
        out << "</table></div>\n";
    }
    const operation_texts& op = run.operation;
    out << "<h3>The transformation as a CRS-to-CRS operation</h3>\n";
    if (!op.method.empty()) {
        out << "<p>Method: " << html_name_text(op.method) << "</p>\n";
    }
    if (!op.pipeline.empty()) {
        out << "<h4>PROJ pipeline (for cct)</h4>\n<pre><code>" << html_name_text(op.pipeline)
            << "</code></pre>\n";
    }
    if (op.wkt.empty()) {
        out << "<p>WKT2:2019 and PROJJSON not given: " << html_name_text(op.missing) << "</p>\n";
    } else {
        out << "<h4>WKT2:2019</h4>\n<pre><code>" << html_name_text(op.wkt) << "</code></pre>\n";
    }
}

// ---------------------------------------------------------------- GeoJSON

void write_geojson(std::ostream& out, const crs_run& run, const quality_report& report)
{
    out << "{\"type\": \"FeatureCollection\", \"features\": [";
    bool first = true;
    std::string line;
    const auto feature = [&](const std::string& name, double lon, double lat,
                             const std::function<void(std::string&)>& more) {
        line.assign(first ? "\n" : ",\n");
        first = false;
        line += "{\"type\": \"Feature\", \"geometry\": {\"type\": \"Point\", \"coordinates\": [";
        append_fixed(line, lon, 9);
        line += ", ";
        append_fixed(line, lat, 9);
        line += "]}, \"properties\": {\"name\": ";
        json_string(line, name);
        more(line);
        line += "}}";
        out.write(line.data(), static_cast<std::streamsize>(line.size()));
    };
    for (const residual_row& r : report.residuals) {
        const auto i = static_cast<Eigen::Index>(r.index);
        feature(r.name, run.target_lonlat(i, 0), run.target_lonlat(i, 1), [&r](std::string& l) {
            l += ", \"role\": \"common\"";
            const char* keys[] = {"v_east_m", "v_north_m", "v_up_m"};
            for (int k = 0; k < 3; ++k) {
                l += ", \"";
                l += keys[k];
                l += "\": ";
                append_json_number(l, r.enu_m(k));
            }
            l += ", \"length_m\": ";
            append_json_number(l, r.length_m);
            l += ", \"figure\": ";
            if (r.removed) {
                l += "null";
            } else {
                append_json_number(l, r.figure);
            }
            l += r.flagged && !r.removed ? ", \"flagged\": true" : ", \"flagged\": false";
            l += r.removed ? ", \"removed\": true" : ", \"removed\": false";
        });
    }
    for (std::size_t i = 0; i < report.predictions.size(); ++i) {
        const auto k = static_cast<Eigen::Index>(i);
        feature(report.predictions[i].name, run.test_lonlat(k, 0), run.test_lonlat(k, 1),
                [](std::string& l) { l += ", \"role\": \"test\""; });
    }
    out << "\n]}\n";
}

} // namespace sevenparam
