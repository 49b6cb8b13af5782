#include "report/html.h"

#include "quality/exports.h"
#include "quality/geodesy.h"
#include "report/number_format.h"
#include "report/report_options.h"
#include "report/text_encoding.h"
#include "report/warnings.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <numeric>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace sevenparam {
namespace {

constexpr double mm_per_m = 1000.0;
// Residuals below this (m) are the rounding noise of double-precision
// coordinates (1e-16 of Earth-size values): the figures draw none of them
// rather than magnify the noise.
constexpr double negligible_m = 1e-8;

// ---- Text ----

// UTF-8 text for HTML and XML: & < > " ' as entities; C0 control characters
// other than tab, LF and CR, DEL, and the non-characters U+FFFE and U+FFFF
// (which XML 1.0 does not allow at all) as U+FFFD.
std::string escaped(const std::string& utf8)
{
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const char c = utf8[i];
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\xEF' && utf8.compare(i + 1, 1, "\xBF") == 0 && i + 2 < utf8.size() &&
            (utf8[i + 2] == '\xBE' || utf8[i + 2] == '\xBF')) {
            out += "\xEF\xBF\xBD"; // U+FFFE, U+FFFF
            i += 2;
            continue;
        }
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            if ((byte < 0x20 && c != '\t' && c != '\n' && c != '\r') || byte == 0x7f) {
                out += "\xEF\xBF\xBD";
            } else {
                out += c;
            }
        }
    }
    return out;
}

std::string name_text(const std::string& bytes)
{
    return html_name_text(bytes);
}

// ---- Numbers (never the locale's) ----

std::string fixed(double v, int decimals)
{
    std::string text;
    append_fixed(text, v, decimals);
    return text;
}

std::string general(double v, int digits)
{
    std::string text;
    append_significant(text, v, digits);
    return text;
}

// A figure of the tests, which is NaN where it is not defined.
std::string defined(double v, int decimals)
{
    return std::isfinite(v) ? fixed(v, decimals) : std::string("&#8211;");
}

// The confidence of the error ellipses, as a percentage.
std::string confidence_text()
{
    return general(ellipse_confidence * 100, 6) + "&#160;%";
}

// A number and its unit, kept on one line.
std::string with_unit(const std::string& number, const char* unit)
{
    return number + "&#160;" + unit;
}

// The largest of 1, 2, 5 times a power of ten that is not above v (v > 0).
double nice_floor(double v)
{
    const double decade = std::pow(10.0, std::floor(std::log10(v)));
    for (const double step : {5.0, 2.0, 1.0}) {
        if (step * decade <= v * (1 + 1e-12)) {
            return step * decade;
        }
    }
    return decade;
}

// A magnification factor: whole numbers grouped in threes ("20 000 000").
std::string factor_text(double v)
{
    if (!(v >= 1 && v < 1e15)) {
        return general(v, 6);
    }
    std::string digits = fixed(v, 0);
    for (std::size_t i = digits.size(); i > 3; i -= 3) {
        digits.insert(i - 3, "&#8201;");
    }
    return digits;
}

// A length for a scale bar: m below 1 km, km above, mm below 1 m.
std::string length_text(double m)
{
    if (m >= 1000) {
        return with_unit(general(m / 1000, 6), "km");
    }
    if (m >= 1) {
        return with_unit(general(m, 6), "m");
    }
    return with_unit(general(m * mm_per_m, 6), "mm");
}

// ---- Page style ----

