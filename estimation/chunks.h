// Passes over many points on several threads with results that do not
// depend on the number of threads.
//
// The points 0 .. count-1 are cut into chunks of chunk_points consecutive
// points (the last one shorter); the cut depends on count alone. A pass
// works on whole chunks, each on one thread, and keeps one partial result
// per chunk; the caller then combines the partial results in chunk order.
// A sum over the points is therefore formed in the same order, and comes
// out bit for bit the same, whatever the number of threads.
//
// With one chunk (count <= chunk_points) a pass is the plain loop over the
// points, in order, on the calling thread.
#ifndef SEVENPARAM_ESTIMATION_CHUNKS_H
#define SEVENPARAM_ESTIMATION_CHUNKS_H

#include <cstddef>
#include <functional>
#include <vector>

namespace sevenparam {

// Points per chunk. Large enough that a chunk's work outweighs handing it
// to a thread, small enough that two threads share even a modest network.
inline constexpr std::size_t chunk_points = 1 << 15;

// The number of chunks of `count` points.
std::size_t chunk_count(std::size_t count);

// The machine's hardware threads (at least 1).
unsigned default_threads();

// Runs work(chunk, begin, end) for every chunk of `count` points (points
// begin .. end-1), on up to `threads` threads (the calling thread among
// them; 0 counts as 1). Chunks may run in any order and at the same time;
// work must only write what belongs to its chunk. The first exception thrown
// by a chunk is raised again once every thread has stopped.
void for_each_chunk(std::size_t count, unsigned threads,
                    const std::function<void(std::size_t chunk, std::size_t begin,
                                             std::size_t end)>& work);

// Has the memory pages of `bytes` bytes from `first` mapped in for
// writing, as a write to each would, without changing what they hold where
// the system can (Linux: one madvise call, a quarter cheaper than a fault a
// page); elsewhere the bytes are written with zeros.
void prefault(char* first, std::size_t bytes);

// v.reserve(capacity) for an empty `v`, with the new memory prefaulted on
// up to `threads` threads, chunk by chunk: the page faults of a large fresh
// block (a million report rows take hundreds of megabytes) are then taken
// in parallel, not one by one by the thread that fills it. Only raw storage
// is touched; no element is constructed.
template <typename T>
void reserve_on_threads(std::vector<T>& v, std::size_t capacity, unsigned threads)
{
    v.reserve(capacity);
    if (!v.empty() || threads <= 1 || capacity <= chunk_points) {
        return;
    }
    char* const storage = reinterpret_cast<char*>(v.data());
    for_each_chunk(capacity, threads, [storage](std::size_t, std::size_t begin, std::size_t end) {
        prefault(storage + begin * sizeof(T), (end - begin) * sizeof(T));
    });
}

} // namespace sevenparam

#endif
