#include "numlist/result_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace sevenparam {
namespace {

namespace fs = std::filesystem;

const double nan_v = std::numeric_limits<double>::quiet_NaN();

TEST(NumberToText, WritesSixDecimals)
{
    EXPECT_EQ("2.000000", number_to_text(2));
    EXPECT_EQ("-0.500000", number_to_text(-0.5));
    EXPECT_EQ("0.000000", number_to_text(1e-7));
    EXPECT_EQ("-0.000000", number_to_text(-0.0));
    EXPECT_EQ("-0.000000", number_to_text(-1e-7));
    EXPECT_EQ("1000000000.000000", number_to_text(1e9));
    // 309 integer digits, the point and six decimals.
    EXPECT_EQ(316u, number_to_text(std::numeric_limits<double>::max()).size());
    EXPECT_EQ("inf,-inf,nan", join_numbers({std::numeric_limits<double>::infinity(),
                                            -std::numeric_limits<double>::infinity(), nan_v}));
}

// The text must be exactly the C library's "%f" in the "C" locale, halfway
// cases (1/128, 3/128) included.
TEST(NumberToText, MatchesPrintfInTheCLocale)
{
    std::vector<double> values = {0.0078125,
                                  0.0234375,
                                  5e-7,
                                  -5e-7,
                                  2.5,
                                  0.1,
                                  1e22,
                                  123456.7890125,
                                  std::numeric_limits<double>::denorm_min(),
                                  -std::numeric_limits<double>::max()};
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> mantissa(-10, 10);
    std::uniform_int_distribution<int> exponent(-12, 20);
    for (int i = 0; i < 2000; ++i) {
        values.push_back(mantissa(random) * std::pow(10.0, exponent(random)));
    }
    for (double v : values) {
        char expected[400];
        std::snprintf(expected, sizeof expected, "%f", v);
        EXPECT_EQ(expected, number_to_text(v)) << v;
    }
}

TEST(JoinNumbers, CommasBetweenValuesOnly)
{
    EXPECT_EQ("", join_numbers({}));
    EXPECT_EQ("1.000000", join_numbers({1}));
    EXPECT_EQ("1.000000,-0.000000,0.000001", join_numbers({1, -1e-7, 1.1e-6}));
}

TEST(ParameterOutput, Example)
{
    const double args[7] = {12.5, -3.25, 0.0000004, 0.00001, 0, 0, 0.0002};
    const double ave_src[3] = {100, 200, 30};
    const double ave_tar[3] = {112.5, 196.75, 30};
    EXPECT_EQ("args=12.500000,-3.250000,0.000000,0.000010,0.000000,0.000000,0.000200\n"
              "avesrc=100.000000,200.000000,30.000000\n"
              "avetar=112.500000,196.750000,30.000000\n",
              compose_parameter_output(args, ave_src, ave_tar));
}

TEST(ParameterOutput, ThresholdIsStrictOnTheMagnitude)
{
    const double args[7] = {9e-7, -9e-7, 1.1e-6, -1.1e-6, 1e-6, -1e-6, nan_v};
    const double ave_src[3] = {1e9, -1e-7, -0.0};
    const double ave_tar[3] = {nan_v, -nan_v, 1e-6};
    EXPECT_EQ("args=0.000000,0.000000,0.000001,-0.000001,0.000000,0.000000,0.000000\n"
              "avesrc=1000000000.000000,0.000000,0.000000\n"
              "avetar=0.000000,0.000000,0.000000\n",
              compose_parameter_output(args, ave_src, ave_tar));
}

TEST(PredictionOutput, RepeatsTheTextsAsGiven)
{
    const std::string joined = join_numbers({112.5, 196.75, -1e-7});
    EXPECT_EQ("src=1, 2,3 , 4,5,6\n"
              "des=7,8,9\n"
              "test=10 , 20 , 30\n"
              "output=112.500000,196.750000,-0.000000\n",
              compose_prediction_output("1, 2,3 , 4,5,6", "7,8,9", "10 , 20 , 30", joined));
}

class WriteTextFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::random_device seed;
        dir_ = fs::temp_directory_path() / ("numlist_test_" + std::to_string(seed()));
        fs::create_directory(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    static std::string read(const fs::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    fs::path dir_;
};

TEST_F(WriteTextFile, WritesAndOverwrites)
{
    const std::string path = (dir_ / "out.txt").string();
    std::string reason = "untouched";
    ASSERT_TRUE(write_text_file(path, "src=1,2,3\nlonger second line\n", reason));
    ASSERT_TRUE(write_text_file(path, "args=1\n", reason));
    EXPECT_EQ("untouched", reason);
    EXPECT_EQ(SEVENPARAM_TEXT_WRITES_CRLF ? "args=1\r\n" : "args=1\n", read(path));
    ASSERT_TRUE(write_text_file(path, "", reason));
    EXPECT_EQ("", read(path));
}

// An unwritable result file was once reported as written.
TEST_F(WriteTextFile, FailureCarriesTheSystemReason)
{
    std::string reason;
    EXPECT_FALSE(write_text_file((dir_ / "missing" / "out.txt").string(), "x\n", reason));
    EXPECT_EQ("No such file or directory", reason);
    EXPECT_FALSE(fs::exists(dir_ / "missing"));

    reason.clear();
    EXPECT_FALSE(write_text_file("", "x\n", reason));
    EXPECT_FALSE(reason.empty());

    // fopen would see only the part before the NUL and write another file.
    reason.clear();
    const std::string cut = (dir_ / "a").string();
    EXPECT_FALSE(write_text_file(cut + std::string("\0b", 2), "x\n", reason));
    EXPECT_EQ("Invalid argument", reason);
    EXPECT_FALSE(fs::exists(cut));
}

// A full device accepts the open; the failure shows up at the close for a
// short text (it sat in the stream's buffer) and at the write for a long one.
TEST_F(WriteTextFile, FullDeviceIsAFailure)
{
    if (!fs::exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full";
    }
    for (const std::size_t size : {std::size_t{10}, std::size_t{1} << 20}) {
        std::string reason;
        EXPECT_FALSE(write_text_file("/dev/full", std::string(size, 'x'), reason)) << size;
        EXPECT_EQ("No space left on device", reason) << size;
    }
}

// A line break in a list text used to split its result line in two, and the
// file then read back as a shorter list.
TEST(ComposePredictionOutput, TextsKeepOneLineEach)
{
    EXPECT_EQ("src=0,0,0,50,50,50\ndes=1, 2,\v3\ntest=\t4\noutput=9\n",
              compose_prediction_output("0,0,0,\n50,50,50\r\n", "1, 2,\v3\f", "\t4\r", "9"));
}

TEST_F(WriteTextFile, ReplacesWholeLeavingNoOtherFile)
{
    const fs::path path = dir_ / "out.txt";
    std::string reason;
    ASSERT_TRUE(write_text_file(path.string(), "old\n", reason));
#ifndef _WIN32
    // A replaced file keeps its permissions, as when it was overwritten.
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
#endif
    ASSERT_TRUE(write_text_file(path.string(), "new\n", reason));
    EXPECT_EQ(SEVENPARAM_TEXT_WRITES_CRLF ? "new\r\n" : "new\n", read(path));
#ifndef _WIN32
    EXPECT_EQ(fs::status(path).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
#endif
    // A directory is opened in place, which fails, and nothing is left.
    fs::create_directory(dir_ / "sub");
    EXPECT_FALSE(write_text_file((dir_ / "sub").string(), "x\n", reason));
    EXPECT_TRUE(fs::is_directory(dir_ / "sub"));
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"out.txt", "sub"}));
}

