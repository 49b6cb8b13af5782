// The report's platform-specific pieces, the one place where the report
// differs between Windows and POSIX systems.
#ifndef SEVENPARAM_REPORT_PLATFORM_H
#define SEVENPARAM_REPORT_PLATFORM_H

#include <string>

namespace sevenparam {

// `gbk` decoded as GBK (code page 936) into UTF-8; every byte sequence that is
// no GBK character becomes U+FFFD. Never fails.
std::string gbk_to_utf8(const std::string& gbk);

// Whether the process's standard error is a terminal (console).
bool standard_error_is_terminal();

} // namespace sevenparam

#endif
