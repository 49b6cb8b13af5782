#include "numlist/result_file.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <system_error>

namespace sevenparam {

namespace {

// The largest double has 309 integer digits; with a sign, the point and six
// decimals its "%f" text is 317 bytes.
constexpr std::size_t max_number_text = 320;

// Positive zero for every value that is not strictly larger than the
// threshold in magnitude: the negated comparison sends NaN to zero too, and
// a tiny negative value never prints as "-0.000000".
double apply_print_threshold(double v)
{
    return std::fabs(v) > print_threshold ? v : 0.0;
}

void append_thresholded(std::string& out, const char* key, const double* values, std::size_t n)
{
    out += key;
    for (std::size_t i = 0; i < n; ++i) {
        if (i != 0) {
            out += ',';
        }
        out += number_to_text(apply_print_threshold(values[i]));
    }
    out += '\n';
}

std::string system_reason(int error_number)
{
    // Some C libraries leave errno at 0 on a short write; "Success" would
    // then stand as the reason for a failure.
    return std::strerror(error_number != 0 ? error_number : EIO);
}

} // namespace

std::string number_to_text(double v)
{
    // std::to_chars with a precision writes exactly what printf's "%f" writes
    // in the "C" locale, whatever locale the process has set: a decimal comma
    // from snprintf would split one value into two fields of the result line.
    char buffer[max_number_text];
    const std::to_chars_result result =
        std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::fixed, 6);
    return std::string(buffer, result.ptr);
}

std::string join_numbers(const std::vector<double>& values)
{
    std::string out;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i != 0) {
            out += ',';
        }
        out += number_to_text(values[i]);
    }
    return out;
}

std::string compose_parameter_output(const double* args, const double* ave_src,
                                     const double* ave_tar)
{
    std::string out;
    append_thresholded(out, result_key::args, args, 7);
    append_thresholded(out, result_key::avesrc, ave_src, 3);
    append_thresholded(out, result_key::avetar, ave_tar, 3);
    return out;
}

std::string compose_prediction_output(const std::string& src, const std::string& des,
                                      const std::string& test, const std::string& joined)
{
    std::string out;
    out.reserve(src.size() + des.size() + test.size() + joined.size() + 32);
    out += result_key::src;
    out += src;
    out += '\n';
    out += result_key::des;
    out += des;
    out += '\n';
    out += result_key::test;
    out += test;
    out += '\n';
    out += result_key::output;
    out += joined;
    out += '\n';
    return out;
}

bool write_text_file(const std::string& path, const std::string& text, std::string& reason)
{
    // fopen sees the path only up to its first NUL byte and would write to
    // another file than the one named.
    if (path.find('\0') != std::string::npos) {
        reason = std::strerror(EINVAL);
        return false;
    }

    errno = 0;
    std::FILE* file = std::fopen(path.c_str(), "wt");
    if (file == nullptr) {
        reason = system_reason(errno);
        return false;
    }

    // Text mode turns each "\n" into CR LF on Windows; the count compared is
    // that of the bytes handed over, which is what fwrite returns there too.
    errno = 0;
    const std::size_t written = std::fwrite(text.data(), 1, text.size(), file);
    if (written != text.size()) {
        reason = system_reason(errno);
        std::fclose(file);
        return false;
    }

    // Buffered bytes reach the file only here: a full disk shows up as a
    // failed close, not as a short fwrite.
    errno = 0;
    if (std::fclose(file) != 0) {
        reason = system_reason(errno);
        return false;
    }
    return true;
}

} // namespace sevenparam
