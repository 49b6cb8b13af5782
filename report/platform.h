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

// Sets the allocator up for a run that holds a few very large blocks (the
// points, the residual rows) and frees many large ones on the way (file
// texts, row blocks): with glibc, blocks from 128 KiB up are mapped apart
// and given back when freed. glibc would otherwise raise that bound to the
// size of each freed block, so that later ones stay in the heap after they
// are freed: some 47 MB more at the peak of a run of 1,000,000 points.
// Nothing elsewhere.
void tune_allocator_for_large_runs();

} // namespace sevenparam

#endif
