#include "report/text_encoding.h"

#include "report/platform.h"

#include <cstdint>

namespace sevenparam {

namespace {

// Decodes the UTF-8 character at bytes[i]; returns its length, or 0 when the
// bytes there are no well-formed character. Stores the code point.
std::size_t decode(std::string_view bytes, std::size_t i, std::uint32_t& code)
{
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(bytes[i + k]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    if (lead < 0x80) {
        code = lead;
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07u;
    } else {
        return 0;
    }
    if (i + length > bytes.size()) {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(k) & 0xC0) != 0x80) {
            return 0;
        }
        code = (code << 6) | (byte(k) & 0x3Fu);
    }
    // Overlong forms, UTF-16 surrogates and code points beyond U+10FFFF.
    static constexpr std::uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < smallest[length] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) {
        return 0;
    }
    return length;
}

bool is_wide(std::uint32_t code)
{
    return (code >= 0x1100 && code <= 0x115F) || (code >= 0x2E80 && code <= 0xA4CF) ||
           (code >= 0xAC00 && code <= 0xD7A3) || (code >= 0xF900 && code <= 0xFAFF) ||
           (code >= 0xFE30 && code <= 0xFE4F) || (code >= 0xFF00 && code <= 0xFF60) ||
           (code >= 0xFFE0 && code <= 0xFFE6) || (code >= 0x20000 && code <= 0x3FFFD);
}

bool is_ascii(std::string_view bytes)
{
    for (const char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return false;
        }
    }
    return true;
}

} // namespace

bool is_utf8(std::string_view bytes)
{
    std::uint32_t code = 0;
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t length = decode(bytes, i, code);
        if (length == 0) {
            return false;
        }
        i += length;
    }
    return true;
}

std::string to_utf8(const std::string& bytes)
{
    return is_utf8(bytes) ? bytes : gbk_to_utf8(bytes);
}

std::size_t display_width(std::string_view bytes)
{
    if (is_ascii(bytes) || !is_utf8(bytes)) {
        return bytes.size();
    }
    std::size_t width = 0;
    std::uint32_t code = 0;
    for (std::size_t i = 0; i < bytes.size();) {
        i += decode(bytes, i, code);
        width += is_wide(code) ? 2 : 1;
    }
    return width;
}

} // namespace sevenparam
