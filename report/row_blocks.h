// Long tables written in blocks of rows formatted on several threads.
//
// The rows 0 .. count-1 are cut into blocks of row_block_size rows; the cut
// depends on count alone. format(begin, end, text) appends the text of rows
// begin .. end-1 to `text`; the blocks are formatted on up to `threads`
// threads, a few blocks ahead, the calling thread among them: it writes the
// finished ones to `out` in order, and formats one itself whenever the next
// to write is not ready. The bytes written are those of formatting every
// row in order on one thread, whatever the number of threads; at most
// 2 * threads blocks are held at a time.
#ifndef SEVENPARAM_REPORT_ROW_BLOCKS_H
#define SEVENPARAM_REPORT_ROW_BLOCKS_H

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <string>

namespace sevenparam {

inline constexpr std::size_t row_block_size = 4096;

// Formats and writes as above. An exception from `format` is raised again
// once every thread has stopped (blocks before it may have been written).
void write_row_blocks(std::ostream& out, std::size_t count, unsigned threads,
                      const std::function<void(std::size_t begin, std::size_t end,
                                               std::string& text)>& format);

} // namespace sevenparam

#endif
