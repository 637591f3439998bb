#include "plot/svg_chart.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "common/utf8.h"

namespace kelbow {

namespace {

// Page and plot area, in SVG user units.
constexpr double kWidth = 800;
constexpr double kHeight = 500;
constexpr double kLeft = 90;
constexpr double kRight = 770;
constexpr double kTop = 80;
constexpr double kBottom = 420;

// The x axis runs over the numbers of clusters a block signals, with a step of
// room at both ends so that no point or peak label touches an axis.
constexpr int kFirstK = 2;
constexpr int kLastK = kFirstK + kKelbowValueCount - 1;
constexpr double kKMin = kFirstK - 1;
constexpr double kKMax = kLastK + 1;

// About this many y intervals; the step is rounded to 1, 2 or 5 times a power of ten.
constexpr double kYIntervals = 6;

// Longest data file name drawn in the title and result file name drawn in the
// subtitle, in characters, so that both fit the page; the <title> element keeps
// the whole data file name.
constexpr size_t kTitleChars = 45;
constexpr size_t kSubtitleFileChars = 30;

// Largest number of decimals formatFixed writes in fixed form.
constexpr int kMaxFixedDecimals = 20;

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

bool xmlAllows(uint32_t cp) {
  if (cp < 0x20) return cp == '\t' || cp == '\n' || cp == '\r';
  return cp != 0xFFFE && cp != 0xFFFF;
}

// The first `maxChars` characters of UTF-8 text, or with `keepEnd` the last
// ones, marking the cut with an ellipsis. Continuation bytes are not counted.
std::string shortened(std::string_view text, size_t maxChars, bool keepEnd = false) {
  auto isLead = [&](size_t i) { return (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80; };
  size_t chars = 0;
  for (size_t i = 0; i < text.size(); ++i) chars += isLead(i);
  if (chars <= maxChars) return std::string(text);
  const std::string ellipsis = "\xE2\x80\xA6";  // U+2026
  size_t skip = keepEnd ? chars - maxChars : maxChars;
  size_t seen = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (isLead(i) && seen++ == skip) {
      return keepEnd ? ellipsis + std::string(text.substr(i))
                     : std::string(text.substr(0, i)) + ellipsis;
    }
  }
  return std::string(text);
}

// Nice tick positions covering [lo, hi] (which includes 0): index range and step.
struct Ticks {
  double step;
  long first;  // tick values are i * step for i = first..last
  long last;
};

Ticks niceTicks(double lo, double hi) {
  // Halves keep the span finite even for values near the largest double.
  double halfSpan = hi / 2 - lo / 2;
  if (!(halfSpan > 0)) halfSpan = std::max(std::abs(hi), 1.0) / 2;
  double raw = 2 * (halfSpan / kYIntervals);
  double mag = std::pow(10.0, std::floor(std::log10(raw)));
  double norm = raw / mag;
  double step = (norm < 1.5 ? 1 : norm < 3 ? 2 : norm < 7 ? 5 : 10) * mag;
  long first = static_cast<long>(std::floor(lo / step));
  long last = static_cast<long>(std::ceil(hi / step));
  // Room below the lowest value, so that it does not sit on the x axis.
  if (lo - first * step < step / 4) --first;
  return {step, first, last};
}

// Digits after the point that tick labels at multiples of `step` need.
int decimalsFor(double step) {
  return std::max(0, static_cast<int>(-std::floor(std::log10(step) + 1e-9)));
}

class SvgWriter {
 public:
  // Appended piece by piece: fewer temporaries than chained operator+.
  void open(std::string_view element) {
    out_ += '<';
    out_ += element;
  }
  void attr(std::string_view name, double value) { attr(name, formatFixed(value, 2)); }
  void attr(std::string_view name, std::string_view value) {
    out_ += ' ';
    out_ += name;
    out_ += "=\"";
    out_ += value;
    out_ += '"';
  }
  void closeEmpty() { out_ += "/>\n"; }
  void closeWithText(std::string_view element, std::string_view escapedText) {
    out_ += '>';
    out_ += escapedText;
    out_ += "</";
    out_ += element;
    out_ += ">\n";
  }
  void raw(std::string_view text) { out_ += text; }

