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
// Any other line is malformed: a longer line, a wrong number of fields, an
// empty field (two commas, a comma at either end), a coordinate that is no
// number, out of range or not finite, a point without a name in a file that
// names its points (or the other way round). Reading stops at the first
// malformed line with point_file_error, whose message names the file (control
// bytes escaped), the 1-based line and what is wrong, quoting the offending
// bytes cut to a short excerpt with control bytes escaped (message_excerpt);
// a line of a name and too few numbers says how many it holds:
//     net.txt line 7: Y "4388x77.6" is not a number
//     net.txt line 9: point "P09" holds 2 numbers where X Y Z are needed
//     zero line 1: longer than 1048576 bytes, the most a line of a point file may hold
#ifndef SEVENPARAM_NUMLIST_POINT_FILE_H
#define SEVENPARAM_NUMLIST_POINT_FILE_H

#include <cstddef>
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

// The points of one file, in file order.
struct point_file {
    std::string file;               // the name given for messages
    std::vector<std::string> names; // one per point; empty when no point is named
    std::vector<double> xyz;        // X, Y, Z of each point in turn
    std::vector<std::size_t> lines; // the 1-based line of each point
    std::size_t size() const { return xyz.size() / 3; }
};

// Parses the `size` bytes at `text` (any bytes, NUL included) as a point
// file; `file` names it in messages. Raises point_file_error.
point_file parse_point_text(const char* text, std::size_t size, const std::string& file);

// Reads the whole file at `path` in one go and parses it; `path` names the
// file in messages. Reading stops early at a line longer than
// point_line_limit, which is refused. Raises point_file_error, also when the
// file cannot be opened or read ("pts.txt: cannot read: No such file or
// directory"), and std::bad_alloc when the file does not fit in memory.
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

// Reads on to the next line that holds fields and returns true, with the
// first 5 of them in `fields` and their number in `count`; false at the end
// of the text. Raises point_file_error for a line longer than
// point_line_limit or with an empty field.
bool next_point_line(point_lines& lines, std::string_view (&fields)[5], std::size_t& count);

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
// (the message names the first such pair, its lines and both names).
std::vector<std::string> pair_point_names(const point_file& source, const point_file& target);

} // namespace sevenparam

#endif
