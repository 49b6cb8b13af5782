// The quality report as one JSON object (UTF-8; names through to_utf8).
//
// Numbers are in the shortest form that reads back as the very double
// computed; a non-finite number is null. Units are in the key names (_m,
// _arcsec, _ppm) or those of quality/quality_report.h (parameters: m, rad,
// ratio). Keys, each written in one place (namespace json_key):
//   program, version, rotation ("linearised" or "exact"),
//   warnings [texts of report/warnings.h], mirrored (bool), common_points,
//   redundancy, iterations, last_measure, reciprocal_condition,
//   largest_residual {name, length_m}, sigma0, sigma0_sevenparam,
//   centroid_source [3], centroid_target [3], correlation [7][7],
//   linearisation_max_m, linearisation_warning (bool),
//   parameters {tx, ty, tz, ex, ey, ez, m, ex_arcsec, ey_arcsec, ez_arcsec,
//               m_ppm, sigma {the same keys}},
//   bursa_wolf (coordinate frame) and bursa_wolf_position_vector
//               {tx_m, ty_m, tz_m, rx_arcsec, ry_arcsec, rz_arcsec, s_ppm,
//                sigma {the same keys}},
//   towgs84, proj_helmert, proj_molobadekas, proj_pipeline (texts),
//   tests {alpha (of each test), alpha_family (only with --alpha-family: the
//          familywise significance alpha follows from by Sidak's rule),
//          kind ("w" or "tau"), critical_value,
//          global (null or {statistic, critical_value, passed})},
//   excluded [{name, reason ("option" or "snooping"), figure (or null)}],
//   only with precisions given (stochastic.weighted; sigma0 is then the
//   unitless square root of the variance factor):
//     stochastic {weighted (true), source_precision, target_precision (bool),
//                 variance_factor_apriori (1: the standard errors' factor)},
//   only with variance components:
//     variance_components {source_factor, target_factor, sigma0_before
//                          (unitless), iterations},
//   only with robust estimation:
//     robust {estimator ("huber" or "danish"), constant (standardised
//             residual), iterations, blunder_weight, blunders [names]},
//   residuals [{name, xyz_m [3], enu_m [3], length_m, redundancy [3], w [3],
//               figure, flagged, mdb_m [3], check_m [3], removed,
//               then with robust estimation weight (null for a point left
//               out), with precisions source_residual_m [3],
//               target_residual_m [3], source_adjusted_m [3],
//               target_adjusted_m [3] (points of the final set) and the
//               precision members below (every row)}],
//   predictions [{name, xyz_m [3], and the precision members}];
// the precision members of a point carried into the target system:
//   sigma_xyz_m [3], sigma_enu_m [3], covariance_xyz_m2 [3][3] (m^2),
//   ellipse {semi_major_m, semi_minor_m, azimuth_deg (of the major axis,
//            clockwise from north), confidence (0.95)}.
#ifndef SEVENPARAM_REPORT_JSON_REPORT_H
#define SEVENPARAM_REPORT_JSON_REPORT_H

#include "quality/quality_report.h"

#include <functional>
#include <iosfwd>
#include <string>

namespace sevenparam {

// Writes the report to `out`, pretty-printed, ending in a line end; the
// arrays of residuals and predictions one element a line, as they may hold
// millions. `version` is the program's version. The rows are formatted on
// `threads` threads; the text is the same for any count. `more`, when given,
// writes further keys before the object's closing brace, each pair preceded
// by ",\n  ".
void write_json_report(std::ostream& out, const quality_report& report, const std::string& version,
                       unsigned threads = 1, const std::function<void(std::ostream&)>& more = {});

} // namespace sevenparam

#endif
