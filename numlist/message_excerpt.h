// The forms in which a message shows text that came from the input, and
// counts.
//
// A field of a number list may be of any length and hold any byte. A message
// shows at most its first 40 bytes, followed by "..." when the field is
// longer, and writes each control byte among them (0x00 to 0x1F, and 0x7F)
// as "\xHH" with two upper-case hexadecimal digits, so that a message stays
// one short line and never sends line breaks or terminal controls from the
// input. Every other byte, GBK and UTF-8 bytes from 0x80 up included, is
// shown as it is; a cut may fall inside a multi-byte character.
//
// A path the user gave is shown whole, its control bytes escaped the same
// way: it is the user's own text, and two paths that differ only in an
// invisible byte then look different.
#ifndef SEVENPARAM_NUMLIST_MESSAGE_EXCERPT_H
#define SEVENPARAM_NUMLIST_MESSAGE_EXCERPT_H

#include <cstddef>
#include <string>
#include <string_view>

namespace sevenparam {

// Bytes of a field that a message shows at most.
inline constexpr std::size_t excerpt_limit = 40;

// `text` in the form above. Raises nothing beyond allocation failure.
std::string message_excerpt(std::string_view text);

// `text` whole, each control byte written as "\xHH". Raises nothing beyond
// allocation failure.
std::string escape_control_bytes(std::string_view text);

// True when `text` holds a control byte, which escape_control_bytes rewrites.
bool has_control_bytes(std::string_view text);

// `count` and the noun, singular for 1, else with "s" added: "1 point",
// "3 points", "0 points". Raises nothing beyond allocation failure.
std::string counted(std::size_t count, std::string_view noun);

} // namespace sevenparam

#endif