  void line(double x1, double y1, double x2, double y2) {
    open("line");
    attr("x1", x1);
    attr("y1", y1);
    attr("x2", x2);
    attr("y2", y2);
    closeEmpty();
  }
  // `anchor` is start, middle or end; `extra` holds further ready attributes.
  void text(double x, double y, std::string_view anchor, std::string_view escapedText,
            std::string_view extra = "") {
    open("text");
    attr("x", x);
    attr("y", y);
    attr("text-anchor", anchor);
    if (!extra.empty()) {
      raw(" ");
      raw(extra);
    }
    closeWithText("text", escapedText);
  }

  std::string take() { return std::move(out_); }

 private:
  std::string out_;
};

}  // namespace

std::string xmlText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    uint32_t cp = 0;
    size_t len = utf8Sequence(text.substr(i), &cp);
    if (len == 0 || !xmlAllows(cp)) {
      out += kReplacement;
      i += std::max<size_t>(len, 1);
      continue;
    }
    switch (cp) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        out.append(text.substr(i, len));
    }
    i += len;
  }
  return out;
}

std::string formatFixed(double value, int decimals) {
  char buf[64];
  // Beyond these bounds a fixed form would be unreadably long (and not fit the buffer).
  bool fixed = std::abs(value) < 1e15 && decimals <= kMaxFixedDecimals;
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value,
                                 fixed ? std::chars_format::fixed : std::chars_format::scientific,
                                 fixed ? decimals : std::min(decimals, 2));
  if (ec != std::errc()) return "0";  // cannot happen for finite values within the buffer
  std::string s(buf, end);
  // A negative value that rounds to zero is written without its sign.
  if (s[0] == '-' && s.find_first_not_of("-0.") == std::string::npos) s.erase(0, 1);
  return s;
}

