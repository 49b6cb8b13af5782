#include "report/platform.h"

#include <cerrno>
#include <string>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#ifdef _WIN32
#include <io.h>
#include <stdio.h>
#include <windows.h>
#else
#include <iconv.h>
#include <unistd.h>
#endif

namespace sevenparam {

namespace {

constexpr char replacement_character[] = "\xEF\xBF\xBD"; // U+FFFD

} // namespace

#ifdef _WIN32

std::string gbk_to_utf8(const std::string& gbk)
{
    constexpr UINT gbk_code_page = 936;
    if (gbk.empty()) {
        return gbk;
    }
    // Without MB_ERR_INVALID_CHARS the system puts U+FFFD for what it cannot
    // decode, which is the wanted behaviour.
    const int size = static_cast<int>(gbk.size());
    const int wide_size = MultiByteToWideChar(gbk_code_page, 0, gbk.data(), size, nullptr, 0);
    if (wide_size <= 0) {
        return replacement_character;
    }
    std::wstring wide(static_cast<std::size_t>(wide_size), L'\0');
    MultiByteToWideChar(gbk_code_page, 0, gbk.data(), size, &wide[0], wide_size);
    const int utf8_size =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_size, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(utf8_size > 0 ? utf8_size : 0), '\0');
    if (utf8_size > 0) {
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_size, &utf8[0], utf8_size, nullptr,
                            nullptr);
    }
    return utf8;
}

#else

std::string gbk_to_utf8(const std::string& gbk)
{
    const iconv_t converter = iconv_open("UTF-8", "GBK");
    if (converter == reinterpret_cast<iconv_t>(-1)) {
        // No GBK table installed: every non-ASCII byte is undecodable.
        std::string utf8;
        for (char c : gbk) {
            if (static_cast<unsigned char>(c) < 0x80) {
                utf8 += c;
            } else {
                utf8 += replacement_character;
            }
        }
        return utf8;
    }
    std::string utf8;
    char* in = const_cast<char*>(gbk.data());
    std::size_t in_left = gbk.size();
    char buffer[256];
    while (in_left > 0) {
        char* out = buffer;
        std::size_t out_left = sizeof buffer;
        const std::size_t done = iconv(converter, &in, &in_left, &out, &out_left);
        utf8.append(buffer, static_cast<std::size_t>(out - buffer));
        if (done == static_cast<std::size_t>(-1) && errno != E2BIG) {
            // An invalid or cut-off sequence: one byte becomes U+FFFD and the
            // conversion goes on after it.
            utf8 += replacement_character;
            ++in;
            --in_left;
            iconv(converter, nullptr, nullptr, nullptr, nullptr);
        }
    }
    iconv_close(converter);
    return utf8;
}

#endif

bool standard_error_is_terminal()
{
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) == 1;
#endif
}

void tune_allocator_for_large_runs()
{
#ifdef __GLIBC__
    constexpr int separately_mapped_bytes = 128 * 1024;
    mallopt(M_MMAP_THRESHOLD, separately_mapped_bytes);
#endif
}

} // namespace sevenparam
