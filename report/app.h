// The run of sevenparam-report: command line, inputs, estimation, outputs.
//
//   1. parses the command line (report/report_options.h); --help and
//      --version print and end the run with status 0;
//   2. checks the option values (--sigma, --src-sigma, --des-sigma > 0,
//      0 < --alpha < 1, --rotation linearised or exact, --robust huber or
//      danish, no two outputs to one place);
//   3. gathers the inputs (report/inputs.h), with their precisions, and
//      refuses precision options the inputs or the other options
//      contradict;
//   4. builds the quality report (quality/quality_report.h) and writes its
//      warnings (report/warnings.h) on `err`, one line each,
//      "sevenparam-report: warning: ..."; they leave the status as it is;
//   5. writes each requested output file, a plain file under a temporary
//      name beside it (a device, pipe or symbolic link in place), renames the
//      temporaries into place, then writes standard output: the text report
//      unless --output names a file, or the JSON with "--json -" (which takes
//      standard output for itself).
//
// Exit status: report_exit_success (0); report_exit_usage_error (2) for a
// command line that cannot be run; report_exit_data_error (1) for inputs that
// cannot be read or are malformed, a failed estimation, or an output that
// cannot be written. A failure is one line on `err`, "sevenparam-report: "
// followed by the input concerned and what is wrong; a failed run writes no
// output at all (failures come before any writing, and a file that cannot be
// written leaves neither itself nor any other output behind). Standard output
// comes last, so it holds a report only when every file was written.
#ifndef SEVENPARAM_REPORT_APP_H
#define SEVENPARAM_REPORT_APP_H

#include <iosfwd>

namespace sevenparam {

// The whole run; argv[0] is the program's own path (it places a profile
// file as sevenparam does). Raises nothing beyond allocation failure.
int run_report(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

} // namespace sevenparam

#endif
