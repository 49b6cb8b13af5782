#include "numlist/message_excerpt.h"

namespace sevenparam {

std::string message_excerpt(std::string_view text)
{
    static const char hex_digits[] = "0123456789ABCDEF";
    std::string out;
    const std::size_t shown = text.size() < excerpt_limit ? text.size() : excerpt_limit;
    for (std::size_t i = 0; i < shown; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x20 || byte == 0x7F) {
            out += "\\x";
            out += hex_digits[byte >> 4];
            out += hex_digits[byte & 0x0F];
        } else {
            out += text[i];
        }
    }
    if (shown < text.size()) {
        out += "...";
    }
    return out;
}

} // namespace sevenparam
