#include "report/row_blocks.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <ostream>
#include <thread>
#include <vector>

namespace sevenparam {

void write_row_blocks(std::ostream& out, std::size_t count, unsigned threads,
                      const std::function<void(std::size_t, std::size_t, std::string&)>& format)
{
    const std::size_t blocks = (count + row_block_size - 1) / row_block_size;
    const auto rows_of = [count](std::size_t block) {
        return std::pair<std::size_t, std::size_t>(
            block * row_block_size, std::min(count, (block + 1) * row_block_size));
    };
    if (threads <= 1 || blocks <= 1) {
        std::string text;
        for (std::size_t block = 0; block < blocks; ++block) {
            text.clear();
            const auto [begin, end] = rows_of(block);
            format(begin, end, text);
            out.write(text.data(), static_cast<std::streamsize>(text.size()));
        }
        return;
    }

    // A ring of slots: block b is formatted into slot b % slots once block
    // b - slots has been written from it.
    struct slot {
        std::string text;
        bool ready = false;
    };
    const std::size_t slots = 2 * static_cast<std::size_t>(threads);
    std::vector<slot> ring(slots);
    std::mutex mutex;
    std::condition_variable changed;
    std::size_t next = 0;    // the next block to format
    std::size_t written = 0; // blocks written
    bool stop = false;
    std::exception_ptr failure;

    // Formats a claimed block into its slot; false (and everything to stop)
    // when `format` threw.
    const auto format_block = [&](std::size_t block) {
        slot& s = ring[block % slots];
        try {
            s.text.clear();
            const auto [begin, end] = rows_of(block);
            format(begin, end, s.text);
        } catch (...) {
            const std::lock_guard<std::mutex> lock(mutex);
            if (!failure) {
                failure = std::current_exception();
            }
            stop = true;
            changed.notify_all();
            return false;
        }
        const std::lock_guard<std::mutex> lock(mutex);
        s.ready = true;
        changed.notify_all();
        return true;
    };
    const auto formatter = [&] {
        for (;;) {
            std::size_t block = 0;
            {
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait(lock, [&] { return stop || next >= blocks || next < written + slots; });
                if (stop || next >= blocks) {
                    return;
                }
                block = next++;
            }
            if (!format_block(block)) {
                return;
            }
        }
    };
    // The calling thread formats too whenever the block it is to write next
    // is not ready: `threads` threads in all, the writing among them.
    std::vector<std::thread> workers;
    const std::size_t worker_count = std::min<std::size_t>(threads - 1, blocks);
    workers.reserve(worker_count);
    for (std::size_t t = 0; t < worker_count; ++t) {
        workers.emplace_back(formatter);
    }
    for (std::size_t block = 0; block < blocks; ++block) {
        slot& s = ring[block % slots];
        bool stopped = false;
        for (;;) {
            std::unique_lock<std::mutex> lock(mutex);
            if (stop) {
                stopped = true;
                break;
            }
            if (s.ready) {
                break;
            }
            if (next < blocks && next < written + slots) {
                const std::size_t claimed = next++;
                lock.unlock();
                format_block(claimed);
                continue;
            }
            changed.wait(lock);
        }
        if (stopped) {
            break;
        }
        out.write(s.text.data(), static_cast<std::streamsize>(s.text.size()));
        const std::lock_guard<std::mutex> lock(mutex);
        s.ready = false;
        written = block + 1;
        changed.notify_all();
    }
    {
        const std::lock_guard<std::mutex> lock(mutex);
        stop = true;
        changed.notify_all();
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
}

} // namespace sevenparam
