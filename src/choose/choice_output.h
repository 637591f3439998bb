// The answer of chooseClusters as the tools show it: the chart of the curve
// over the reference band, and the evidence at one K as a JSON object
// (kelbow-choose and kelbow-report write the same fields).
#pragma once

#include <string>

#include "choose/choose.h"
#include "plot/svg_chart.h"

namespace kelbow {

// The chart of `c` for the table named `dataName`: the band is the
// references' mean +- kChoiceMinZ sd.
ChoiceChart choiceChart(const Choice& c, const std::string& dataName);

// {"k": .., "value": .., "reference_mean": .., ..., "recommended": ..}
std::string evidenceJson(const LevelEvidence& e, const Choice& c);

}  // namespace kelbow
