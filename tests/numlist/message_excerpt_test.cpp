#include "numlist/message_excerpt.h"

#include <gtest/gtest.h>

#include <string>

namespace sevenparam {
namespace {

TEST(MessageExcerpt, ShortPrintableAndOnOneLine)
{
    using namespace std::string_literals;
    const struct {
        std::string field, shown;
    } cases[] = {
        {"", ""},
        {"-12.5e3", "-12.5e3"},
        {std::string(40, '7'), std::string(40, '7')},
        {std::string(10000, '7'), std::string(40, '7') + "..."},
        // Every control byte, DEL included, as \xHH; the limit counts the
        // field's bytes, not the escapes.
        {"1\n2\r\t\x1B[2J\x7F"s + "\0"s, "1\\x0A2\\x0D\\x09\\x1B[2J\\x7F\\x00"},
        {std::string(39, 'x') + "\n\n", std::string(39, 'x') + "\\x0A..."},
        // Bytes from 0x80 up (GBK, UTF-8) and the rest of ASCII stay.
        {"\xB2\xCE\" \\~", "\xB2\xCE\" \\~"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.shown, message_excerpt(c.field)) << c.field.size();
    }
}

TEST(MessageExcerpt, PathsWholeAndCountsInTheirNumber)
{
    // A path is never cut, but shows its invisible bytes; its own backslashes
    // stay as they are.
    const std::string long_path = std::string(100, 'd') + "/p\\x41.txt";
    EXPECT_EQ(escape_control_bytes(long_path), long_path);
    EXPECT_EQ(escape_control_bytes("a\x1B\n.txt\x7F"), "a\\x1B\\x0A.txt\\x7F");
    EXPECT_FALSE(has_control_bytes(long_path));
    EXPECT_TRUE(has_control_bytes(std::string("p\0", 2)));

    const struct {
        std::size_t count;
        std::string text;
    } counts[] = {{0, "0 points"}, {1, "1 point"}, {2, "2 points"}, {11, "11 points"}};
    for (const auto& c : counts) {
        EXPECT_EQ(counted(c.count, "point"), c.text);
    }
}

} // namespace
} // namespace sevenparam
