// The option table: echo, key order, free arguments, present-but-empty.
#include "driver/options.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace sevenparam {
namespace {

// Builds the table from `args` (argv[0] supplied here) and keeps the echo.
struct built {
    option_table table;
    std::string echo;
};

built build(const std::vector<std::string>& args)
{
    std::vector<const char*> argv{"C:\\tools\\sevenparam.exe"};
    for (const auto& a : args) {
        argv.push_back(a.c_str());
    }
    argv.push_back(nullptr);
    std::ostringstream echo;
    built b;
    b.table = build_option_table(static_cast<int>(argv.size() - 1), argv.data(), echo);
    b.echo = echo.str();
    return b;
}

TEST(OptionTable, KeyOrderIsByteWise)
{
    const auto b = build({"--outfile", "--inputtest", "--inputsrc", "--inputfile", "--inputdes"});
    std::vector<std::string> keys;
    for (const auto& entry : b.table) {
        keys.push_back(entry.first);
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"--inputdes", "--inputfile", "--inputsrc",
                                              "--inputtest", "--outfile"}));
}

TEST(OptionTable, EchoesEveryArgumentInOrderButNotTheProgramPath)
{
    // Option names, a dropped argument, an empty one and GBK bytes alike.
    const auto b = build({"dropped", "--inputsrc", "", "\xC6\xDF 1,2", "--INPUTDES", "--help"});
    EXPECT_EQ(b.echo, "dropped\n--inputsrc\n\n\xC6\xDF 1,2\n--INPUTDES\n--help\n");
}

TEST(OptionTable, NoArgumentsGiveNoEchoAndAnEmptyTable)
{
    const auto b = build({});
    EXPECT_TRUE(b.table.empty());
    EXPECT_EQ(b.echo, "");
}

TEST(OptionTable, EachOptionFollowedByItsValueGetsItWhateverTheOrder)
{
    for (const auto& args : {std::vector<std::string>{"--inputsrc", "A", "--inputdes", "B"},
                             std::vector<std::string>{"--inputdes", "B", "--inputsrc", "A"}}) {
        const auto b = build(args);
        EXPECT_EQ(find_option(b.table, option_name::inputsrc), "A");
        EXPECT_EQ(find_option(b.table, option_name::inputdes), "B");
        EXPECT_EQ(b.table.size(), 2u);
    }
}

TEST(OptionTable, ValuesFillEmptyEntriesInKeyOrderNotCommandLineOrder)
{
    const auto b = build({"--inputsrc", "--inputdes", "A", "B"});
    EXPECT_EQ(find_option(b.table, option_name::inputdes), "A");
    EXPECT_EQ(find_option(b.table, option_name::inputsrc), "B");

    const auto c = build({"--outfile", "--inputfile", "P"});
    EXPECT_EQ(find_option(c.table, option_name::inputfile), "P");
    EXPECT_EQ(find_option(c.table, option_name::outfile), "");
}

TEST(OptionTable, ArgumentsWithoutAnEmptyEntryAreDropped)
{
    // Before any option name the table is empty.
    const auto b = build({"A", "--inputsrc", "B"});
    EXPECT_EQ(b.table.size(), 1u);
    EXPECT_EQ(find_option(b.table, option_name::inputsrc), "B");

    // Every entry already has its value.
    const auto c = build({"--inputsrc", "A", "B"});
    EXPECT_EQ(c.table.size(), 1u);
    EXPECT_EQ(find_option(c.table, option_name::inputsrc), "A");
    EXPECT_EQ(c.echo, "--inputsrc\nA\nB\n");
}

TEST(OptionTable, RepeatedOptionNameDiscardsItsEarlierValue)
{
    const auto b = build({"--inputsrc", "A", "--inputsrc"});
    EXPECT_EQ(find_option(b.table, option_name::inputsrc), "");

    const auto c = build({"--inputsrc", "A", "--inputsrc", "B"});
    EXPECT_EQ(find_option(c.table, option_name::inputsrc), "B");
}

TEST(OptionTable, OtherCaseAndJoinedValueAreFreeArguments)
{
    const auto b = build({"--INPUTSRC", "--inputsrc=1,2,3", "--Outfile", "-inputsrc", "--input"});
    EXPECT_TRUE(b.table.empty());

    const auto c = build({"--inputdes", "--INPUTSRC"});
    EXPECT_EQ(find_option(c.table, option_name::inputdes), "--INPUTSRC");
    EXPECT_FALSE(find_option(c.table, option_name::inputsrc));
}

TEST(OptionTable, EmptyArgumentLeavesItsEntryEmptyForTheNextValue)
{
    const auto b = build({"--inputdes", "--inputsrc", "", "A", "B"});
    EXPECT_EQ(find_option(b.table, option_name::inputdes), "A");
    EXPECT_EQ(find_option(b.table, option_name::inputsrc), "B");
}

TEST(OptionTable, OptionNameIsNeverAValue)
{
    const auto b = build({"--outfile", "--inputsrc"});
    EXPECT_EQ(find_option(b.table, option_name::outfile), "");
    EXPECT_EQ(find_option(b.table, option_name::inputsrc), "");

    // The free arguments that follow fill both, in key order.
    const auto c = build({"--inputsrc", "--outfile", "S", "--inputdes", "D", "r.txt"});
    EXPECT_EQ(find_option(c.table, option_name::inputsrc), "S");
    EXPECT_EQ(find_option(c.table, option_name::inputdes), "D");
    EXPECT_EQ(find_option(c.table, option_name::outfile), "r.txt");
}

TEST(FindOption, AbsentIsDistinctFromPresentButEmpty)
{
    const auto b = build({"--outfile"});
    const auto outfile = find_option(b.table, option_name::outfile);
    ASSERT_TRUE(outfile.has_value());
    EXPECT_EQ(*outfile, "");
    EXPECT_FALSE(find_option(b.table, option_name::inputfile).has_value());
}

TEST(FindOption, MatchesWholeNamesOnly)
{
    const auto b = build({"--outfile", "r.txt"});
    EXPECT_FALSE(find_option(b.table, "--out"));
    EXPECT_FALSE(find_option(b.table, "--outfile "));
    EXPECT_FALSE(find_option(b.table, "--OUTFILE"));
    EXPECT_EQ(find_option(b.table, "--outfile"), "r.txt");
}

} // namespace
} // namespace sevenparam
