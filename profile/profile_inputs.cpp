#include "profile/profile_inputs.h"

#include "profile/profile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#ifdef _WIN32
#include <io.h>
#include <string.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace sevenparam {

namespace {

#ifdef _WIN32
// The path made absolute; empty when it cannot be.
std::string full_path(const std::string& path)
{
    char* full = _fullpath(nullptr, path.c_str(), 0);
    if (full == nullptr) {
        return std::string();
    }
    std::string text = full;
    std::free(full);
    return text;
}
#endif

file_identity identity_of(std::FILE* file, const std::string& path)
{
    file_identity identity;
#ifdef _WIN32
    (void)file;
    identity.full_path = full_path(path);
    identity.known = !identity.full_path.empty();
#else
    (void)path;
    struct stat status {};
    if (fstat(fileno(file), &status) == 0) {
        identity.known = true;
        identity.device = static_cast<std::uint64_t>(status.st_dev);
        identity.inode = static_cast<std::uint64_t>(status.st_ino);
    }
#endif
    return identity;
}

// The value of `key` in the nameless section; `cut` tells whether it is
// only the beginning of the file's value.
std::string value_of(const profile_entry* list, const char* key, bool& cut)
{
    const profile_entry* e = profile_find(list, "", key);
    cut = e != nullptr && e->value_cut;
    return e != nullptr ? std::string(e->value) : std::string();
}

} // namespace

std::string executable_directory(const char* program_path)
{
    if (program_path == nullptr) {
        return std::string();
    }
    const std::string path = program_path;
    const auto last = path.rfind('\\');
    if (last == std::string::npos) {
        return std::string();
    }
    return path.substr(0, last + 1);
}

bool path_exists(const std::string& path)
{
#ifdef _WIN32
    return _access(path.c_str(), 0) == 0;
#else
    return access(path.c_str(), F_OK) == 0;
#endif
}

std::optional<std::string> profile_path(const std::string& profile_option,
                                        const std::string& exe_dir)
{
    if (path_exists(profile_option)) {
        return profile_option;
    }
    if (path_exists(exe_dir + profile_option)) {
        return exe_dir + profile_option;
    }
    return std::nullopt;
}

std::optional<profile_inputs> read_profile_inputs(const std::string& profile_option,
                                                  const std::string& exe_dir)
{
    const std::optional<std::string> path = profile_path(profile_option, exe_dir);
    if (!path) {
        return std::nullopt;
    }
    profile_inputs inputs;
    inputs.path = *path;

    // One open and one pass for all three keys: a pipe or a FIFO can be read
    // only once.
    errno = 0;
    std::FILE* file = std::fopen(inputs.path.c_str(), "r");
    if (file == nullptr) {
        inputs.open_error = errno != 0 ? errno : EIO;
        return inputs;
    }
    inputs.identity = identity_of(file, inputs.path);
    profile_entry* list = profile_load_stream(file);
    std::fclose(file);
    inputs.src = value_of(list, profile_key::src, inputs.src_cut);
    inputs.des = value_of(list, profile_key::des, inputs.des_cut);
    inputs.test = value_of(list, profile_key::test, inputs.test_cut);
    profile_free(list);
    return inputs;
}

bool names_same_file(const std::string& path, const file_identity& identity)
{
    if (!identity.known) {
        return false;
    }
#ifdef _WIN32
    if (!path_exists(path)) {
        return false;
    }
    const std::string full = full_path(path);
    return !full.empty() && _stricmp(full.c_str(), identity.full_path.c_str()) == 0;
#else
    struct stat status {};
    return stat(path.c_str(), &status) == 0 &&
           static_cast<std::uint64_t>(status.st_dev) == identity.device &&
           static_cast<std::uint64_t>(status.st_ino) == identity.inode;
#endif
}

} // namespace sevenparam
