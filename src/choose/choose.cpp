#include "choose/choose.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <mutex>
#include <numeric>

#include "analysis/road.h"
#include "choose/code_table.h"
#include "choose/reference_rows.h"
#include "choose/runs.h"
#include "common/random.h"
#include "merge/kelbow_output.h"
#include "profile/cluster_profile.h"

namespace kelbow {

namespace {

constexpr int kFirstK = 2;
constexpr int kLastK = kKelbowValues + 1;  // 30

// The support rule. A K is supported when the table's kelbow value there is
//  - at least kMinZ reference standard deviations above the references' mean,
//    at K and at both its neighbours: the greedy merge finds sham structure in
//    tables without any too, and where its small peaks fall moves by one K from
//    run to run, so a value must clear all three;
//  - at least kMinExcess above the highest of those three means (a difference of
//    normalised expected entropies: below it the rise is too small to matter,
//    however steady the references are), and
//  - at least kMinShareOfTop of the table's highest value at any K.
// K = 30 is never supported: its value needs the curve at 33 clusters, and a
// rise there may go on.
constexpr double kMinZ = kChoiceMinZ;
constexpr double kMinExcess = 0.001;
constexpr double kMinShareOfTop = 0.05;
// Reference spreads below this are taken as this, so that a z stays finite when
// every reference gives the same value.
constexpr double kMinSd = 1e-9;

// Seeds of the two kinds of runs, apart from each other.
constexpr std::uint64_t kReferenceStream = 0;
constexpr std::uint64_t kOrderStream = 1u << 20;

std::vector<double> kelbowValues(const float* curve) {
  std::vector<double> v(kKelbowValues);
  for (int t = 1; t <= kKelbowValues; ++t) v[t - 1] = kelbowValue(curve, t);
  return v;
}

// Which K of `values` (one per K = 2 .. 30) the rule supports, against the
// references' mean and spread at each K.
std::vector<bool> supportedLevels(const std::vector<double>& values,
                                  const std::vector<double>& mean, const std::vector<double>& sd) {
  const int last = static_cast<int>(values.size()) - 1;  // K = 30, never supported
  const double top = *std::max_element(values.begin(), values.end() - 1);
  std::vector<bool> out(values.size(), false);
  for (int i = 0; i < last; ++i) {
    double bar = -HUGE_VAL, base = -HUGE_VAL;
    for (int j = std::max(0, i - 1); j <= std::min(last - 1, i + 1); ++j) {
      bar = std::max(bar, mean[j] + kMinZ * std::max(sd[j], kMinSd));
      base = std::max(base, mean[j]);
    }
    out[i] =
        values[i] >= bar && values[i] - base >= kMinExcess && values[i] >= kMinShareOfTop * top;
  }
  return out;
}

// The seed-determined order of a table's rows for run `i`.
std::vector<int> shuffledOrder(int rows, std::uint64_t seed) {
  std::vector<int> order(rows);
  std::iota(order.begin(), order.end(), 0);
  SplitMix64 random{seed};
  for (int j = rows - 1; j > 0; --j)
    std::swap(order[j], order[random.below(static_cast<std::uint64_t>(j) + 1)]);
  return order;
}

// The adjusted Rand index of two labelings of the same rows at level k: the
// table's (row r in its file order) and an order's (the row at place j is
// order[j]).
double agreementAt(const Hierarchy& table, const Hierarchy& other, const std::vector<int>& order,
                   int k) {
  const std::vector<int> mine = table.startNumbersBySize(k);
  const std::vector<int> theirs = other.startNumbersBySize(k);
  std::vector<std::vector<long long>> counts(k + 1, std::vector<long long>(k + 1, 0));
  for (int j = 0; j < static_cast<int>(order.size()); ++j)
    ++counts[mine[table.startOfRow(order[j])]][theirs[other.startOfRow(j)]];
  return adjustedRandIndex(counts);
}

}  // namespace

int defaultOrders(long long rows) {
  if (rows < 100000) return 8;
  if (rows < 1000000) return 4;
  return 2;
}

void judge(const float* curve, const std::vector<std::vector<float>>& references,
           const std::vector<std::vector<float>>& orderCurves, Choice& choice) {
  const std::vector<double> values = kelbowValues(curve);
  const int r = static_cast<int>(references.size());
  std::vector<double> mean(kKelbowValues, 0), sd(kKelbowValues, 0);
  std::vector<std::vector<double>> refValues;
  for (const auto& c : references) refValues.push_back(kelbowValues(c.data()));
  for (int i = 0; i < kKelbowValues; ++i) {
    for (const auto& v : refValues) mean[i] += v[i];
    if (r > 0) mean[i] /= r;
    for (const auto& v : refValues) sd[i] += (v[i] - mean[i]) * (v[i] - mean[i]);
    sd[i] = r > 1 ? std::sqrt(sd[i] / (r - 1)) : 0;
  }
  const std::vector<bool> supported = supportedLevels(values, mean, sd);
  choice.levels.assign(kKelbowValues, {});
  for (int i = 0; i < kKelbowValues; ++i) {
    LevelEvidence& e = choice.levels[i];
    e.k = i + kFirstK;
    e.value = values[i];
    e.referenceMean = mean[i];
    e.referenceSd = sd[i];
    e.z = (values[i] - mean[i]) / std::max(sd[i], kMinSd);
    e.supported = supported[i];
  }
  for (const auto& c : orderCurves) {
    const std::vector<bool> there = supportedLevels(kelbowValues(c.data()), mean, sd);
    for (int i = 0; i < kKelbowValues; ++i) choice.levels[i].ordersSupported += there[i];
  }
  // The recommendation: the finest supported K. A coarser supported K is a
  // grouping of the finer clusters (nested structure): both are listed.
  choice.candidates.clear();
  for (int k = kLastK; k >= kFirstK; --k)
    if (choice.at(k).supported) choice.candidates.push_back(k);
  choice.k = choice.candidates.empty() ? 1 : choice.candidates.front();
}

bool chooseClusters(const TableDescription& desc, RowSource& rows, const ChoiceSettings& settings,
                    Progress& progress, ChoiceProgress& runs, Choice& choice, Hierarchy& table,
                    std::string& err) {
  // The first run, in the file's order, exactly as kelbow runs it; the rows it
  // reads are kept for the other row orders (only their value counts when no
  // other order is asked for).
  CodeTable codes(desc, settings.orders != 0);
  KeepingRows keeping(rows, codes);
  AnalysisSettings first;
  first.keepRows = true;
  {
    EntropyClustering analysis(desc, keeping, first, progress);
    if (!loadStartingClusters(analysis, desc.rows, err)) return false;
    analysis.agglomerate(-1);
    table = Hierarchy::take(analysis);
  }
  const bool direct = desc.rows < first.directRowLimit;
  const int n = codes.rowCount();

  choice = Choice{};
  choice.rows = n;
  choice.startingClusters = table.startCount();
  choice.seed = settings.seed;
  choice.references = settings.references >= 0 ? settings.references : kDefaultReferences;
  choice.orders = settings.orders >= 0 ? settings.orders : defaultOrders(n);
  choice.threads = settings.threads > 0 ? settings.threads : availableThreads();
  choice.referenceRows =
      direct ? n
             : std::min<long long>(n, std::max<long long>(settings.referenceRows, kDirectRowLimit));

  // Every other run takes the road the first took, whatever its row count.
  AnalysisSettings other;
  other.directRowLimit = direct ? INT_MAX : 0;
  const std::vector<std::vector<long long>> counts = codes.valueCounts();
  TableDescription referenceDesc = codes.description();
  referenceDesc.rows = static_cast<int>(choice.referenceRows);

  const int jobs = choice.references + choice.orders;
  std::vector<std::vector<float>> referenceCurves(choice.references);
  std::vector<std::vector<float>> orderCurves(choice.orders);
  // agreements[o][k - 2]: order o against the table at level k.
  std::vector<std::vector<double>> agreements(choice.orders);
  std::atomic<int> done{0};
  std::mutex reporting;
  std::string firstError;
  const int levels = std::min(kLastK, table.startCount());
  runs.runsDone(0, jobs);
  runInParallel(jobs, choice.threads, [&](int job) {
    Hierarchy h;
    std::string e;
    bool ok;
    if (job < choice.references) {
      ReferenceRows refRows(counts, choice.referenceRows,
                            streamSeed(settings.seed, kReferenceStream + job), "reference");
      ok = clusterRows(referenceDesc, refRows, other, silentProgress(), h, e);
      if (ok) referenceCurves[job].assign(h.curveData(), h.curveData() + kCurveSize);
    } else {
      const int o = job - choice.references;
      const std::vector<int> order = shuffledOrder(n, streamSeed(settings.seed, kOrderStream + o));
      TableRows orderRows(codes, &order, "row order");
      AnalysisSettings kept = other;
      kept.keepRows = true;
      ok = clusterRows(codes.description(), orderRows, kept, silentProgress(), h, e);
      if (ok) {
        orderCurves[o].assign(h.curveData(), h.curveData() + kCurveSize);
        agreements[o].assign(kKelbowValues, -2);
        for (int k = kFirstK; k <= std::min(levels, h.startCount()); ++k)
          agreements[o][k - kFirstK] = agreementAt(table, h, order, k);
      }
    }
    std::lock_guard<std::mutex> lock(reporting);
    if (!ok && firstError.empty()) firstError = e;
    runs.runsDone(++done, jobs);
  });
  if (!firstError.empty()) {
    err = firstError;
    return false;
  }

  judge(table.curveData(), referenceCurves, orderCurves, choice);
  for (int k = kFirstK; k <= kLastK; ++k) {
    double sum = 0;
    int counted = 0;
    for (const auto& a : agreements)
      if (a[k - kFirstK] > -2) sum += a[k - kFirstK], ++counted;
    if (counted > 0) choice.levels[k - kFirstK].agreement = sum / counted;
  }
  return true;
}

}  // namespace kelbow
