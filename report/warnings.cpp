#include "report/warnings.h"

#include "report/number_format.h"
#include "report/report_options.h"

namespace sevenparam {

namespace {

constexpr double mm_per_m = 1000;

std::string millimetres(double metres)
{
    std::string text;
    append_significant(text, metres * mm_per_m, 3);
    return text + " mm";
}

} // namespace

std::vector<std::string> report_warnings(const quality_report& report)
{
    std::vector<std::string> warnings;
    if (report.mirrored) {
        warnings.push_back("the target is mirrored against the source, so no rotation fits it: "
                           "are two axes swapped?");
    }
    if (report.linearisation_warning) {
        warnings.push_back("the small-angle rotation departs from the exact one by up to " +
                           millimetres(report.linearisation_max_m) +
                           " at the common points, above " + millimetres(linearisation_warning_m) +
                           ": the linearised model limits this result; " + report_option::rotation +
                           " " + rotation_exact + " removes the limit");
    }
    return warnings;
}

} // namespace sevenparam
