// libFuzzer harness for the profile loader: arbitrary bytes in, then the
// entry list is checked record by record, saved, loaded again and compared.
//
// What must hold for any input:
// - every field is NUL-terminated within its width; the key is not empty;
//   section, key and value carry no leading or trailing space or tab;
// - no field holds LF or CR; the key holds no "="; FF and SUB appear only as
//   the last byte of a value (they end the line they stand in);
// - positions run 0, 1, 2... after a header and 1, 2, 3... in the nameless
//   group before the first header;
// - the saved file loads to the same records, unless some record has a key
//   beginning with "[" and a value ending in "]": that line reads back as a
//   header, a shape the written form cannot express;
// - reading the first record's section and key back through
//   profile_read_string gives its value (or the fallback for an empty one).
#include "profile/profile.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using sevenparam::profile_entry;

void require(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "profile invariant broken: %s\n", what);
        std::abort();
    }
}

bool is_blank(char c)
{
    return c == ' ' || c == '\t';
}

bool is_trimmed(const char* s)
{
    const std::size_t n = std::strlen(s);
    return n == 0 || (!is_blank(s[0]) && !is_blank(s[n - 1]));
}

bool holds_any(const char* s, const char* bytes)
{
    return std::strpbrk(s, bytes) != nullptr;
}

struct record {
    std::int32_t position;
    std::string section, key, value;
    bool operator==(const record& o) const
    {
        return position == o.position && section == o.section && key == o.key && value == o.value;
    }
};

// Checks every record and copies the list into plain strings, so that it can
// be freed before the saved form is loaded.
std::vector<record> check_list(const profile_entry* list, bool& representable)
{
    std::vector<record> records;
    representable = true;
    for (const profile_entry* e = list; e != nullptr; e = e->next) {
        require(std::memchr(e->section, 0, sevenparam::profile_name_size) != nullptr,
                "section unterminated");
        require(std::memchr(e->key, 0, sevenparam::profile_name_size) != nullptr,
                "key unterminated");
        require(std::memchr(e->value, 0, sevenparam::profile_value_size) != nullptr,
                "value unterminated");
        require(e->key[0] != '\0', "empty key");
        require(is_trimmed(e->section) && is_trimmed(e->key) && is_trimmed(e->value),
                "field not trimmed");
        require(!holds_any(e->section, "\n\r\f\x1A") && !holds_any(e->key, "\n\r\f\x1A="),
                "line byte or '=' in a name");
        const std::size_t value_size = std::strlen(e->value);
        const char* line_end = std::strpbrk(e->value, "\n\r\f\x1A");
        require(line_end == nullptr || (*line_end != '\n' && *line_end != '\r' &&
                                        line_end == e->value + value_size - 1),
                "line byte inside a value");
        if (records.empty()) {
            require(e->position == 0 || (e->position == sevenparam::profile_leading_position &&
                                         e->section[0] == '\0'),
                    "first position");
        } else {
            const record& prev = records.back();
            require(e->position == 0 ||
                        (e->position == prev.position + 1 && prev.section == e->section),
                    "position sequence");
        }
        if (e->key[0] == '[' && value_size > 0 && e->value[value_size - 1] == ']') {
            representable = false;
        }
        records.push_back({e->position, e->section, e->key, e->value});
    }
    return records;
}

// A scratch file for the saved form, made once per process.
struct scratch_file {
    std::string path;
    scratch_file()
    {
        const char* dir = std::getenv("TMPDIR");
        path = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/fuzz_profile_XXXXXX";
        const int fd = mkstemp(path.data());
        require(fd >= 0, "cannot create a scratch file");
        close(fd);
    }
    ~scratch_file() { unlink(path.c_str()); }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static scratch_file scratch;
    static std::vector<char> out(sevenparam::profile_value_size);

    // fmemopen reads from a copy (it takes a writable buffer), one byte longer
    // so that an empty input still has a buffer to point at.
    std::vector<char> bytes(data, data + size);
    bytes.push_back('\0');
    std::FILE* in = fmemopen(bytes.data(), size, "r");
    if (in == nullptr) {
        return 0;
    }
    profile_entry* list = sevenparam::profile_load_stream(in);
    std::fclose(in);

    bool representable = true;
    const std::vector<record> first = check_list(list, representable);
    sevenparam::profile_save(scratch.path.c_str(), list);
    sevenparam::profile_free(list);

    profile_entry* again = sevenparam::profile_load(scratch.path.c_str());
    bool again_representable = true;
    const std::vector<record> second = check_list(again, again_representable);
    sevenparam::profile_free(again);
    if (!representable) {
        return 0;
    }
    require(first == second, "saved form loads to different records");

    if (!first.empty()) {
        const record& r = first.front();
        sevenparam::profile_read_string(scratch.path.c_str(), r.section.c_str(), r.key.c_str(),
                                        out.data(), "\x01 fallback");
        require(out.data() == (r.value.empty() ? std::string("\x01 fallback") : r.value),
                "first record not read back");
    }
    return 0;
}