// Several outputs of one run: nothing is at any path until each is put in
// place, and a discarded output leaves nothing behind (the report's fixed
// temporary names once mixed two runs' outputs and followed links).
TEST_F(WriteTextFile, StagedFilesAppearOnlyWhenCommitted)
{
    const auto names = [this] {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(dir_)) {
            found.push_back(entry.path().filename().string());
        }
        std::sort(found.begin(), found.end());
        return found;
    };
    staged_file kept, dropped;
    std::string reason;
    ASSERT_TRUE(stage_file((dir_ / "a.txt").string(), kept, reason)) << reason;
    ASSERT_TRUE(stage_file((dir_ / "b.txt").string(), dropped, reason)) << reason;
    {
        file_output_buffer buffer(kept.file);
        std::ostream out(&buffer);
        out << "kept\n" << std::flush;
        ASSERT_TRUE(out.good());
    }
    ASSERT_TRUE(finish_staged_file(kept, reason)) << reason;
#ifdef __linux__
    EXPECT_EQ(names(), std::vector<std::string>{}); // unnamed until committed
#endif
    ASSERT_TRUE(commit_staged_file(kept, reason)) << reason;
    discard_staged_file(dropped);
    discard_staged_file(kept); // harmless after the commit
    EXPECT_EQ(names(), std::vector<std::string>{"a.txt"});
    EXPECT_EQ(SEVENPARAM_TEXT_WRITES_CRLF ? "kept\r\n" : "kept\n", read(dir_ / "a.txt"));
}

