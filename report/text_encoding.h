// Point names as UTF-8, for the report formats that require it (JSON, HTML).
//
// Names are the bytes the input gave. A file written on a Chinese Windows
// system names its points in GBK (code page 936); files from elsewhere mostly
// in UTF-8 or plain ASCII. The text report writes names unchanged; JSON and
// HTML take them through to_utf8.
#ifndef SEVENPARAM_REPORT_TEXT_ENCODING_H
#define SEVENPARAM_REPORT_TEXT_ENCODING_H

#include <string>
#include <string_view>

namespace sevenparam {

// True when `bytes` is well-formed UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF). ASCII is UTF-8.
bool is_utf8(std::string_view bytes);

// `bytes` as UTF-8: unchanged when it is UTF-8 already, else decoded as GBK
// (glibc's iconv on POSIX systems, the code-page API on Windows). Never fails:
// a byte sequence that is no GBK character becomes U+FFFD. Raises nothing
// beyond allocation failure.
std::string to_utf8(const std::string& bytes);

// The number of terminal columns `bytes` takes: for UTF-8 one per character,
// two for the wide East Asian ones; otherwise one per byte (GBK writes its
// wide characters as two bytes). For aligning columns of names.
std::size_t display_width(std::string_view bytes);

} // namespace sevenparam

#endif
