// sevenparam-report in the user's coordinate reference systems (crs/crs.h):
// points read in a source and a target CRS, carried to geocentric X, Y, Z on
// each CRS's own datum for the estimation, and the results given back in the
// target CRS, with the transformation as a CRS-to-CRS operation.
//
//   - common points in the source and the target CRS, test points in the
//     source CRS; each in its CRS's axis order and units (east first with
//     --east-first), angles in decimal degrees or PROJ's sexagesimal forms;
//     beside a two-dimensional CRS an optional ellipsoidal height (m), 0
//     for every point of a file that gives none (and the reports say so);
//     number lists hold three numbers a point;
//   - predictions of the test points in the target CRS (its axes, then the
//     ellipsoidal height for a two-dimensional CRS);
//   - with a projected target CRS, the residuals of the common points along
//     its two axes: the given target coordinates minus those of the
//     transformed source point, in metres;
//   - the operation: WKT2:2019, PROJJSON and a PROJ pipeline (crs/crs.h
//     export_operation), its accuracy the RMS of the residual lengths
//     sqrt(sum |v|^2 / n) over the final set;
//   - warnings: points outside a CRS's area of use, with how many.
//
// Errors (input_error of report/inputs.h): an unknown or unusable CRS, and an
// option that needs the CRS options without them, are usage errors naming
// the option and PROJ's reason; a point PROJ cannot convert is a data error
// naming the file and line (or the list and point number).
#ifndef SEVENPARAM_REPORT_CRS_RUN_H
#define SEVENPARAM_REPORT_CRS_RUN_H

#include "crs/crs.h"
#include "quality/quality_report.h"
#include "report/crs_options.h"
#include "report/inputs.h"

#include <Eigen/Dense>

#include <future>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sevenparam {

using coordinate_rows = Eigen::Matrix<double, Eigen::Dynamic, 3, Eigen::RowMajor>;

// One side's points as read, in the CRS's coordinates.
struct crs_points {
    coordinate_rows read;      // three numbers a point (height 0 where none given)
    bool heights_given = true; // false: a 2D CRS's file without heights
    std::string origin;        // the file or list, for messages and notes
};

struct crs_run {
    std::unique_ptr<reference_system> source, target;
    crs_points common_source, common_target, test;
    std::vector<std::string> warnings; // one sentence each
    // After the estimation:
    coordinate_rows predictions;   // test points in the target CRS, rows of report.predictions
    coordinate_rows target_lonlat; // common target points: longitude, latitude (deg), h (map_layer)
    coordinate_rows test_lonlat;   // predicted test points: longitude, latitude (deg), h
    // Residuals along the target CRS's first two axes (m), one row per
    // residual row of the report (NaN where PROJ cannot take the transformed
    // source point); empty unless the target CRS is projected. Computed on
    // other threads while the reports are written: read them only after
    // axis_residuals_ready.wait() (the renderers below do).
    Eigen::Matrix<double, Eigen::Dynamic, 2, Eigen::RowMajor> axis_residuals;
    double rms_m = 0; // sqrt(sum |v|^2 / n) over the final set
    operation_texts operation;
    // Last, so that it is destroyed first: its destruction waits for the
    // computation, which writes the members above.
    std::shared_future<void> axis_residuals_ready;
};

// Checks the options and opens both CRSs. Raises input_error (usage) for a
// CRS PROJ cannot take, one CRS option without the other, or an output
// option without them.
crs_run open_crs_run(const crs_options& options);

// Gathers the inputs as gather_inputs does, read in the run's CRSs and
// converted to geocentric coordinates; the two sides on two threads.
// Raises input_error.
report_inputs gather_crs_inputs(const input_options& options, crs_run& run,
                                const char* program_path);

// Fills the run's results from the report; the common points' longitude and
// latitude only for a `map_layer` (GeoJSON). Raises input_error (data) for a
// prediction PROJ cannot convert.
void complete_crs_run(crs_run& run, const quality_report& report, const report_inputs& inputs,
                      const std::string& program_version, bool map_layer);

// The renderings: text sections (after the geocentric report), the JSON keys
// (each pair preceded by ",\n  ", to go before the report object's closing
// brace), an HTML section, the operation files and the GeoJSON map layer.
void write_crs_text(std::ostream& out, const crs_run& run, const quality_report& report);
void write_crs_json(std::ostream& out, const crs_run& run, const quality_report& report);
void write_crs_html(std::ostream& out, const crs_run& run, const quality_report& report);
void write_geojson(std::ostream& out, const crs_run& run, const quality_report& report);

} // namespace sevenparam

#endif
