// Profile files: section headers in square brackets and "key = value" lines.
//
// Conventions. C-style: every text argument is a NUL-terminated byte string,
// every output is a buffer or field owned by the caller with a fixed size,
// and the five public operations return 0 in every case (a missing key is
// told only by the fallback; nothing is printed). No character set is
// interpreted: GBK or any other multi-byte text passes through byte for byte,
// and every comparison works on bytes. Each public operation stands alone:
// it loads the whole file into an entry list, works on it, frees every record
// and returns; nothing survives from one call to the next.
//
// Streams. The loader opens the file with fopen mode "r", the saver with "w+"
// (create or truncate); both are text streams. On Windows the C run-time then
// turns CR LF into LF and ends the input at the first SUB byte (0x1A) when
// reading, and writes each LF as CR LF; elsewhere the bytes pass unchanged and
// the line rules below make LF and CR LF files read alike. Nothing imitates
// the Windows translation on other systems.
//
// Lines. The loader cuts the byte stream into lines, byte by byte:
//   LF (0x0A), NUL (0x00)    end the line; the byte is dropped.
//   CR (0x0D)                dropped wherever it stands; the line goes on.
//   FF (0x0C), SUB (0x1A)    appended as the line's last byte; the line ends.
//   any other byte           appended; a line that reaches 33280 bytes ends
//                            there, and the next byte begins a new line.
//   end of file              the bytes gathered so far form the last line.
// A line that received no byte is skipped. Every other line is trimmed of
// leading and trailing spaces (0x20) and tabs (0x09), and of no other byte.
//
// Line kinds, tested in this order on the trimmed line:
//   empty    nothing left                                  ignored
//   comment  first byte "#" or ";"                         ignored
//   header   first byte "[" and last byte "]", at least    the inner text,
//            two bytes (a lone "[" is no header)           trimmed, becomes the
//                                                          current section
//   entry    holds "=" at a place other than byte 0        one record stored
//   other    anything else, e.g. a line starting with "="  ignored
// Before the first header the current section is the nameless section "";
// "[]" and "[ ]" select it too. A section name may hold any byte, "=" and "]"
// included ("[a=b]" names section "a=b"). Comments are whole lines only:
// "[a] ; x" is neither header nor entry and leaves the section unchanged.
// An entry line is split at its first "=": the key is the text before it,
// the value all the text after it, both trimmed. Nothing is unquoted and
// nothing is cut as a trailing comment ("k = 1 ; two" has the value
// "1 ; two"). A header stores nothing: a section without entries leaves no
// trace in the entry list.
//
// Limits. Section names and keys keep at most 511 bytes and values at most
// 32767 bytes (the field widths less the terminating NUL). A longer text is
// cut at the limit, and blanks that the cut leaves at its end are removed so
// that every stored name and value stays trimmed (and reads back the same
// after a save). The same limit cuts a fallback copied into `out` and a
// written value. Files may be of any size and hold any number of entries;
// a loaded record takes memory in proportion to its own bytes, not to the
// limits. A record whose value was cut, at the value limit or by the line
// limit ending its line early, is marked (profile_entry::value_cut), so that
// a caller can tell a whole value from part of one.
//
// Name match. A requested name matches a stored one when both have the same
// length and their bytes are equal at every place once the bit 0x20 is
// cleared in both (byte & 0xDF). ASCII letters thus match regardless of case,
// and so do other pairs: "[" with "{", "]" with "}", "\" with "|", "^" with
// "~", "_" with DEL, "@" with "`", the digits with the bytes 0x10..0x19,
// "!".."/" with 0x01..0x0F, and each byte from 0x80 up with the byte 0x20
// above or below it (0xC1 with 0xE1), multi-byte text included. The empty
// name matches only the empty name; a requested name longer than 511 bytes
// matches nothing. The walk goes in file order and the first record whose
// section and key both match is the one found: a later duplicate is never
// seen.
//
// Written form. The saver writes, for each record in list order, the line
// "[section]\n" when the record's position is 0, then "key = value\n". A
// record whose "key = value" would exceed the 33280-byte line limit (a key of
// 510 or 511 bytes with a value near 32767 bytes) is written "key=value\n"
// instead, so that it still reads back as one line. Everything the loader
// ignored is gone after a save: comments, empty and other lines, headers
// without entries, CR bytes and the spacing of the loaded lines.
// One shape cannot be written back: a key beginning with "[" together with a
// value ending in "]" saves as a line that reads back as a header. The loader
// yields such a record only from a value cut at its limit; the write
// operations can make one from a key like "[a" (loaded from "[a = b").
//
// Numbers. profile_read_int and profile_read_double convert as the C library's
// atoi and atof (optional leading white space, optional sign, then digits;
// atof also takes a decimal point, an exponent, hexadecimal forms, "inf" and
// "nan"; conversion stops at the first byte that does not fit, and a value
// that does not begin with a number gives 0). atof follows the process
// locale: this library is used only in the "C" locale, where the decimal
// point is ".".
#ifndef SEVENPARAM_PROFILE_PROFILE_H
#define SEVENPARAM_PROFILE_PROFILE_H

#include <cstdint>
#include <cstdio>

