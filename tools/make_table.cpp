// Writes a categorical table with planted clusters: in the tool's input format,
// NAME.data (one record per line) and NAME.desc (rows, attributes, domain
// sizes), or with --csv as a delimited text file NAME.csv with words for values,
// a header, an identifier column, a few missing values and the planted class;
// with --csv --mixed, numeric and date columns come first, as in a census extract.
//
// Every cluster has a prototype record; each row copies its cluster's prototype
// and replaces each code, with the given probability, by a uniformly drawn one.
// In the tool's format rows are dealt to the clusters in turn, so cluster c
// holds rows c, c + K, ...; in CSV the cluster of each row is drawn at random,
// cluster c (0-based) with weight K - c, so the clusters differ in size.
// The generator is deterministic: the same arguments give the same files.
#include <getopt.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/companion.h"
#include "app/output_files.h"

namespace {

// A small fixed generator (splitmix64), so the files do not depend on the
// standard library's distributions.
struct Random {
  std::uint64_t state;
  std::uint64_t next() {
    std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  int below(int n) { return static_cast<int>(next() % static_cast<std::uint64_t>(n)); }
  double unit() { return static_cast<double>(next() >> 11) / 9007199254740992.0; }
};

constexpr const char* kHelp =
    "Usage: kelbow-make-table [OPTIONS] NAME CLUSTERS ROWS ATTRIBUTES DOMAIN NOISE SEED\n"
    "Writes a categorical table with CLUSTERS planted clusters of ROWS rows in all, ATTRIBUTES\n"
    "attributes of DOMAIN values each: every cluster has a random prototype record, and each\n"
    "value of a row is its prototype's or, with probability NOISE (0..1), drawn at random.\n"
    "SEED fixes every draw: the same arguments give the same files.\n"
    "\n"
    "Options:\n"
    "      --csv          write NAME.csv instead: a header, an identifier column 'id', words\n"
    "                     for values (colour = red, green, ...), the planted cluster in a\n"
    "                     last column 'class' (group-A, group-B, ...); the cluster of each row\n"
    "                     is drawn with weights K, K-1, ..., 1, so the clusters differ in size\n"
    "      --missing P    with --csv, each value is missing with probability P: '?' or an\n"
    "                     empty field, half and half (default 0)\n"
    "      --mixed        with --csv, four typed columns after 'id': 'age' and 'hours'\n"
    "                     (integers), 'income' (two decimals) and 'joined' (yyyy-mm-dd);\n"
    "                     each cluster has a centre for each, a row's value lies near it or,\n"
    "                     with probability NOISE, anywhere in the column's range, and the\n"
    "                     month joined is the cluster's or, with probability NOISE, any\n"
    "                     month\n"
    "      --weights W,W,...  draw the cluster of each row at random with these weights, one\n"
    "                     per cluster (without it, rows are dealt in turn in the tool's format)\n"
    "      --imbalance R  the same with weights falling geometrically from R to 1, so the\n"
    "                     largest cluster is about R times the smallest\n"
    "      --nested G     group the clusters into G coarse groups (cluster c in group c*G/K):\n"
    "                     a cluster's prototype is its group's, each value redrawn with\n"
    "                     probability S (--nest-share, default 0.5)\n"
    "      --nest-share S the share of a group's prototype each cluster redraws\n"
    "      --noise-columns M  the last M attributes carry no structure: each is drawn from a\n"
    "                     skewed distribution of its own, whatever the row's cluster\n"
    "      --domain-max H each attribute's number of values is drawn from DOMAIN..H\n"
    "      --labels       in the tool's format, also write NAME.labels: the planted cluster\n"
    "                     of every row (group-A, group-B, ...)\n"
    "  -h, --help         show this help and exit\n"
    "      --version      show the version and exit\n"
    "\n"
    "Files:\n"
    "  NAME.data, NAME.desc  without --csv\n"
    "  NAME.labels           with --labels\n"
    "  NAME.csv              with --csv\n"
    "\n"
    "Exit status:\n"
    "  0  the files were written\n"
    "  1  bad arguments, or a file could not be written\n"
    "\n"
    "Examples:\n"
    "  kelbow-make-table planted4 4 300 24 6 0.15 4\n"
    "  kelbow-make-table --csv --missing 0.02 critters 4 400 8 5 0.15 7\n"
    "  kelbow-make-table --csv --mixed survey 4 600 4 6 0.2 11\n"
    "  kelbow-make-table --labels --imbalance 8 --noise-columns 5 uneven 6 2000 25 5 0.3 1\n"
    "  kelbow-make-table --labels --nested 2 nest 6 900 20 4 0.2 3\n";

constexpr std::string_view kProgram = "kelbow-make-table";

int usage(const char* what) { return kelbow::usageFailure(kProgram, what); }

// Ends a run whose files could not be written: nothing of them stays.
int cannotWrite(const std::string& err) { return kelbow::companionFailure(kProgram, err); }

// Words for the values of the CSV mode: the first attributes get names and
// words; further attributes and values are numbered.
struct Vocabulary {
  const char* name;
  const char* words[8];
};
constexpr Vocabulary kVocabulary[] = {
    {"colour", {"red", "green", "blue", "yellow", "black", "white", "grey", "brown"}},
    {"shape", {"round", "square", "oval", "long", "flat", "star", "ring", "cross"}},
    {"size", {"tiny", "small", "medium", "large", "huge", "giant", "micro", "jumbo"}},
    {"texture", {"smooth", "rough", "soft", "hard", "sticky", "furry", "slick", "grainy"}},
    {"pattern", {"plain", "striped", "spotted", "checked", "dotted", "wavy", "zigzag", "marbled"}},
    {"habitat", {"forest", "desert", "river", "mountain", "city", "coast", "swamp", "meadow"}},
    {"diet", {"plants", "insects", "fish", "seeds", "fruit", "grass", "nectar", "carrion"}},
    {"activity", {"day", "night", "dawn", "dusk", "always", "winter", "summer", "rainy"}},
    {"sound", {"silent", "chirp", "growl", "hiss", "click", "hum", "howl", "squeak"}},
    {"temper", {"calm", "shy", "bold", "playful", "grumpy", "curious", "lazy", "wild"}},
};
constexpr long long kNamedAttributes = sizeof kVocabulary / sizeof kVocabulary[0];
constexpr int kNamedValues = 8;

std::string attributeName(long long a) {
  return a < kNamedAttributes ? kVocabulary[a].name : "attr" + std::to_string(a + 1);
}

std::string valueWord(long long a, int code) {
  if (a < kNamedAttributes && code < kNamedValues) return kVocabulary[a].words[code];
  return "v" + std::to_string(code + 1);
}

std::string className(long long c) {
  return c < 26 ? std::string("group-") + static_cast<char>('A' + c)
                : "group-" + std::to_string(c + 1);
}

bool parseInt(const char* s, long long lo, long long hi, long long& v) {
  char* end = nullptr;
  v = std::strtoll(s, &end, 10);
  return end != s && *end == '\0' && v >= lo && v <= hi;
}

bool parseProbability(const char* s, double& p) {
  char* end = nullptr;
  p = std::strtod(s, &end);
  return end != s && *end == '\0' && p >= 0.0 && p <= 1.0;
}

// Splits "a,b,c" into positive weights, one per cluster.
bool parseWeights(const char* s, std::vector<double>& w) {
  w.clear();
  std::string text = s;
  size_t start = 0;
  while (true) {
    const size_t comma = text.find(',', start);
    const std::string item = text.substr(start, comma == std::string::npos ? comma : comma - start);
    char* end = nullptr;
    const double v = std::strtod(item.c_str(), &end);
    if (item.empty() || *end != '\0' || !(v > 0) || v > 1e9) return false;
    w.push_back(v);
    if (comma == std::string::npos) return true;
    start = comma + 1;
  }
}

// Everything that shapes a table beyond the positional arguments. Every draw a
// shape option adds is made only when the option is given, so that the files of
// the plain invocations stay as they always were.
struct Shape {
  long long k = 0, rows = 0, attributes = 0, domain = 0;
  double noise = 0;
  std::vector<double> weights;  // empty: rows dealt in turn (tool format) or K..1 (CSV)
  long long groups = 0;         // --nested
  double nestShare = 0.5;
  long long noiseColumns = 0;
  long long domainMax = 0;
};

// The drawn parts of a table: every attribute's domain size, every cluster's
// prototype, and the value distribution of every structureless column.
struct Plan {
  std::vector<int> domains;
  std::vector<std::vector<int>> prototypes;
  std::vector<std::vector<double>> columnCdf;  // per noise column: cumulative shares
};

Plan drawPlan(const Shape& shape, Random& random) {
  Plan plan;
  plan.domains.assign(shape.attributes, static_cast<int>(shape.domain));
  if (shape.domainMax > shape.domain)
    for (int& d : plan.domains)
      d = static_cast<int>(shape.domain) +
          random.below(static_cast<int>(shape.domainMax - shape.domain + 1));
  std::vector<std::vector<int>> groupPrototypes;
  if (shape.groups > 0) {
    groupPrototypes.assign(shape.groups, std::vector<int>(shape.attributes));
    for (auto& p : groupPrototypes)
      for (long long a = 0; a < shape.attributes; ++a) p[a] = random.below(plan.domains[a]);
  }
  plan.prototypes.assign(shape.k, std::vector<int>(shape.attributes));
  for (long long c = 0; c < shape.k; ++c)
    for (long long a = 0; a < shape.attributes; ++a) {
      int& code = plan.prototypes[c][a];
      if (shape.groups > 0) {
        const int own = groupPrototypes[c * shape.groups / shape.k][a];
        code = random.unit() < shape.nestShare ? random.below(plan.domains[a]) : own;
      } else {
        code = random.below(plan.domains[a]);
      }
    }
  // Structureless columns: squared uniform draws make a few values common and
  // the rest rare, as in real columns.
  for (long long a = shape.attributes - shape.noiseColumns; a < shape.attributes; ++a) {
    std::vector<double> cdf(plan.domains[a]);
    double sum = 0;
    for (double& v : cdf) {
      const double u = random.unit();
      sum += u * u + 1e-3;
      v = sum;
    }
    for (double& v : cdf) v /= sum;
    plan.columnCdf.push_back(std::move(cdf));
  }
  return plan;
}

// The cluster of row r.
long long drawCluster(const Shape& shape, bool csv, long long r, Random& random) {
  if (!shape.weights.empty()) {
    double total = 0;
    for (double w : shape.weights) total += w;
    double pick = random.unit() * total;
    long long c = 0;
    while (c + 1 < shape.k && pick >= shape.weights[c]) pick -= shape.weights[c], ++c;
    return c;
  }
  if (!csv) return r % shape.k;
  const long long totalWeight = shape.k * (shape.k + 1) / 2;
  long long pick = static_cast<long long>(random.unit() * static_cast<double>(totalWeight));
  long long c = 0;
  while (c + 1 < shape.k && pick >= shape.k - c) pick -= shape.k - c, ++c;
  return c;
}

// The code of attribute a in a row of cluster c.
int drawCode(const Shape& shape, const Plan& plan, long long c, long long a, Random& random) {
  const long long firstNoise = shape.attributes - shape.noiseColumns;
  if (a >= firstNoise) {
    const std::vector<double>& cdf = plan.columnCdf[a - firstNoise];
    const double u = random.unit();
    int v = 0;
    while (v + 1 < static_cast<int>(cdf.size()) && u >= cdf[v]) ++v;
    return v;
  }
  return random.unit() < shape.noise ? random.below(plan.domains[a]) : plan.prototypes[c][a];
}

// A draw near 0 of spread about 1: the sum of four uniform draws, centred and
// scaled (no library function, so the files are the same everywhere).
double nearZero(Random& random) {
  double sum = 0;
  for (int i = 0; i < 4; ++i) sum += random.unit();
  return (sum - 2.0) * 1.7320508075688772;
}

// One typed column of the mixed CSV mode: each cluster's centre is drawn from
// [lo, hi]; a value lies `spread` (a share of the centre when `relative`)
// around its cluster's centre, or with probability NOISE anywhere in [lo, hi].
struct TypedColumn {
  const char* name;
  double lo, hi, spread;
  bool relative;
  int decimals;
};
constexpr TypedColumn kTypedColumns[] = {
    {"age", 17, 90, 5, false, 0},
    {"hours", 1, 99, 4, false, 0},
    {"income", 5000, 200000, 0.15, true, 2},
};
constexpr int kFirstYear = 2010, kYears = 15;

// NAME.csv of --csv --mixed: id, age, hours, income, joined, the attributes in
// words, class. The draws follow those of the plan, so the other modes are as
// they were.
int writeMixedCsv(const std::string& name, const Shape& shape, const Plan& plan, double missing,
                  Random& random) {
  constexpr size_t kTyped = sizeof kTypedColumns / sizeof kTypedColumns[0];
  std::vector<std::vector<double>> centres(shape.k, std::vector<double>(kTyped));
  std::vector<int> months(shape.k);
  for (long long c = 0; c < shape.k; ++c) {
    for (size_t t = 0; t < kTyped; ++t)
      centres[c][t] =
          kTypedColumns[t].lo + random.unit() * (kTypedColumns[t].hi - kTypedColumns[t].lo);
    months[c] = 1 + random.below(12);
  }
  // The file appears whole or not at all.
  kelbow::OutputFiles outputs;
  std::string err;
  const std::string path = name + ".csv";
  std::FILE* out = outputs.open(path, err);
  if (out == nullptr) return cannotWrite(err);
  std::string line = "id";
  for (const TypedColumn& t : kTypedColumns) line += std::string(",") + t.name;
  line += ",joined";
  for (long long a = 0; a < shape.attributes; ++a) line += "," + attributeName(a);
  line += ",class\n";
  std::fputs(line.c_str(), out);
  const int idWidth = static_cast<int>(std::to_string(shape.rows).size());
  auto maybeMissing = [&](const std::string& value) {
    line += ',';
    if (missing > 0 && random.unit() < missing) {
      if (random.below(2) == 0) line += '?';
    } else {
      line += value;
    }
  };
  for (long long r = 0; r < shape.rows; ++r) {
    const long long c = drawCluster(shape, true, r, random);
    char text[64];
    std::snprintf(text, sizeof text, "r%0*lld", idWidth, r + 1);
    line = text;
    for (size_t t = 0; t < kTyped; ++t) {
      const TypedColumn& col = kTypedColumns[t];
      double v = centres[c][t] +
                 nearZero(random) * (col.relative ? col.spread * centres[c][t] : col.spread);
      if (random.unit() < shape.noise) v = col.lo + random.unit() * (col.hi - col.lo);
      v = v < col.lo ? col.lo : v > col.hi ? col.hi : v;
      std::snprintf(text, sizeof text, "%.*f", col.decimals, v);
      maybeMissing(text);
    }
    const int month = random.unit() < shape.noise ? 1 + random.below(12) : months[c];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", kFirstYear + random.below(kYears), month,
                  1 + random.below(28));
    maybeMissing(text);
    for (long long a = 0; a < shape.attributes; ++a)
      maybeMissing(valueWord(a, drawCode(shape, plan, c, a, random)));
    line += "," + className(c) + "\n";
    std::fputs(line.c_str(), out);
  }
  if (!kelbow::OutputFiles::close(out, path, err) || !outputs.commit(err)) return cannotWrite(err);
  return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
  kelbow::startCompanion("kelbow-make-table");
  enum {
    kCsv = kelbow::kFirstLongOnly,
    kMissing,
    kWeights,
    kImbalance,
    kNested,
    kNestShare,
    kNoiseColumns,
    kDomainMax,
    kLabels,
    kMixed
  };
  static const option kLong[] = {{"csv", no_argument, nullptr, kCsv},
                                 {"missing", required_argument, nullptr, kMissing},
                                 {"weights", required_argument, nullptr, kWeights},
                                 {"imbalance", required_argument, nullptr, kImbalance},
                                 {"nested", required_argument, nullptr, kNested},
                                 {"nest-share", required_argument, nullptr, kNestShare},
                                 {"noise-columns", required_argument, nullptr, kNoiseColumns},
                                 {"domain-max", required_argument, nullptr, kDomainMax},
                                 {"labels", no_argument, nullptr, kLabels},
                                 {"mixed", no_argument, nullptr, kMixed},
                                 {"help", no_argument, nullptr, 'h'},
                                 {"version", no_argument, nullptr, kelbow::kVersionOption},
                                 {nullptr, 0, nullptr, 0}};
  bool csv = false, labels = false, mixed = false;
  double missing = 0, imbalance = 0;
  Shape shape;
  opterr = 0;
  // "+": the arguments are positional and stop the options (a NOISE of 0 is no option).
  for (int c; (c = getopt_long(argc, argv, "+h", kLong, nullptr)) != -1;) {
    if (c == kCsv) {
      csv = true;
    } else if (c == kMissing) {
      if (!parseProbability(optarg, missing))
        return usage("--missing needs a probability from 0 to 1");
    } else if (c == kWeights) {
      if (!parseWeights(optarg, shape.weights))
        return usage("--weights needs positive numbers separated by commas");
    } else if (c == kImbalance) {
      char* end = nullptr;
      imbalance = std::strtod(optarg, &end);
      if (*end != '\0' || !(imbalance >= 1) || imbalance > 1e6)
        return usage("--imbalance needs a ratio from 1 to 1000000");
    } else if (c == kNested) {
      if (!parseInt(optarg, 1, 1000, shape.groups)) return usage("--nested needs 1..1000 groups");
    } else if (c == kNestShare) {
      if (!parseProbability(optarg, shape.nestShare))
        return usage("--nest-share needs a probability from 0 to 1");
    } else if (c == kNoiseColumns) {
      if (!parseInt(optarg, 0, 10000, shape.noiseColumns))
        return usage("--noise-columns needs 0..10000 columns");
    } else if (c == kDomainMax) {
      if (!parseInt(optarg, 2, 1000, shape.domainMax)) return usage("--domain-max needs 2..1000");
    } else if (c == kLabels) {
      labels = true;
    } else if (c == kMixed) {
      mixed = true;
    } else {
      return kelbow::scanStatus(kelbow::commonOption(c, argv, kProgram, kHelp));
    }
  }
  if (missing > 0 && !csv) return usage("--missing goes with --csv");
  if (mixed && !csv) return usage("--mixed goes with --csv");
  if (labels && csv) return usage("--labels goes without --csv (the CSV file has a class column)");
  argv += optind - 1;
  argc -= optind - 1;
  if (argc != 8) return usage("NAME CLUSTERS ROWS ATTRIBUTES DOMAIN NOISE SEED are required");
  long long seed;
  if (!parseInt(argv[2], 1, 1000, shape.k) || !parseInt(argv[3], 1, 100000000, shape.rows) ||
      !parseInt(argv[4], 1, 10000, shape.attributes) || !parseInt(argv[5], 2, 1000, shape.domain) ||
      !parseInt(argv[7], 0, INT64_MAX, seed))
    return usage(
        "CLUSTERS 1..1000, ROWS 1..100000000, ATTRIBUTES 1..10000, DOMAIN 2..1000, SEED >= 0");
  if (!parseProbability(argv[6], shape.noise)) return usage("NOISE is a probability from 0 to 1");
  if (!shape.weights.empty() && static_cast<long long>(shape.weights.size()) != shape.k)
    return usage("--weights needs one weight per cluster");
  if (imbalance > 0) {
    if (!shape.weights.empty()) return usage("--weights and --imbalance exclude each other");
    for (long long c = 0; c < shape.k; ++c)
      shape.weights.push_back(shape.k == 1
                                  ? 1.0
                                  : std::pow(imbalance, static_cast<double>(shape.k - 1 - c) /
                                                            static_cast<double>(shape.k - 1)));
  }
  if (shape.groups > shape.k) return usage("--nested needs at most CLUSTERS groups");
  if (shape.noiseColumns > shape.attributes)
    return usage("--noise-columns needs at most ATTRIBUTES columns");
  if (shape.domainMax > 0 && shape.domainMax < shape.domain)
    return usage("--domain-max needs at least DOMAIN");

