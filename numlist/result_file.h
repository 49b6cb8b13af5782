// The result file: a short text of "key=value" lines, written once per run.
//
// Parameter output (a run without test points):
//   args=tx,ty,tz,ex,ey,ez,m
//   avesrc=X,Y,Z
//   avetar=X,Y,Z
// every value through the print threshold (|v| > 1e-6, else 0) and written as
// "%f". Prediction output (a run with test points):
//   src=<source text as given>
//   des=<target text as given>
//   test=<test point text as given>
//   output=<X,Y,Z of each transformed test point, "%f", no threshold>
// Every line ends in "\n" (CR LF on Windows, where the file is a text stream).
// The first three lines of the prediction output read back as entries of a
// profile file's nameless section.
#ifndef SEVENPARAM_NUMLIST_RESULT_FILE_H
#define SEVENPARAM_NUMLIST_RESULT_FILE_H

#include <string>
#include <vector>

namespace sevenparam {

namespace result_key {
inline constexpr char args[] = "args=";
inline constexpr char avesrc[] = "avesrc=";
inline constexpr char avetar[] = "avetar=";
inline constexpr char src[] = "src=";
inline constexpr char des[] = "des=";
inline constexpr char test[] = "test=";
inline constexpr char output[] = "output=";
} // namespace result_key

// A parameter-output value whose magnitude is not strictly greater than this
// is written as 0.000000 (a NaN too).
inline constexpr double print_threshold = 1e-6;

// v as the C library's "%f" writes it in the "C" locale: optional "-",
// integer digits, ".", six decimals. 2 -> "2.000000", -0.0 -> "-0.000000".
// The point is "." whatever locale the process has set. Infinities and NaNs
// read "inf", "-inf", "nan", "-nan" on every platform.
std::string number_to_text(double v);

// number_to_text of each value, separated by ","; "" for no values.
std::string join_numbers(const std::vector<double>& values);

// The three lines of the parameter output. `args` holds 7 values, `ave_src`
// and `ave_tar` 3 values each.
std::string compose_parameter_output(const double* args, const double* ave_src,
                                     const double* ave_tar);

// The four lines of the prediction output; `joined` is join_numbers of the
// transformed test points.
std::string compose_prediction_output(const std::string& src, const std::string& des,
                                      const std::string& test, const std::string& joined);

// Creates or truncates `path` as a text file (mode "wt") and writes `text` in
// one piece. Returns true when the file was opened, written whole and closed;
// false otherwise, with `reason` set to the system's text for the failure
// (strerror of errno), and `reason` untouched on success. An empty path fails
// at the open; a path holding a NUL byte fails without an open ("Invalid
// argument"). After a failed write or close the file may hold part of `text`.
bool write_text_file(const std::string& path, const std::string& text, std::string& reason);

} // namespace sevenparam

#endif
