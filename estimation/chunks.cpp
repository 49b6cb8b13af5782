#include "estimation/chunks.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace sevenparam {

std::size_t chunk_count(std::size_t count)
{
    return (count + chunk_points - 1) / chunk_points;
}

void prefault(char* first, std::size_t bytes)
{
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
    // Widened to whole pages; those of other blocks in the first and last
    // page keep their contents too. Kernels before 5.14 refuse the call.
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto begin = reinterpret_cast<std::uintptr_t>(first) & ~(page - 1);
    const auto end = reinterpret_cast<std::uintptr_t>(first) + bytes;
    if (bytes == 0 ||
        madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE) == 0)
        return;
#endif
    std::memset(first, 0, bytes);
}

unsigned default_threads()
{
    return std::max(1u, std::thread::hardware_concurrency());
}

void for_each_chunk(std::size_t count, unsigned threads,
                    const std::function<void(std::size_t, std::size_t, std::size_t)>& work)
{
    const std::size_t chunks = chunk_count(count);
    const auto run = [&](std::size_t chunk) {
        const std::size_t begin = chunk * chunk_points;
        work(chunk, begin, std::min(count, begin + chunk_points));
    };
    const std::size_t workers = std::min<std::size_t>(std::max(1u, threads), chunks);
    if (workers <= 1) {
        for (std::size_t chunk = 0; chunk < chunks; ++chunk)
            run(chunk);
        return;
    }
    // Each thread takes the next chunk not yet taken until none is left.
    std::atomic<std::size_t> next{0};
    std::exception_ptr failure;
    std::mutex failure_mutex;
    const auto take_chunks = [&] {
        for (std::size_t chunk = next++; chunk < chunks; chunk = next++) {
            try {
                run(chunk);
            } catch (...) {
                const std::lock_guard<std::mutex> lock(failure_mutex);
                if (!failure)
                    failure = std::current_exception();
                next = chunks;
            }
        }
    };
    std::vector<std::thread> helpers;
    helpers.reserve(workers - 1);
    for (std::size_t t = 1; t < workers; ++t)
        helpers.emplace_back(take_chunks);
    take_chunks();
    for (std::thread& helper : helpers)
        helper.join();
    if (failure)
        std::rethrow_exception(failure);
}

} // namespace sevenparam
