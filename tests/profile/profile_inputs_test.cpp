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

TEST_F(ProfileInputs, TellsWhichValuesWereCut)
{
    const std::string limit(32767, '1'), over(32768, '1');
    const struct {
        std::string bytes;
        bool src_cut, des_cut, test_cut;
    } cases[] = {
        {"src=" + limit + "\ndes=" + limit + "\ntest=" + limit + "\n", false, false, false},
        {"src=" + over + "\ndes=2\n", true, false, false},
        {"src=1\ndes=" + over + "\ntest=" + over + "\n", false, true, true},
        // Only the entry that is read counts: a later duplicate, or a key
        // under a section, is never seen.
        {"test=3\ntest=" + over + "\n[s]\nsrc=" + over + "\n", false, false, false},
    };
    for (const auto& c : cases) {
        const auto inputs = read_profile_inputs(write("p.ini", c.bytes), "");
        ASSERT_TRUE(inputs);
        EXPECT_EQ(c.src_cut, inputs->src_cut) << c.bytes.substr(0, 20);
        EXPECT_EQ(c.des_cut, inputs->des_cut) << c.bytes.substr(0, 20);
        EXPECT_EQ(c.test_cut, inputs->test_cut) << c.bytes.substr(0, 20);
    }
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
