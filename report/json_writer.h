// A JSON object written as it goes, member by member, in the layout of the
// quality report's JSON: nlohmann's pretty print with an indent of 2 for
// objects and arrays of objects, an array of numbers on one line, and an
// array of such arrays (a matrix) one row a line.
//
// Scalars are written by nlohmann (strings escaped, invalid UTF-8 replaced
// by U+FFFD; numbers in its shortest round-trip form, integral floating
// values with ".0", non-finite ones null), so the text is byte for byte the
// one of the same members built as an nlohmann::ordered_json object and
// dumped with indent 2. Nothing is kept but the open levels: adding a member
// is one call in the place it goes.
//
// Usage: json_writer w; json_open_object(w) for the top level, then for each
// member one call (json_member with a scalar, json_number_array,
// json_number_rows), or json_open_object / json_open_array(w, key), the
// members, and json_close; w.text holds what is written so far, which the
// caller may move out at any point between members.
#ifndef SEVENPARAM_REPORT_JSON_WRITER_H
#define SEVENPARAM_REPORT_JSON_WRITER_H

#include <nlohmann/json.hpp>

#include "report/row_blocks.h"

#include <Eigen/Dense>

#include <ostream>
#include <string>
#include <vector>

namespace sevenparam {

struct json_writer {
    std::string text;
    // One entry per open object or array: whether a member was written, and
    // whether it is an array (closes with ']').
    struct level {
        bool any = false;
        bool array = false;
    };
    std::vector<level> open;
};

// Opens an object or array as the value of `key` in the object open, as an
// element of the array open (key nullptr), or as the whole text (nothing open).
void json_open_object(json_writer& w, const char* key = nullptr);
void json_open_array(json_writer& w, const char* key = nullptr);
// Closes the innermost open object or array ("{}" / "[]" when empty).
void json_close(json_writer& w);

// One member (or array element, key nullptr) with a value nlohmann writes
// (a string, number, bool, nullptr, or any nlohmann::ordered_json value).
void json_member(json_writer& w, const char* key, const nlohmann::ordered_json& value);

// An array of numbers on one line: [a,b,c].
template <typename Vector> void json_number_array(json_writer& w, const char* key, const Vector& v);
// An array of number arrays, one row of `m` a line.
void json_number_rows(json_writer& w, const char* key, const Eigen::MatrixXd& m);

// A writer that goes on with a top-level object whose text is already
// written up to its last member: what it writes starts with ",".
json_writer json_continue_object();

// A member `name` of the top-level object holding an array of `count`
// rows, written to `out` as ",\n  \"name\": [" and each row's object on a
// line of its own; write_row(line, i) appends the members of row i. The rows
// are formatted in blocks on `threads` threads (report/row_blocks.h), the
// bytes the same for any count.
template <typename Write>
void json_row_array(std::ostream& out, const char* name, std::size_t count, unsigned threads,
                    Write write_row)
{
    out << ",\n  \"" << name << "\": [";
    write_row_blocks(out, count, threads,
                     [&](std::size_t begin, std::size_t end, std::string& line) {
                         for (std::size_t i = begin; i < end; ++i) {
                             line += i == 0 ? "\n    {" : ",\n    {";
                             write_row(line, i);
                             line += '}';
                         }
                     });
    out << (count == 0 ? "]" : "\n  ]");
}

// ---- internals of the templates ----
void json_raw_member(json_writer& w, const char* key, const std::string& value_text);
std::string json_number_text(double value);

template <typename Vector> void json_number_array(json_writer& w, const char* key, const Vector& v)
{
    std::string text = "[";
    for (Eigen::Index i = 0; i < v.size(); ++i) {
        if (i > 0) {
            text += ',';
        }
        text += json_number_text(v(i));
    }
    text += ']';
    json_raw_member(w, key, text);
}

} // namespace sevenparam

#endif
