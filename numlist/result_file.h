// The result file: a short text of "key=value" lines, written once per run.
//
// Parameter output (a run without test points):
//   args=tx,ty,tz,ex,ey,ez,m
//   avesrc=X,Y,Z
//   avetar=X,Y,Z
// every value through the print threshold (|v| > 1e-6, else 0) and written as
// "%f". Prediction output (a run with test points):
//   src=<source text as given, less CR, LF and FF>
//   des=<target text as given, less CR, LF and FF>
//   test=<test point text as given, less CR, LF and FF>
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
// transformed test points. The three texts are written without their CR, LF
// and FF bytes: a number list holds them only as white space around its
// numbers, so no value changes, and each line of the result stays one
// profile entry that reads back as the same text.
std::string compose_prediction_output(const std::string& src, const std::string& des,
                                      const std::string& test, const std::string& joined);

// Writes `text` as the whole content of the file at `path`, in text mode
// (each "\n" as CR LF on Windows). The text goes to a new temporary file in
// the same directory, which then replaces the file at `path` in one rename
// (MoveFileEx with MOVEFILE_REPLACE_EXISTING on Windows): a reader, or
// another run writing the same path at the same time, sees the old file or a
// whole new one, never a mixture, and a failed write leaves the old file as
// it was. Where `path` is a symbolic link (POSIX systems), the file it
// points to is replaced and the link stays. A file that exists but may not be
// written is not replaced ("Permission denied"); a new file gets the
// permissions fopen would give it, a replaced one keeps its own (a hard link
// to the old file keeps the old content). Something at `path` that is not a
// file (a device such as /dev/null or NUL, a FIFO, a directory) is opened
// and written in place instead.
// Returns true when the text was written whole and is in place; false
// otherwise, with `reason` set to the system's text for the failure (strerror
// of errno), and `reason` untouched on success. An empty path fails with "No
// such file or directory"; a path holding a NUL byte fails without an open
// ("Invalid argument"). A failed write leaves no temporary file behind.
bool write_text_file(const std::string& path, const std::string& text, std::string& reason);

// The two steps of write_text_file that other writers of whole files share.
//
// True when something other than a plain file exists at `path`: a
// directory, a device (/dev/null; NUL or CON on Windows), a FIFO. Such a path
// is written in place, never replaced. Raises nothing.
bool exists_as_other_than_file(const std::string& path);

// Puts the file at `from` in the place of `to`, replacing whatever file is
// there in one step. On Windows MoveFileEx, with a few short retries while
// another process holds the file for an instant. Returns false with the
// system's reason in `reason` (strerror text) when that fails; `from` stays.
bool replace_file(const std::string& from, const std::string& to, std::string& reason);

} // namespace sevenparam

#endif
