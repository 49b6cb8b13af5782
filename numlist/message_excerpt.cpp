#include "numlist/message_excerpt.h"

namespace sevenparam {

namespace {

bool is_control(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
}

void append_escaped(std::string& out, std::string_view text)
{
    static const char hex_digits[] = "0123456789ABCDEF";
    for (const char c : text) {
        if (is_control(c)) {
            const auto byte = static_cast<unsigned char>(c);
            out += "\\x";
            out += hex_digits[byte >> 4];
            out += hex_digits[byte & 0x0F];
        } else {
            out += c;
        }
    }
}

} // namespace

std::string message_excerpt(std::string_view text)
{
    std::string out;
    append_escaped(out, text.substr(0, excerpt_limit));
    if (text.size() > excerpt_limit) {
        out += "...";
    }
    return out;
}

std::string escape_control_bytes(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    append_escaped(out, text);
    return out;
}

bool has_control_bytes(std::string_view text)
{
    for (const char c : text) {
        if (is_control(c)) {
            return true;
        }
    }
    return false;
}

std::string counted(std::size_t count, std::string_view noun)
{
    std::string out = std::to_string(count);
    out += ' ';
    out += noun;
    if (count != 1) {
        out += 's';
    }
    return out;
}

} // namespace sevenparam
