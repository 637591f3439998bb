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

// The support rule. A K is supported by a run when
//  - its kelbow value at K stands at least kMinZ reference standard deviations
//    above the references' mean at K, at least kMinExcess above that mean and
//    above 0 (a difference of normalised expected entropies: below it the rise
//    is too small to matter, however steady the references are, and where the
//    references dip, a smaller dip is no corner), and is at least
//    kMinShareOfTop of the run's highest value at any K: the curve has a real
//    corner at K; and
//  - its expected entropy falls from 1 to K clusters at least kMinReduction
//    times as far as the references' does: the clusters at K hold structure,
//    not the sham corners the greedy merge finds in tables without any too
//    (those fall as far as the references, give or take a tenth).
// K = 30 is never supported: its value needs the curve at 33 clusters, and a
// rise there may go on.
constexpr double kMinZ = kChoiceMinZ;
constexpr double kMinExcess = 0.001;
constexpr double kMinShareOfTop = 0.05;
constexpr double kMinReduction = 1.4;
// A K is recommended when at least this share of the runs (the table in its
// own order and in the other orders) supports it.
constexpr double kStableShare = 2.0 / 3.0;
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
// What the references say at every K: the mean and spread of their kelbow
// values, and how far their mean expected entropy falls from 1 to K clusters.
struct ReferenceLevels {
  std::vector<double> mean, sd, reduction;
};

ReferenceLevels referenceLevels(const std::vector<std::vector<float>>& references) {
  ReferenceLevels r{std::vector<double>(kKelbowValues, 0), std::vector<double>(kKelbowValues, 0),
                    std::vector<double>(kKelbowValues, 0)};
  const int n = static_cast<int>(references.size());
  if (n == 0) return r;
  std::vector<std::vector<double>> values;
  for (const auto& c : references) values.push_back(kelbowValues(c.data()));
  for (int i = 0; i < kKelbowValues; ++i) {
    double curveAtOne = 0, curveAtK = 0;
    for (int j = 0; j < n; ++j) {
      r.mean[i] += values[j][i];
      curveAtOne += references[j][1];
      curveAtK += references[j][i + kFirstK];
    }
    r.mean[i] /= n;
    r.reduction[i] = (curveAtOne - curveAtK) / n;
    for (const auto& v : values) r.sd[i] += (v[i] - r.mean[i]) * (v[i] - r.mean[i]);
    r.sd[i] = n > 1 ? std::sqrt(r.sd[i] / (n - 1)) : 0;
  }
  return r;
}

// How many times as far as the references' the curve falls from 1 to K clusters.
double reductionRatio(const float* curve, const ReferenceLevels& refs, int i) {
  const double own = static_cast<double>(curve[1]) - curve[i + kFirstK];
  const double theirs = refs.reduction[i];
  if (theirs > 0) return own / theirs;
  return own > 0 ? HUGE_VAL : 0;
}

// Which K = 2 .. 30 a run with this curve supports.
std::vector<bool> supportedLevels(const float* curve, const ReferenceLevels& refs) {
  const std::vector<double> values = kelbowValues(curve);
  const int last = kKelbowValues - 1;  // K = 30, never supported
  const double top = *std::max_element(values.begin(), values.end() - 1);
  std::vector<bool> out(kKelbowValues, false);
  for (int i = 0; i < last; ++i) {
    // A rise, not only a smaller fall than the references' where theirs dip.
    const double rise = values[i] - std::max(refs.mean[i], 0.0);
    out[i] = values[i] - refs.mean[i] >= kMinZ * std::max(refs.sd[i], kMinSd) &&
             rise >= kMinExcess && values[i] >= kMinShareOfTop * top &&
             reductionRatio(curve, refs, i) >= kMinReduction;
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
  const ReferenceLevels refs = referenceLevels(references);
  const std::vector<double> values = kelbowValues(curve);
  const std::vector<bool> supported = supportedLevels(curve, refs);
  choice.levels.assign(kKelbowValues, {});
  for (int i = 0; i < kKelbowValues; ++i) {
    LevelEvidence& e = choice.levels[i];
    e.k = i + kFirstK;
    e.value = values[i];
    e.referenceMean = refs.mean[i];
    e.referenceSd = refs.sd[i];
    e.z = (values[i] - refs.mean[i]) / std::max(refs.sd[i], kMinSd);
    e.reduction = static_cast<double>(curve[1]) - curve[i + kFirstK];
    e.referenceReduction = refs.reduction[i];
    e.supported = supported[i];
  }
  for (const auto& c : orderCurves) {
    const std::vector<bool> there = supportedLevels(c.data(), refs);
    for (int i = 0; i < kKelbowValues; ++i) choice.levels[i].ordersSupported += there[i];
  }
  // The candidates are the K the table supports in its own order, finest
  // first. The recommendation is the finest of them that holds in most row
  // orders (a corner that comes and goes with the order of the rows is a split
  // of one cluster that the merge happened to find), or the finest when none
  // does. A coarser candidate groups the recommended clusters (nested
  // structure): both are listed.
  choice.candidates.clear();
  for (int k = kLastK; k >= kFirstK; --k)
    if (choice.at(k).supported) choice.candidates.push_back(k);
  const double runs = 1.0 + static_cast<double>(orderCurves.size());
  choice.k = choice.candidates.empty() ? 1 : choice.candidates.front();
  for (int k : choice.candidates) {
    if ((1 + choice.at(k).ordersSupported) >= kStableShare * runs - 1e-9) {
      choice.k = k;
      break;
    }
  }
  // The recommendation first.
  std::stable_partition(choice.candidates.begin(), choice.candidates.end(),
                        [&](int k) { return k == choice.k; });
}

bool chooseClusters(const TableDescription& desc, RowSource& rows, const ChoiceSettings& settings,
                    Progress& progress, ChoiceProgress& runs, Choice& choice, Hierarchy& table,
                    std::string& err) {
  // The first run, in the file's order, exactly as kelbow runs it; the rows it
  // reads are kept for the other row orders (only their value counts when no
  // other order is asked for).
  CodeTable codes(desc, settings.orders != 0);
  KeepingRows keeping(rows, codes);
  // Every run here keeps to one thread: the runs themselves share out the processors.
  AnalysisSettings first;
  first.keepRows = true;
  first.threads = 1;
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
  other.threads = 1;
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
