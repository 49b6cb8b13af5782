// The quality report as one self-contained HTML page.
//
// The page needs nothing beyond itself: no network, no script, the style
// inline. It holds the summary, the parameter tables (as estimated, and as
// origin-based seven parameters in both rotation conventions), the
// correlation matrix, the PROJ exports in <pre><code> blocks to copy, the
// residuals with their tests, the points left out and the test points. Two
// inline SVG figures show the residuals:
//   - a map of the common points in the local east/north plane at the target
//     centroid (the tangent plane of GRS80 there, orthographic), with each
//     point's horizontal residual (east, north) as an arrow magnified by the
//     stated factor, a scale bar for the map (m or km) and one for the
//     arrows (mm);
//   - the up residual of every point as a bar (mm).
// Flagged points are red; points left out are drawn hollow and crossed,
// grey, with their residual against the final transformation; a legend says
// so. Test points (the first 5000) are green squares on the map, placed as
// the common points, each with its horizontal error ellipse at
// ellipse_confidence, magnified by a factor of its own that the map states.
// Each SVG element is well-formed XML on its own.
//
// When the report has them, tables of the stochastic model, the variance
// components and the robust estimation follow the summary, the residual
// table ends in each point's robust weight, and tables give the common
// points in both systems and their carried precision; the test points'
// carried precision follows their coordinates.
//
// Units on the page: coordinates and translations in m, residuals, biases
// and standard errors of residuals in mm, angles in rad and arc-seconds,
// scale in ppm (and as a ratio for the estimated m); every number carries
// its unit in its column heading or beside it.
//
// Text: point names are bytes (maybe GBK); they pass through to_utf8 and are
// escaped (& < > " '), and control characters, which XML does not allow,
// are shown as U+FFFD. The page is UTF-8.
#ifndef SEVENPARAM_REPORT_HTML_H
#define SEVENPARAM_REPORT_HTML_H

#include "quality/quality_report.h"

#include <functional>
#include <iosfwd>
#include <string>

namespace sevenparam {

// Bytes of the input (a point or CRS name, maybe GBK) as page text: through
// to_utf8, escaped as above.
std::string html_name_text(const std::string& bytes);

// Writes the page for `report` to `out` (opened in binary or text mode).
// `common_target` is the target side of the common points exactly as given to
// build_quality_report, points left out included: the map places each
// residual row at the point of the same name, taking repeated names in
// input order. A row whose name is not found is left off the map (the
// tables still show it). Numbers are written in the classic locale whatever
// the stream's or the process's. Never throws beyond the stream's own
// exceptions and allocation failure.
// `more`, when given, writes further sections after the summary.
void write_html_report(std::ostream& out, const quality_report& report,
                       const named_points& common_target,
                       const std::function<void(std::ostream&)>& more = {});

} // namespace sevenparam

#endif
