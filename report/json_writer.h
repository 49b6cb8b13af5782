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

#include <Eigen/Dense>

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
