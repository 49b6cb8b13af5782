// The quality report as plain text: UTF-8 (names as the input gave them),
// English, one section after another, columns aligned, a unit beside every
// number or in its column heading.
//
// Estimated parameters, centroids, sigma0 and the origin-based parameters are
// written in the shortest form that reads back as the very double computed,
// so that no significant digit is lost; residuals, biases and predictions at
// 0.1 mm, standardised residuals and test figures at two decimals. In the
// tables of points, "-" stands for a figure a point lacks (the tests of a
// point left out) or that is undefined (NaN).
#ifndef SEVENPARAM_REPORT_TEXT_REPORT_H
#define SEVENPARAM_REPORT_TEXT_REPORT_H

#include "quality/quality_report.h"

#include <iosfwd>
#include <string>

namespace sevenparam {

// Writes the report to `out` line by line (the residual tables may hold
// millions of rows, so nothing is composed whole). `title` is the first line.
// The rows of those tables are formatted on `threads` threads; the text is
// the same for any count.
void write_text_report(std::ostream& out, const quality_report& report, const std::string& title,
                       unsigned threads = 1);

} // namespace sevenparam

#endif
