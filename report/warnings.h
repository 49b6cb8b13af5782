// The report's warnings: conditions of the result that the user must see
// first. Each renderer shows them at the top of its report (the text report
// and the HTML page in the summary, the JSON as "warnings"), and the run
// repeats them on standard error ("sevenparam-report: warning: ...").
//
// Each warning is one sentence in plain ASCII, without a line end or a
// final full stop, written here and nowhere else; numbers carry their unit.
#ifndef SEVENPARAM_REPORT_WARNINGS_H
#define SEVENPARAM_REPORT_WARNINGS_H

#include "quality/quality_report.h"

#include <string>
#include <vector>

namespace sevenparam {

// The warnings of `report`, in this order (empty when there is none):
//   - report.mirrored: the target is a mirror image of the source;
//   - report.linearisation_warning: the small-angle model limits the result,
//     with report.linearisation_max_m in mm.
std::vector<std::string> report_warnings(const quality_report& report);

} // namespace sevenparam

#endif
