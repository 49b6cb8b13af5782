// Point files in a coordinate reference system: points one a line, each with
// two or three coordinates, read in the CRS's own axis order.
//
// The layout of lines is that of point files (numlist/point_file.h): blanks
// or one comma between fields, "#" comments, LF or CR LF, a UTF-8 byte order
// mark skipped, names any run of bytes without blanks, commas, "#". A line
// holds
//     A B        A B H        NAME A B        NAME A B H
// where A, B are the CRS's first two coordinates and H a third number (the
// ellipsoidal height beside a two-dimensional CRS, or the CRS's own third
// axis). Three fields are NAME A B when the first field is no coordinate
// (field_reader answers std::nullopt for it), else A B H; so a file of
// numeric names without heights must give its heights or no names. A file
// either names every point or none, and gives a third number for every
// point or for none; `third_required` asks for it on every line.
//
// After the coordinates a line may give its point's precision as point
// files do (numlist/point_file.h): 3 standard deviations (m) or the 6
// elements of a covariance's upper triangle (m^2), along the file's three
// numbers in their order (the third the height's, given or not); so a line
// holds 2 to 4 fields, 5 to 7, or 8 to 10, and its count says which. A file
// gives the same kind for every point or for none. Messages name them
// "s(AXIS)" and "q(AXIS,AXIS)" after the layout's axis names.
//
// Each coordinate is converted by the caller's field_reader (axis 0, 1, 2),
// which returns std::nullopt for a field that is not a coordinate of that
// axis. Reading stops at the first malformed line with point_file_error,
// whose message names the file, the 1-based line and what is wrong, quoting
// the offending bytes:
//     net.txt line 7: northing "4388x77.6" is not a number
#ifndef SEVENPARAM_NUMLIST_COORDINATE_FILE_H
#define SEVENPARAM_NUMLIST_COORDINATE_FILE_H

#include "numlist/point_file.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace sevenparam {

struct coordinate_layout {
    // Converts one field of axis 0, 1 or 2; std::nullopt when it is none.
    std::function<std::optional<double>(std::string_view field, int axis)> field_reader;
    const char* axis_names[3] = {"A", "B", "H"}; // for messages
    bool third_required = false;
};

// The points of one file: xyz holds three numbers a point, the third 0 where
// the file gives none; `third_given` says whether it did. points.precision
// and points.precision_values hold the precisions as given.
struct coordinate_file {
    point_file points;
    bool third_given = false;
};

// Parses the `size` bytes at `text`; `file` names it in messages. Raises
// point_file_error.
coordinate_file parse_coordinate_text(const char* text, std::size_t size, const std::string& file,
                                      const coordinate_layout& layout);

// Reads the whole file at `path` and parses it. Raises point_file_error,
// also when the file cannot be read.
coordinate_file read_coordinate_file(const std::string& path, const coordinate_layout& layout);

} // namespace sevenparam

#endif
