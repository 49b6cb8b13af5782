// Point files: points one a line, for point sets too large for a command
// line.
//
// A line holds "X Y Z" or "NAME X Y Z". Fields are separated by blanks
// (spaces, tabs), or by one comma with blanks around it allowed; a line may
// begin and end with blanks. "#" starts a comment that runs to the end of the
// line. Lines end in LF or CR LF; the last line needs no line end. A line that
// is empty, blank or only a comment holds no point. A UTF-8 byte order mark at
// the very beginning is skipped.
//
// X, Y, Z are numbers in the syntax of the number lists (numlist/number_list.h:
// strtod's "C"-locale syntax, the decimal separator always ".", whatever the
// process locale), and must be finite. Coordinates are taken as they are, in
// whatever unit the file uses (metres for ECEF); nothing is converted.
//
// NAME is any run of bytes without blanks, commas, "#", CR or LF; it is kept
// as those bytes, whatever their encoding (a file from a Chinese Windows
// system names its points in GBK). A file either names every point or none.
// Names are not required to be distinct: points pair by order, not by name.
//
// A line holds at most point_line_limit bytes, line end excluded (a comment
// counts): a point takes a few dozen, and a file without line ends, such as
// /dev/zero, would otherwise be read without bound.
//
// After X Y Z a line may give the precision of its point, in one of two
// forms, along the file's own axes (here geocentric X, Y, Z):
//     [NAME] X Y Z sX sY sZ                      standard deviations (m)
//     [NAME] X Y Z qxx qxy qxz qyy qyz qzz       covariance elements (m^2)
// so that a line holds 3 or 4, 6 or 7, 9 or 10 fields. A file gives the same
// kind for every point or for none (its first point decides). The numbers
// are those of the coordinates' syntax and must be finite; a standard
// deviation is at least 0; the six elements of a covariance (its upper
// triangle, row by row) form a positive semidefinite matrix, to within
// rounding: no variance below 0, no covariance where a variance is 0, and
// every principal minor of the correlation matrix at least
// -covariance_tolerance.
//
// Any other line is malformed: a longer line, a wrong number of fields, an
// empty field (two commas, a comma at either end), a coordinate that is no
// number, out of range or not finite, a point without a name in a file that
// names its points (or the other way round), precisions on some lines only
// or of two kinds, a negative standard deviation, a covariance that is not
// positive semidefinite. Reading stops at the first malformed line with
// point_file_error, whose message names the file (control bytes escaped),
// the 1-based line and what is wrong, quoting the offending bytes cut to a
// short excerpt with control bytes escaped (message_excerpt); a line of a
// name and too few numbers says how many it holds:
//     net.txt line 7: Y "4388x77.6" is not a number
//     net.txt line 9: point "P09" holds 2 numbers where X Y Z are needed
//     zero line 1: longer than 1048576 bytes, the most a line of a point file may hold
//     net.txt line 4: no precisions, where line 1 gives 3 standard deviations: give
//         precisions for every point or for none
//     net.txt line 5: sZ "-0.01" is negative
#ifndef SEVENPARAM_NUMLIST_POINT_FILE_H
#define SEVENPARAM_NUMLIST_POINT_FILE_H

#include <cstddef>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace sevenparam {

// The most bytes a line of a point file holds, its line end not counted.
inline constexpr std::size_t point_line_limit = std::size_t{1} << 20;

// A point file that cannot be read or holds a malformed line. what() is the
// whole message, beginning with the file's name as the caller gave it.
class point_file_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The precision a file gives of each of its points.
enum class point_precision { none, sigmas, covariance };

// The numbers a line gives of each kind: 0, 3 or 6.
constexpr std::size_t precision_numbers(point_precision precision)
{
    return precision == point_precision::sigmas       ? 3
           : precision == point_precision::covariance ? 6
                                                      : 0;
}

// How far below 0 a principal minor of a covariance's correlation matrix may
// lie and the covariance still count as positive semidefinite: the rounding
// of elements written with about ten digits.
inline constexpr double covariance_tolerance = 1e-9;

// The points of one file, in file order.
struct point_file {
    std::string file;               // the name given for messages
    std::vector<std::string> names; // one per point; empty when no point is named
    std::vector<double> xyz;        // X, Y, Z of each point in turn
    std::vector<std::size_t> lines; // the 1-based line of each point
    point_precision precision = point_precision::none;
    // The precision numbers of each point in turn, as the file gives them
    // along its axes: sX sY sZ (m) or qxx qxy qxz qyy qyz qzz (m^2); empty
    // with point_precision::none.
    std::vector<double> precision_values;
    std::size_t size() const { return xyz.size() / 3; }
};