namespace sevenparam {

// Field widths, terminating NUL included.
inline constexpr int profile_name_size = 512;
inline constexpr int profile_value_size = 32768;

// Longest physical line in bytes; a longer one is read as several lines.
inline constexpr int profile_line_limit = 33280;

// Position of the first record before any header. Records after a header
// count from 0 and the saver writes a header before each record at position
// 0; the leading group counts from 1 so that a save writes no "[]" line for
// it and the file keeps its shape. The counter never passes INT32_MAX.
inline constexpr std::int32_t profile_leading_position = 1;

// One stored entry line. Each record is one malloc block that holds the
// record and, after it, its three texts with their NULs; records are linked
// in file order and the operation that loaded them frees them. The texts fit
// the field widths above: a section and a key of at most 511 bytes, a value
// of at most 32767.
struct profile_entry {
    // Place among the entries since the last header, from 0; before the first
    // header, from profile_leading_position.
    std::int32_t position;
    char* section;       // NUL-terminated, trimmed, maybe ""
    char* key;           // NUL-terminated, trimmed, never ""
    char* value;         // NUL-terminated, trimmed, maybe ""
    bool value_cut;      // the line held more of the value than `value`
    profile_entry* next; // null for the last record
};

// Looks up `key` in `section` of the file at `path` and copies its value into
// `out`, a buffer of at least 32768 bytes. When the file cannot be opened,
// holds no such entry, or the entry's value is empty, copies `fallback`
// instead (cut at 32767 bytes; a null fallback counts as ""); `out` and
// `fallback` may overlap. A null `out` is left alone; a null
// `path`, `section` or `key` finds nothing. Returns 0.
int profile_read_string(const char* path, const char* section, const char* key, char* out,
                        const char* fallback);

// Like profile_read_string, but stores atoi of the value in `*out`: "12abc"
// gives 12 and "abc" gives 0 (not the fallback). A number beyond the range of
// a 32-bit int, which atoi leaves undefined, gives INT32_MIN or INT32_MAX.
// `fallback` is stored for a missing entry or an empty value. Returns 0.
int profile_read_int(const char* path, const char* section, const char* key, std::int32_t* out,
                     std::int32_t fallback);

// Like profile_read_int, with atof ("1.5e3" gives 1500.0, "x" gives 0.0).
// A magnitude beyond a double, which atof leaves undefined, gives what strtod
// gives: plus or minus HUGE_VAL (infinity), or 0 or a subnormal number for a
// tiny one. Returns 0.
int profile_read_double(const char* path, const char* section, const char* key, double* out,
                        double fallback);

// Loads the file at `path`, replaces the value of the first entry matching
// `section` and `key` by `value`, and saves the whole entry list back to
// `path` in the written form above. A key that is not found is not added (no
// header is created either), yet the file is still rewritten from the
// entries it held. The new value is cut at 32767 bytes, before its first LF,
// and just after its first FF, where the loader would end its line, so that a
// value cannot smuggle further lines into the file; also before its first
// SUB, which would end the input of a Windows text stream and hide the rest
// of the file there. CR bytes and leading and trailing blanks are written as
// given and vanish on reading. A null value counts as "".
// A file that cannot be opened for reading counts as one without entries:
// a path that does not exist becomes an empty file. A file whose reading
// fails part way is left unchanged, since saving the entries gathered so far
// would lose the rest. A file that cannot be opened for writing is left
// unchanged. Errors while writing the lines are not detected. Returns 0 in
// every case.
int profile_write_string(const char* path, const char* section, const char* key, const char* value);

// profile_write_string with `value` formatted as "%d" (a minus sign for
// negative numbers, no leading zeros). Returns 0.
int profile_write_int(const char* path, const char* section, const char* key, std::int32_t value);

// ---- Internal operations, exposed for the tests and the fuzzer. ----

// Reads the file at `path` (fopen mode "r") into a new entry list. Returns
// its first record, or null when the file cannot be opened or holds no entry.
// A read error other than end of file stops the reading: the records stored
// up to the line being gathered are kept, that line is dropped. A record that
// cannot be allocated is dropped and its position is not counted. The caller
// frees the list with profile_free.
profile_entry* profile_load(const char* path);

// As profile_load, from `stream`, which is read up to its end or its first
// read error and is neither rewound nor closed. A null stream gives null.
profile_entry* profile_load_stream(std::FILE* stream);

// Writes the list starting at `first` (null: no records) to `path`, opened
// with mode "w+", in the written form above. Texts are read only up to their
// field width (512 or 32768 bytes), whether NUL-terminated or not. When
// `path` cannot be opened nothing happens; write errors are not detected.
void profile_save(const char* path, const profile_entry* first);

// Frees every record of the list starting at `first` (null is allowed).
void profile_free(profile_entry* first);

// The first record of the list starting at `first` whose section and key
// match `section` and `key` under the name match above, or null (also for a
// null `section` or `key`). The lookup of every read operation.
const profile_entry* profile_find(const profile_entry* first, const char* section, const char* key);

// Splits a trimmed line at its first "=": `key` (512 bytes) receives the
// trimmed text before it and `value` (32768 bytes) the trimmed text after it,
// both cut at their limits. Returns 0 then. Returns -1, writing nothing, when
// the line holds no "=", its first "=" is its first byte, or the key would be
// empty (possible only for a line that was not trimmed); also when an
// argument is null.
int profile_split_entry(char* key, char* value, const char* line);

} // namespace sevenparam

#endif
