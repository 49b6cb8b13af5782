// The result file: a short text of "key=value" lines, written once per run.
//
// Parameter output (a run without test points):
//   args=tx,ty,tz,ex,ey,ez,m
//   avesrc=X,Y,Z
//   avetar=X,Y,Z
// every value through the print threshold (|v| > 1e-6, else 0) and written as
// "%f". Prediction output (a run with test points):
//   src=<source text as given, less CR, LF and FF>
//   des=<target text as given, less CR, LF and FF>
//   test=<test point text as given, less CR, LF and FF>
//   output=<X,Y,Z of each transformed test point, "%f", no threshold>
// Every line ends in "\n" (CR LF on Windows, where the file is a text stream).
// The first three lines of the prediction output read back as entries of a
// profile file's nameless section.
#ifndef SEVENPARAM_NUMLIST_RESULT_FILE_H
#define SEVENPARAM_NUMLIST_RESULT_FILE_H

#include <cstdio>
#include <streambuf>
#include <string>
#include <vector>

namespace sevenparam {

namespace result_key {
inline constexpr char args[] = "args=";
inline constexpr char avesrc[] = "avesrc=";
inline constexpr char avetar[] = "avetar=";
inline constexpr char src[] = "src=";
inline constexpr char des[] = "des=";
inline constexpr char test[] = "test=";
inline constexpr char output[] = "output=";
} // namespace result_key

// A parameter-output value whose magnitude is not strictly greater than this
// is written as 0.000000 (a NaN too).
inline constexpr double print_threshold = 1e-6;

// v as the C library's "%f" writes it in the "C" locale: optional "-",
// integer digits, ".", six decimals. 2 -> "2.000000", -0.0 -> "-0.000000".
// The point is "." whatever locale the process has set. Infinities and NaNs
// read "inf", "-inf", "nan", "-nan" on every platform.
std::string number_to_text(double v);

// number_to_text of each value, separated by ","; "" for no values.
std::string join_numbers(const std::vector<double>& values);

// The three lines of the parameter output. `args` holds 7 values, `ave_src`
// and `ave_tar` 3 values each.
std::string compose_parameter_output(const double* args, const double* ave_src,
                                     const double* ave_tar);

// The four lines of the prediction output; `joined` is join_numbers of the
// transformed test points. The three texts are written without their CR, LF
// and FF bytes: a number list holds them only as white space around its
// numbers, so no value changes, and each line of the result stays one
// profile entry that reads back as the same text.
std::string compose_prediction_output(const std::string& src, const std::string& des,
                                      const std::string& test, const std::string& joined);

// Writes `text` as the whole content of the file at `path`, in text mode
// (each "\n" as CR LF on Windows). The text goes to a new temporary file in
// the same directory, which then replaces the file at `path` in one rename
// (MoveFileEx with MOVEFILE_REPLACE_EXISTING on Windows): a reader, or
// another run writing the same path at the same time, sees the old file or a
// whole new one, never a mixture, and a failed write leaves the old file as
// it was. Where `path` is a symbolic link (POSIX systems), the file it
// points to is replaced and the link stays. A file that exists but may not be
// written is not replaced ("Permission denied"); a new file gets the
// permissions fopen would give it, a replaced one keeps its own (a hard link
// to the old file keeps the old content). Something at `path` that is not a
// file (a device such as /dev/null or NUL, a FIFO, a directory) is opened
// and written in place instead.
// Returns true when the text was written whole and is in place; false
// otherwise, with `reason` set to the system's text for the failure (strerror
// of errno), and `reason` untouched on success. An empty path fails with "No
// such file or directory"; a path holding a NUL byte fails without an open
// ("Invalid argument"). A failed write leaves no temporary file behind.
bool write_text_file(const std::string& path, const std::string& text, std::string& reason);

// A file written whole before it takes the place of the file at its path:
// write_text_file in steps, for a program that writes several files from
// one result and must put all of them in place or none.
//
//   stage_file       checks the path and opens the new content: a temporary
//                    file in the target's directory, created exclusively
//                    (never through a link, never over a file already
//                    there). On Linux it has no name at all until it is put
//                    in place (O_TMPFILE), so a run killed at any moment
//                    leaves nothing behind; elsewhere it is named
//                    ".sevenparam-XXXXXX" (a unique short name, which a
//                    killed run may leave). Something at the path that is
//                    not a file (a device, a FIFO) is opened and written in
//                    place instead.
//   staged.file      where the content goes (text mode: "\n" as CR LF on
//                    Windows); file_output_buffer puts a std::ostream on it.
//   finish_staged_file  flushes it to the disk; the file stays staged.
//   commit_staged_file  puts it in the place of the target in one rename;
//                    the target keeps its permissions.
//   discard_staged_file closes it and removes the temporary: nothing changes
//                    at the path. Safe to call on a committed or an empty
//                    staged_file, and more than once.
// The rules of write_text_file on paths hold: links are followed to the file
// they name, which is replaced; an existing file that may not be written is
// refused ("Permission denied"); an empty path or one with a NUL byte fails.
// Each step returns false with the system's reason (strerror text) in
// `reason`; the caller then discards. `path` is kept for messages.
struct staged_file {
    std::string path;           // as given
    std::string target;         // the file replaced: `path` with links followed
    std::string temporary;      // the temporary's name; empty while it has none
    std::FILE* file = nullptr;  // open until committed or discarded
    bool in_place = false;      // a device or FIFO, written directly
    bool unnamed = false;       // an O_TMPFILE that gets a name only when committed
};

bool stage_file(const std::string& path, staged_file& staged, std::string& reason);
bool finish_staged_file(staged_file& staged, std::string& reason);
bool commit_staged_file(staged_file& staged, std::string& reason);
void discard_staged_file(staged_file& staged);

// A stream buffer that writes to a C stream it does not own, for writers
// that take a std::ostream, through a buffer of its own: flush the
// std::ostream before finish_staged_file. A write of a buffer's size or more
// goes to the C stream as it is, without a copy. A failed write sets the
// stream's badbit.
//
// On Linux, a regular file's content is handed to the disk while it is
// written: every write_back_window bytes, the window just written starts
// its write to the disk (sync_file_range) and the run waits for the bytes
// four windows back, so that the fsync of finish_staged_file has little
// left to do and the written pages do not pile up in memory: once on the
// disk they leave the page cache (a hint to the system), so that a report
// of gigabytes neither pushes the rest of the cache out nor takes fresh
// memory for every page. A write error of the disk found there fails the
// stream (errno set), as it would fail the fsync.
// Something that is no regular file (a pipe, a device) is written as before.
class file_output_buffer : public std::streambuf {
public:
    explicit file_output_buffer(std::FILE* file);

