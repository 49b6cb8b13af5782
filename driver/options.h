// Command-line options of a run.
//
// Exactly five options exist, each taking one value text. The option table is
// an ordered map from option name to value; an entry exists exactly when its
// name occurred on the command line, and its value may be empty. "Present with
// an empty value" is a state of its own, distinct from "absent": a present but
// empty "--outfile" names no result file at all, an absent one means the
// default result file.
//
// Keys are ordered byte-wise (bytes compared as unsigned, the shorter text
// first on a common prefix), which is std::string's own order. The five names
// therefore stand as
//     --inputdes < --inputfile < --inputsrc < --inputtest < --outfile
// and this order decides where values go: a value is not tied to its option by
// position, it goes to the first entry in key order whose value is still
// empty. Option names are matched whole, byte for byte and case-sensitively;
// "--help", "--INPUTSRC" or "--inputsrc=1,2,3" are values like any other.
#ifndef SEVENPARAM_DRIVER_OPTIONS_H
#define SEVENPARAM_DRIVER_OPTIONS_H

#include <iosfwd>
#include <map>
#include <optional>
#include <string>

namespace sevenparam {

// The five option names, the only keys an option table ever holds.
namespace option_name {
// Path of the profile file that supplies "src", "des" and "test".
inline constexpr char inputfile[] = "--inputfile";
// Path of the result file.
inline constexpr char outfile[] = "--outfile";
// The source points themselves, as a number list (not a file name).
inline constexpr char inputsrc[] = "--inputsrc";
// The target points, as a number list.
inline constexpr char inputdes[] = "--inputdes";
// The test points, as a number list.
inline constexpr char inputtest[] = "--inputtest";
} // namespace option_name

using option_table = std::map<std::string, std::string>;

// True when `argument` is exactly one of the five option names.
bool is_option_name(const std::string& argument);

// Builds the option table from the process arguments. argv[0], the program's
// own path, is skipped; argv[1] .. argv[argc - 1] are taken in order. Each is
// first written to `echo` unchanged, followed by "\n" and a flush, whatever
// becomes of it. Then:
//   - an option name sets its entry to the empty value (creating it, or
//     discarding the value it had);
//   - any other argument, the empty text included, becomes the value of the
//     first entry in key order whose value is empty; when there is none (or the
//     table is still empty) it is dropped without notice.
// An empty argument thus leaves the entry it lands on empty. Returns the table;
// raises nothing beyond allocation failure.
option_table build_option_table(int argc, const char* const* argv, std::ostream& echo);

// The value of option `name`: std::nullopt when the option did not occur, else
// its value (possibly the empty text). An exact, whole, byte-wise match.
std::optional<std::string> find_option(const option_table& table, const std::string& name);

} // namespace sevenparam

#endif
