// The command-line options of sevenparam-report, each name in one place. The
// four options shared with sevenparam (--inputsrc, --inputdes, --inputtest,
// --inputfile) take their names from driver/options.h.
#ifndef SEVENPARAM_REPORT_REPORT_OPTIONS_H
#define SEVENPARAM_REPORT_REPORT_OPTIONS_H

#include "driver/options.h"
#include "quality/quality_report.h"

namespace sevenparam {

inline constexpr char report_program_name[] = "sevenparam-report";

// Exit statuses of sevenparam-report.
inline constexpr int report_exit_success = 0;
inline constexpr int report_exit_data_error = 1;  // bad data, a failed estimation, a write
inline constexpr int report_exit_usage_error = 2; // a command line that cannot be run

namespace report_option {
// Point files, one point a line (numlist/point_file.h).
inline constexpr char src_file[] = "--src-file";
inline constexpr char des_file[] = "--des-file";
inline constexpr char test_file[] = "--test-file";
// Outputs.
inline constexpr char output[] = "--output"; // text report (default: standard output)
inline constexpr char json[] = "--json";     // JSON report ("-": standard output)
inline constexpr char html[] = "--html";     // HTML page
// The estimation and its tests.
inline constexpr char sigma[] = "--sigma";
inline constexpr char alpha[] = "--alpha";
inline constexpr char alpha_family[] = "--alpha-family"; // familywise, instead of --alpha
inline constexpr char exclude[] = "--exclude";
inline constexpr char snoop[] = "--snoop";
inline constexpr char rotation[] = "--rotation";
// Precisions and robust estimation.
inline constexpr char src_sigma[] = "--src-sigma"; // one sigma (m) for every source coordinate
inline constexpr char des_sigma[] = "--des-sigma"; // one sigma (m) for every target coordinate
inline constexpr char variance_components[] = "--variance-components";
inline constexpr char robust[] = "--robust"; // huber or danish
// The run.
inline constexpr char threads[] = "--threads";   // default: the machine's hardware threads
inline constexpr char progress[] = "--progress"; // progress lines on standard error
// Coordinate reference systems (report/crs_run.h); refused by a build
// without CRS support.
inline constexpr char src_crs[] = "--src-crs";
inline constexpr char des_crs[] = "--des-crs";
inline constexpr char east_first[] = "--east-first";
inline constexpr char wkt[] = "--wkt";           // the operation as WKT2:2019
inline constexpr char projjson[] = "--projjson"; // the operation as PROJJSON
inline constexpr char geojson[] = "--geojson";   // the points as a GeoJSON map layer
inline constexpr char help[] = "--help";
inline constexpr char version[] = "--version";
} // namespace report_option

// The values of --rotation, and "-" for standard output.
inline constexpr char rotation_linearised[] = "linearised";
inline constexpr char rotation_exact[] = "exact";
inline constexpr char robust_huber[] = "huber";
inline constexpr char robust_danish[] = "danish";
inline constexpr char standard_output_name[] = "-";

// The value of --robust that names `estimator` (robust_huber, robust_danish),
// as the reports name it too; "none" for robust_estimator::none.
inline const char* robust_estimator_name(robust_estimator estimator)
{
    return estimator == robust_estimator::huber    ? robust_huber
           : estimator == robust_estimator::danish ? robust_danish
                                                   : "none";
}

} // namespace sevenparam

#endif
