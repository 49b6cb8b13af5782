// Feeds arbitrary bytes to the point-file parser and checks what must hold
// for every input: it either returns points or raises point_file_error whose
// message begins with the file's name and, for a malformed line, names a
// line that exists; the points it returns are whole (three coordinates, a
// line each, a name each or none), their coordinates finite, in increasing
// line order, and their precisions of one kind for all of them, finite, the
// standard deviations at least 0 and the variances too.
#include "numlist/point_file.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

using namespace sevenparam;

void check(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const char* text = reinterpret_cast<const char*>(data);
    const std::size_t lines = static_cast<std::size_t>(std::count(text, text + size, '\n')) + 1;
    const std::string name = "f.txt";
    point_file points;
    try {
        points = parse_point_text(text, size, name);
    } catch (const point_file_error& e) {
        const std::string message = e.what();
        check(message.rfind(name + " ", 0) == 0 || message.rfind(name + ":", 0) == 0);
        const std::string line_word = name + " line ";
        if (message.rfind(line_word, 0) == 0) {
            const std::size_t line = std::strtoul(message.c_str() + line_word.size(), nullptr, 10);
            check(line >= 1 && line <= lines);
        }
        return 0;
    }
    const std::size_t n = points.size();
    check(points.xyz.size() == 3 * n && points.lines.size() == n);
    check(points.names.empty() || points.names.size() == n);
    for (const double v : points.xyz) {
        check(std::isfinite(v));
    }
    for (std::size_t i = 0; i < n; ++i) {
        check(points.lines[i] >= 1 && points.lines[i] <= lines);
        check(i == 0 || points.lines[i] > points.lines[i - 1]);
    }
    const std::size_t numbers = precision_numbers(points.precision);
    check(points.precision_values.size() == numbers * n);
    for (std::size_t i = 0; i < points.precision_values.size(); ++i) {
        const double v = points.precision_values[i];
        check(std::isfinite(v));
        const std::size_t k = i % numbers;
        // sX sY sZ, or the variances qxx, qyy, qzz of a covariance.
        if (points.precision == point_precision::sigmas || k == 0 || k == 3 || k == 5) {
            check(v >= 0);
        }
    }
    return 0;
}
