#include "numlist/result_file.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
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

// The permissions the new content gets: those of the file it replaces, or
// the usual ones less the process's umask, as fopen would give a new file.
#ifndef _WIN32
mode_t mode_for(const std::string& target)
{
    struct stat status {};
    if (stat(target.c_str(), &status) == 0) {
        return status.st_mode & 07777;
    }
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

// The owner and group of the file replaced, where the process may give them
// (root replacing a user's file); otherwise the new file stays the process's.
void keep_owner(int fd, const std::string& target)
{
    struct stat status {};
    if (stat(target.c_str(), &status) == 0 && fchown(fd, status.st_uid, status.st_gid) != 0) {
        // Not permitted: the file is the writer's own, as any new file is.
    }
}

#endif

// A name for a temporary in `directory` that no other process picks at the
// same moment: the process id and a counter (and on Windows the clock, as
// process ids there are soon used again).
std::string temporary_name(const std::string& directory)
{
    static unsigned counter = 0;
#ifdef _WIN32
    return directory + ".sevenparam-" + std::to_string(_getpid()) + "-" +
           std::to_string(GetTickCount()) + "-" + std::to_string(counter++) + ".tmp";
#else
    return directory + ".sevenparam-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
#endif
}

// A new file under a fresh temporary name in `directory`, created
// exclusively: never through a link or over a file already there. Returns
// its descriptor, or -1 with errno set.
int create_named_temporary(const std::string& directory, staged_file& staged)
{
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        staged.temporary = temporary_name(directory);
        errno = 0;
#ifdef _WIN32
        fd = _open(staged.temporary.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_TEXT,
                   _S_IREAD | _S_IWRITE);
#else
        fd = open(staged.temporary.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
#endif
        if (fd < 0 && errno != EEXIST) {
            break;
        }
    }
    if (fd < 0) {
        const int error = errno;
        staged.temporary.clear();
        errno = error;
    }
    return fd;
}

// The new content's file, beside the target, open for writing.
bool open_temporary(staged_file& staged, std::string& reason)
{
    const std::string directory = directory_of(staged.target);
#ifdef _WIN32
    const int fd = create_named_temporary(directory, staged);
    if (fd < 0) {
        reason = system_reason(errno);
        return false;
    }
    staged.file = _fdopen(fd, "wt");
    if (staged.file == nullptr) {
        reason = system_reason(errno);
        _close(fd);
        return false;
    }
    return true;
#else
    const mode_t mode = mode_for(staged.target);
    int fd = -1;
#ifdef O_TMPFILE
    // An unnamed file, linked into the directory only when it is complete:
    // nothing is left behind whenever the run ends. Linking it needs /proc.
    if (access("/proc/self/fd", X_OK) == 0) {
        errno = 0;
        fd = open(directory.empty() ? "." : directory.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC,
                  0600);
        if (fd < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
            reason = system_reason(errno);
            return false;
        }
        staged.unnamed = fd >= 0;
    }
#endif
    if (fd < 0 && (fd = create_named_temporary(directory, staged)) < 0) {
        reason = system_reason(errno);
        return false;
    }
    // Created private; given the replaced file's mode whole (the umask has
    // had its say only for a new file, in mode_for) once its owner is set.
    keep_owner(fd, staged.target);
    if (fchmod(fd, mode) != 0 || (staged.file = fdopen(fd, "w")) == nullptr) {
        reason = system_reason(errno);
        close(fd);
        return false;
    }
    return true;
#endif
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

namespace {

bool close_staged(staged_file& staged, std::string& reason)
{
    errno = 0;
    const int closed = std::fclose(staged.file);
    staged.file = nullptr;
    if (closed != 0) {
        reason = system_reason(errno);
        return false;
    }
    return true;
}

} // namespace

bool stage_file(const std::string& path, staged_file& staged, std::string& reason)
{
    staged = staged_file{};
    staged.path = path;
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
        staged.target = path;
        staged.in_place = true;
        errno = 0;
        staged.file = std::fopen(path.c_str(), "wt");
        if (staged.file == nullptr) {
            reason = system_reason(errno);
            return false;
        }
        return true;
    }
    staged.target = resolve_links(path);
    if (exists_unwritable(staged.target)) {
        reason = std::strerror(EACCES);
        return false;
    }
    return open_temporary(staged, reason);
}

bool finish_staged_file(staged_file& staged, std::string& reason)
{
    // Buffered bytes reach the file only here: a full disk shows up as a
    // failed flush, not as a short fwrite.
    errno = 0;
    if (staged.file == nullptr || std::ferror(staged.file) || std::fflush(staged.file) != 0) {
        reason = system_reason(errno);
        return false;
    }
#ifndef _WIN32
    // On the disk before it replaces the old file, so that a crash leaves
    // the old file or the new one, not an empty one. Devices and FIFOs
    // have nothing to sync.
    if (fsync(fileno(staged.file)) != 0 && errno != EINVAL) {
        reason = system_reason(errno);
        return false;
    }
#endif
    if (staged.unnamed) {
        return true; // closing it now would discard it
    }
    return close_staged(staged, reason);
}

bool commit_staged_file(staged_file& staged, std::string& reason)
{
    if (staged.in_place) {
        return true;
    }
#ifndef _WIN32
    if (staged.unnamed) {
        const std::string self = "/proc/self/fd/" + std::to_string(fileno(staged.file));
        const std::string directory = directory_of(staged.target);
        int linked = -1;
        for (int attempt = 0; attempt < 100 && linked != 0; ++attempt) {
            staged.temporary = temporary_name(directory);
            errno = 0;
            linked = linkat(AT_FDCWD, self.c_str(), AT_FDCWD, staged.temporary.c_str(),
                            AT_SYMLINK_FOLLOW);
            if (linked != 0 && errno != EEXIST) {
                break;
            }
        }
        if (linked != 0) {
            reason = system_reason(errno);
            staged.temporary.clear();
            return false;
        }
        staged.unnamed = false;
        if (!close_staged(staged, reason)) {
            return false;
        }
    }
#endif
    if (!replace_file(staged.temporary, staged.target, reason)) {
        return false;
    }
    staged.temporary.clear();
    return true;
}

void discard_staged_file(staged_file& staged)
{
    if (staged.file != nullptr) {
        std::fclose(staged.file);
        staged.file = nullptr;
    }
    if (!staged.temporary.empty()) {
        std::remove(staged.temporary.c_str());
        staged.temporary.clear();
    }
    staged.unnamed = false;
}

file_output_buffer::file_output_buffer(std::FILE* file) : file_(file), buffer_(1 << 16)
{
    setp(buffer_.data(), buffer_.data() + buffer_.size());
}

bool file_output_buffer::drain()
{
    const auto size = static_cast<std::size_t>(pptr() - pbase());
    const bool whole = std::fwrite(pbase(), 1, size, file_) == size;
    setp(buffer_.data(), buffer_.data() + buffer_.size());
    return whole && written(size);
}

bool file_output_buffer::written(std::size_t size)
{
#ifdef __linux__
    unsent_ += size;
    if (!write_back_ || unsent_ < write_back_window) {
        return true;
    }
    unsent_ = 0;
    if (std::fflush(file_) != 0) {
        return false;
    }
    const int fd = fileno(file_);
    const off_t end = lseek(fd, 0, SEEK_CUR);
    if (end < 0 || sync_file_range(fd, sent_, end - sent_, SYNC_FILE_RANGE_WRITE) != 0) {
        if (end < 0 || errno == ESPIPE || errno == EINVAL) {
            write_back_ = false; // a pipe or a device: nothing to hand over
            return true;
        }
        return false;
    }
    sent_ = end;
    // The bytes four windows back, which have had the time of three to get
    // there: on the disk once this returns (waiting for the window just
    // before held the run up). A write error found here is the file's, and
    // fsync would not report it again.
    const long long wait_to = end - static_cast<long long>(4 * write_back_window);
    if (wait_to <= waited_) {
        return true;
    }
    if (sync_file_range(fd, waited_, wait_to - waited_,
                        SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE |
                            SYNC_FILE_RANGE_WAIT_AFTER) != 0) {
        return false;
    }
    // On the disk, those bytes leave the page cache, so that a report of
    // gigabytes does not push everything else out of memory (this is a
    // hint; its failure changes nothing written).
    posix_fadvise(fd, waited_, wait_to - waited_, POSIX_FADV_DONTNEED);
    waited_ = wait_to;
#else
    (void)size;
#endif
    return true;
}

std::streamsize file_output_buffer::xsputn(const char* s, std::streamsize n)
{
    if (n < static_cast<std::streamsize>(buffer_.size())) {
        return std::streambuf::xsputn(s, n);
    }
    if (!drain()) {
        return 0;
    }
    const auto size = static_cast<std::size_t>(n);
    const std::size_t put = std::fwrite(s, 1, size, file_);
    if (put != size || !written(size)) {
        return static_cast<std::streamsize>(put == size ? 0 : put);
    }
    return n;
}

file_output_buffer::int_type file_output_buffer::overflow(int_type c)
{
    if (!drain()) {
        return traits_type::eof();
    }
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
        *pptr() = traits_type::to_char_type(c);
        pbump(1);
    }
    return traits_type::not_eof(c);
}