// Parses the `size` bytes at `text` (any bytes, NUL included) as a point
// file; `file` names it in messages. Raises point_file_error.
point_file parse_point_text(const char* text, std::size_t size, const std::string& file);

// Reads the file at `path` and parses it as it goes, block by block
// (read_point_file_blocks below), so that a large file is never held whole;
// `path` names the file in messages. The result and the messages are those
// of parse_point_text on the whole text. Reading stops early at a line
// longer than point_line_limit, which is refused, and at the first line in
// error. Raises point_file_error, also when the file cannot be opened or
// read ("pts.txt: cannot read: No such file or directory"), and
// std::bad_alloc when the points do not fit in memory.
point_file read_point_file(const std::string& path);

// The reading and line rules above, for every file of points (this header's
// and numlist/coordinate_file.h's, whose lines hold other coordinates).
//
// The whole content of the file at `path`, read until its end or until the
// line being read is longer than point_line_limit (the parser then refuses
// that line or an earlier one). Raises point_file_error when the file cannot
// be opened or read ("pts.txt: cannot read: No such file or directory"), and
// std::bad_alloc when it does not fit in memory.
std::string read_point_file_text(const std::string& path);

// The same content handed over in order, in blocks that end at a line end
// (the last one may end without one, as may a block cut at a line longer
// than point_line_limit, which is then the last): take(text, size,
// size_hint) for each block, size_hint being the file's size as its
// directory says (0 when it says none), for reserving room. A block is about
// a mebibyte, and no longer than a mebibyte and the longest line.
void read_point_file_blocks(
    const std::string& path,
    const std::function<void(const char* text, std::size_t size, std::size_t size_hint)>& take);

// The lines of a file's text, one after another: the byte order mark
// skipped, LF or CR LF line ends, "#" comments cut off, and each line split
// into its fields.
struct point_lines {
    const char* next;          // where the next line begins
    const char* end;           // the end of the text
    const std::string* file;   // the name given for messages
    std::size_t line = 0;      // the 1-based number of the line last read
};
point_lines start_point_lines(const char* text, std::size_t size, const std::string& file);

// The most fields of a line that are kept: the 10 of NAME X Y Z and a
// covariance, and one more, so that a message can tell what the line holds.
inline constexpr std::size_t point_fields_kept = 11;
using point_fields = std::string_view[point_fields_kept];

// Reads on to the next line that holds fields and returns true, with the
// first point_fields_kept of them in `fields` and their number in `count`;
// false at the end of the text. Raises point_file_error for a line longer
// than point_line_limit or with an empty field.
bool next_point_line(point_lines& lines, point_fields& fields, std::size_t& count);

// The names of the precision numbers along a file's three axes, for
// messages: sX sY sZ and qxx qxy qxz qyy qyz qzz for a point file.
struct precision_names {
    std::string sigma[3];
    std::string covariance[6];
};
const precision_names& geocentric_precision_names();

// The names along axes named otherwise: "s(A)", "q(A,B)" for axes A, B, C.
precision_names precision_names_along(const char* const (&axes)[3]);

// Reads the precision numbers of one line, precision_numbers(precision) of
// them, from `fields` into `values`, and checks them as the rules above say.
// `names` names them in messages. Raises point_file_error "FILE line N: ...":
//     sY "-0.01" is negative
//     qxx "-1" is a negative variance
//     the covariance "1 2 0 1 0 1" (qxx qxy qxz qyy qyz qzz) is not positive semidefinite
void read_precision_fields(const std::string_view* fields, point_precision precision,
                           const precision_names& names, const std::string& file, std::size_t line,
                           double* values);

// What is wrong with a line giving precision `given` in a file whose first
// point (on `first_line`) gave `expected`; empty when they agree:
//     3 standard deviations, where line 1 gives none: give precisions for
//     every point or for none
std::string precision_mismatch(point_precision given, point_precision expected,
                               std::size_t first_line);

// Raises point_file_error "FILE line N: WHAT", the file's control bytes
// escaped.
[[noreturn]] void point_line_error(const std::string& file, std::size_t line,
                                   const std::string& what);

// The names of `points`: its own, or "1", "2", ... when it names none.
std::vector<std::string> point_names(const point_file& points);

// The names of `count` unnamed points: "1", "2", ... in order.
std::vector<std::string> numbered_names(std::size_t count);

// The names of the common points `source` and `target`, which pair by order:
// the names of the file that names its points, those of `source` when both
// do, else "1", "2", .... Raises point_file_error when the two hold different
// numbers of points, or when both name their points and a pair disagrees
// (the message names the first such pair, its lines and both names). The
// names are moved out of the file they come from, which is left without
// names: a million of them are not copied.
std::vector<std::string> pair_point_names(point_file& source, point_file& target);

} // namespace sevenparam

#endif
