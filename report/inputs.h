// The inputs of sevenparam-report: common points and test points with their
// names, from either source.
//
//   - number lists, as sevenparam takes them: --inputsrc, --inputdes,
//     --inputtest and the profile of --inputfile (keys src, des, test; a
//     profile value wins over the option, the option fills what the profile
//     leaves empty; the profile is looked for as sevenparam looks for it).
//     Points are numbered "1", "2", ...;
//   - point files (numlist/point_file.h): --src-file, --des-file, --test-file.
//
// Coordinates must be finite and lists whole points of 3; source and target
// pair by order and must hold the same number of points, at least 3.
//
// Precisions: a point file may give each point's standard deviations or
// covariance (numlist/point_file.h), along its own axes; --src-sigma and
// --des-sigma give one standard deviation (m) for every coordinate of a
// system whose inputs give none (the source system's: the common source
// points and the test points). named_points::covariance then holds one
// covariance a point (m^2) along the input's own axes, geocentric X, Y, Z
// here (report/crs_run.h turns a CRS's axes into these). Refused, as usage
// errors: --src-sigma (--des-sigma) beside a file of that system that gives
// its own precisions; --sigma beside any precision; --variance-components
// without precisions of both the source and the target points.
#ifndef SEVENPARAM_REPORT_INPUTS_H
#define SEVENPARAM_REPORT_INPUTS_H

#include "numlist/point_file.h"
#include "profile/profile_inputs.h"
#include "quality/quality_report.h"

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace sevenparam {

// An input that cannot be used. status() is report_exit_usage_error for a
// command line that mixes or lacks sources or gives an empty file name,
// report_exit_data_error for input that cannot be read, does not fit in
// memory ("src.txt: out of memory while reading") or is malformed. what()
// names the input (option or file, field or line) and says what is wrong,
// without the program's name; paths and the profile's name show their
// control bytes as "\xHH", quoted fields and names as message_excerpt
// (numlist/message_excerpt.h) gives them.
class input_error : public std::runtime_error {
public:
    input_error(int status, const std::string& message)
        : std::runtime_error(message), status_(status)
    {
    }
    int status() const noexcept { return status_; }

private:
    int status_;
};

// The options that give or ask for precisions, their values checked
// (report/app.cpp).
struct precision_options {
    std::optional<double> src_sigma, des_sigma; // m, positive and finite
    bool sigma_apriori = false;                 // --sigma was given
    bool variance_components = false;           // --variance-components was given
};

// The input options as given; std::nullopt for an option not given.
struct input_options {
    std::optional<std::string> inputsrc, inputdes, inputtest, inputfile;
    std::optional<std::string> src_file, des_file, test_file;
    precision_options precision;
};

struct report_inputs {
    named_points source;
    named_points target;
    named_points test; // no rows without test points
    // Where the common points came from, for messages: "src.txt and des.txt",
    // "--inputsrc and --inputdes", "profile p.ini key src and --inputdes".
    std::string common_origin;
};

// The profile's three lists, found and read as sevenparam finds and reads the
// profile (profile/profile_inputs.h): at `profile`, else under the executable
// directory of `program_path`. std::nullopt when it exists at neither.
std::optional<profile_inputs> read_report_profile(const std::string& profile,
                                                  const char* program_path);

// Refuses common points that cannot pair: counts that differ, fewer than 3.
// The origins name the two inputs as the message is to show them (control
// bytes escaped). Raises input_error (report_exit_data_error).
void check_common_counts(std::size_t source, const std::string& source_origin, std::size_t target,
                         const std::string& target_origin);

// The origin of the precisions each input gives of its own (a point file's
// name as messages show it), empty for one that gives none.
struct own_precisions {
    std::string source, target, test;
};

// Refuses precision options that the command line or the inputs contradict
// (see above). Before the files are read, `files_read` false, only what the
// options themselves and number lists settle is checked. Raises input_error
// (usage).
void check_precisions(const input_options& options, const own_precisions& given, bool files_read);

// The covariance of each point of `points` (m^2), along the file's axes:
// from its precision columns, else sigma^2 I with `sigma`, else none (an
// empty vector). Frees the file's precision numbers.
std::vector<Eigen::Matrix3d> take_covariances(point_file& points, std::optional<double> sigma);

// Gathers and checks the inputs; raises input_error, and std::bad_alloc when
// memory runs out after the inputs were read.
report_inputs gather_inputs(const input_options& options, const char* program_path);

} // namespace sevenparam

#endif
