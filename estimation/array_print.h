// Labelled listing of a matrix on a console stream, in the layout of an
// array library's print:
//
//   <label>
//   [r c 1 1]
//   <row 0: each value as printf "%10.4f" followed by one space>
//   ...
//   <an empty line, only when r > 1>
//
// A matrix without elements prints "<empty>" after the dimensions line and
// nothing more. Values wider than ten characters are not cut. Non-finite
// values print as "nan", "-nan", "inf" or "-inf", right-aligned.
#ifndef SEVENPARAM_ESTIMATION_ARRAY_PRINT_H
#define SEVENPARAM_ESTIMATION_ARRAY_PRINT_H

#include <Eigen/Dense>

#include <iosfwd>
#include <string>

namespace sevenparam {

// Appends the "%10.4f" text of v (exactly what printf writes for a finite
// value) to `out`.
void append_fixed4(std::string& out, double v);

// Writes the listing of `a` under `label` to `out`. The whole listing is
// formatted in memory and written in one piece, then the stream is flushed
// once. A stream that is not good() (for instance one without a buffer)
// receives nothing and nothing is formatted. Returns nothing; stream errors
// are the stream's state.
void print_array(std::ostream& out, const char* label, const Eigen::Ref<const Eigen::MatrixXd>& a);

} // namespace sevenparam

#endif
