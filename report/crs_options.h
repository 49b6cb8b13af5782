// The CRS options of sevenparam-report as given (report/report_options.h
// names them; report/crs_run.h uses them). A build without CRS support
// parses them all the same, to refuse them by name.
#ifndef SEVENPARAM_REPORT_CRS_OPTIONS_H
#define SEVENPARAM_REPORT_CRS_OPTIONS_H

#include <optional>
#include <string>

namespace sevenparam {

struct crs_options {
    std::optional<std::string> src_crs, des_crs;       // CRS definitions, as given
    bool east_first = false;                           // longitude or easting first
    std::optional<std::string> wkt, projjson, geojson; // output files
};

} // namespace sevenparam

#endif
