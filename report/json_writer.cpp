#include "report/json_writer.h"

namespace sevenparam {

namespace {

using json = nlohmann::ordered_json;

// The line break and indentation before a member at the current depth; the
// top level's members are indented by 2.
void new_line(json_writer& w, std::size_t depth)
{
    w.text += '\n';
    w.text.append(2 * depth, ' ');
}

// The separator, line break and key before the next member.
void begin_member(json_writer& w, const char* key)
{
    if (w.open.empty()) {
        return;
    }
    json_writer::level& level = w.open.back();
    if (level.any) {
        w.text += ',';
    }
    level.any = true;
    new_line(w, w.open.size());
    if (key != nullptr && !level.array) {
        w.text += json(key).dump();
        w.text += ": ";
    }
}

std::string dump(const json& value, int indent)
{
    return value.dump(indent, ' ', false, json::error_handler_t::replace);
}

void open_level(json_writer& w, const char* key, bool array)
{
    begin_member(w, key);
    w.text += array ? '[' : '{';
    w.open.push_back({false, array});
}

} // namespace

json_writer json_continue_object()
{
    json_writer w;
    w.open.push_back({true, false});
    return w;
}

void json_open_object(json_writer& w, const char* key)
{
    open_level(w, key, false);
}

void json_open_array(json_writer& w, const char* key)
{
    open_level(w, key, true);
}

void json_close(json_writer& w)
{
    const json_writer::level level = w.open.back();
    w.open.pop_back();
    if (level.any) {
        new_line(w, w.open.size());
    }
    w.text += level.array ? ']' : '}';
}

void json_raw_member(json_writer& w, const char* key, const std::string& value_text)
{
    begin_member(w, key);
    w.text += value_text;
}

void json_member(json_writer& w, const char* key, const json& value)
{
    // A structured value takes nlohmann's indentation, shifted to this depth.
    std::string text = dump(value, value.is_structured() ? 2 : -1);
    std::string shifted;
    shifted.reserve(text.size());
    for (const char c : text) {
        shifted += c;
        if (c == '\n') {
            shifted.append(2 * w.open.size(), ' ');
        }
    }
    json_raw_member(w, key, shifted);
}

std::string json_number_text(double value)
{
    return dump(json(value), -1);
}

void json_number_rows(json_writer& w, const char* key, const Eigen::MatrixXd& m)
{
    json_open_array(w, key);
    for (Eigen::Index i = 0; i < m.rows(); ++i) {
        json_number_array(w, nullptr, m.row(i));
    }
    json_close(w);
}

} // namespace sevenparam
