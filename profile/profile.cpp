#include "profile/profile.h"

#include <cstdlib>
#include <cstring>
#include <limits>

namespace sevenparam {
namespace {

constexpr std::size_t name_limit = profile_name_size - 1;
constexpr std::size_t value_limit = profile_value_size - 1;
constexpr std::size_t line_limit = profile_line_limit;

constexpr char byte_ff = 0x0C;
constexpr char byte_sub = 0x1A;

bool is_blank(char c)
{
    return c == ' ' || c == '\t';
}

bool ends_line_after_itself(char c)
{
    return c == byte_ff || c == byte_sub;
}

// Bytes that need not be NUL-terminated: lines are cut and trimmed in place.
struct byte_run {
    const char* data;
    std::size_t size;
};

byte_run trim(const char* data, std::size_t size)
{
    while (size > 0 && is_blank(*data)) {
        ++data;
        --size;
    }
    while (size > 0 && is_blank(data[size - 1])) {
        --size;
    }
    return {data, size};
}

// Length of `text` without reading past `width` bytes: fields handed to the
// saver need not be terminated, and requested names may be of any length.
std::size_t bounded_length(const char* text, std::size_t width)
{
    std::size_t n = 0;
    while (n < width && text[n] != '\0') {
        ++n;
    }
    return n;
}

// The length that trimmed `text` keeps under `limit`. The cut can leave
// blanks at the new end; they go too, so that a stored text is always trimmed
// and reads back unchanged after a save.
std::size_t kept_length(byte_run text, std::size_t limit)
{
    std::size_t n = text.size;
    if (n > limit) {
        n = limit;
        while (n > 0 && is_blank(text.data[n - 1])) {
            --n;
        }
    }
    return n;
}

// Stores trimmed `text` into a field of limit + 1 bytes.
void store_trimmed(char* field, std::size_t limit, byte_run text)
{
    const std::size_t n = kept_length(text, limit);
    std::memcpy(field, text.data, n);
    field[n] = '\0';
}

// memmove: a caller may pass its output buffer as the fallback too.
void copy_cut(char* out, const char* text, std::size_t limit)
{
    const std::size_t n = bounded_length(text, limit);
    std::memmove(out, text, n);
    out[n] = '\0';
}

// The trimmed key and value of an entry line; false when the line is none
// (no "=", "=" first, or an empty key).
bool split_runs(byte_run line, byte_run& key, byte_run& value)
{
    const char* eq = static_cast<const char*>(std::memchr(line.data, '=', line.size));
    if (eq == nullptr || eq == line.data) {
        return false;
    }
    key = trim(line.data, static_cast<std::size_t>(eq - line.data));
    if (key.size == 0) {
        return false;
    }
    value = trim(eq + 1, static_cast<std::size_t>(line.data + line.size - (eq + 1)));
    return true;
}

bool split_entry(byte_run line, char* key, char* value)
{
    byte_run k{}, v{};
    if (!split_runs(line, k, v)) {
        return false;
    }
    store_trimmed(key, name_limit, k);
    store_trimmed(value, value_limit, v);
    return true;
}

// One malloc block: the record, then section, key and value with their NULs.
// The texts are taken as they are; callers cut them to their limits first.
profile_entry* new_record(std::int32_t position, byte_run section, byte_run key, byte_run value,
                          bool value_cut)
{
    const std::size_t size = sizeof(profile_entry) + section.size + key.size + value.size + 3;
    auto* e = static_cast<profile_entry*>(std::malloc(size));
    if (e == nullptr) {
        return nullptr;
    }
    char* text = reinterpret_cast<char*>(e + 1);
    const auto place = [&text](byte_run run) {
        char* start = text;
        std::memcpy(start, run.data, run.size);
        start[run.size] = '\0';
        text += run.size + 1;
        return start;
    };
    e->position = position;
    e->section = place(section);
    e->key = place(key);
    e->value = place(value);
    e->value_cut = value_cut;
    e->next = nullptr;
    return e;
}

// Same length and equal bytes once 0x20 is cleared in both. The explicit NUL
// test keeps a stored space from matching the end of a shorter request.
bool names_match(const char* stored, const char* wanted)
{
    const std::size_t n = bounded_length(stored, profile_name_size);
    for (std::size_t i = 0; i < n; ++i) {
        if (wanted[i] == '\0') {
            return false;
        }
        const unsigned a = static_cast<unsigned char>(stored[i]);
        const unsigned b = static_cast<unsigned char>(wanted[i]);
        if ((a & 0xDFu) != (b & 0xDFu)) {
            return false;
        }
    }
    return wanted[n] == '\0';
}

// The link that points at the first matching record (its predecessor's
// `next`, or `first` itself); null when none matches.
profile_entry** find_link(profile_entry** first, const char* section, const char* key)
{
    if (section == nullptr || key == nullptr) {
        return nullptr;
    }
    for (profile_entry** link = first; *link != nullptr; link = &(*link)->next) {
        if (names_match((*link)->section, section) && names_match((*link)->key, key)) {
            return link;
        }
    }
    return nullptr;
}

bool has_value(const profile_entry* e)
{
    return e != nullptr && e->value[0] != '\0';
}

// Builds the entry list line by line.
struct list_builder {
    char section[profile_name_size] = "";
    std::int32_t position = profile_leading_position;
    profile_entry* first = nullptr;
    profile_entry** tail = &first;

