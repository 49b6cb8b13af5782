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

// five_points after an adjustment with precisions of both systems, variance
// components and Danish robust estimation ("E" a likely blunder), with a
// test point T 5 km east and 5 km north of the centre.
page_case weighted_points()
{
    page_case c = five_points();
    quality_report& r = c.report;
    r.stochastic = {true, true, true};
    r.sigma0 = 0.875;
    r.tests.global = global_test{3.5, 20.515, true};
    r.variance_components = variance_component_estimate{2.25, 0.5, 1.125, 4};
    r.robust = robust_summary{robust_estimator::danish, 2.5, 9, {0.01, 1, 0.5, 1}, {0}};
    adjusted_point a;
    a.source_residual_m << 0.0011, -0.0022, 0.0005;
    a.target_residual_m << -0.0007, 0.0019, -0.0031;
    a.source_m << 1000.25, 2000.5, 3000.125;
    a.target_m << 1100.25, 2100.5, 3100.125;
    r.adjusted.assign(4, a);
    carried_precision p;
    p.sigma_xyz_m << 0.002, 0.003, 0.004;
    p.sigma_enu_m << 0.0025, 0.0018, 0.0041;
    p.ellipse = {0.02, 0.005, 30};
    r.common_precision.assign(5, p);
    const Eigen::Vector3d centre = r.centroid_target.transpose();
    const Eigen::Vector3d e = c.target.xyz.row(0).transpose() - centre; // 10 km east
    const Eigen::Vector3d n = c.target.xyz.row(2).transpose() - centre; // 10 km north
    r.predictions = {{"T", centre + 0.5 * e + 0.5 * n, p}};
    return c;
}

// Every figure of the adjustment with precisions in the page's tables.
TEST(HtmlReport, TablesOfPrecisionsVarianceComponentsAndRobustEstimation)
{
    const std::string page = page_of(weighted_points());
    const std::string parts[] = {
        "<tr><th class=\"name\">Precisions given</th><td class=\"name\">source and target "
        "points: errors in both systems</td></tr>",
        "0.875 (unitless: the square root of the variance factor",
        "does the variance factor agree with 1? passed",
        "<tr><th class=\"name\">Source factor</th><td class=\"name\">2.25 (unitless;",
        "<tr><th class=\"name\">Target factor</th><td class=\"name\">0.5 (unitless;",
        "<tr><th class=\"name\">&#963;0 before the refit</th><td class=\"name\">1.125 "
        "(unitless: the square root of the variance factor with the precisions as given)",
        "the refit with the precisions scaled by these factors",
        "<td class=\"name\">danish, constant 2.5 (standardised residual)</td>",
        "<tr><th class=\"name\">Likely blunders</th><td class=\"name\">E (final weight below "
        "0.05)</td></tr>",
        // The weight ends each residual row; the point left out has none.
        "<th rowspan=\"2\">Weight</th></tr>",
        "<td class=\"name\">flagged</td><td>0.0</td><td>0.0</td><td>0.0</td><td>0.00</td>"
        "<td>0.00</td><td>0.00</td><td>0.010</td></tr>",
        "<td class=\"name\">left out</td><td>&#8211;</td><td>&#8211;</td><td>&#8211;</td>"
        "<td>&#8211;</td><td>&#8211;</td><td>&#8211;</td><td>&#8211;</td></tr>",
        // Both systems: residuals in mm, adjusted coordinates in m.
        "<tr><td class=\"name\">E</td><td>1.10</td><td>-2.20</td><td>0.50</td><td>-0.70</td>"
        "<td>1.90</td><td>-3.10</td><td>1000.2500</td><td>2000.5000</td><td>3000.1250</td>"
        "<td>1100.2500</td><td>2100.5000</td><td>3100.1250</td></tr>",
        // Carried precision in mm, the ellipse with its confidence.
        "<h2>Precision of the common points as transformed</h2>",
        "<h2>Precision of the test points as carried</h2>",
        "<th colspan=\"3\">Error ellipse (95&#160;%)</th>",
        "<tr><td class=\"name\">T</td><td>2.00</td><td>3.00</td><td>4.00</td><td>2.50</td>"
        "<td>1.80</td><td>4.10</td><td>20.00</td><td>5.00</td><td>30.0</td></tr>",
    };
    for (const std::string& part : parts) {
        EXPECT_NE(page.find(part), std::string::npos) << part;
    }
    EXPECT_EQ(count(page, "<tr><td class=\"name\">S</td><td>2.00</td>"), 1u)
        << "the point left out has its precision, not its adjusted coordinates";
    for (const std::string& figure : figures(page)) {
        EXPECT_TRUE(well_formed(figure)) << figure;
    }
}

// The test point's error ellipse on the map: at the point, its semi-axes
// those of the data at the stated magnification, the major axis at the
// azimuth (clockwise from north, on a map with north up).
TEST(HtmlReport, MapDrawsTheErrorEllipsesOfTheTestPoints)
{
    const std::string page = page_of(weighted_points());
    const std::string map = figures(page).at(0);
    const std::string t = map_group(page, "T");
    ASSERT_FALSE(t.empty()) << map;
    const std::string ellipse = t.substr(t.find("<ellipse"));
    const auto x = [](const std::string& g) {
        return attribute(g.substr(g.find("<circle")), "cx");
    };
    const auto y = [](const std::string& g) {
        return attribute(g.substr(g.find("<circle")), "cy");
    };
    const std::string centre = map_group(page, gbk_as_utf8), e = map_group(page, "E");
    const double px_per_m = (x(e) - x(centre)) / 1e4;
    // Halfway to E and to N: right of and above the centre.
    EXPECT_NEAR(attribute(ellipse, "cx"), x(centre) + 5e3 * px_per_m, 0.2);
    EXPECT_NEAR(attribute(ellipse, "cy"), y(centre) - 5e3 * px_per_m, 0.2);

    const std::string stated = "error ellipses (95&#160;%) magnified ";
    const std::size_t at = map.find(stated);
    ASSERT_NE(at, std::string::npos) << map;
    std::string factor =
        map.substr(at + stated.size(), map.find(" times", at) - at - stated.size());
    for (std::size_t thin; (thin = factor.find("&#8201;")) != std::string::npos;) {
        factor.erase(thin, 7);
    }
    const double magnification = std::stod(factor);
    EXPECT_NEAR(attribute(ellipse, "rx"), 0.02 * magnification * px_per_m, 0.01);
    EXPECT_NEAR(attribute(ellipse, "ry"), 0.005 * magnification * px_per_m, 0.01);
    EXPECT_GE(attribute(ellipse, "rx"), 12.0) << "drawn large enough to see";
    // SVG turns clockwise from east: an azimuth of 30 degrees is -60.
    EXPECT_NE(ellipse.find("transform=\"rotate(-60.000 "), std::string::npos) << ellipse;
    EXPECT_NE(map.find("test point, horizontal error ellipse at 95&#160;% confidence"),
              std::string::npos);
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
