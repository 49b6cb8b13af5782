// The profile inputs of a run: the three number lists "src", "des" and
// "test" of a profile file's nameless section, read once.
//
// Lookup. The profile is named by a path (the value of an option, possibly
// empty). When nothing exists at that path, it is looked for at
// executable directory + path (plain concatenation). Nothing at either place
// is the only case without texts.
//
// Reading. The file is opened once and read once, to its end, whatever it is:
// a regular file, a pipe such as /dev/stdin or a shell's "<(...)", or a named
// FIFO (which waits for its writer, as any reader of it does). The entries
// follow every rule of the profile library (profile/profile.h): the line
// rules, the section and key match, the first matching entry winning, the
// 32767-byte value limit. A missing key, an empty value, a file that cannot
// be opened or read (a directory, no permission) give the empty text; a read
// that fails part way keeps what the profile library keeps. A file that
// exists but cannot be opened (no permission, a socket) also leaves the
// reason in open_error, for a caller that says why.
//
// Cut values. A value longer than the limit arrives cut; the inputs say so
// for each key, so that a run can refuse part of a list rather than take it
// for the whole.
//
// Identity. The inputs carry the identity of the file that was read, so that
// a later write can tell whether it would replace it: on POSIX systems its
// device and inode number, taken from the open file; on Windows its full path
// (the path made absolute), compared without regard to ASCII letter case.
//
// Paths are the bytes the C run-time library sees; relative paths resolve
// against the current directory. No operation here raises anything beyond
// allocation failure.
#ifndef SEVENPARAM_PROFILE_PROFILE_INPUTS_H
#define SEVENPARAM_PROFILE_PROFILE_INPUTS_H

#include <cstdint>
#include <optional>
#include <string>

namespace sevenparam {

// The keys of the profile file's nameless section that carry the three
// number lists.
namespace profile_key {
inline constexpr char src[] = "src";
inline constexpr char des[] = "des";
inline constexpr char test[] = "test";
} // namespace profile_key

// What identifies a file beyond its name. `known` is false when the file
// could not be examined; such an identity matches no file.
struct file_identity {
    bool known = false;
#ifdef _WIN32
    std::string full_path;
#else
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
#endif
};

struct profile_inputs {
    std::string path;   // the path the profile was read from
    int open_error = 0; // errno of the failed open, 0 when the file was opened
    file_identity identity;
    std::string src;  // value of "src", or ""
    std::string des;  // value of "des", or ""
    std::string test; // value of "test", or ""
    // The value of the key was longer than the profile library holds, and
    // the text above is only its beginning.
    bool src_cut = false;
    bool des_cut = false;
    bool test_cut = false;
};

// The executable directory: `program_path` up to and including its last
// backslash. Only the backslash separates: a forward slash does not, so a
// POSIX path such as "/usr/bin/sevenparam" gives the empty text, and
// everything placed "under the executable directory" then resolves against
// the current directory. A null or backslash-free path gives the empty text.
std::string executable_directory(const char* program_path);

// True when something exists at `path` (a file, a directory or anything
// else); false when nothing does or the path cannot be examined.
bool path_exists(const std::string& path);

// Where the profile of `profile_option` is read from (see Lookup): the
// option itself, else `exe_dir` + the option; std::nullopt when nothing
// exists at either path.
std::optional<std::string> profile_path(const std::string& profile_option,
                                        const std::string& exe_dir);

// Reads the profile inputs from `profile_option`, else from `exe_dir` +
// `profile_option` (see Lookup). Returns std::nullopt when nothing exists at
// either path; otherwise the inputs, whose texts may all be empty.
std::optional<profile_inputs> read_profile_inputs(const std::string& profile_option,
                                                  const std::string& exe_dir);

// True when `path` names the file of `identity`: the same device and inode
// (a symbolic link or another name of the same file included), or on Windows
// the same full path. False when nothing exists at `path` or either cannot be
// examined.
bool names_same_file(const std::string& path, const file_identity& identity);

} // namespace sevenparam

#endif
