#include "profile/profile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace sevenparam {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

// One record of a loaded entry list, comparable and printable.
struct row {
    std::int32_t position;
    std::string section, key, value;
    bool operator==(const row& o) const
    {
        return position == o.position && section == o.section && key == o.key && value == o.value;
    }
};

void PrintTo(const row& r, std::ostream* os)
{
    *os << "{" << r.position << ", [" << r.section << "], " << r.key << " = " << r.value.size()
        << " bytes \"" << r.value.substr(0, 40) << "\"}";
}

std::vector<row> rows_of(profile_entry* list)
{
    std::vector<row> rows;
    for (const profile_entry* e = list; e != nullptr; e = e->next) {
        rows.push_back({e->position, e->section, e->key, e->value});
    }
    profile_free(list);
    return rows;
}

std::vector<row> load_rows(const std::string& path)
{
    return rows_of(profile_load(path.c_str()));
}

// `text` as a text stream writes it: each LF as CR LF on Windows.
std::string saved_text(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == '\n' && SEVENPARAM_TEXT_WRITES_CRLF) {
            out += '\r';
        }
        out += c;
    }
    return out;
}

std::string data_file(const char* name)
{
    return std::string(PROFILE_TEST_DATA) + "/" + name;
}

// Each test gets a fresh directory of its own and works on "p.ini" in it.
class Profile : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::random_device rd;
        dir_ = fs::temp_directory_path() / ("sevenparam_profile_" + std::to_string(rd()));
        ASSERT_TRUE(fs::create_directory(dir_));
        file_ = (dir_ / "p.ini").string();
    }
    void TearDown() override { fs::remove_all(dir_); }

    const char* file() const { return file_.c_str(); }

    void write(const std::string& bytes) const { std::ofstream(file_, std::ios::binary) << bytes; }
    std::string contents() const
    {
        std::ifstream in(file_, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    std::vector<row> rows() const { return load_rows(file_); }
    std::string read(const char* section, const char* key) const
    {
        std::vector<char> out(profile_value_size, 'z');
        EXPECT_EQ(0, profile_read_string(file(), section, key, out.data(), "<fallback>"));
        return out.data();
    }

    fs::path dir_;
    std::string file_;
};

// ---- Line rules ----

TEST_F(Profile, LineEndingBytes)
{
    const struct {
        std::string bytes;
        std::vector<row> rows;
    } cases[] = {
        {"src = 1\n[a]\nk = v\n", {{1, "", "src", "1"}, {0, "a", "k", "v"}}},
        {"src = 1\r\n[a]\r\nk = v\r\n", {{1, "", "src", "1"}, {0, "a", "k", "v"}}},
        {"s\rrc = 1\r", {{1, "", "src", "1"}}},
        {"a = 1\0b = 2"s, {{1, "", "a", "1"}, {2, "", "b", "2"}}},
        {"a = b\fc = d\n", {{1, "", "a", "b\f"}, {2, "", "c", "d"}}},
        // Windows' text input ends at the SUB byte itself.
        {"a = b\x1A[s]\nc = d", SEVENPARAM_TEXT_READ_ENDS_AT_SUB
                                    ? std::vector<row>{{1, "", "a", "b"}}
                                    : std::vector<row>{{1, "", "a", "b\x1A"}, {0, "s", "c", "d"}}},
        {"a = 1\n\n\r\n \t \nb = 2", {{1, "", "a", "1"}, {2, "", "b", "2"}}},
        {"\t src \t=\t 1 \t", {{1, "", "src", "1"}}},
        {"\vsrc = 1\v", {{1, "", "\vsrc", "1\v"}}}, // only spaces and tabs are trimmed
    };
    for (const auto& c : cases) {
        write(c.bytes);
        EXPECT_EQ(c.rows, rows()) << "bytes: " << c.bytes;
    }
}

TEST_F(Profile, SampleFiles)
{
    // A byte-order mark is just bytes: it spoils the header, and a key.
    EXPECT_EQ((std::vector<row>{{1, "", "src", "1"},
                                {2, "",
                                 "\xEF\xBB\xBF"
                                 "des",
                                 "2"}}),
              load_rows(data_file("bom.ini")));
    EXPECT_EQ((std::vector<row>{{1, "", "a", "1"}, {2, "", "b", "2"}, {0, "s", "c", "3"}}),
              load_rows(data_file("nul_byte.ini")));
    EXPECT_EQ((std::vector<row>{{1, "", "src", "1"}, {0, "a", "k", "v"}}),
              load_rows(data_file("crlf.ini")));
}

TEST_F(Profile, LongPhysicalLineIsReadAsSeveral)
{
    // 33280 bytes, then the rest of the physical line classified on its own.
    write("k=" + std::string(33278, 'x') + "y = 2\n");
    EXPECT_EQ((std::vector<row>{{1, "", "k", std::string(32767, 'x')}, {2, "", "y", "2"}}), rows());
    // A line end right after a full line makes no extra line.
    write("[" + std::string(33278, 's') + "]\nk = 1\n");
    EXPECT_EQ((std::vector<row>{{0, std::string(511, 's'), "k", "1"}}), rows());
}

// ---- Line kinds ----

TEST_F(Profile, LineKinds)
{
    const struct {
        std::string bytes;
        std::vector<row> rows;
    } cases[] = {
        {"src=1,2,3", {{1, "", "src", "1,2,3"}}},
        {"[]\nsrc = 1,2,3", {{0, "", "src", "1,2,3"}}},
        {"[ Paths ]\nsrc = a", {{0, "Paths", "src", "a"}}},
        {"[a]\nx = 1\n[ ]\ny = 2", {{0, "a", "x", "1"}, {0, "", "y", "2"}}},
        {"= 5\nsrc\n[a] ; note\nk = v", {{1, "", "k", "v"}}},
        {"   # src = 1\n\t; src = 1\nk=v", {{1, "", "k", "v"}}},
        {"[a=b\n[a=b]\nk = v\n[\nj = w",
         {{1, "", "[a", "b"}, {0, "a=b", "k", "v"}, {1, "a=b", "j", "w"}}},
        {"s = a = b\nt = 1 ; two\nq = \"x\" [y] #z",
         {{1, "", "s", "a = b"}, {2, "", "t", "1 ; two"}, {3, "", "q", "\"x\" [y] #z"}}},
        {"[a]\n[b]\nk = v", {{0, "b", "k", "v"}}},
        {"k =\nj = \t ", {{1, "", "k", ""}, {2, "", "j", ""}}},
        {"# only\n[a]\n; comments", {}},
    };
    for (const auto& c : cases) {
        write(c.bytes);
        EXPECT_EQ(c.rows, rows()) << "bytes: " << c.bytes;
    }
}

TEST(ProfileSplitEntry, SplitsAtFirstEqualsOrLeavesOutputsAlone)
{
    char key[profile_name_size];
    std::vector<char> value(profile_value_size);
    EXPECT_EQ(0, profile_split_entry(key, value.data(), "a = b = c"));
    EXPECT_STREQ("a", key);
    EXPECT_STREQ("b = c", value.data());
    for (const char* line : {"", "=v", "kv", " =v"}) {
        std::strcpy(key, "untouched");
        std::strcpy(value.data(), "untouched");
        EXPECT_EQ(-1, profile_split_entry(key, value.data(), line)) << line;
        EXPECT_STREQ("untouched", key);
        EXPECT_STREQ("untouched", value.data());
    }
}

// ---- Name match ----

TEST_F(Profile, NameMatch)
{
    const struct {
        std::string bytes;
        const char* section;
        const char* key;
        const char* expected;
    } cases[] = {
        {"SRC=1", "", "src", "1"},
        {"x[1] = 2", "", "X{1}", "2"},
        {"a_b = 1", "", "a-b", "<fallback>"},
        {"[ Paths ]\nsrc = a", "paths", "src", "a"},
        {"[ Paths ]\nsrc = a", "", "src", "<fallback>"},
        {"src = 1", "", "src ", "<fallback>"},
        {"a b = 1", "", "a", "<fallback>"}, // a prefix is no match
        {"[\xC1]\nk = 1", "\xE1", "K", "1"},
        {"k = 1", " ", "k", "<fallback>"},
        {"src = 1\nSRC = 2", "", "src", "1"},
        {"[a]\nk = 1\n[b]\nk = 2\n[A]\nk = 3", "A", "k", "1"},
    };
    for (const auto& c : cases) {
        write(c.bytes);
        EXPECT_EQ(c.expected, read(c.section, c.key)) << "bytes: " << c.bytes;
    }
}

// ---- Read conversions ----

TEST_F(Profile, FallbackOnlyForMissingEntryOrEmptyValue)
{
    std::int32_t n = 0;
    double x = 0;
    write("src =\nn = abc\nx = abc\n");
    EXPECT_EQ("<fallback>", read("", "src"));
    EXPECT_EQ(0, profile_read_int(file(), "", "src", &n, 7));
    EXPECT_EQ(7, n);
    EXPECT_EQ(0, profile_read_double(file(), "", "src", &x, 2.5));
    EXPECT_EQ(2.5, x);
    EXPECT_EQ("abc", read("", "n"));
    profile_read_int(file(), "", "n", &n, 7);
    EXPECT_EQ(0, n);
    profile_read_double(file(), "", "x", &x, 2.5);
    EXPECT_EQ(0.0, x);
    profile_read_int(file(), "", "missing", &n, -3);
    EXPECT_EQ(-3, n);

    const std::string absent = (dir_ / "absent.ini").string();
    std::vector<char> out(profile_value_size);
    EXPECT_EQ(0, profile_read_string(absent.c_str(), "", "src", out.data(), "fb"));
    EXPECT_STREQ("fb", out.data());
    profile_read_double(absent.c_str(), "", "src", &x, -1.25);
    EXPECT_EQ(-1.25, x);
    EXPECT_FALSE(fs::exists(absent));
}

TEST_F(Profile, NumberConversions)
{
    write("a = 12abc\nb = +5\nc = 0x1A\nd = 2147483647\ne = 99999999999\nf = -99999999999\n"
          "g = 1.5e3\nh = -2.5xyz\ni = 1e999\n");
    const struct {
        const char* key;
        std::int32_t expected;
    } ints[] = {{"a", 12},
                {"b", 5},
                {"c", 0},
                {"d", INT32_MAX},
                // Beyond a 32-bit int atoi is undefined; the library saturates.
                {"e", INT32_MAX},
                {"f", INT32_MIN}};
    for (const auto& c : ints) {
        std::int32_t n = -1;
        profile_read_int(file(), "", c.key, &n, -1);
        EXPECT_EQ(c.expected, n) << c.key;
    }
    double x = 0;
    profile_read_double(file(), "", "g", &x, 0);
    EXPECT_EQ(1500.0, x);
    profile_read_double(file(), "", "h", &x, 0);
    EXPECT_EQ(-2.5, x);
    profile_read_double(file(), "", "i", &x, 0);
    EXPECT_TRUE(std::isinf(x) && x > 0);
}

// ---- Writing and saving ----

TEST_F(Profile, WriteRewritesWholeFileFromEntries)
{
    write("# comment\n\nsrc=1\n[empty]\n[ s ]\n  k\t=  v  \nother line\nk=dup\n");
    EXPECT_EQ(0, profile_write_string(file(), "S", "K", "new"));
    EXPECT_EQ(saved_text("src = 1\n[s]\nk = new\nk = dup\n"), contents());

    // A missing key adds nothing, yet the file is rewritten; a section that
    // had two headers keeps both.
    write("[a]\nx=1\n[b]\ny=2\n[a]\nz=3");
    EXPECT_EQ(0, profile_write_int(file(), "a", "w", 5));
    EXPECT_EQ(saved_text("[a]\nx = 1\n[b]\ny = 2\n[a]\nz = 3\n"), contents());
    profile_write_int(file(), "a", "z", INT32_MIN);
    profile_write_int(file(), "b", "y", -42);
    EXPECT_EQ(saved_text("[a]\nx = 1\n[b]\ny = -42\n[a]\nz = -2147483648\n"), contents());
}

TEST_F(Profile, LeadingEntriesSaveWithoutEmptyHeader)
{
    write("src=1\ndes=2\n[]\ntest=3\n");
    profile_write_string(file(), "", "des", "  a b \t");
    EXPECT_EQ(saved_text("src = 1\ndes =   a b \t\n[]\ntest = 3\n"), contents());
    EXPECT_EQ("a b", read("", "des"));
    EXPECT_EQ("3", read("", "test"));
    EXPECT_EQ((std::vector<row>{{1, "", "src", "1"}, {2, "", "des", "a b"}, {0, "", "test", "3"}}),
              rows());
}

TEST_F(Profile, WriteTargets)
{
    // A missing file becomes an empty one.
    EXPECT_EQ(0, profile_write_string(file(), "", "src", "1"));
    EXPECT_TRUE(fs::exists(file_));
    EXPECT_EQ("", contents());
    // A path that cannot be opened at all is left alone.
    const std::string nowhere = (dir_ / "no" / "p.ini").string();
    EXPECT_EQ(0, profile_write_int(nowhere.c_str(), "", "src", 1));
    EXPECT_FALSE(fs::exists(dir_ / "no"));
    // A directory opens for reading here, but fails on the first read.
    EXPECT_EQ(nullptr, profile_load(dir_.string().c_str()));
    EXPECT_EQ(0, profile_write_string(dir_.string().c_str(), "", "src", "1"));
    EXPECT_TRUE(fs::is_directory(dir_));
}

// Regression: a value holding a line end used to be written as further
// lines, which read back as entries and headers of their own.
TEST_F(Profile, WrittenValueCannotAddLines)
{
    write("[s]\nk = 0\nevil = 1\n");
    profile_write_string(file(), "s", "k", "1\n[x]\nevil = 2");
    EXPECT_EQ(saved_text("[s]\nk = 1\nevil = 1\n"), contents());
    profile_write_string(file(), "s", "k", "a\fb = c");
    EXPECT_EQ((std::vector<row>{{0, "s", "k", "a\f"}, {1, "s", "evil", "1"}}), rows());
    // On Windows a SUB would end the input and hide "evil" and all after it.
    profile_write_string(file(), "s", "k", "a\x1A");
    EXPECT_EQ(saved_text("[s]\nk = a\nevil = 1\n"), contents());
}

#if defined(__GLIBC__)
// A stream that yields its bytes, then fails instead of ending.
ssize_t read_then_fail(void* cookie, char* buf, std::size_t size)
{
    auto* rest = static_cast<std::string*>(cookie);
    if (rest->empty()) {
        errno = EIO;
        return -1;
    }
    const std::size_t n = std::min(size, rest->size());
    rest->copy(buf, n);
    rest->erase(0, n);
    return static_cast<ssize_t>(n);
}

TEST(ProfileLoadStream, ReadErrorKeepsWholeLinesGathered)
{
    std::string bytes = "a = 1\n[s]\nb = 2\nc = 3";
    std::FILE* f = fopencookie(&bytes, "r", {read_then_fail, nullptr, nullptr, nullptr});
    ASSERT_NE(nullptr, f);
    EXPECT_EQ((std::vector<row>{{1, "", "a", "1"}, {0, "s", "b", "2"}}),
              rows_of(profile_load_stream(f)));
    std::fclose(f);
}
#endif

// ---- Limits ----

TEST_F(Profile, OverlongTextsAreCutAndStayTrimmed)
{
    const std::string s510(510, 's'), k510(510, 'k'), v32766(32766, 'v'), k511(511, 'K');
    // Each cut lands just after a blank, which then goes too.
    write("[" + s510 + " x]\n" + k510 + " y = 1\nv = " + v32766 + " w\n" + std::string(600, 'K') +
          "=2\n");
    EXPECT_EQ(
        (std::vector<row>{{0, s510, k510, "1"}, {1, s510, "v", v32766}, {2, s510, k511, "2"}}),
        rows());
    EXPECT_EQ("2", read(s510.c_str(), k511.c_str()));
    EXPECT_EQ("<fallback>", read(s510.c_str(), std::string(600, 'K').c_str()));
}

TEST_F(Profile, OverlongFallbackAndWrittenValueAreCut)
{
    const std::string long_text(40000, 'f');
    std::vector<char> out(profile_value_size, 'z');
    profile_read_string(file(), "", "k", out.data(), long_text.c_str());
    EXPECT_EQ(std::string(32767, 'f'), out.data());

    write("k = 1\n");
    profile_write_string(file(), "", "k", long_text.c_str());
    EXPECT_EQ(std::string(32767, 'f'), read("", "k"));
}

// Regression: "key = value" with a 511-byte key and a 32767-byte value is
// 33281 bytes long, so the value's last byte read back as a line of its own.
TEST_F(Profile, LongestEntrySavesAsOneLine)
{
    const std::string key(511, 'k'), value(32767, 'v');
    write(key + "=" + value + "\n[s]\nb = 1\n");
    profile_write_int(file(), "s", "b", 2);
    EXPECT_EQ(saved_text(key + "=" + value + "\n[s]\nb = 2\n"), contents());
    EXPECT_EQ((std::vector<row>{{1, "", key, value}, {0, "s", "b", "2"}}), rows());
}

// A value cut at its limit, or by the line limit, was taken for the whole.
TEST_F(Profile, CutValuesAreMarked)
{
    const std::string k = "k" + std::string(600, ' ') + "=";
    const std::string full(profile_line_limit - k.size(), 'v'); // fills the line
    const struct {
        std::string bytes;
        std::size_t value_size;
        bool cut;
    } cases[] = {
        {"k = " + std::string(32767, 'v') + "\nj = 1", 32767, false},
        {"k = " + std::string(32768, 'v') + "\nj = 1", 32767, true},
        // A full line that ends there lost nothing; one that goes on did.
        {k + full + "\r\nj = 1", full.size(), false},
        {k + full, full.size(), false},
        {k + full + "j = 1", full.size(), true},
    };
    for (const auto& c : cases) {
        write(c.bytes);
        profile_entry* list = profile_load(file());
        ASSERT_NE(nullptr, list);
        EXPECT_EQ(c.value_size, std::strlen(list->value)) << c.bytes.size();
        EXPECT_EQ(c.cut, list->value_cut) << c.bytes.size();
        profile_free(list);
    }
}

} // namespace
} // namespace sevenparam
