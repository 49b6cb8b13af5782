#include "numlist/result_file.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

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

// Appends `text` without its CR, LF and FF bytes. A value holds them only as
// the white space around a number, where they change no value; in the
// result file each would end the line of a profile entry.
void append_on_one_line(std::string& out, const std::string& text)
{
    for (char c : text) {
        if (c != '\r' && c != '\n' && c != '\f') {
            out += c;
        }
    }
}

// Writes `text` whole and closes `file`, which is closed in every case.
bool write_and_close(std::FILE* file, const std::string& text, std::string& reason)
{
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
    // failed flush or close, not as a short fwrite.
    errno = 0;
    if (std::fflush(file) != 0) {
        reason = system_reason(errno);
        std::fclose(file);
        return false;
    }
#ifndef _WIN32
    // On the disk before it replaces the old file, so that a crash leaves
    // the old file or the new one, not an empty one.
    if (fsync(fileno(file)) != 0 && errno != EINVAL) {
        reason = system_reason(errno);
        std::fclose(file);
        return false;
    }
#endif
    errno = 0;
    if (std::fclose(file) != 0) {
        reason = system_reason(errno);
        return false;
    }
    return true;
}

bool write_in_place(const std::string& path, const std::string& text, std::string& reason)
{
    errno = 0;
    std::FILE* file = std::fopen(path.c_str(), "wt");
    if (file == nullptr) {
        reason = system_reason(errno);
        return false;
    }
    return write_and_close(file, text, reason);
}

// An existing file that may not be written keeps its content: replacing it
// by a rename would go round its permissions.
bool exists_unwritable(const std::string& path)
{
#ifdef _WIN32
    return _access(path.c_str(), 0) == 0 && _access(path.c_str(), 2) != 0;
#else
    return access(path.c_str(), F_OK) == 0 && access(path.c_str(), W_OK) != 0;
#endif
}

// The directory part of `path`, up to and including its last separator;
// empty for a name alone.
std::string directory_of(const std::string& path)
{
#ifdef _WIN32
    const auto last = path.find_last_of("/\\:");
#else
    const auto last = path.rfind('/');
#endif
    return last == std::string::npos ? std::string() : path.substr(0, last + 1);
}

// The file that `path` finally names: where it is a symbolic link, the file
// it points to (followed through further links), so that writing replaces
// that file and keeps the link. Windows paths are taken as they are.
std::string resolve_links(const std::string& path)
{
    std::string current = path;
#ifndef _WIN32
    // The bound of the system's own lookups; a longer chain (or a loop) is
    // left to fail where the file is written.
    for (int hops = 0; hops < 40; ++hops) {
        struct stat status {};
        if (lstat(current.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) {
            break;
        }
        std::string target(static_cast<std::size_t>(status.st_size) + 256, '\0');
        const ssize_t size = readlink(current.c_str(), &target[0], target.size());
        if (size < 0 || static_cast<std::size_t>(size) >= target.size()) {
            break;
        }
        target.resize(static_cast<std::size_t>(size));
        current = target[0] == '/' ? target : directory_of(current) + target;
    }
#endif
    return current;
}

struct temporary_file {
    std::string path;
    std::FILE* file = nullptr;
};

// A new, empty file in the directory of `target`, open for writing in text
// mode. A rename within one directory replaces the target in one step.
bool create_temporary_beside(const std::string& target, temporary_file& temporary,
                             std::string& reason)
{
    const std::string directory = directory_of(target);
#ifdef _WIN32
    static unsigned counter = 0;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary.path = directory + ".sevenparam-" + std::to_string(_getpid()) + "-" +
                         std::to_string(GetTickCount()) + "-" + std::to_string(counter++) + ".tmp";
        errno = 0;
        fd = _open(temporary.path.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_TEXT,
                   _S_IREAD | _S_IWRITE);
        if (fd < 0 && errno != EEXIST) {
            break;
        }
    }
    if (fd < 0) {
        reason = system_reason(errno);
        return false;
    }
    temporary.file = _fdopen(fd, "wt");
#else
    std::string name = directory + ".sevenparam-XXXXXX";
    errno = 0;
    const int fd = mkstemp(&name[0]);
    if (fd < 0) {
        reason = system_reason(errno);
        return false;
    }
    temporary.path = name;
    // The permissions the file would have got from fopen: those of the file
    // it replaces, or the usual ones less the process's umask.
    struct stat status {};
    mode_t mode = 0;
    if (stat(target.c_str(), &status) == 0) {
        mode = status.st_mode & 07777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    if (fchmod(fd, mode) != 0) {
        reason = system_reason(errno);
        close(fd);
        std::remove(temporary.path.c_str());
        return false;
    }
    temporary.file = fdopen(fd, "w");
#endif
    if (temporary.file == nullptr) {
        reason = system_reason(errno);
#ifdef _WIN32
        _close(fd);
#else
        close(fd);
#endif
        std::remove(temporary.path.c_str());
        return false;
    }
    return true;
}

#ifdef _WIN32
int errno_of_windows_error(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return EACCES;
    case ERROR_DISK_FULL:
        return ENOSPC;
    default:
        return EIO;
    }
}
#endif

} // namespace

bool exists_as_other_than_file(const std::string& path)
{
#ifdef _WIN32
    struct _stat status {};
    if (_stat(path.c_str(), &status) == 0 && (status.st_mode & _S_IFREG) == 0) {
        return true;
    }
    // Device names such as NUL or CON name no file in any directory.
    const HANDLE handle =
        CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    const DWORD type = GetFileType(handle);
    CloseHandle(handle);
    return type != FILE_TYPE_DISK;
#else
    struct stat status {};
    return stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode);
#endif
}

bool replace_file(const std::string& from, const std::string& to, std::string& reason)
{
#ifdef _WIN32
    // MoveFileEx with MOVEFILE_REPLACE_EXISTING replaces an existing file,
    // which rename() on Windows refuses. Another process replacing the same
    // file at this moment can hold it for an instant: a few short retries.
    DWORD error = 0;
    for (int attempt = 0; attempt < 10; ++attempt) {
        if (MoveFileExA(from.c_str(), to.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            return true;
        }
        error = GetLastError();
        if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) {
            break;
        }
        Sleep(10);
    }
    reason = system_reason(errno_of_windows_error(error));
    return false;
#else
    errno = 0;
    if (std::rename(from.c_str(), to.c_str()) != 0) {
        reason = system_reason(errno);
        return false;
    }
    return true;
#endif
}

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
    append_on_one_line(out, src);
    out += '\n';
    out += result_key::des;
    append_on_one_line(out, des);
    out += '\n';
    out += result_key::test;
    append_on_one_line(out, test);
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
    if (path.empty()) {
        reason = std::strerror(ENOENT);
        return false;
    }
    // A device, a FIFO or a directory has no content to replace: it is
    // opened and written as it is (and a directory then fails to open).
    if (exists_as_other_than_file(path)) {
        return write_in_place(path, text, reason);
    }

    const std::string target = resolve_links(path);
    if (exists_unwritable(target)) {
        reason = std::strerror(EACCES);
        return false;
    }
    temporary_file temporary;
    if (!create_temporary_beside(target, temporary, reason)) {
        return false;
    }
    errno = 0;
    if (!write_and_close(temporary.file, text, reason) ||
        !replace_file(temporary.path, target, reason)) {
        std::remove(temporary.path.c_str());
        return false;
    }
    return true;
}

} // namespace sevenparam
