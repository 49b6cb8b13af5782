#include "report/html.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <sstream>
#include <string>
#include <vector>

namespace sevenparam {
namespace {

// A name that would break the markup unescaped, with a control character
// and a non-character (U+FFFE) that XML does not allow; and "北京" in GBK, as a Chinese Windows
// file names it.
const std::string hostile = "a<b>&\"'\x01\xEF\xBF\xBE";
const std::string hostile_html = "a&lt;b&gt;&amp;&quot;&#39;\xEF\xBF\xBD\xEF\xBF\xBD";
const std::string gbk = "\xB1\xB1\xBE\xA9";
const std::string gbk_as_utf8 = "\xE5\x8C\x97\xE4\xBA\xAC";

// Five points about 10 km east, west, north and south of a centre at 40 N,
// 116 E (ECEF from the local frame there), the fifth at the centre itself.
// "E" is flagged, "S" left out; hostile and GBK names at two of them.
struct page_case {
    quality_report report;
    named_points target;
};

page_case five_points()
{
    const double degree = std::acos(-1.0) / 180, lat = 40 * degree, lon = 116 * degree;
    const double a = 6378137, e2 = 0.00669438002290,
                 nu = a / std::sqrt(1 - e2 * std::sin(lat) * std::sin(lat));
    const Eigen::Vector3d centre(nu * std::cos(lat) * std::cos(lon),
                                 nu * std::cos(lat) * std::sin(lon), nu * (1 - e2) * std::sin(lat));
    const Eigen::Vector3d east(-std::sin(lon), std::cos(lon), 0);
    const Eigen::Vector3d north(-std::sin(lat) * std::cos(lon), -std::sin(lat) * std::sin(lon),
                                std::cos(lat));
    const std::vector<std::string> names = {"E", hostile, "N", "S", gbk};
    const std::vector<Eigen::Vector3d> at = {centre + 1e4 * east, centre - 1e4 * east,
                                             centre + 1e4 * north, centre - 1e4 * north, centre};
    page_case c;
    c.target.names = names;
    c.target.xyz.resize(5, 3);
    for (std::size_t i = 0; i < 5; ++i) {
        c.target.xyz.row(static_cast<Eigen::Index>(i)) = at[i].transpose();
    }
    // The final set in input order, then the point left out.
    for (std::size_t i : {0, 1, 2, 4, 3}) {
        residual_row row;
        row.name = names[i];
        row.enu_m = Eigen::Vector3d(0.002, -0.001, i == 0 ? 0.004 : -0.001);
        row.xyz_m = row.enu_m;
        row.length_m = row.enu_m.norm();
        row.flagged = i == 0;
        row.removed = i == 3;
        c.report.residuals.push_back(row);
    }
    c.report.common_points = 4;
    c.report.redundancy = 5;
    c.report.centroid_target = centre.transpose();
    c.report.excluded.push_back({"S", excluded_point::reason::snooping, 9.5});
    c.report.proj_pipeline = "+proj=pipeline <&>";
    return c;
}

std::string page_of(const page_case& c)
{
    std::ostringstream out;
    write_html_report(out, c.report, c.target);
    return out.str();
}

std::size_t count(const std::string& text, const std::string& what)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

// Every start tag of `xml` is closed in order and no text holds a bare "<"
// or "&": what an XML parser needs of the markup.
bool well_formed(const std::string& xml)
{
    std::vector<std::string> open;
    for (std::size_t i = 0; i < xml.size(); ++i) {
        if (xml[i] == '&') {
            const std::size_t end = xml.find(';', i);
            if (end == std::string::npos || end - i > 8) {
                return false;
            }
            continue;
        }
        if (xml[i] != '<') {
            continue;
        }
        const std::size_t end = xml.find('>', i);
        if (end == std::string::npos) {
            return false;
        }
        const std::string tag = xml.substr(i + 1, end - i - 1);
        const std::string name = tag.substr(0, tag.find_first_of(" />\n"));
        if (tag.empty() || tag.find('<') != std::string::npos) {
            return false;
        }
        if (tag[0] == '/') {
            if (open.empty() || open.back() != tag.substr(1)) {
                return false;
            }
            open.pop_back();
        } else if (tag.back() != '/') {
            open.push_back(name);
        }
        i = end;
    }
    return open.empty();
}

// The SVG elements of a page, in order.
std::vector<std::string> figures(const std::string& page)
{
    std::vector<std::string> out;
    for (std::size_t at = page.find("<svg"); at != std::string::npos;
         at = page.find("<svg", at + 1)) {
        const std::size_t end = page.find("</svg>", at);
        out.push_back(page.substr(at, end == std::string::npos ? end : end + 6 - at));
    }
    return out;
}

// The map's group of the point whose page name is `name`.
std::string map_group(const std::string& page, const std::string& name)
{
    const std::string map = figures(page).at(0);
    const std::size_t at = map.find("<g><title>" + name + ":");
    return at == std::string::npos ? std::string() : map.substr(at, map.find("</g>", at) - at);
}

double attribute(const std::string& element, const std::string& key)
{
    const std::size_t at = element.find(" " + key + "=\"");
    return at == std::string::npos ? 0 : std::stod(element.substr(at + key.size() + 3));
}

TEST(HtmlReport, TwoWellFormedFiguresAndNamesEscapedEverywhere)
{
    const std::string page = page_of(five_points());
    const std::vector<std::string> svg = figures(page);
    ASSERT_EQ(svg.size(), 2u);
    for (const std::string& figure : svg) {
        EXPECT_TRUE(well_formed(figure)) << figure;
    }
    EXPECT_EQ(count(page, "<script"), 0u);
    // The hostile name: never raw; escaped in the map (title and label), the
    // bars (title and label) and the residual table.
    EXPECT_EQ(count(page, "a<b>"), 0u);
    EXPECT_EQ(count(page, hostile_html), 5u);
    EXPECT_EQ(count(page, gbk), 0u);
    EXPECT_EQ(count(page, gbk_as_utf8), 5u);
    EXPECT_NE(page.find("+proj=pipeline &lt;&amp;&gt;"), std::string::npos);
}

TEST(HtmlReport, MapPutsEastRightNorthUpAndMarksFlaggedAndLeftOutPoints)
{
    const std::string page = page_of(five_points());
    const std::string e = map_group(page, "E"), w = map_group(page, hostile_html),
                      n = map_group(page, "N"), s = map_group(page, "S"),
                      centre = map_group(page, gbk_as_utf8);
    ASSERT_FALSE(e.empty() || w.empty() || n.empty() || s.empty() || centre.empty()) << page;
    const auto x = [](const std::string& g) {
        return attribute(g.substr(g.find("<circle")), "cx");
    };
    const auto y = [](const std::string& g) {
        return attribute(g.substr(g.find("<circle")), "cy");
    };
    EXPECT_GT(x(e), x(centre) + 100);
    EXPECT_LT(x(w), x(centre) - 100);
    EXPECT_LT(y(n), y(centre) - 100); // SVG's y grows downwards
    EXPECT_GT(y(s), y(centre) + 100);
    EXPECT_NEAR(y(e), y(centre), 1.0);
    EXPECT_NEAR(x(n), x(centre), 1.0);

    EXPECT_NE(e.find("<circle class=\"flagged\""), std::string::npos);
    EXPECT_NE(e.find("class=\"arrow flagged\""), std::string::npos);
    EXPECT_NE(n.find("<circle class=\"kept\""), std::string::npos);
    // Left out: a hollow circle crossed by a path, named so in its title.
    EXPECT_NE(s.find("<circle class=\"removed\""), std::string::npos);
    EXPECT_NE(s.find("<path class=\"removed\""), std::string::npos);
    EXPECT_NE(s.find("left out"), std::string::npos);
    // The same marks in the bars and the table.
    const std::string bars = figures(page).at(1);
    EXPECT_EQ(count(bars, "class=\"bar flagged"), 1u);
    EXPECT_EQ(count(bars, "class=\"bar removed"), 1u);
    EXPECT_EQ(count(page, "<tr class=\"flagged\">"), 1u);
    EXPECT_EQ(count(page, "<tr class=\"removed\">"), 1u);
}

// The tables' numbers, not only their markup: residual cells in the mm their
// headings state (v, MDB and check), and the position-vector rotations the
// coordinate-frame ones negated.
TEST(HtmlReport, TableCellsInTheUnitsOfTheirHeadings)
{
    page_case c = five_points();
    residual_row& e = c.report.residuals[0];
    e.xyz_m = Eigen::Vector3d(0.00123, -0.0045, 0.0067);
    e.redundancy = Eigen::Vector3d(0.5, 0.25, 0.125);
    e.mdb_m = Eigen::Vector3d(0.0123, 0.0456, 0.0789);
    e.check_m = Eigen::Vector3d(-0.0015, 0.0025, 0.0035);
    c.report.bursa_wolf.rotation_arcsec = Eigen::Vector3d(-0.35, 1.12, -2.48);
    const std::string page = page_of(c);
    const auto has = [&page](const std::string& part) {
        return page.find(part) != std::string::npos;
    };
    EXPECT_TRUE(has("<th colspan=\"3\">v (mm)</th>"));
    EXPECT_TRUE(has("<th colspan=\"3\">MDB (mm)</th>"));
    EXPECT_TRUE(has("<td class=\"name\">E</td><td>1.23</td><td>-4.50</td><td>6.70</td>")) << page;
    EXPECT_TRUE(has("<td>0.500</td><td>0.250</td><td>0.125</td>"));
    EXPECT_TRUE(has("<td>12.3</td><td>45.6</td><td>78.9</td><td>-1.50</td><td>2.50</td>"
                    "<td>3.50</td></tr>"));
    const struct {
        const char* name;
        const char* frame;
        const char* vector;
    } rotations[] = {{"rx", "-0.350000", "0.350000"},
                     {"ry", "1.120000", "-1.120000"},
                     {"rz", "-2.480000", "2.480000"}};
    for (const auto& r : rotations) {
        EXPECT_TRUE(has(std::string("<td class=\"name\">") + r.name + "</td><td>" + r.frame +
                        "&#160;&#8243;</td><td>" + r.vector + "&#160;&#8243;</td>"))
            << r.name;
    }
}

// The report's warnings stand at the top of the page, in the summary.
TEST(HtmlReport, WarningsStandAtTheTop)
{
    page_case c = five_points();
    c.report.mirrored = true;
    const std::string page = page_of(c);
    const std::size_t warning = page.find("<p class=\"warning\">Warning: the target is mirrored");
    EXPECT_LT(page.find("<h2>Summary</h2>"), warning);
    EXPECT_LT(warning, page.find("<h2>Residuals of the common points</h2>"));
}

} // namespace
} // namespace sevenparam