  const std::string name = argv[1];
  Random random{static_cast<std::uint64_t>(seed)};
  const Plan plan = drawPlan(shape, random);

  if (mixed) return writeMixedCsv(name, shape, plan, missing, random);
  // The files appear whole or not at all, and replace an earlier table whole.
  kelbow::OutputFiles outputs;
  std::string err;
  if (csv) {
    const std::string path = name + ".csv";
    std::FILE* out = outputs.open(path, err);
    if (out == nullptr) return cannotWrite(err);
    std::string line = "id";
    for (long long a = 0; a < shape.attributes; ++a) line += "," + attributeName(a);
    line += ",class\n";
    std::fputs(line.c_str(), out);
    const int idWidth = static_cast<int>(std::to_string(shape.rows).size());
    for (long long r = 0; r < shape.rows; ++r) {
      const long long c = drawCluster(shape, true, r, random);
      char id[32];
      std::snprintf(id, sizeof id, "r%0*lld", idWidth, r + 1);
      line = id;
      for (long long a = 0; a < shape.attributes; ++a) {
        const int code = drawCode(shape, plan, c, a, random);
        line += ',';
        if (missing > 0 && random.unit() < missing) {
          if (random.below(2) == 0) line += '?';
        } else {
          line += valueWord(a, code);
        }
      }
      line += "," + className(c) + "\n";
      std::fputs(line.c_str(), out);
    }
    if (!kelbow::OutputFiles::close(out, path, err) || !outputs.commit(err))
      return cannotWrite(err);
    return 0;
  }

