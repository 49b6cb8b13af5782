// The run sequence: one pass from the command line to an exit status.
//
// A run
//   1. cuts the executable directory from the program's own path;
//   2. builds the option table, echoing every argument (driver/options.h);
//   3. with "--inputfile", takes "src", "des" and "test" from the profile file
//      (profile/profile_inputs.h), and stops when one of them was cut;
//   4. takes the result file path from "--outfile", else executable directory +
//      "out.txt";
//   5. fills "src", "des" and "test" from "--inputsrc", "--inputdes" and
//      "--inputtest" where the profile left them empty;
//   6. stops when "src" or "des" is empty;
//   7. parses the three number lists, refusing test points that are not
//      finite, and stops when the result file is the profile file read;
//   8. estimates the seven parameters;
//   9. and 10. writes the parameter output (no test points), or carries the
//      test points into the target system (stopping when one lands on a
//      coordinate that is not finite), prints them, writes the prediction
//      output and prints the precision and timing report;
//  11. returns the exit status.
//
// Exit status: exit_success (0) or exit_failure (-1, seen as 255 by a POSIX
// caller). Failures that end a run silently, after the argument echo: a
// profile file that exists nowhere, an empty source or target text. Failures
// reported with one line on the error stream: a profile value longer than the
// profile holds, a number list that does not parse, a test point text that
// does not hold whole points, a test point or transformed test point that is
// not finite, a result file path that names the profile file read, an
// estimation error (its own message), a result file that cannot be written.
// When writing the console output failed (a closed pipe, a full device), the
// run goes on to its end, the result file included, and then says so on the
// error stream and ends with exit_failure.
//
// Messages show a field of a number list as message_excerpt
// (numlist/message_excerpt.h) gives it: short, and without control bytes.
//
// Console texts are the GBK bytes of estimation/console_text.h, written
// unconverted; every line ends in "\n" followed by a flush. Numbers written by
// the stream use its default format (six significant digits). The program
// never sets a locale.
#ifndef SEVENPARAM_DRIVER_RUN_H
#define SEVENPARAM_DRIVER_RUN_H

#include "estimation/seven_parameters.h"
#include "profile/profile_inputs.h"

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

// The three number list texts of a run, exactly as received (spaces and all):
// the result file repeats them, less their CR, LF and FF bytes.
struct run_texts {
    std::string src;  // source points
    std::string des;  // target points
    std::string test; // test points; empty for a run without them
};

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
