// The executable directory rule, the existence test, the profile inputs and
// the carrying of test points.
#include "driver/platform.h"
#include "driver/run.h"
#include "profile/profile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

namespace sevenparam {
namespace {

namespace fs = std::filesystem;

// A fresh directory under the system's temporary directory, removed after the
// test.
class TempDir : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() / (std::string("sevenparam_driver_") + info->name() + "_" +
                                            std::to_string(std::random_device{}()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string write(const std::string& name, const std::string& bytes) const
    {
        const fs::path path = dir_ / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path.string();
    }
    // The directory as an executable directory: ends in its separator.
    std::string as_exe_dir() const { return dir_.string() + "/"; }

    fs::path dir_;
};

TEST(ExecutableDirectory, CutAfterTheLastBackslash)
{
    EXPECT_EQ(executable_directory("C:\\tools\\sevenparam.exe"), "C:\\tools\\");
    EXPECT_EQ(executable_directory("a\\b\\"), "a\\b\\");
    // The first byte is examined too.
    EXPECT_EQ(executable_directory("\\sevenparam"), "\\");
    // A forward slash after the last backslash does not separate.
    EXPECT_EQ(executable_directory("dir\\sub/sevenparam"), "dir\\");
}

TEST(ExecutableDirectory, EmptyWithoutABackslash)
{
    // So that the default result file lands in the current directory on
    // systems whose paths use "/".
    EXPECT_EQ(executable_directory("/usr/local/bin/sevenparam"), "");
    EXPECT_EQ(executable_directory("sevenparam"), "");
    EXPECT_EQ(executable_directory(""), "");
    EXPECT_EQ(executable_directory(nullptr), "");
}

TEST_F(TempDir, PathExistsForFilesAndDirectoriesOnly)
{
    const std::string file = write("p.ini", "src=1\n");
    EXPECT_TRUE(path_exists(file));
    EXPECT_TRUE(path_exists(dir_.string()));
    EXPECT_FALSE(path_exists((dir_ / "missing.ini").string()));
    EXPECT_FALSE(path_exists(""));
}

TEST_F(TempDir, ProfileFoundUnderTheExecutableDirectoryOnly)
{
    write("only_here.ini", "src=1\ndes=2\n");
    ASSERT_FALSE(path_exists("only_here.ini"));
    const auto texts = read_profile_inputs("only_here.ini", as_exe_dir());
    ASSERT_TRUE(texts);
    EXPECT_EQ(texts->src, "1");
    EXPECT_EQ(texts->des, "2");
    EXPECT_EQ(texts->test, "");
}

TEST_F(TempDir, ProfileMissingAtBothPlaces)
{
    EXPECT_FALSE(read_profile_inputs("nowhere.ini", as_exe_dir()));
    // Without an executable directory the second try repeats the first.
    EXPECT_FALSE(read_profile_inputs((dir_ / "nowhere.ini").string(), ""));
    EXPECT_FALSE(read_profile_inputs("", ""));
}

TEST_F(TempDir, LongestProfileValueArrivesWhole)
{
    // 32,767 bytes is the most one profile value can hold: the number list of
    // thousands of points must reach the run uncut.
    std::string value;
    while (value.size() + 8 <= profile_value_size - 1) {
        value += "1234567,";
    }
    value.resize(profile_value_size - 1, '9');
    const std::string path = write("p.ini", "src=" + value + "\n");
    const auto texts = read_profile_inputs(path, "");
    ASSERT_TRUE(texts);
    EXPECT_EQ(texts->src, value);
}

adjustment_result shifted(double tx, double ty, double tz)
{
    adjustment_result r;
    r.args << tx, ty, tz, 0, 0, 0, 0;
    r.ave_src << 10, 20, 30;
    r.ave_tar << 110, 220, 330;
    r.sigmax.setZero();
    return r;
}

TEST(PredictPoints, CentroidsCarryTheShiftAndOnlyWholeTriplesAreRead)
{
    // The source centroid lands on the target centroid plus the translation.
    EXPECT_EQ(predict_points({10, 20, 30}, shifted(1, 2, 3)), (std::vector<double>{111, 222, 333}));

    auto r = shifted(0, 0, 0);
    r.args(6) = 1.0; // scale factor 2 about the centroids
    EXPECT_EQ(predict_points({11, 20, 30, 10, 18, 31, 99}, r),
              (std::vector<double>{112, 220, 330, 110, 216, 332}));
    EXPECT_TRUE(predict_points({}, r).empty());
}

TEST(Run, WithoutArgumentsEndsSilentlyWithFailure)
{
    const char* argv[] = {"sevenparam", nullptr};
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(run(1, argv, out, err), exit_failure);
    EXPECT_EQ(run(0, argv + 1, out, err), exit_failure);
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(err.str(), "");
}

// A run whose console output was lost used to end 0 without a word.
TEST(Run, FailedConsoleOutputIsReportedAfterTheRun)
{
    const char* argv[] = {"sevenparam",
                          "--inputsrc",
                          "0,0,0,1,0,0,0,1,0",
                          "--inputdes",
                          "0,0,0,1,0,0,0,1,0",
                          "--outfile",
                          ""};
    std::ostringstream out;
    std::ostringstream err;
    out.setstate(std::ios::badbit);
    EXPECT_EQ(run(7, argv, out, err), exit_failure);
    EXPECT_EQ(err.str(), "sevenparam: cannot write result file '': No such file or directory\n"
                         "sevenparam: cannot write standard output\n");
}

} // namespace
} // namespace sevenparam