    static constexpr std::size_t write_back_window = std::size_t{8} << 20;

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* s, std::streamsize n) override;
    int sync() override;

private:
    bool drain();
    bool written(std::size_t size);
    std::FILE* file_;
    std::vector<char> buffer_;
    std::size_t unsent_ = 0; // bytes written since the last write-back
    long long sent_ = 0;     // the file's bytes before this offset are on their way
    long long waited_ = 0;   // and those before this one are on the disk
    bool write_back_ = true; // false where the file takes none
};

// Where a write of a path lands, so that two outputs that would write one
// file can be told apart from two that would not, also before the file
// exists: on POSIX systems the device and inode of the file that the path
// names once its links are followed, or, where no file is there yet, those
// of its directory together with its last name; on Windows the full path,
// compared without regard to ASCII letter case. `known` is false when
// nothing can be said (a directory that does not exist); such a destination
// equals no other.
struct write_destination {
    bool known = false;
    bool exists = false; // a file (or device) is there now
    std::string key;
};

write_destination destination_of(const std::string& path);
// Where the process's standard output goes; unknown on Windows.
write_destination destination_of_standard_output();
bool same_destination(const write_destination& a, const write_destination& b);

// The two steps of write_text_file that other writers of whole files share.
//
// True when something other than a plain file exists at `path`: a
// directory, a device (/dev/null; NUL or CON on Windows), a FIFO. Such a path
// is written in place, never replaced. Raises nothing.
bool exists_as_other_than_file(const std::string& path);

// Puts the file at `from` in the place of `to`, replacing whatever file is
// there in one step. On Windows MoveFileEx, with a few short retries while
// another process holds the file for an instant. Returns false with the
// system's reason in `reason` (strerror text) when that fails; `from` stays.
bool replace_file(const std::string& from, const std::string& to, std::string& reason);

} // namespace sevenparam

#endif
