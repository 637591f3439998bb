#include "choose/choice_output.h"

#include "common/json_text.h"

namespace kelbow {

ChoiceChart choiceChart(const Choice& c, const std::string& dataName) {
  ChoiceChart chart;
  chart.dataName = dataName;
  for (std::size_t i = 0; i < c.levels.size(); ++i) {
    const LevelEvidence& e = c.levels[i];
    chart.values[i] = e.value;
    chart.low[i] = e.referenceMean - kChoiceMinZ * e.referenceSd;
    chart.high[i] = e.referenceMean + kChoiceMinZ * e.referenceSd;
  }
  chart.supported = c.candidates;
  chart.recommended = c.k;
  std::string also;
  for (int k : c.candidates)
    if (k != c.k) also += (also.empty() ? "" : ", ") + std::to_string(k);
  chart.subtitle = c.k == 1 ? "no cluster structure found"
                            : "recommended: " + std::to_string(c.k) + " clusters" +
                                  (also.empty() ? "" : "; also supported: " + also);
  chart.subtitle += " (band: " + std::to_string(c.references) + " references, mean \xC2\xB1 3 sd)";
  return chart;
}

std::string evidenceJson(const LevelEvidence& e, const Choice& c) {
  std::string o =
      "{\"k\": " + std::to_string(e.k) + ", \"value\": " + jsonNumber(e.value, 9) +
      ", \"reference_mean\": " + jsonNumber(e.referenceMean, 9) +
      ", \"reference_sd\": " + jsonNumber(e.referenceSd, 9) + ", \"z\": " + jsonNumber(e.z, 3) +
      ", \"reduction\": " + jsonNumber(e.reduction, 9) +
      ", \"reference_reduction\": " + jsonNumber(e.referenceReduction, 9) +
      ", \"supported\": " + (e.supported ? "true" : "false") +
      ", \"orders_supported\": " + std::to_string(e.ordersSupported) +
      ", \"orders\": " + std::to_string(c.orders) +
      ", \"agreement\": " + (e.agreement < -1 ? std::string("null") : jsonNumber(e.agreement, 6));
  return o + (e.k == c.k ? ", \"recommended\": true}" : ", \"recommended\": false}");
}

}  // namespace kelbow
