#include "report/json_writer.h"

#include <gtest/gtest.h>

#include <limits>

namespace sevenparam {
namespace {

using json = nlohmann::ordered_json;

// The writer's text is nlohmann's dump with an indent of 2 of the same
// members, but for arrays of numbers, which stay on one line: nested and
// empty objects and arrays, an array of objects, null, non-finite numbers
// (null), escapes and invalid UTF-8 (U+FFFD), integral doubles (".0").
TEST(JsonWriter, LayoutOfNlohmannWithNumberArraysOnOneLine)
{
    json_writer w;
    json_open_object(w);
    json_member(w, "text", "a \"quoted\"\n\xff name");
    json_member(w, "count", std::size_t{3});
    json_member(w, "whole", 42.0);
    json_member(w, "nan", std::numeric_limits<double>::quiet_NaN());
    json_open_object(w, "nested");
    json_member(w, "flag", true);
    json_open_object(w, "deeper");
    json_member(w, "none", nullptr);
    json_close(w);
    json_open_object(w, "empty");
    json_close(w);
    json_close(w);
    json_open_array(w, "items");
    for (int i = 0; i < 2; ++i) {
        json_open_object(w);
        json_member(w, "i", i);
        json_close(w);
    }
    json_close(w);
    json_open_array(w, "no_items");
    json_close(w);
    json_close(w);

    json tree;
    tree["text"] = "a \"quoted\"\n\xff name";
    tree["count"] = 3;
    tree["whole"] = 42.0;
    tree["nan"] = std::numeric_limits<double>::quiet_NaN();
    tree["nested"]["flag"] = true;
    tree["nested"]["deeper"]["none"] = nullptr;
    tree["nested"]["empty"] = json::object();
    tree["items"] = {{{"i", 0}}, {{"i", 1}}};
    tree["no_items"] = json::array();
    EXPECT_EQ(w.text, tree.dump(2, ' ', false, json::error_handler_t::replace));

    json_writer numbers;
    json_open_object(numbers);
    json_number_array(numbers, "v", Eigen::Vector3d(0.1, -2.0, 1e-20));
    json_number_rows(numbers, "m", Eigen::Matrix2d::Identity());
    json_close(numbers);
    EXPECT_EQ(numbers.text,
              "{\n  \"v\": [0.1,-2.0,1e-20],\n  \"m\": [\n    [1.0,0.0],\n    [0.0,1.0]\n  ]\n}");
}

} // namespace
} // namespace sevenparam
