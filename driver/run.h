// The run sequence: one pass from the command line to an exit status.
//
// A run
//   1. cuts the executable directory from the program's own path;
//   2. builds the option table, echoing every argument (driver/options.h);
//   3. with "--inputfile", takes "src", "des" and "test" from the profile file;
//   4. takes the result file path from "--outfile", else executable directory +
//      "out.txt";
//   5. fills "src", "des" and "test" from "--inputsrc", "--inputdes" and
//      "--inputtest" where the profile left them empty;
//   6. stops when "src" or "des" is empty;
//   7. parses the three number lists;
//   8. estimates the seven parameters;
//   9. and 10. writes the parameter output (no test points), or carries the
//      test points into the target system, prints them, writes the prediction
//      output and prints the precision and timing report;
//  11. returns the exit status.
//
// Exit status: exit_success (0) or exit_failure (-1, seen as 255 by a POSIX
// caller). Failures that end a run silently, after the argument echo: a
// profile file that exists nowhere, an empty source or target text. Failures
// reported with one line on the error stream: a number list that does not
// parse, a test point text that does not hold whole points, an estimation
// error (its own message), a result file that cannot be written.
//
// Console texts are the GBK bytes of estimation/console_text.h, written
// unconverted; every line ends in "\n" followed by a flush. Numbers written by
// the stream use its default format (six significant digits). The program
// never sets a locale.
#ifndef SEVENPARAM_DRIVER_RUN_H
#define SEVENPARAM_DRIVER_RUN_H

#include "estimation/seven_parameters.h"

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace sevenparam {

inline constexpr int exit_success = 0;
inline constexpr int exit_failure = -1;

// Name of the result file when "--outfile" is absent, placed in the
// executable directory.
inline constexpr char default_result_name[] = "out.txt";

// The keys of the profile file's nameless section that carry the three
// number lists.
namespace profile_key {
inline constexpr char src[] = "src";
inline constexpr char des[] = "des";
inline constexpr char test[] = "test";
} // namespace profile_key

// The three number list texts of a run, exactly as received (spaces and all):
// the result file repeats them.
struct run_texts {
    std::string src;  // source points
    std::string des;  // target points
    std::string test; // test points; empty for a run without them
};

// The executable directory: `program_path` up to and including its last
// backslash. Only the backslash separates: a forward slash does not, so a
// POSIX path such as "/usr/bin/sevenparam" gives the empty text, and
// everything placed "under the executable directory" then resolves against
// the current directory. A null or backslash-free path gives the empty text.
std::string executable_directory(const char* program_path);

// The profile inputs. The profile path is `profile_option` (the value of
// "--inputfile", possibly empty); when nothing exists there, it becomes
// `exe_dir` + `profile_option` (plain concatenation). Returns std::nullopt when
// nothing exists at either path: the run then ends silently with
// exit_failure. Otherwise returns "src", "des" and "test" of the file's
// nameless section, each read into a zero-filled buffer of
// profile_value_size bytes; a missing key, an empty value or an unreadable
// file gives the empty text. Raises nothing beyond allocation failure.
std::optional<run_texts> read_profile_inputs(const std::string& profile_option,
                                             const std::string& exe_dir);

// Carries test points (X, Y, Z triples in the source system) into the target
// system: ave_tar + transform_point(p - ave_src, args) for each point p, in
// order. Returns 3 values per whole point; values after the last whole triple
// are not read. Raises nothing beyond allocation failure.
std::vector<double> predict_points(const std::vector<double>& test_points,
                                   const adjustment_result& result);

// The whole run. `argv` holds `argc` arguments, argv[0] the program's own
// path. The argument echo, the estimation's listing and the prediction report
// go to `out`; error messages to `err`. Returns exit_success or
// exit_failure; raises nothing but allocation failure.
int run(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

} // namespace sevenparam

#endif