  const std::string descPath = name + ".desc", dataPath = name + ".data",
                    labelsPath = name + ".labels";
  std::FILE* desc = outputs.open(descPath, err);
  std::FILE* data = desc == nullptr ? nullptr : outputs.open(dataPath, err);
  std::FILE* classes = data == nullptr || !labels ? nullptr : outputs.open(labelsPath, err);
  if (desc == nullptr || data == nullptr || (labels && classes == nullptr)) {
    for (std::FILE* f : {desc, data})
      if (f != nullptr) std::fclose(f);
    return cannotWrite(err);
  }
  // Without --labels, the planted classes of an earlier table of this name go.
  if (!labels) outputs.removeAtCommit(labelsPath);
  std::fprintf(desc, "%lld %lld\n", shape.rows, shape.attributes);
  for (long long a = 0; a < shape.attributes; ++a) std::fprintf(desc, "%d\n", plan.domains[a]);

  std::string line;
  for (long long r = 0; r < shape.rows; ++r) {
    const long long c = drawCluster(shape, false, r, random);
    line.clear();
    for (long long a = 0; a < shape.attributes; ++a) {
      if (a > 0) line.push_back(' ');
      line += std::to_string(drawCode(shape, plan, c, a, random));
    }
    line.push_back('\n');
    std::fputs(line.c_str(), data);
    if (classes != nullptr) std::fprintf(classes, "%s\n", className(c).c_str());
  }
  bool ok = kelbow::OutputFiles::close(desc, descPath, err);
  ok = kelbow::OutputFiles::close(data, dataPath, err) && ok;
  if (classes != nullptr) ok = kelbow::OutputFiles::close(classes, labelsPath, err) && ok;
  if (!ok || !outputs.commit(err)) return cannotWrite(err);
  return 0;
}