int file_output_buffer::sync()
{
    return drain() && std::fflush(file_) == 0 ? 0 : -1;
}

write_destination destination_of(const std::string& path)
{
    write_destination destination;
#ifdef _WIN32
    char* full = _fullpath(nullptr, path.c_str(), 0);
    if (full != nullptr) {
        destination.key = full;
        std::free(full);
        for (char& c : destination.key) {
            if (c >= 'A' && c <= 'Z') {
                c = static_cast<char>(c - 'A' + 'a');
            }
        }
        destination.known = true;
        destination.exists = _access(path.c_str(), 0) == 0;
    }
#else
    // The kernel follows every link, /proc's own included (/dev/stdout).
    struct stat status {};
    if (stat(path.c_str(), &status) == 0) {
        destination.known = destination.exists = true;
        destination.key = "file " + std::to_string(status.st_dev) + ":" +
                          std::to_string(status.st_ino);
        return destination;
    }
    // Nothing there yet (or a link to nothing yet): the name it would get
    // in its directory.
    const std::string target = resolve_links(path);
    const std::string directory = directory_of(target);
    if (stat(directory.empty() ? "." : directory.c_str(), &status) == 0) {
        destination.known = true;
        destination.key = "in " + std::to_string(status.st_dev) + ":" +
                          std::to_string(status.st_ino) + " " + target.substr(directory.size());
    }
#endif
    return destination;
}

write_destination destination_of_standard_output()
{
    write_destination destination;
#ifndef _WIN32
    struct stat status {};
    if (fstat(STDOUT_FILENO, &status) == 0) {
        destination.known = destination.exists = true;
        destination.key = "file " + std::to_string(status.st_dev) + ":" +
                          std::to_string(status.st_ino);
    }
#endif
    return destination;
}

bool same_destination(const write_destination& a, const write_destination& b)
{
    return a.known && b.known && a.key == b.key;
}

bool write_text_file(const std::string& path, const std::string& text, std::string& reason)
{
    staged_file staged;
    if (!stage_file(path, staged, reason)) {
        discard_staged_file(staged);
        return false;
    }
    // Text mode turns each "\n" into CR LF on Windows; the count compared is
    // that of the bytes handed over, which is what fwrite returns there too.
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), staged.file) != text.size()) {
        reason = system_reason(errno);
        discard_staged_file(staged);
        return false;
    }
    if (!finish_staged_file(staged, reason) || !commit_staged_file(staged, reason)) {
        discard_staged_file(staged);
        return false;
    }
    return true;
}

} // namespace sevenparam