    // `line_cut`: the line ended at the line limit, not at a line end.
    void take_line(const char* bytes, std::size_t size, bool line_cut)
    {
        const byte_run line = trim(bytes, size);
        if (line.size == 0 || line.data[0] == '#' || line.data[0] == ';') {
            return;
        }
        if (line.size >= 2 && line.data[0] == '[' && line.data[line.size - 1] == ']') {
            store_trimmed(section, name_limit, trim(line.data + 1, line.size - 2));
            position = 0;
            return;
        }
        byte_run key{}, value{};
        if (!split_runs(line, key, value)) {
            return;
        }
        const std::size_t value_size = kept_length(value, value_limit);
        profile_entry* e = new_record(
            position, {section, std::strlen(section)}, {key.data, kept_length(key, name_limit)},
            {value.data, value_size}, line_cut || value_size < value.size);
        if (e == nullptr) {
            return;
        }
        *tail = e;
        tail = &e->next;
        // Saturates instead of wrapping: a wrapped counter would reach 0 and
        // make the saver write a stray header.
        if (position < std::numeric_limits<std::int32_t>::max()) {
            ++position;
        }
    }
};

// Reads `in` to its end; `failed` tells whether a read error cut it short.
profile_entry* load_from(std::FILE* in, bool& failed)
{
    failed = false;
    char* line = static_cast<char*>(std::malloc(line_limit));
    if (line == nullptr) {
        failed = true;
        return nullptr;
    }
    list_builder list;
    std::size_t size = 0;
    for (;;) {
        const int c = std::getc(in);
        if (c == EOF) {
            // The line being gathered when a read fails may be incomplete:
            // it is dropped rather than stored as if it were whole.
            if (std::ferror(in)) {
                failed = true;
            } else if (size > 0) {
                list.take_line(line, size, false);
            }
            break;
        }
        const char b = static_cast<char>(c);
        if (b == '\r') {
            continue;
        }
        bool ends = b == '\n' || b == '\0';
        bool full = false;
        if (!ends) {
            line[size++] = b;
            full = size == line_limit && !ends_line_after_itself(b);
            ends = ends_line_after_itself(b) || full;
        }
        if (full) {
            // A line end right after a full line would end an empty line;
            // taken now, it shows that nothing of this line was cut off.
            int next = std::getc(in);
            while (next == '\r') {
                next = std::getc(in);
            }
            if (next == '\n' || next == '\0' || (next == EOF && !std::ferror(in))) {
                full = false;
            } else if (next != EOF) {
                std::ungetc(next, in);
            }
        }
        if (ends) {
            if (size > 0) {
                list.take_line(line, size, full);
            }
            size = 0;
        }
    }
    std::free(line);
    return list.first;
}

// `read_failed` tells whether a read error cut the file short.
profile_entry* load_path(const char* path, bool& read_failed)
{
    read_failed = false;
    std::FILE* in = path != nullptr ? std::fopen(path, "r") : nullptr;
    if (in == nullptr) {
        return nullptr;
    }
    profile_entry* list = load_from(in, read_failed);
    std::fclose(in);
    return list;
}

// The length of `value` up to the point where the loader would end its
// line, so that a written value never adds lines. SUB stays out altogether:
// a Windows text stream ends its input there.
std::size_t written_length(const char* value)
{
    std::size_t n = 0;
    while (n < value_limit && value[n] != '\0' && value[n] != '\n' && value[n] != byte_sub) {
        if (value[n++] == byte_ff) {
            break;
        }
    }
    return n;
}

void write_value(const char* path, const char* section, const char* key, const char* value)
{
    bool read_failed = false;
    profile_entry* list = load_path(path, read_failed);
    // Saving what was gathered from a file that could not be read whole
    // would replace the file by part of it.
    if (!read_failed) {
        if (profile_entry** link = find_link(&list, section, key)) {
            profile_entry* old = *link;
            const char* text = value != nullptr ? value : "";
            // A record that cannot be replaced keeps its old value.
            if (profile_entry* e = new_record(
                    old->position, {old->section, std::strlen(old->section)},
                    {old->key, std::strlen(old->key)}, {text, written_length(text)}, false)) {
                e->next = old->next;
                *link = e;
                std::free(old);
            }
        }
        profile_save(path, list);
    }
    profile_free(list);
}

void put(std::FILE* out, const char* bytes, std::size_t size)
{
    std::fwrite(bytes, 1, size, out);
}

} // namespace

int profile_read_string(const char* path, const char* section, const char* key, char* out,
                        const char* fallback)
{
    if (out == nullptr) {
        return 0;
    }
    profile_entry* list = profile_load(path);
    const profile_entry* e = profile_find(list, section, key);
    if (has_value(e)) {
        copy_cut(out, e->value, value_limit);
    } else {
        copy_cut(out, fallback != nullptr ? fallback : "", value_limit);
    }
    profile_free(list);
    return 0;
}

int profile_read_int(const char* path, const char* section, const char* key, std::int32_t* out,
                     std::int32_t fallback)
{
    if (out == nullptr) {
        return 0;
    }
    profile_entry* list = profile_load(path);
    const profile_entry* e = profile_find(list, section, key);
    if (has_value(e)) {
        // strtol reads what atoi reads, and its saturated result gives the
        // out-of-range cases that atoi leaves undefined a defined answer.
        const long v = std::strtol(e->value, nullptr, 10);
        constexpr long lo = std::numeric_limits<std::int32_t>::min();
        constexpr long hi = std::numeric_limits<std::int32_t>::max();
        *out = static_cast<std::int32_t>(v < lo ? lo : (v > hi ? hi : v));
    } else {
        *out = fallback;
    }
    profile_free(list);
    return 0;
}

int profile_read_double(const char* path, const char* section, const char* key, double* out,
                        double fallback)
{
    if (out == nullptr) {
        return 0;
    }
    profile_entry* list = profile_load(path);
    const profile_entry* e = profile_find(list, section, key);
    // strtod is atof with a defined result for magnitudes beyond a double.
    *out = has_value(e) ? std::strtod(e->value, nullptr) : fallback;
    profile_free(list);
    return 0;
}

int profile_write_string(const char* path, const char* section, const char* key, const char* value)
{
    write_value(path, section, key, value);
    return 0;
}

int profile_write_int(const char* path, const char* section, const char* key, std::int32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
    write_value(path, section, key, text);
    return 0;
}

profile_entry* profile_load(const char* path)
{
    bool read_failed = false;
    return load_path(path, read_failed);
}

profile_entry* profile_load_stream(std::FILE* stream)
{
    if (stream == nullptr) {
        return nullptr;
    }
    bool failed = false;
    return load_from(stream, failed);
}

void profile_save(const char* path, const profile_entry* first)
{
    if (path == nullptr) {
        return;
    }
    std::FILE* out = std::fopen(path, "w+");
    if (out == nullptr) {
        return;
    }
    for (const profile_entry* e = first; e != nullptr; e = e->next) {
        if (e->position == 0) {
            put(out, "[", 1);
            put(out, e->section, bounded_length(e->section, profile_name_size));
            put(out, "]\n", 2);
        }
        const std::size_t key_size = bounded_length(e->key, profile_name_size);
        const std::size_t value_size = bounded_length(e->value, profile_value_size);
        put(out, e->key, key_size);
        if (key_size + 3 + value_size <= line_limit) {
            put(out, " = ", 3);
        } else {
            // " = " would push the line past the limit and the loader would
            // cut the value's end off into a line of its own.
            put(out, "=", 1);
        }
        put(out, e->value, value_size);
        put(out, "\n", 1);
    }
    std::fclose(out);
}

const profile_entry* profile_find(const profile_entry* first, const char* section, const char* key)
{
    // find_link does not change the list; it only hands out a link into it.
    profile_entry* list = const_cast<profile_entry*>(first);
    profile_entry** link = find_link(&list, section, key);
    return link != nullptr ? *link : nullptr;
}

void profile_free(profile_entry* first)
{
    while (first != nullptr) {
        profile_entry* next = first->next;
        std::free(first);
        first = next;
    }
}

int profile_split_entry(char* key, char* value, const char* line)
{
    if (key == nullptr || value == nullptr || line == nullptr) {
        return -1;
    }
    return split_entry({line, std::strlen(line)}, key, value) ? 0 : -1;
}

} // namespace sevenparam