const char* const page_style = R"(
body { font-family: "DejaVu Sans", Arial, Helvetica, sans-serif; font-size: 14px;
       color: #1a1a1a; background: #ffffff; margin: 24px auto; max-width: 1180px; padding: 0 16px; }
h1 { font-size: 22px; border-bottom: 2px solid #2a5d8f; padding-bottom: 6px; }
h2 { font-size: 18px; color: #2a5d8f; margin-top: 32px; }
h3 { font-size: 15px; margin: 18px 0 6px; }
table { border-collapse: collapse; margin: 8px 0; }
th, td { border: 1px solid #c8c8c8; padding: 3px 8px; text-align: right; white-space: nowrap; }
th { background: #e8eef5; }
td.name, th.name { text-align: left; }
.wide { overflow-x: auto; }
tr.flagged td { color: #c00000; font-weight: bold; }
tr.removed td { color: #777777; font-style: italic; }
pre { background: #f4f6f8; border: 1px solid #c8c8c8; padding: 8px 10px; overflow-x: auto;
      white-space: pre-wrap; word-break: break-all; }
code { font-family: "DejaVu Sans Mono", Consolas, monospace; font-size: 13px; user-select: all; }
.warning { background: #fff1f0; border-left: 4px solid #c00000; padding: 6px 10px; }
.note { color: #555555; }
figure { margin: 12px 0; }
svg { max-width: 100%; height: auto; background: #ffffff; border: 1px solid #c8c8c8; }
.wide th, .wide td { padding: 2px 5px; font-size: 12px; }
figcaption { color: #555555; font-size: 13px; }
)";

// ---- Map of the common points ----

// Where each residual row stands in the target system: the common point of
// the same name, repeated names taken in input order. Sorted indices rather
// than a map of names: a million points cost 8 bytes each.
std::vector<std::optional<Eigen::Vector3d>> row_positions(const quality_report& report,
                                                          const named_points& common_target)
{
    const std::size_t count =
        std::min(common_target.names.size(), static_cast<std::size_t>(common_target.xyz.rows()));
    std::vector<std::size_t> by_name(count);
    std::iota(by_name.begin(), by_name.end(), std::size_t{0});
    const auto name_less = [&common_target](std::size_t a, std::size_t b) {
        return common_target.names[a] < common_target.names[b];
    };
    std::stable_sort(by_name.begin(), by_name.end(), name_less);
    std::vector<bool> used(count, false);

    std::vector<std::optional<Eigen::Vector3d>> positions;
    positions.reserve(report.residuals.size());
    for (const residual_row& row : report.residuals) {
        auto at = std::lower_bound(by_name.begin(), by_name.end(), row.name,
                                   [&common_target](std::size_t i, const std::string& name) {
                                       return common_target.names[i] < name;
                                   });
        while (at != by_name.end() && common_target.names[*at] == row.name && used[*at]) {
            ++at;
        }
        if (at == by_name.end() || common_target.names[*at] != row.name) {
            positions.emplace_back();
            continue;
        }
        used[*at] = true;
        positions.emplace_back(common_target.xyz.row(static_cast<Eigen::Index>(*at)).transpose());
    }
    return positions;
}

// Colours and marks of a row, shared by both figures.
const char* row_class(const residual_row& row)
{
    if (row.removed) {
        return "removed";
    }
    return row.flagged ? "flagged" : "kept";
}

const char* const figure_style = R"(<style>
.kept { fill: #1f4e79; stroke: #1f4e79; }
.flagged { fill: #c00000; stroke: #c00000; }
.removed { fill: none; stroke: #777777; }
.arrow { stroke-width: 2; fill: none; }
.arrow.kept { stroke: #e07b00; }
.head-kept { fill: #e07b00; }
.head-flagged { fill: #c00000; }
.head-removed { fill: #777777; }
.clipped { stroke-dasharray: 6 3; }
.label { font-family: "DejaVu Sans", Arial, sans-serif; font-size: 11px; fill: #1a1a1a; stroke: none; }
.axis { stroke: #1a1a1a; stroke-width: 1; fill: none; }
.grid { stroke: #dddddd; stroke-width: 1; }
.bar { stroke-width: 1; }
</style>)";

// The marks of test points and their error ellipses, in the map only when
// there are test points.
const char* const test_point_style = R"(<style>
.test { fill: #2e7d32; stroke: #2e7d32; }
.ellipse { fill: #2e7d32; fill-opacity: 0.15; stroke: #2e7d32; stroke-width: 1.5; }
</style>)";

// Scales of the map: metres of the plane to pixels, and the magnification of
// the residual arrows.
struct map_frame {
    double min_e = 0, max_n = 0;
    double px_per_m = 1;
    double left = 0, top = 0;
    double x(double e) const { return left + (e - min_e) * px_per_m; }
    double y(double n) const { return top + (max_n - n) * px_per_m; }
};

// At most this many points are drawn in each figure: a browser draws a few
// thousand SVG elements with ease, not a million. Beyond it the figures show
// the points left out and the flagged ones first, then those with the
// largest residuals; the tables list every point.
constexpr std::size_t figure_point_limit = 5000;

// The residual rows that the figures draw, in table order.
std::vector<std::size_t> drawn_rows(const quality_report& report)
{
    std::vector<std::size_t> rows(report.residuals.size());
    std::iota(rows.begin(), rows.end(), std::size_t{0});
    if (rows.size() > figure_point_limit) {
        const auto before = [&report](std::size_t a, std::size_t b) {
            const residual_row& ra = report.residuals[a];
            const residual_row& rb = report.residuals[b];
            const bool marked_a = ra.removed || ra.flagged, marked_b = rb.removed || rb.flagged;
            if (marked_a != marked_b) {
                return marked_a;
            }
            if (ra.length_m != rb.length_m) {
                return ra.length_m > rb.length_m;
            }
            return a < b;
        };
        const auto limit = static_cast<std::ptrdiff_t>(figure_point_limit);
        std::nth_element(rows.begin(), rows.begin() + limit, rows.end(), before);
        rows.resize(figure_point_limit);
        std::sort(rows.begin(), rows.end());
    }
    return rows;
}

void write_map(std::ostream& out, const quality_report& report,
               const std::vector<std::optional<Eigen::Vector3d>>& positions,
               const std::vector<std::size_t>& drawn)
{
    // The plane: east and north at the target centroid. Coordinates that
    // are plainly not Earth-centred (a centroid within 43 km of the origin,
    // inside the range the geodesy holds for) are drawn as X and Y.
    const Eigen::Vector3d centre = report.centroid_target.transpose();
    const bool geocentric = centre.norm() > 43e3;
    const Eigen::Matrix3d to_plane =
        geocentric ? enu_rotation(ecef_to_geodetic_trig(centre)) : Eigen::Matrix3d::Identity();
    const char* const east_name = geocentric ? "east" : "X";
    const char* const north_name = geocentric ? "north" : "Y";

    struct placed {
        double e, n;
        double ve, vn; // horizontal residual (m)
        const residual_row* row;
    };
    std::vector<placed> points;
    points.reserve(drawn.size());
    for (const std::size_t i : drawn) {
        if (!positions[i]) {
            continue;
        }
        const Eigen::Vector3d plane = to_plane * (*positions[i] - centre);
        const residual_row& row = report.residuals[i];
        Eigen::Vector2d v(row.enu_m.x(), row.enu_m.y());
        if (!geocentric) {
            v = Eigen::Vector2d(row.xyz_m.x(), row.xyz_m.y());
        }
        points.push_back({plane.x(), plane.y(), v.x(), v.y(), &row});
    }

    // Flagged points and points left out are drawn last, on top of the others.
    std::stable_partition(points.begin(), points.end(),
                          [](const placed& p) { return !p.row->flagged && !p.row->removed; });
    if (points.empty()) {
        out << "<p class=\"note\">No common point could be placed on a map.</p>\n";
        return;
    }

    // Test points, placed as the common points are (the first
    // figure_point_limit of them), with their error ellipses: these are of
    // east and north, so they are drawn on the east/north plane only.
    struct placed_test {
        double e, n;
        const prediction_row* row;
    };
    std::vector<placed_test> tests;
    double largest_major = 0; // largest semi-major axis drawn (m)
    for (std::size_t i = 0; i < report.predictions.size() && i < figure_point_limit; ++i) {
        const prediction_row& row = report.predictions[i];
        const Eigen::Vector3d plane = to_plane * (row.xyz_m - centre);
        if (!std::isfinite(plane.x()) || !std::isfinite(plane.y())) {
            continue;
        }
        tests.push_back({plane.x(), plane.y(), &row});
        if (geocentric && std::isfinite(row.precision.ellipse.semi_major_m)) {
            largest_major = std::max(largest_major, row.precision.ellipse.semi_major_m);
        }
    }

    // The margin around the points holds their arrows (at most arrow_cap_px)
    // and labels.
    const double width = 900, margin = 90, plot_width = width - 2 * margin, max_plot_height = 560;
    double min_e = points[0].e, max_e = min_e, min_n = points[0].n, max_n = min_n;
    double largest_kept = 0; // largest horizontal residual of the final set (m)
    for (const placed& p : points) {
        min_e = std::min(min_e, p.e);
        max_e = std::max(max_e, p.e);
        min_n = std::min(min_n, p.n);
        max_n = std::max(max_n, p.n);
        if (!p.row->removed) {
            largest_kept = std::max(largest_kept, std::hypot(p.ve, p.vn));
        }
    }
    for (const placed_test& t : tests) {
        min_e = std::min(min_e, t.e);
        max_e = std::max(max_e, t.e);
        min_n = std::min(min_n, t.n);
        max_n = std::max(max_n, t.n);
    }
    // A network along a line has no extent across it; one at a single place
    // none at all (drawn at 1 m).
    double span_e = max_e - min_e, span_n = max_n - min_n;
    if (!(std::max(span_e, span_n) > 0)) {
        span_e = span_n = 1;
    }
    const double least = std::max(span_e, span_n) * 1e-6;
    map_frame frame;
    frame.px_per_m =
        std::min(plot_width / std::max(span_e, least), max_plot_height / std::max(span_n, least));
    frame.min_e = min_e;
    frame.max_n = max_n;
    frame.left = (width - span_e * frame.px_per_m) / 2;
    frame.top = margin;
    const double plot_height = std::max(span_n * frame.px_per_m, 40.0);
    const double footer = tests.empty() ? 90 : 130;
    const double height = frame.top + plot_height + margin + footer;

    // Arrows: the largest horizontal residual of the final set is drawn
    // 24 to 60 px long, at a magnification of 1, 2 or 5 times a power of
    // ten; longer arrows (of points left out) are cut at 80 px and dashed.
    const double arrow_target_px = 60, arrow_cap_px = 80;
    double magnification = 0;
    if (largest_kept > negligible_m) {
        magnification = nice_floor(arrow_target_px / (largest_kept * frame.px_per_m));
    }
    const double arrow_px_per_m = magnification * frame.px_per_m;
    // Error ellipses: the largest semi-major axis drawn 12 to 30 px long, at
    // a magnification of its own of 1, 2 or 5 times a power of ten.
    const double ellipse_target_px = 30;
    double ellipse_magnification = 0;
    if (largest_major > negligible_m) {
        ellipse_magnification = nice_floor(ellipse_target_px / (largest_major * frame.px_per_m));
    }
    const double ellipse_px_per_m = ellipse_magnification * frame.px_per_m;

    out << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << fixed(width, 0) << "\" height=\""
        << fixed(height, 0) << "\" viewBox=\"0 0 " << fixed(width, 0) << ' ' << fixed(height, 0)
        << "\" role=\"img\" aria-label=\"Map of the common points\">\n"
        << figure_style << '\n'
        << (tests.empty() ? "" : test_point_style) << (tests.empty() ? "" : "\n") << "<defs>";
    // One arrow head per colour (markers do not take the colour of their line).
    for (const char* cls : {"kept", "flagged", "removed"}) {
        out << "<marker id=\"head-" << cls << "\" viewBox=\"0 0 10 10\" refX=\"9\" refY=\"5\" "
            << "markerWidth=\"6\" markerHeight=\"6\" orient=\"auto\"><path class=\"head-" << cls
            << "\" d=\"M0,0 L10,5 L0,10 z\"/></marker>";
    }
    out << "</defs>\n";

    // Axis cross at the centroid.
    out << "<line class=\"grid\" x1=\"" << fixed(frame.x(0), 1) << "\" y1=\""
        << fixed(frame.top - 20, 1) << "\" x2=\"" << fixed(frame.x(0), 1) << "\" y2=\""
        << fixed(frame.top + plot_height + 20, 1) << "\"/>\n"
        << "<line class=\"grid\" x1=\"10\" y1=\"" << fixed(frame.y(0), 1) << "\" x2=\""
        << fixed(width - 10, 1) << "\" y2=\"" << fixed(frame.y(0), 1) << "\"/>\n";
    out << "<text class=\"label\" x=\"" << fixed(frame.x(0) + 4, 1) << "\" y=\""
        << fixed(frame.top - 8, 1) << "\">" << north_name << "</text>\n"
        << "<text class=\"label\" x=\"" << fixed(width - 40, 1) << "\" y=\""
        << fixed(frame.y(0) - 4, 1) << "\">" << east_name << "</text>\n";

    const bool labels = points.size() <= 80;
    for (const placed& p : points) {
        const double x = frame.x(p.e), y = frame.y(p.n);
        const char* cls = row_class(*p.row);
        const std::string name = name_text(p.row->name);
        out << "<g><title>" << name << ": " << east_name << ' ' << fixed(p.ve * mm_per_m, 2)
            << " mm, " << north_name << ' ' << fixed(p.vn * mm_per_m, 2) << " mm, up "
            << fixed(p.row->enu_m.z() * mm_per_m, 2) << " mm" << (p.row->flagged ? ", flagged" : "")
            << (p.row->removed ? ", left out" : "") << "</title>";
        if (arrow_px_per_m > 0) {
            double dx = p.ve * arrow_px_per_m, dy = -p.vn * arrow_px_per_m;
            const double length = std::hypot(dx, dy);
            const bool clipped = length > arrow_cap_px;
            if (clipped) {
                dx *= arrow_cap_px / length;
                dy *= arrow_cap_px / length;
            }
            if (length >= 1) {
                out << "<line class=\"arrow " << cls << (clipped ? " clipped" : "") << "\" x1=\""
                    << fixed(x, 1) << "\" y1=\"" << fixed(y, 1) << "\" x2=\"" << fixed(x + dx, 1)
                    << "\" y2=\"" << fixed(y + dy, 1) << "\" marker-end=\"url(#head-" << cls
                    << ")\"/>";
            }
        }
        if (p.row->removed) {
            out << "<circle class=\"removed\" stroke-width=\"1.5\" cx=\"" << fixed(x, 1)
                << "\" cy=\"" << fixed(y, 1) << "\" r=\"6\"/><path class=\"removed\" "
                << "stroke-width=\"1.5\" d=\"M" << fixed(x - 6, 1) << ',' << fixed(y - 6, 1) << " L"
                << fixed(x + 6, 1) << ',' << fixed(y + 6, 1) << " M" << fixed(x - 6, 1) << ','
                << fixed(y + 6, 1) << " L" << fixed(x + 6, 1) << ',' << fixed(y - 6, 1) << "\"/>";
        } else {
            out << "<circle class=\"" << cls << "\" cx=\"" << fixed(x, 1) << "\" cy=\""
                << fixed(y, 1) << "\" r=\"4.5\"/>";
        }
        if (labels) {
            out << "<text class=\"label\" x=\"" << fixed(x + 8, 1) << "\" y=\"" << fixed(y - 6, 1)
                << "\">" << name << "</text>";
        }
        out << "</g>\n";
    }

    // Test points: a square, and the error ellipse about it, its major axis
    // at the azimuth (SVG turns clockwise, as azimuths do, from the x axis:
    // east, so the turn is the azimuth less 90 degrees).
    const bool test_labels = tests.size() <= 80;
    for (const placed_test& t : tests) {
        const double x = frame.x(t.e), y = frame.y(t.n);
        const error_ellipse& ellipse = t.row->precision.ellipse;
        const std::string name = name_text(t.row->name);
        out << "<g><title>" << name << ": test point, error ellipse (" << confidence_text() << ") "
            << defined(ellipse.semi_major_m * mm_per_m, 2) << " by "
            << defined(ellipse.semi_minor_m * mm_per_m, 2) << " mm, azimuth "
            << defined(axis_azimuth_shown(ellipse.azimuth_deg, 1), 1) << "&#176;</title>";
        if (ellipse_px_per_m > 0 && std::isfinite(ellipse.semi_major_m) &&
            std::isfinite(ellipse.semi_minor_m) && std::isfinite(ellipse.azimuth_deg)) {
            out << "<ellipse class=\"ellipse\" cx=\"" << fixed(x, 1) << "\" cy=\"" << fixed(y, 1)
                << "\" rx=\"" << fixed(ellipse.semi_major_m * ellipse_px_per_m, 2) << "\" ry=\""
                << fixed(ellipse.semi_minor_m * ellipse_px_per_m, 2) << "\" transform=\"rotate("
                << fixed(ellipse.azimuth_deg - 90, 3) << ' ' << fixed(x, 1) << ' ' << fixed(y, 1)
                << ")\"/>";
        }
        out << "<rect class=\"test\" x=\"" << fixed(x - 3.5, 1) << "\" y=\"" << fixed(y - 3.5, 1)
            << "\" width=\"7\" height=\"7\"/>";
        if (test_labels) {
            out << "<text class=\"label\" x=\"" << fixed(x + 8, 1) << "\" y=\"" << fixed(y + 14, 1)
                << "\">" << name << "</text>";
        }
        out << "</g>\n";
    }

    // Footer: scale bars and legend.
    const double base = frame.top + plot_height + margin;
    const double map_bar_m = nice_floor(std::max(span_e, span_n) / 4);
    const double map_bar_px = map_bar_m * frame.px_per_m;
    out << "<g class=\"axis\"><path d=\"M20," << fixed(base, 1) << " v8 h" << fixed(map_bar_px, 1)
        << " v-8\"/></g>\n"
        << "<text class=\"label\" x=\"20\" y=\"" << fixed(base + 24, 1)
        << "\">map: " << length_text(map_bar_m) << "</text>\n";
    if (arrow_px_per_m > 0) {
        const double bar_m = nice_floor(largest_kept);
        const double bar_px = bar_m * arrow_px_per_m;
        out << "<line class=\"arrow kept\" x1=\"20\" y1=\"" << fixed(base + 50, 1) << "\" x2=\""
            << fixed(20 + bar_px, 1) << "\" y2=\"" << fixed(base + 50, 1)
            << "\" marker-end=\"url(#head-kept)\"/>\n"
            << "<text class=\"label\" x=\"20\" y=\"" << fixed(base + 70, 1)
            << "\">residual: " << length_text(bar_m) << " (arrows magnified "
            << factor_text(magnification) << " times)</text>\n";
    } else {
        out << "<text class=\"label\" x=\"20\" y=\"" << fixed(base + 56, 1)
            << "\">every horizontal residual is below " << length_text(negligible_m)
            << ": no arrows</text>\n";
    }
    const double legend_x = 480;
    out << "<circle class=\"kept\" cx=\"" << fixed(legend_x, 0) << "\" cy=\"" << fixed(base + 4, 1)
        << "\" r=\"4.5\"/><text class=\"label\" x=\"" << fixed(legend_x + 12, 0) << "\" y=\""
        << fixed(base + 8, 1) << "\">common point</text>\n"
        << "<circle class=\"flagged\" cx=\"" << fixed(legend_x, 0) << "\" cy=\""
        << fixed(base + 26, 1) << "\" r=\"4.5\"/><text class=\"label\" x=\""
        << fixed(legend_x + 12, 0) << "\" y=\"" << fixed(base + 30, 1)
        << "\">flagged by the test</text>\n"
        << "<circle class=\"removed\" stroke-width=\"1.5\" cx=\"" << fixed(legend_x, 0)
        << "\" cy=\"" << fixed(base + 48, 1)
        << "\" r=\"6\"/><path class=\"removed\" stroke-width=\"1.5\" d=\"M"
        << fixed(legend_x - 6, 0) << ',' << fixed(base + 42, 1) << " L" << fixed(legend_x + 6, 0)
        << ',' << fixed(base + 54, 1) << " M" << fixed(legend_x - 6, 0) << ','
        << fixed(base + 54, 1) << " L" << fixed(legend_x + 6, 0) << ',' << fixed(base + 42, 1)
        << "\"/><text class=\"label\" x=\"" << fixed(legend_x + 12, 0) << "\" y=\""
        << fixed(base + 52, 1) << "\">left out (residual against the final transformation)</text>\n"
        << "<line class=\"arrow kept clipped\" x1=\"" << fixed(legend_x - 8, 0) << "\" y1=\""
        << fixed(base + 72, 1) << "\" x2=\"" << fixed(legend_x + 8, 0) << "\" y2=\""
        << fixed(base + 72, 1) << "\"/><text class=\"label\" x=\"" << fixed(legend_x + 12, 0)
        << "\" y=\"" << fixed(base + 76, 1) << "\">arrow cut short (longer than drawn)</text>\n";
    if (!tests.empty()) {
        out << "<rect class=\"test\" x=\"" << fixed(legend_x - 3.5, 1) << "\" y=\""
            << fixed(base + 90.5, 1) << "\" width=\"7\" height=\"7\"/><ellipse class=\"ellipse\" "
            << "cx=\"" << fixed(legend_x, 0) << "\" cy=\"" << fixed(base + 94, 1)
            << "\" rx=\"10\" ry=\"5\"/><text class=\"label\" x=\"" << fixed(legend_x + 12, 0)
            << "\" y=\"" << fixed(base + 98, 1) << "\">test point, horizontal error ellipse at "
            << confidence_text() << " confidence</text>\n"
            << "<text class=\"label\" x=\"20\" y=\"" << fixed(base + 96, 1) << "\">";
        if (ellipse_px_per_m > 0) {
            out << "error ellipses (" << confidence_text() << ") magnified "
                << factor_text(ellipse_magnification) << " times";
        } else if (!geocentric) {
            out << "error ellipses are of east and north: not drawn on X and Y";
        } else {
            out << "every error ellipse is below " << length_text(negligible_m);
        }
        out << "</text>\n";
    }
    out << "</svg>\n";
}

// ---- Bars of the up residuals ----

void write_up_bars(std::ostream& out, const quality_report& report,
                   const std::vector<std::size_t>& drawn)
{
    const std::size_t count = drawn.size();
    double largest = 0; // largest |up| of the final set (m)
    for (const std::size_t i : drawn) {
        const residual_row& row = report.residuals[i];
        if (!row.removed) {
            largest = std::max(largest, std::abs(row.enu_m.z()));
        }
    }
    const bool labels = count <= 80;
    const double width = 900, left = 70, right = 20, top = 20, half = 110;
    const double bottom = labels ? 80 : 20;
    const double height = top + 2 * half + bottom;
    const double zero_y = top + half;
    const double slot = count ? (width - left - right) / static_cast<double>(count) : 0;
    const double bar_width = std::max(1.0, std::min(slot * 0.7, 40.0));

    // Axis ticks every 1, 2 or 5 times a power of ten of mm.
    const bool drawn_bars = largest > negligible_m;
    const double tick_m = drawn_bars ? nice_floor(largest / 2) : 0;
    const double px_per_m = drawn_bars ? half * 0.9 / largest : 0;

    out << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << fixed(width, 0) << "\" height=\""
        << fixed(height, 0) << "\" viewBox=\"0 0 " << fixed(width, 0) << ' ' << fixed(height, 0)
        << "\" role=\"img\" aria-label=\"Up residual of each point\">\n"
        << figure_style << '\n';
    if (tick_m > 0) {
        for (int k = -4; k <= 4; ++k) {
            const double v = k * tick_m;
            if (std::abs(v) * px_per_m > half) {
                continue;
            }
            const double y = zero_y - v * px_per_m;
            out << "<line class=\"grid\" x1=\"" << fixed(left, 0) << "\" y1=\"" << fixed(y, 1)
                << "\" x2=\"" << fixed(width - right, 0) << "\" y2=\"" << fixed(y, 1)
                << "\"/><text class=\"label\" "
                << "text-anchor=\"end\" x=\"" << fixed(left - 6, 0) << "\" y=\"" << fixed(y + 4, 1)
                << "\">" << with_unit(general(v * mm_per_m, 6), "mm") << "</text>\n";
        }
    }
    out << "<line class=\"axis\" x1=\"" << fixed(left, 0) << "\" y1=\"" << fixed(zero_y, 1)
        << "\" x2=\"" << fixed(width - right, 0) << "\" y2=\"" << fixed(zero_y, 1) << "\"/>\n";

    for (std::size_t slot_index = 0; slot_index < count; ++slot_index) {
        const residual_row& row = report.residuals[drawn[slot_index]];
        const double up = row.enu_m.z();
        double bar = up * px_per_m;
        const bool clipped = std::abs(bar) > half;
        if (clipped) {
            bar = bar > 0 ? half : -half;
        }
        const double centre = left + (static_cast<double>(slot_index) + 0.5) * slot;
        const std::string name = name_text(row.name);
        out << "<g><title>" << name << ": up " << fixed(up * mm_per_m, 2) << " mm"
            << (row.flagged ? ", flagged" : "") << (row.removed ? ", left out" : "")
            << "</title><rect class=\"bar " << row_class(row) << (clipped ? " clipped" : "")
            << "\" x=\"" << fixed(centre - bar_width / 2, 1) << "\" y=\""
            << fixed(bar > 0 ? zero_y - bar : zero_y, 1) << "\" width=\"" << fixed(bar_width, 1)
            << "\" height=\"" << fixed(std::abs(bar), 1) << "\"/>";
        if (labels) {
            const double y = top + 2 * half + 10;
            out << "<text class=\"label\" text-anchor=\"end\" transform=\"translate("
                << fixed(centre + 3, 1) << ',' << fixed(y, 1) << ") rotate(-60)\">" << name
                << "</text>";
        }
        out << "</g>\n";
    }
    if (!drawn_bars) {
        out << "<text class=\"label\" x=\"" << fixed(left + 10, 0) << "\" y=\""
            << fixed(zero_y - 8, 1) << "\">every up residual is below " << length_text(negligible_m)
            << "</text>\n";
    }
    out << "</svg>\n";
}

// ---- Tables ----

// A table cell appended to the text of its row: long tables are written a
// row at a time, not a cell at a time.
void cell(std::string& row, const std::string& html, const char* cls = nullptr)
{
    row += "<td";
    if (cls) {
        row += " class=\"";
        row += cls;
        row += '"';
    }
    row += '>';
    row += html;
    row += "</td>";
}

void cell(std::ostream& out, const std::string& html, const char* cls = nullptr)
{
    std::string text;
    cell(text, html, cls);
    out << text;
}

// The familywise significance and the tests it is shared over.
std::string familywise_text(double family, const quality_report& report)
{
    return "&#945;<sub>F</sub> = " + general(family, 6) + " over the " +
           std::to_string(3 * report.common_points) +
           " tests, each taking 1 &#8722; (1 &#8722; &#945;<sub>F</sub>)<sup>1/3n</sup> "
           "(&#352;id&#225;k)";
}

void write_summary(std::ostream& out, const quality_report& report)
{
    std::size_t removed = 0;
    for (const residual_row& row : report.residuals) {
        removed += row.removed ? 1 : 0;
    }
    const auto line = [&out](const char* what, const std::string& value) {
        out << "<tr><th class=\"name\">" << what << "</th><td class=\"name\">" << value
            << "</td></tr>\n";
    };
    out << "<h2>Summary</h2>\n";
    for (const std::string& warning : report_warnings(report)) {
        out << "<p class=\"warning\">Warning: " << escaped(warning) << "</p>\n";
    }
    out << "<table>\n";
    line("Rotation model", report.model == rotation_model::exact
                               ? "exact (R3(ez)&#183;R2(ey)&#183;R1(ex))"
                               : "linearised (small angles)");
    line("Common points in the estimation",
         std::to_string(report.common_points) +
             (removed ? " (" + std::to_string(removed) + " left out)" : std::string()));
    line("Redundancy 3n &#8722; 7", std::to_string(report.redundancy));
    line("Iterations", std::to_string(report.iterations) + ", last convergence measure " +
                           general(report.last_measure, 3) + " (sum of |corrections|)");
    line("Reciprocal condition number",
         general(report.reciprocal_condition, 3) + " (unit-diagonal normal matrix, dimensionless)");
    if (report.stochastic.weighted) {
        line("&#963;0 = &#8730;(v&#7488;Pv / (3n &#8722; 7))",
             general(report.sigma0, 4) +
                 " (unitless: the square root of the variance factor; standard errors take the "
                 "a-priori variance factor 1)");
    } else {
        line("&#963;0 = &#8730;(v&#7488;v / (3n &#8722; 7))",
             with_unit(fixed(report.sigma0 * mm_per_m, 3), "mm"));
    }
    line("sevenparam&#8217;s figure &#8730;(v&#7488;v / 2), last iteration",
         with_unit(fixed(report.sigma0_sevenparam * mm_per_m, 3), "mm"));
    if (report.largest_residual < report.residuals.size()) {
        const residual_row& row = report.residuals[report.largest_residual];
        line("Largest residual",
             with_unit(fixed(row.length_m * mm_per_m, 2), "mm") + " at " + name_text(row.name));
    }
    line("Linearisation check",
         with_unit(fixed(report.linearisation_max_m * mm_per_m, 4), "mm") +
             " (largest distance between the small-angle and the exact rotation)");
    const residual_tests& tests = report.tests;
    line("Test of each residual",
         std::string(tests.test == residual_tests::kind::w
                         ? (report.stochastic.weighted
                                ? "w-test (the given precisions, variance factor 1), normal "
                                  "quantile"
                                : "w-test (a-priori &#963;), normal quantile")
                         : "Pope&#8217;s &#964;-test (&#963;0 of the data)") +
             ", &#945; = " + general(tests.alpha, 6) + " per test, two-sided; critical value " +
             fixed(tests.critical_value, 3));
    if (tests.alpha_family) {
        line("Familywise significance", familywise_text(*tests.alpha_family, report));
    }
    if (tests.global) {
        line("Global test",
             std::string(report.stochastic.weighted
                             ? "v&#7488;Pv (does the variance factor agree with 1?) = "
                             : "v&#7488;v / S&#178; = ") +
                 fixed(tests.global->statistic, 3) + " against &#967;&#178;(" +
                 std::to_string(report.redundancy) + ") critical value " +
                 fixed(tests.global->critical_value, 3) +
                 (tests.global->passed ? ": passed" : ": <b>failed</b>"));
    }
    out << "</table>\n";
    std::size_t flagged = 0;
    for (const residual_row& row : report.residuals) {
        flagged += row.flagged ? 1 : 0;
    }
    if (flagged) {
        out << "<p class=\"warning\">" << std::to_string(flagged)
            << (flagged == 1 ? " point is" : " points are")
            << " flagged: the figure (largest |w|) exceeds the critical value.</p>\n";
    }
}

// The stochastic model, the variance components and the robust estimation,
// each when the report has it.
void write_stochastic(std::ostream& out, const quality_report& report)
{
    const auto line = [&out](const char* what, const std::string& value) {
        out << "<tr><th class=\"name\">" << what << "</th><td class=\"name\">" << value
            << "</td></tr>\n";
    };
    const stochastic_model& s = report.stochastic;
    if (s.weighted) {
        out << "<h2>Stochastic model</h2>\n<table>\n";
        line("Precisions given", s.source_precision && s.target_precision
                                     ? "source and target points: errors in both systems"
                                 : s.source_precision
                                     ? "source points only: the target taken as free of errors"
                                     : "target points only: the source taken as free of errors");
        line("&#963;0", general(report.sigma0, 4) +
                            " (unitless: the square root of the variance factor v&#7488;Pv / (3n "
                            "&#8722; 7))");
        if (report.tests.global) {
            line("Global test", std::string("does the variance factor agree with 1? ") +
                                    (report.tests.global->passed ? "passed" : "<b>failed</b>"));
        }
        line("Standard errors", "of the parameters, w-tests and MDBs with the a-priori variance "
                                "factor 1 (the given precisions as they are)");
        out << "</table>\n";
    }
    if (report.variance_components) {
        const variance_component_estimate& v = *report.variance_components;
        out << "<h2>Variance components</h2>\n<table>\n";
        line("Source factor",
             general(v.source_factor, 6) + " (unitless; multiplies the source variances)");
        line("Target factor",
             general(v.target_factor, 6) + " (unitless; multiplies the target variances)");
        line("&#963;0 before the refit",
             general(v.sigma0_before, 4) +
                 " (unitless: the square root of the variance factor with the precisions as "
                 "given)");
        line("Iterations", std::to_string(v.iterations));
        out << "</table>\n<p class=\"note\">This report is that of the refit with the "
               "precisions scaled by these factors.</p>\n";
    }
    if (report.robust) {
        const robust_summary& r = *report.robust;
        std::string blunders;
        for (const std::size_t i : r.blunders) {
            if (i < report.residuals.size()) {
                blunders += (blunders.empty() ? "" : ", ") + name_text(report.residuals[i].name);
            }
        }
        out << "<h2>Robust estimation</h2>\n<table>\n";
        line("Estimator", std::string(robust_estimator_name(r.estimator)) + ", constant " +
                              general(r.constant, 6) + " (standardised residual)");
        line("Iterations", std::to_string(r.iterations));
        line("Likely blunders", (blunders.empty() ? std::string("none") : blunders) +
                                    " (final weight below " + general(blunder_weight, 6) + ")");
        out << "</table>\n<p class=\"note\">Each point&#8217;s final weight (0 to 1) is in the "
               "table of residuals.</p>\n";
    }
}

void write_excluded(std::ostream& out, const quality_report& report)
{
    if (report.excluded.empty()) {
        return;
    }
    out << "<h2>Points left out</h2>\n<table>\n<tr><th>Order</th><th class=\"name\">Point</th>"
           "<th class=\"name\">Reason</th><th>Figure (largest |w|)</th></tr>\n";
    for (std::size_t i = 0; i < report.excluded.size(); ++i) {
        const excluded_point& p = report.excluded[i];
        out << "<tr>";
        cell(out, std::to_string(i + 1));
        cell(out, name_text(p.name), "name");
        cell(out, p.why == excluded_point::reason::option ? "left out by request" : "data snooping",
             "name");
        cell(out, p.figure ? fixed(*p.figure, 2) : "&#8211;");
        out << "</tr>\n";
    }
    out << "</table>\n";
}

void write_parameters(std::ostream& out, const quality_report& report)
{
    const parameter_vector& v = report.parameters.value;
    const parameter_vector& s = report.parameters.sigma;
    out << "<h2>Parameters as estimated (centroid-based)</h2>\n"
        << "<p class=\"note\">p&#8242; = centroid<sub>target</sub> + t + (1 + m)&#183;R&#183;(p "
           "&#8722; centroid<sub>source</sub>), coordinate-frame rotations.</p>\n"
        << "<table>\n<tr><th class=\"name\">Parameter</th><th>Value</th><th>Standard error</th>"
           "<th>Value</th><th>Standard error</th></tr>\n";
    const char* const names[] = {"tx", "ty", "tz", "ex", "ey", "ez", "m"};
    for (int i = 0; i < 7; ++i) {
        out << "<tr>";
        cell(out, names[i], "name");
        if (i < 3) {
            cell(out, with_unit(general(v[i], 12), "m"));
            cell(out, with_unit(general(s[i], 3), "m"));
            cell(out, "");
            cell(out, "");
        } else if (i < 6) {
            cell(out, with_unit(general(v[i], 12), "rad"));
            cell(out, with_unit(general(s[i], 3), "rad"));
            cell(out, with_unit(general(v[i] * arcsec_per_rad, 10), "&#8243;"));
            cell(out, with_unit(general(s[i] * arcsec_per_rad, 3), "&#8243;"));
        } else {
            cell(out, general(v[i], 12) + " (ratio)");
            cell(out, general(s[i], 3) + " (ratio)");
            cell(out, with_unit(general(v[i] * ppm_per_ratio, 10), "ppm"));
            cell(out, with_unit(general(s[i] * ppm_per_ratio, 3), "ppm"));
        }
        out << "</tr>\n";
    }
    out << "</table>\n<table>\n<tr><th class=\"name\">Centroid</th><th>X</th><th>Y</th>"
           "<th>Z</th></tr>\n";
    for (const auto& [label, c] :
         {std::pair<const char*, const point_row*>{"source", &report.centroid_source},
          std::pair<const char*, const point_row*>{"target", &report.centroid_target}}) {
        out << "<tr>";
        cell(out, label, "name");
        for (int k = 0; k < 3; ++k) {
            cell(out, with_unit(fixed((*c)[k], 4), "m"));
        }
        out << "</tr>\n";
    }
    out << "</table>\n";

    out << "<h3>Correlation of the parameters (dimensionless)</h3>\n<table>\n<tr><th></th>";
    for (const char* n : names) {
        out << "<th>" << n << "</th>";
    }
    out << "</tr>\n";
    for (int i = 0; i < 7; ++i) {
        out << "<tr><th>" << names[i] << "</th>";
        for (int k = 0; k < 7; ++k) {
            cell(out, fixed(report.correlation(i, k), 3));
        }
        out << "</tr>\n";
    }
    out << "</table>\n";
}

void write_bursa_wolf(std::ostream& out, const quality_report& report)
{
    const bursa_wolf_set& bw = report.bursa_wolf;
    out << "<h2>Origin-based seven parameters (Bursa-Wolf)</h2>\n"
        << "<p class=\"note\">p&#8242; = T + (1 + s)&#183;R&#183;p. The position-vector "
           "convention has the same translations and scale and the rotations negated"
        << (report.model == rotation_model::exact
                ? ", which for the exact rotation matrix is the same transformation to first "
                  "order only."
                : ".")
        << "</p>\n"
        << "<table>\n<tr><th class=\"name\">Parameter</th><th>Coordinate frame</th>"
           "<th>Position vector</th><th>Standard error</th></tr>\n";
    const char* const translation_names[] = {"tx", "ty", "tz"};
    for (int k = 0; k < 3; ++k) {
        out << "<tr>";
        cell(out, translation_names[k], "name");
        cell(out, with_unit(fixed(bw.translation_m[k], 4), "m"));
        cell(out, with_unit(fixed(bw.translation_m[k], 4), "m"));
        cell(out, with_unit(general(bw.sigma_translation_m[k], 3), "m"));
        out << "</tr>\n";
    }
    const char* const rotation_names[] = {"rx", "ry", "rz"};
    for (int k = 0; k < 3; ++k) {
        out << "<tr>";
        cell(out, rotation_names[k], "name");
        cell(out, with_unit(fixed(bw.rotation_arcsec[k], 6), "&#8243;"));
        cell(out, with_unit(fixed(-bw.rotation_arcsec[k], 6), "&#8243;"));
        cell(out, with_unit(general(bw.sigma_rotation_arcsec[k], 3), "&#8243;"));
        out << "</tr>\n";
    }
    out << "<tr>";
    cell(out, "s", "name");
    cell(out, with_unit(fixed(bw.scale_ppm, 6), "ppm"));
    cell(out, with_unit(fixed(bw.scale_ppm, 6), "ppm"));
    cell(out, with_unit(general(bw.sigma_scale_ppm, 3), "ppm"));
    out << "</tr>\n</table>\n";
}

void write_exports(std::ostream& out, const quality_report& report)
{
    out << "<h2>For PROJ and other software</h2>\n"
        << "<p class=\"note\">Every text below is ready to paste into <code>cct</code> "
           "(numbers in m, arc-seconds and ppm)."
        << (report.model == rotation_model::exact
                ? " The exact rotation model: the PROJ texts carry +exact; +towgs84 cannot, and "
                  "PROJ applies it with the small-angle matrix."
                : "")
        << "</p>\n";
    if (report.small_angle_exports_max_m > linearisation_warning_m) {
        out << "<p class=\"warning\">+towgs84 and the position-vector set take the small-angle "
               "rotation: with these angles they miss the exact transformation by up to "
            << with_unit(fixed(report.small_angle_exports_max_m, 4), "m")
            << " at the common points. Use the other texts.</p>\n";
    }
    const std::pair<const char*, const std::string*> texts[] = {
        {"+towgs84 (position vector)", &report.towgs84},
        {"Origin-based set, +proj=helmert", &report.proj_helmert},
        {"Centroid form, +proj=molobadekas", &report.proj_molobadekas},
        {"Centroid form as a pipeline", &report.proj_pipeline},
    };
    for (const auto& [title, text] : texts) {
        out << "<h3>" << title << "</h3>\n<pre><code>" << escaped(*text) << "</code></pre>\n";
    }
}

void write_residual_table(std::ostream& out, const quality_report& report)
{
    const bool tau = report.tests.test == residual_tests::kind::tau;
    out << "<h2>Residuals and their tests</h2>\n"
        << "<p class=\"note\">v = target &#8722; transformed source, in mm; east, north, up at "
           "the target point (GRS80). w: standardised residuals ("
        << (tau ? "&#964;" : "w") << "); figure: largest |w|, critical value "
        << fixed(report.tests.critical_value, 3)
        << ". MDB: minimal detectable bias. Check: the residual had the point been left out. "
           "Points left out are in grey, against the final transformation. &#8211;: not "
           "defined, for a point left out or one the other points do not check.</p>\n"
        << "<div class=\"wide\"><table>\n<tr><th class=\"name\" rowspan=\"2\">Point</th>"
           "<th colspan=\"3\">v (mm)</th><th colspan=\"3\">v east, north, up (mm)</th>"
           "<th rowspan=\"2\">|v| (mm)</th><th colspan=\"3\">Redundancy numbers</th>"
           "<th colspan=\"3\">w</th><th rowspan=\"2\">Figure</th><th rowspan=\"2\" "
           "class=\"name\">Status</th><th colspan=\"3\">MDB (mm)</th>"
           "<th colspan=\"3\">Check (mm)</th>"
        << (report.robust ? "<th rowspan=\"2\">Weight</th>" : "") << "</tr>\n<tr>";
    for (int group = 0; group < 6; ++group) {
        const char* const axes = group == 1 ? "ENU" : "XYZ";
        for (int k = 0; k < 3; ++k) {
            out << "<th>" << axes[k] << "</th>";
        }
    }
    out << "</tr>\n";
    std::string line;
    const auto triple = [&line](const Eigen::Vector3d& v, double factor, int decimals) {
        for (int k = 0; k < 3; ++k) {
            cell(line, defined(v[k] * factor, decimals));
        }
    };
    const auto dashes = [&line](int n) {
        for (int k = 0; k < n; ++k) {
            cell(line, "&#8211;");
        }
    };
    const std::vector<double>* weights = report.robust ? &report.robust->weights : nullptr;
    for (std::size_t i = 0; i < report.residuals.size(); ++i) {
        const residual_row& row = report.residuals[i];
        line = "<tr class=\"";
        line += row_class(row);
        line += "\">";
        cell(line, name_text(row.name), "name");
        triple(row.xyz_m, mm_per_m, 2);
        triple(row.enu_m, mm_per_m, 2);
        cell(line, fixed(row.length_m * mm_per_m, 2));
        if (row.removed) {
            dashes(7);
            cell(line, "left out", "name");
            dashes(6);
        } else {
            triple(row.redundancy, 1, 3);
            triple(row.w, 1, 2);
            cell(line, defined(row.figure, 2));
            cell(line, row.flagged ? "flagged" : "", "name");
            triple(row.mdb_m, mm_per_m, 1);
            triple(row.check_m, mm_per_m, 2);
        }
        if (weights) {
            cell(line, !row.removed && i < weights->size() ? defined((*weights)[i], 3)
                                                           : std::string("&#8211;"));
        }
        line += "</tr>\n";
        out << line;
    }
    out << "</table></div>\n";
}

// With precisions: each common point of the final set, observed minus
// adjusted in both systems, and its adjusted coordinates.
void write_adjusted(std::ostream& out, const quality_report& report)
{
    if (report.adjusted.empty()) {
        return;
    }
    out << "<h2>Common points in both systems</h2>\n<p class=\"note\">Residuals observed "
           "&#8722; adjusted, in mm, and the adjusted coordinates, in m, of the source and the "
           "target points (X, Y, Z).</p>\n<div class=\"wide\"><table>\n<tr><th class=\"name\" "
           "rowspan=\"2\">Point</th><th colspan=\"3\">Source v (mm)</th><th colspan=\"3\">"
           "Target v (mm)</th><th colspan=\"3\">Adjusted source (m)</th><th colspan=\"3\">"
           "Adjusted target (m)</th></tr>\n<tr>";
    for (int group = 0; group < 4; ++group) {
        out << "<th>X</th><th>Y</th><th>Z</th>";
    }
    out << "</tr>\n";
    std::string line;
    for (std::size_t i = 0; i < report.adjusted.size() && i < report.residuals.size(); ++i) {
        const adjusted_point& a = report.adjusted[i];
        line = "<tr>";
        cell(line, name_text(report.residuals[i].name), "name");
        for (const Eigen::Vector3d* v : {&a.source_residual_m, &a.target_residual_m}) {
            for (int k = 0; k < 3; ++k) {
                cell(line, defined((*v)[k] * mm_per_m, 2));
            }
        }
        for (const Eigen::Vector3d* v : {&a.source_m, &a.target_m}) {
            for (int k = 0; k < 3; ++k) {
                cell(line, defined((*v)[k], 4));
            }
        }
        line += "</tr>\n";
        out << line;
    }
    out << "</table></div>\n";
}

// A table of carried precision, one row per point: `name(i)` and
// `precision(i)` for i below `count`.
template <typename Name, typename Precision>
void write_precision_table(std::ostream& out, const char* title, std::size_t count, Name name,
                           Precision precision)
{
    out << "<h2>" << title << "</h2>\n<p class=\"note\">Standard errors in mm along X, Y, Z and "
        << "east, north, up at the point (GRS80); the horizontal error ellipse at "
        << confidence_text()
        << " confidence: its semi-axes in mm and the azimuth of the major axis in degrees, "
           "clockwise from north.</p>\n<div class=\"wide\"><table>\n<tr><th class=\"name\" "
           "rowspan=\"2\">Point</th><th colspan=\"3\">&#963; (mm)</th><th colspan=\"3\">"
           "&#963; east, north, up (mm)</th><th colspan=\"3\">Error ellipse ("
        << confidence_text()
        << ")</th></tr>\n<tr><th>X</th><th>Y</th><th>Z</th><th>E</th><th>N</th><th>U</th>"
           "<th>Semi-major (mm)</th><th>Semi-minor (mm)</th><th>Azimuth (&#176;)</th></tr>\n";
    std::string line;
    for (std::size_t i = 0; i < count; ++i) {
        const carried_precision& p = precision(i);
        line = "<tr>";
        cell(line, name_text(name(i)), "name");
        for (int k = 0; k < 3; ++k) {
            cell(line, defined(p.sigma_xyz_m[k] * mm_per_m, 2));
        }
        for (int k = 0; k < 3; ++k) {
            cell(line, defined(p.sigma_enu_m[k] * mm_per_m, 2));
        }
        cell(line, defined(p.ellipse.semi_major_m * mm_per_m, 2));
        cell(line, defined(p.ellipse.semi_minor_m * mm_per_m, 2));
        cell(line, defined(axis_azimuth_shown(p.ellipse.azimuth_deg, 1), 1));
        line += "</tr>\n";
        out << line;
    }
    out << "</table></div>\n";
}

void write_common_precision(std::ostream& out, const quality_report& report)
{
    if (report.common_precision.empty()) {
        return;
    }
    write_precision_table(
        out, "Precision of the common points as transformed",
        std::min(report.common_precision.size(), report.residuals.size()),
        [&report](std::size_t i) -> const std::string& { return report.residuals[i].name; },
        [&report](std::size_t i) -> const carried_precision& {
            return report.common_precision[i];
        });
}

void write_predictions(std::ostream& out, const quality_report& report)
{
    if (report.predictions.empty()) {
        return;
    }
    out << "<h2>Test points in the target system</h2>\n<table>\n<tr><th class=\"name\">Point"
           "</th><th>X (m)</th><th>Y (m)</th><th>Z (m)</th></tr>\n";
    for (const prediction_row& p : report.predictions) {
        out << "<tr>";
        cell(out, name_text(p.name), "name");
        for (int k = 0; k < 3; ++k) {
            cell(out, fixed(p.xyz_m[k], 4));
        }
        out << "</tr>\n";
    }
    out << "</table>\n";
    write_precision_table(
        out, "Precision of the test points as carried", report.predictions.size(),
        [&report](std::size_t i) -> const std::string& { return report.predictions[i].name; },
        [&report](std::size_t i) -> const carried_precision& {
            return report.predictions[i].precision;
        });
}

} // namespace

void write_html_report(std::ostream& out, const quality_report& report,
                       const named_points& common_target,
                       const std::function<void(std::ostream&)>& more)
{
    out << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
        << "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
        << "<title>Seven-parameter transformation: quality report</title>\n<style>" << page_style
        << "</style>\n</head>\n<body>\n"
        << "<h1>Seven-parameter transformation: quality report</h1>\n";
    write_summary(out, report);
    write_stochastic(out, report);
    if (more) {
        more(out);
    }
    write_excluded(out, report);

    const std::vector<std::size_t> drawn = drawn_rows(report);
    std::string selection;
    if (drawn.size() < report.residuals.size()) {
        selection = " Drawn: " + std::to_string(drawn.size()) + " of the " +
                    std::to_string(report.residuals.size()) +
                    " points, those left out or flagged first, then those with the largest "
                    "residuals.";
    }
    out << "<h2>Residuals of the common points</h2>\n<figure>\n";
    write_map(out, report, row_positions(report, common_target), drawn);
    out << "<figcaption>Common points in the local east/north plane at the target centroid, "
           "with the horizontal residual of each point as a magnified arrow"
        << (report.predictions.empty()
                ? "."
                : ", and the test points with their horizontal error ellipses at " +
                      confidence_text() + " confidence, magnified as stated." +
                      (report.predictions.size() > figure_point_limit
                           ? " Drawn: the first " + std::to_string(figure_point_limit) +
                                 " of the " + std::to_string(report.predictions.size()) +
                                 " test points."
                           : std::string()))
        << selection << "</figcaption>\n</figure>\n<figure>\n";
    write_up_bars(out, report, drawn);
    out << "<figcaption>Up residual of each point (mm), in the order of the table below."
        << selection << "</figcaption>\n</figure>\n";

    write_parameters(out, report);
    write_bursa_wolf(out, report);
    write_exports(out, report);
    write_residual_table(out, report);
    write_adjusted(out, report);
    write_common_precision(out, report);
    write_predictions(out, report);
    out << "</body>\n</html>\n";
}

std::string html_name_text(const std::string& bytes)
{
    return escaped(to_utf8(bytes));
}

} // namespace sevenparam
