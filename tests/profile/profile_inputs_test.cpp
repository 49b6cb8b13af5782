#include "profile/profile_inputs.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace sevenparam {
namespace {

namespace fs = std::filesystem;

class ProfileInputs : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() /
               ("sevenparam_inputs_" + std::to_string(std::random_device{}()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string write(const std::string& name, const std::string& bytes) const
    {
        std::ofstream((dir_ / name).string(), std::ios::binary) << bytes;
        return (dir_ / name).string();
    }
    fs::path dir_;
};

// A value at the limit is whole; only the entry that is read counts, not a
// later duplicate nor a key under a section.
TEST_F(ProfileInputs, OnlyAValueReadAndLongerThanTheLimitIsCut)
{
    const std::string limit(32767, '1'), over(32768, '1');
    const auto inputs =
        read_profile_inputs(write("p.ini", "src=" + limit + "\ntest=3\ntest=" + over +
                                               "\ndes=" + over + "\n[s]\nsrc=" + over + "\n"),
                            "");
    ASSERT_TRUE(inputs);
    EXPECT_FALSE(inputs->src_cut);
    EXPECT_TRUE(inputs->des_cut);
    EXPECT_FALSE(inputs->test_cut);
    EXPECT_EQ(inputs->src, limit);
    EXPECT_EQ(inputs->des, std::string(32767, '1'));
}

TEST_F(ProfileInputs, IdentityNamesTheFileReadOnly)
{
    const std::string profile = write("p.ini", "src=1\n");
    const auto inputs = read_profile_inputs(profile, "");
    ASSERT_TRUE(inputs && inputs->identity.known);
    EXPECT_TRUE(names_same_file(profile, inputs->identity));
    EXPECT_TRUE(names_same_file((dir_ / "." / "p.ini").string(), inputs->identity));
    EXPECT_FALSE(names_same_file(write("q.ini", "src=1\n"), inputs->identity));
    EXPECT_FALSE(names_same_file((dir_ / "missing.ini").string(), inputs->identity));
    EXPECT_FALSE(names_same_file(profile, file_identity{}));
#ifndef _WIN32
    fs::create_hard_link(profile, dir_ / "hard.ini");
    EXPECT_TRUE(names_same_file((dir_ / "hard.ini").string(), inputs->identity));
#endif
}

} // namespace
} // namespace sevenparam