// Content past several write-back windows, in small pieces and in pieces
// larger than the buffer (written without a copy), comes out whole and in
// order; a device takes no write-back and stays writable.
TEST_F(WriteTextFile, LongStagedContentIsWrittenWhole)
{
    std::string expected;
    const std::string big(file_output_buffer::write_back_window / 3 + 7, 'b');
    for (int round = 0; expected.size() < 3 * file_output_buffer::write_back_window; ++round) {
        expected += "row " + std::to_string(round) + '\n';
        expected += big;
        expected += '\n';
    }
#ifdef _WIN32
    const std::string device = "NUL";
#else
    const std::string device = "/dev/null";
#endif
    for (const std::string& path : {(dir_ / "long.txt").string(), device}) {
        staged_file staged;
        std::string reason;
        ASSERT_TRUE(stage_file(path, staged, reason)) << reason;
        {
            file_output_buffer buffer(staged.file);
            std::ostream out(&buffer);
            for (std::size_t at = 0; at < expected.size();) {
                const std::size_t line = expected.find('\n', at) + 1;
                out.write(expected.data() + at, static_cast<std::streamsize>(line - at));
                at = line;
            }
            out.flush();
            ASSERT_TRUE(out.good()) << path;
        }
        ASSERT_TRUE(finish_staged_file(staged, reason)) << reason;
        ASSERT_TRUE(commit_staged_file(staged, reason)) << reason;
        discard_staged_file(staged);
    }
    std::string on_disk;
    for (const char c : expected) {
        on_disk += SEVENPARAM_TEXT_WRITES_CRLF && c == '\n' ? "\r\n" : std::string(1, c);
    }
    const std::string written = read(dir_ / "long.txt");
    EXPECT_EQ(written.size(), on_disk.size());
    EXPECT_TRUE(written == on_disk); // no 25 MB diff in a failure message
}

// Two paths that would write one file, before and after it exists.
TEST_F(WriteTextFile, DestinationsCompareByTheFileWritten)
{
    const std::string a = (dir_ / "a.txt").string();
    const std::string a_again = (dir_ / "sub" / ".." / "a.txt").string();
    const std::string b = (dir_ / "b.txt").string();
    fs::create_directory(dir_ / "sub");
    const struct {
        std::string first, second;
        bool same;
    } cases[] = {{a, a_again, true}, {a, b, false}, {a, (dir_ / "nodir" / "a.txt").string(), false}};
    for (const bool exists : {false, true}) {
        for (const auto& c : cases) {
            EXPECT_EQ(c.same, same_destination(destination_of(c.first), destination_of(c.second)))
                << c.first << " " << c.second << " exists " << exists;
        }
        EXPECT_EQ(exists, destination_of(a).exists);
        std::string reason;
        ASSERT_TRUE(write_text_file(a, "x\n", reason));
    }
#ifndef _WIN32
    fs::create_symlink("a.txt", dir_ / "link.txt");
    fs::create_symlink("later.txt", dir_ / "dangling.txt");
    EXPECT_TRUE(same_destination(destination_of(a), destination_of((dir_ / "link.txt").string())));
    EXPECT_TRUE(same_destination(destination_of((dir_ / "later.txt").string()),
                                 destination_of((dir_ / "dangling.txt").string())));
#endif
}

} // namespace
} // namespace sevenparam
