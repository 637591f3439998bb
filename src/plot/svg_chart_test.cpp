#include "plot/svg_chart.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>

namespace kelbow {
namespace {

const std::string kFffd = "\xEF\xBF\xBD";

TEST(XmlTextTest, EscapesMarkupCharacters) {
  EXPECT_EQ(xmlText("a&b<c>d\"e'f"), "a&amp;b&lt;c&gt;d&quot;e&apos;f");
  EXPECT_EQ(xmlText("&amp;"), "&amp;amp;");
}

TEST(XmlTextTest, KeepsValidUtf8AndWhitespace) {
  std::string text =
      "Gr\xC3\xB6\xC3\x9F"
      "e \xE6\x95\xB0 \xF0\x9F\x98\x80\t\n";
  EXPECT_EQ(xmlText(text), text);
}

TEST(XmlTextTest, ReplacesWhatXmlCannotCarry) {
  EXPECT_EQ(xmlText(std::string("a\x01"
                                "b\x1F"
                                "c",
                                5)),
            "a" + kFffd + "b" + kFffd + "c");
  EXPECT_EQ(xmlText(std::string("\0", 1)), kFffd);
  EXPECT_EQ(xmlText("\xFF"), kFffd);
  EXPECT_EQ(xmlText("\xC0\x80"), kFffd + kFffd);              // overlong form of NUL
  EXPECT_EQ(xmlText("\xED\xA0\x80"), kFffd + kFffd + kFffd);  // surrogate
  EXPECT_EQ(xmlText("\xF4\x90\x80\x80x"), kFffd + kFffd + kFffd + kFffd + "x");  // above U+10FFFF
  EXPECT_EQ(xmlText("ab\xE2\x82"), "ab" + kFffd + kFffd);                        // cut-off sequence
  EXPECT_EQ(xmlText("\xEF\xBF\xBE"), kFffd);                                     // U+FFFE
}

TEST(FormatFixedTest, WritesAPointAndTheGivenDecimals) {
  EXPECT_EQ(formatFixed(0.5, 2), "0.50");
  EXPECT_EQ(formatFixed(-0.002274, 3), "-0.002");
  EXPECT_EQ(formatFixed(420, 0), "420");
  EXPECT_EQ(formatFixed(-0.0001, 2), "0.00");  // no "-0.00"
  EXPECT_EQ(formatFixed(1e20, 2), "1.00e+20");
}

KelbowBlock blockOf(const std::string& name, std::array<double, kKelbowValueCount> values) {
  KelbowBlock block;
  block.dataName = name;
  block.markerLine = 2;
  block.values = values;
  return block;
}

// Values of the shape kelbow gives on a real table: one dominant first value,
// then small ones on both sides of zero.
std::array<double, kKelbowValueCount> typicalValues() {
  std::array<double, kKelbowValueCount> v{};
  v[0] = 0.142719;
  for (int t = 1; t < kKelbowValueCount; ++t) v[t] = ((t * 7) % 11 - 5) * 0.0004;
  v[4] = 0.003719;
  return v;
}

std::vector<std::pair<double, double>> polylinePoints(const std::string& svg) {
  std::vector<std::pair<double, double>> points;
  size_t at = svg.find("<polyline");
  if (at == std::string::npos) return points;
  at = svg.find("points=\"", at) + 8;
  std::istringstream in(svg.substr(at, svg.find('"', at) - at));
  double x, y;
  char comma;
  while (in >> x >> comma >> y) points.push_back({x, y});
  return points;
}

size_t count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(SvgChartTest, DrawsEveryValueLeftToRightWithHigherValuesHigherUp) {
  auto v = typicalValues();
  std::string svg = renderKelbowChart(blockOf("d", v), findPeaks(v), "r.kelbow");
  auto points = polylinePoints(svg);
  ASSERT_EQ(points.size(), static_cast<size_t>(kKelbowValueCount));
  for (int a = 0; a < kKelbowValueCount; ++a) {
    EXPECT_GT(points[a].first, 90.0);
    EXPECT_LT(points[a].first, 770.0);
    EXPECT_GE(points[a].second, 80.0);
    EXPECT_LE(points[a].second, 420.0);
    if (a > 0) {
      EXPECT_GT(points[a].first, points[a - 1].first);
    }
    for (int b = 0; b < kKelbowValueCount; ++b) {
      if (v[a] > v[b]) {
        EXPECT_LT(points[a].second, points[b].second) << a << " " << b;
      }
    }
  }
}

TEST(SvgChartTest, StrongPeaksAreFilledAndLabelledWeakOnesGreyRings) {
  auto v = typicalValues();
  auto peaks = findPeaks(v);
  ASSERT_GE(peaks.size(), 3u);
  size_t strong = 0;
  std::string listed = "highest peak first:";
  for (const Peak& p : peaks) {
    if (p.strong) listed += " " + std::to_string(p.k);
    strong += p.strong;
  }
  ASSERT_GT(strong, 0u);
  ASSERT_LT(strong, peaks.size());
  std::string svg = renderKelbowChart(blockOf("d", v), peaks, "r.kelbow");
  // One of each in the legend besides the peaks.
  EXPECT_EQ(count(svg, "fill=\"#c0392b\"/>"), strong + 1);
  EXPECT_EQ(count(svg, "stroke=\"#999\""), peaks.size() - strong + 1);
  for (const Peak& p : peaks)
    EXPECT_EQ(count(svg, ">K=" + std::to_string(p.k) + "<"), p.strong ? 1u : 0u) << p.k;
  listed += " (and " + std::to_string(peaks.size() - strong) + " weak)";
  EXPECT_NE(svg.find(listed + "</text>"), std::string::npos);
  EXPECT_EQ(count(svg, ">weak peak: noise</text>"), 1u);
}

TEST(SvgChartTest, AxesCarryTheirLabelsAndRoundTicks) {
  auto v = typicalValues();
  std::string svg = renderKelbowChart(blockOf("d", v), findPeaks(v), "r.kelbow");
  EXPECT_EQ(count(svg, ">number of clusters K</text>"), 1u);
  EXPECT_EQ(count(svg, ">kelbow value</text>"), 1u);
  // x labels at even K from 2 to 30; y ticks at multiples of 0.02 covering
  // -0.002 .. 0.143.
  for (int k = 2; k <= 30; k += 2)
    EXPECT_EQ(count(svg, ">" + std::to_string(k) + "</text>"), 1u) << k;
  for (std::string tick : {"-0.02", "0.00", "0.02", "0.14", "0.16"}) {
    EXPECT_EQ(count(svg, ">" + tick + "</text>"), 1u) << tick;
  }
  EXPECT_EQ(count(svg, ">0.18</text>"), 0u);
}

TEST(SvgChartTest, TitleCarriesTheEscapedDataName) {
  auto v = typicalValues();
  std::string svg = renderKelbowChart(blockOf("a&b <c>.data", v), findPeaks(v), "x\"y.kelbow");
  EXPECT_NE(svg.find("<title>kelbow curve of a&amp;b &lt;c&gt;.data</title>"), std::string::npos);
  EXPECT_NE(svg.find(">x&quot;y.kelbow, block at line 2"), std::string::npos);
  EXPECT_EQ(svg.find("a&b"), std::string::npos);
}

bool haveXmllint() { return std::system("command -v xmllint > /dev/null 2>&1") == 0; }

// Runs xmllint on `svg`; returns its exit status, with its messages in *messages.
int xmllint(const std::string& svg, std::string* messages) {
  auto dir = std::filesystem::temp_directory_path();
  auto file = dir / ("kelbow-plot-xmllint-" + std::to_string(::getpid()) + ".svg");
  auto log = dir / ("kelbow-plot-xmllint-" + std::to_string(::getpid()) + ".log");
  std::ofstream(file, std::ios::binary) << svg;
  int status =
      std::system(("xmllint --noout '" + file.string() + "' 2> '" + log.string() + "'").c_str());
  std::ifstream in(log);
  messages->assign(std::istreambuf_iterator<char>(in), {});
  std::filesystem::remove(file);
  std::filesystem::remove(log);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(SvgChartTest, IsWellFormedXmlForHostileNamesAndExtremeValues) {
  if (!haveXmllint()) {
    GTEST_SKIP() << "xmllint not on PATH (Debian package libxml2-utils); cannot check the SVG";
  }
  const double big = std::numeric_limits<double>::max();
  std::array<double, kKelbowValueCount> flat{}, huge{}, tiny{};
  for (int t = 0; t < kKelbowValueCount; ++t) {
    huge[t] = t % 2 ? big : -big;
    tiny[t] = t % 3 ? 1e-300 : -4e-300;
  }
  std::string hostile =
      std::string("a & b <c> \"d\" 'e' ]]> \x01\x7F\xFF\xC3 \xE6\x95\xB0 ") + std::string(200, 'n');
  for (const auto& v : {typicalValues(), flat, huge, tiny}) {
    std::string svg = renderKelbowChart(blockOf(hostile, v), findPeaks(v), hostile);
    EXPECT_EQ(svg.find("nan"), std::string::npos);
    EXPECT_EQ(svg.find("inf"), std::string::npos);
    std::string messages;
    EXPECT_EQ(xmllint(svg, &messages), 0) << messages;
  }
}

}  // namespace
}  // namespace kelbow