namespace {

// The y axis of a chart of values: a tick step rounded to 1, 2 or 5 times a
// power of ten, and the place of a value on the page.
struct YAxis {
  Ticks ticks;
  double yLo, yHi;
  int decimals;
  explicit YAxis(double lo, double hi) : ticks(niceTicks(lo, hi)) {
    yLo = std::max(ticks.first * ticks.step, -std::numeric_limits<double>::max());
    yHi = std::min(ticks.last * ticks.step, std::numeric_limits<double>::max());
    decimals = decimalsFor(ticks.step);
  }
  double yOf(double value) const {
    return kTop + (yHi / 2 - value / 2) / (yHi / 2 - yLo / 2) * (kBottom - kTop);
  }
};

double xOf(double k) { return kLeft + (k - kKMin) / (kKMax - kKMin) * (kRight - kLeft); }

// The document's head: the page, its <title>, the title and subtitle lines.
void drawHead(SvgWriter& svg, const std::string& title, const std::string& shownTitle,
              const std::string& subtitle) {
  svg.raw("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
  svg.raw("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + formatFixed(kWidth, 0) +
          "\" height=\"" + formatFixed(kHeight, 0) + "\" viewBox=\"0 0 " + formatFixed(kWidth, 0) +
          " " + formatFixed(kHeight, 0) +
          "\" font-family=\"DejaVu Sans, Arial, sans-serif\" font-size=\"12\">\n");
  svg.raw("<title>" + title + "</title>\n");
  svg.raw("<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n");

  svg.text(kWidth / 2, 30, "middle", shownTitle, "font-size=\"18\" font-weight=\"bold\"");
  svg.text(kWidth / 2, 52, "middle", subtitle, "fill=\"#444\"");
}

// Grid, ticks, axes, axis labels and the dashed zero line.
void drawFrame(SvgWriter& svg, const YAxis& axis) {
  const Ticks& ticks = axis.ticks;
  const int decimals = axis.decimals;
  auto yOf = [&](double value) { return axis.yOf(value); };
  // Horizontal grid and y tick labels.
  // Ticks past the largest double (values near it) are left out.
  std::vector<double> yTicks;
  for (long i = ticks.first; i <= ticks.last; ++i) {
    if (std::isfinite(i * ticks.step)) yTicks.push_back(i * ticks.step);
  }
  svg.raw("<g stroke=\"#e4e4e4\">\n");
  for (double y : yTicks) svg.line(kLeft, yOf(y), kRight, yOf(y));
  svg.raw("</g>\n<g fill=\"#222\">\n");
  for (double y : yTicks) svg.text(kLeft - 8, yOf(y) + 4, "end", formatFixed(y, decimals));
  svg.raw("</g>\n");

  // x ticks at every K, labels at every even K so that two-digit labels keep apart.
  svg.raw("<g stroke=\"#222\">\n");
  for (int k = kFirstK; k <= kLastK; ++k)
    svg.line(xOf(k), kBottom, xOf(k), kBottom + (k % 2 ? 3 : 6));
  svg.raw("</g>\n<g fill=\"#222\">\n");
  for (int k = kFirstK; k <= kLastK; k += 2)
    svg.text(xOf(k), kBottom + 20, "middle", std::to_string(k));
  svg.raw("</g>\n");

  // Axes, axis labels and the zero line.
  svg.raw("<g stroke=\"#222\" stroke-width=\"1.2\">\n");
  svg.line(kLeft, kTop, kLeft, kBottom);
  svg.line(kLeft, kBottom, kRight, kBottom);
  svg.raw("</g>\n");
  svg.raw("<g stroke=\"#888\" stroke-dasharray=\"5 4\">\n");
  svg.line(kLeft, yOf(0), kRight, yOf(0));
  svg.raw("</g>\n");
  svg.text((kLeft + kRight) / 2, kBottom + 45, "middle", "number of clusters K",
           "font-size=\"14\"");
  svg.text(0, 0, "middle", "kelbow value",
           "font-size=\"14\" transform=\"translate(24 " + formatFixed((kTop + kBottom) / 2, 2) +
               ") rotate(-90)\"");
}

// The curve of the 29 values, a line and a dot at every K.
void drawCurve(SvgWriter& svg, const YAxis& axis, const std::array<double, kKelbowValueCount>& v) {
  auto yOf = [&](double value) { return axis.yOf(value); };
  std::string points;
  for (int t = 0; t < kKelbowValueCount; ++t) {
    if (t) points += " ";
    points += formatFixed(xOf(kFirstK + t), 2) + "," + formatFixed(yOf(v[t]), 2);
  }
  svg.raw(
      "<polyline fill=\"none\" stroke=\"#1f5fa8\" stroke-width=\"2\" stroke-linejoin=\"round\" "
      "points=\"" +
      points + "\"/>\n");
  svg.raw("<g fill=\"#1f5fa8\">\n");
  for (int t = 0; t < kKelbowValueCount; ++t) {
    svg.open("circle");
    svg.attr("cx", xOf(kFirstK + t));
    svg.attr("cy", yOf(v[t]));
    svg.attr("r", 2.5);
    svg.closeEmpty();
  }
  svg.raw("</g>\n");
}

}  // namespace

std::string renderKelbowChart(const KelbowBlock& block, const std::vector<Peak>& peaks,
                              std::string_view resultFile) {
  const auto& v = block.values;
  double lo = std::min(0.0, *std::min_element(v.begin(), v.end()));
  double hi = std::max(0.0, *std::max_element(v.begin(), v.end()));
  const YAxis axis(lo, hi);
  auto yOf = [&](double value) { return axis.yOf(value); };

  std::string name = xmlText(block.dataName);
  std::string candidates;
  int weak = 0;
  for (const Peak& p : peaks) {
    if (p.strong)
      candidates += " " + std::to_string(p.k);
    else
      ++weak;
  }
  if (candidates.empty()) candidates = " none";
  if (weak > 0) candidates += " (and " + std::to_string(weak) + " weak)";

  SvgWriter svg;
  drawHead(svg, "kelbow curve of " + name,
           "kelbow curve of " + xmlText(shortened(block.dataName, kTitleChars)),
           xmlText(shortened(resultFile, kSubtitleFileChars, true)) + ", block at line " +
               std::to_string(block.markerLine) +
               " \xE2\x80\x94 candidates, highest peak first:" + candidates);
  drawFrame(svg, axis);
  drawCurve(svg, axis, v);

  // Strong peaks: a filled dot and their K above it; weak ones: a small grey ring.
  auto strongMark = [&](double x, double y) {
    svg.open("circle");
    svg.attr("cx", x);
    svg.attr("cy", y);
    svg.attr("r", 6);
    svg.attr("fill", "#c0392b");
    svg.closeEmpty();
  };
  auto weakMark = [&](double x, double y) {
    svg.open("circle");
    svg.attr("cx", x);
    svg.attr("cy", y);
    svg.attr("r", 4.5);
    svg.attr("fill", "none");
    svg.attr("stroke", "#999");
    svg.attr("stroke-width", "1.5");
    svg.closeEmpty();
  };
  svg.raw("<g class=\"peaks\">\n");
  for (const Peak& p : peaks) {
    if (!p.strong) {
      weakMark(xOf(p.k), yOf(p.value));
      continue;
    }
    strongMark(xOf(p.k), yOf(p.value));
    svg.text(xOf(p.k), yOf(p.value) - 11, "middle", "K=" + std::to_string(p.k),
             "fill=\"#c0392b\" font-weight=\"bold\"");
  }
  svg.raw("</g>\n");

  // The legend, in the top right corner of the plot area.
  svg.raw("<g class=\"legend\">\n");
  strongMark(kRight - 190, kTop + 14);
  svg.text(kRight - 178, kTop + 18, "start", "strong peak: a candidate K", "fill=\"#222\"");
  weakMark(kRight - 190, kTop + 34);
  svg.text(kRight - 178, kTop + 38, "start", "weak peak: noise", "fill=\"#222\"");
  svg.raw("</g>\n</svg>\n");
  return svg.take();
}

std::string renderChoiceChart(const ChoiceChart& chart) {
  const auto& v = chart.values;
  double lo = 0, hi = 0;
  for (int t = 0; t < kKelbowValueCount; ++t) {
    for (double x : {v[t], chart.low[t], chart.high[t]}) {
      if (!std::isfinite(x)) continue;
      lo = std::min(lo, x);
      hi = std::max(hi, x);
    }
  }
  const YAxis axis(lo, hi);
  auto yOf = [&](double value) { return axis.yOf(value); };
  auto clamp = [&](double value) { return std::clamp(value, axis.yLo, axis.yHi); };

  SvgWriter svg;
  const std::string name = xmlText(chart.dataName);
  drawHead(svg, "kelbow curve of " + name + " against references without structure",
           "kelbow curve of " + xmlText(shortened(chart.dataName, kTitleChars)),
           xmlText(chart.subtitle));
  drawFrame(svg, axis);

  // The reference band: up the high edge, back down the low one.
  std::string band;
  for (int t = 0; t < kKelbowValueCount; ++t)
    band +=
        formatFixed(xOf(kFirstK + t), 2) + "," + formatFixed(yOf(clamp(chart.high[t])), 2) + " ";
  for (int t = kKelbowValueCount - 1; t >= 0; --t)
    band += formatFixed(xOf(kFirstK + t), 2) + "," + formatFixed(yOf(clamp(chart.low[t])), 2) +
            (t ? " " : "");
  svg.raw("<polygon class=\"reference-band\" fill=\"#d5d5d5\" fill-opacity=\"0.8\" points=\"" +
          band + "\"/>\n");
  drawCurve(svg, axis, v);

  auto mark = [&](double x, double y, double r, const char* fill) {
    svg.open("circle");
    svg.attr("cx", x);
    svg.attr("cy", y);
    svg.attr("r", r);
    svg.attr("fill", fill);
    svg.closeEmpty();
  };
  svg.raw("<g class=\"supported\">\n");
  for (int k : chart.supported) {
    if (k < kFirstK || k > kLastK) continue;
    const double x = xOf(k), y = yOf(v[k - kFirstK]);
    const bool best = k == chart.recommended;
    mark(x, y, best ? 7 : 5.5, best ? "#c0392b" : "#e67e22");
    svg.text(x, y - 12, "middle",
             best ? "K=" + std::to_string(k) + " recommended" : "K=" + std::to_string(k),
             best ? "fill=\"#c0392b\" font-weight=\"bold\"" : "fill=\"#b35900\"");
  }
  svg.raw("</g>\n");

  svg.raw("<g class=\"legend\">\n");
  mark(kRight - 200, kTop + 14, 7, "#c0392b");
  svg.text(kRight - 188, kTop + 18, "start", "recommended K", "fill=\"#222\"");
  mark(kRight - 200, kTop + 34, 5.5, "#e67e22");
  svg.text(kRight - 188, kTop + 38, "start", "also supported", "fill=\"#222\"");
  svg.open("rect");
  svg.attr("x", kRight - 207);
  svg.attr("y", kTop + 47);
  svg.attr("width", 14);
  svg.attr("height", 10);
  svg.attr("fill", "#d5d5d5");
  svg.closeEmpty();
  svg.text(kRight - 188, kTop + 57, "start", "references without structure", "fill=\"#222\"");
  svg.raw("</g>\n</svg>\n");
  return svg.take();
}

}  // namespace kelbow
