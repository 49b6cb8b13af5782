// The quality report as plain text: UTF-8 (names as the input gave them),
// English, one section after another, columns aligned, a unit beside every
// number or in its column heading.
//
// Estimated parameters, centroids, sigma0 and the origin-based parameters are
// written in the shortest form that reads back as the very double computed,
// so that no significant digit is lost; residuals, biases, predictions,
// adjusted coordinates and carried standard errors and ellipse semi-axes at
// 0.1 mm, standardised residuals and test figures at two decimals, robust
// weights at three, ellipse azimuths (degrees) at one. In the tables of
// points, "-" stands for a figure a point lacks (the tests or the weight of
// a point left out) or that is undefined (NaN).
//
// The sections of the stochastic model, the variance components and the
// robust estimation, the weight column, and the tables of both systems and
// of the common points' carried precision appear only when the report has
// them (stochastic.weighted, variance_components, robust); the test points'
// carried precision follows their coordinates whenever there are test
// points.
//
// Names are written as the input gave them, but for control bytes (0x00 to
// 0x1F, 0x7F), each written as "\xHH" (numlist/message_excerpt.h), so that no
// name sends line breaks or terminal controls. A column of names is as wide
// as its widest name, but at most name_column_width terminal columns: a wider
// name stands whole on a line of its own, and its row follows on the next
// line, so that the report grows with the number of points, not with the
// longest name. JSON and HTML keep every name whole.
#ifndef SEVENPARAM_REPORT_TEXT_REPORT_H
#define SEVENPARAM_REPORT_TEXT_REPORT_H

#include "quality/quality_report.h"

#include <cstddef>
#include <iosfwd>
#include <string>

namespace sevenparam {

// The widest a column of point names grows, in terminal columns.
inline constexpr std::size_t name_column_width = 24;

// Writes the report to `out` line by line (the residual tables may hold
// millions of rows, so nothing is composed whole). `title` is the first line.
// The rows of those tables are formatted on `threads` threads; the text is
// the same for any count.
void write_text_report(std::ostream& out, const quality_report& report, const std::string& title,
                       unsigned threads = 1);

} // namespace sevenparam

#endif
