// Profile files: section headers in square brackets and "key = value" lines.
// (Contract to be completed: see each function.)
#ifndef SEVENPARAM_PROFILE_PROFILE_H
#define SEVENPARAM_PROFILE_PROFILE_H

#include <cstdint>

namespace sevenparam {

// Field widths, terminating NUL included.
inline constexpr int profile_name_size = 512;
inline constexpr int profile_value_size = 32768;

struct profile_entry {
    std::int32_t position;
    char section[profile_name_size];
    char key[profile_name_size];
    char value[profile_value_size];
    profile_entry* next;
};

int profile_read_string(const char* path, const char* section, const char* key, char* out,
                        const char* fallback);
int profile_read_int(const char* path, const char* section, const char* key, std::int32_t* out,
                     std::int32_t fallback);
int profile_read_double(const char* path, const char* section, const char* key, double* out,
                        double fallback);
int profile_write_string(const char* path, const char* section, const char* key,
                         const char* value);
int profile_write_int(const char* path, const char* section, const char* key, std::int32_t value);

// Internal operations, exposed for the tests and the fuzzer.
profile_entry* profile_load(const char* path);
void profile_save(const char* path, const profile_entry* first);
void profile_free(profile_entry* first);
int profile_split_entry(char* key, char* value, const char* line);

} // namespace sevenparam

#endif
