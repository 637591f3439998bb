// Writes a categorical table with planted clusters: in the tool's input format,
// NAME.data (one record per line) and NAME.desc (rows, attributes, domain
// sizes), or with --csv as a delimited text file NAME.csv with words for values,
// a header, an identifier column, a few missing values and the planted class.
//
// Every cluster has a prototype record; each row copies its cluster's prototype
// and replaces each code, with the given probability, by a uniformly drawn one.
// In the tool's format rows are dealt to the clusters in turn, so cluster c
// holds rows c, c + K, ...; in CSV the cluster of each row is drawn at random,
// cluster c (0-based) with weight K - c, so the clusters differ in size.
// The generator is deterministic: the same arguments give the same files.
#include <getopt.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/version.h"

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
    "Usage: kelbow-make-table [--csv [--missing P]] NAME CLUSTERS ROWS ATTRIBUTES DOMAIN NOISE "
    "SEED\n"
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
    "  -h, --help         show this help and exit\n"
    "      --version      show the version and exit\n"
    "\n"
    "Files:\n"
    "  NAME.data, NAME.desc  without --csv; rows are dealt to the clusters in turn\n"
    "  NAME.csv              with --csv\n"
    "\n"
    "Exit status:\n"
    "  0  the files were written\n"
    "  1  bad arguments, or a file could not be written\n"
    "\n"
    "Examples:\n"
    "  kelbow-make-table planted4 4 300 24 6 0.15 4\n"
    "  kelbow-make-table --csv --missing 0.02 critters 4 400 8 5 0.15 7\n";

int usage(const char* what) {
  std::fprintf(stderr, "kelbow-make-table: %s (see kelbow-make-table --help)\n", what);
  return 1;
}

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

}  // namespace

int main(int argc, char* argv[]) {
  enum { kCsv = 256, kMissing, kVersion };
  static const option kLong[] = {{"csv", no_argument, nullptr, kCsv},
                                 {"missing", required_argument, nullptr, kMissing},
                                 {"help", no_argument, nullptr, 'h'},
                                 {"version", no_argument, nullptr, kVersion},
                                 {nullptr, 0, nullptr, 0}};
  bool csv = false;
  double missing = 0;
  opterr = 0;
  // "+": the arguments are positional and stop the options (a NOISE of 0 is no option).
  for (int c; (c = getopt_long(argc, argv, "+h", kLong, nullptr)) != -1;) {
    if (c == kCsv) {
      csv = true;
    } else if (c == kMissing) {
      if (!parseProbability(optarg, missing))
        return usage("--missing needs a probability from 0 to 1");
    } else if (c == 'h') {
      std::fputs(kHelp, stdout);
      return 0;
    } else if (c == kVersion) {
      std::printf("kelbow-make-table %s\n", kelbow::kVersion);
      return 0;
    } else {
      return usage("unknown option or missing argument");
    }
  }
  if (missing > 0 && !csv) return usage("--missing goes with --csv");
  argv += optind - 1;
  argc -= optind - 1;
  if (argc != 8) return usage("NAME CLUSTERS ROWS ATTRIBUTES DOMAIN NOISE SEED are required");
  long long k, rows, attributes, domain, seed;
  if (!parseInt(argv[2], 1, 1000, k) || !parseInt(argv[3], 1, 100000000, rows) ||
      !parseInt(argv[4], 1, 10000, attributes) || !parseInt(argv[5], 2, 1000, domain) ||
      !parseInt(argv[7], 0, INT64_MAX, seed))
    return usage(
        "CLUSTERS 1..1000, ROWS 1..100000000, ATTRIBUTES 1..10000, DOMAIN 2..1000, SEED >= 0");
  double noise = 0;
  if (!parseProbability(argv[6], noise)) return usage("NOISE is a probability from 0 to 1");

  const std::string name = argv[1];
  Random random{static_cast<std::uint64_t>(seed)};
  std::vector<std::vector<int>> prototypes(k, std::vector<int>(attributes));
  for (auto& p : prototypes)
    for (int& code : p) code = random.below(static_cast<int>(domain));

  if (csv) {
    std::FILE* out = std::fopen((name + ".csv").c_str(), "w");
    if (out == nullptr) {
      std::fprintf(stderr, "kelbow-make-table: cannot write %s.csv\n", name.c_str());
      return 1;
    }
    std::string line = "id";
    for (long long a = 0; a < attributes; ++a) line += "," + attributeName(a);
    line += ",class\n";
    std::fputs(line.c_str(), out);
    const long long totalWeight = k * (k + 1) / 2;
    const int idWidth = static_cast<int>(std::to_string(rows).size());
    for (long long r = 0; r < rows; ++r) {
      long long pick = static_cast<long long>(random.unit() * static_cast<double>(totalWeight));
      long long c = 0;
      while (c + 1 < k && pick >= k - c) pick -= k - c, ++c;
      char id[32];
      std::snprintf(id, sizeof id, "r%0*lld", idWidth, r + 1);
      line = id;
      for (long long a = 0; a < attributes; ++a) {
        const int code =
            random.unit() < noise ? random.below(static_cast<int>(domain)) : prototypes[c][a];
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
    return std::fclose(out) == 0 ? 0 : 1;
  }

  std::FILE* desc = std::fopen((name + ".desc").c_str(), "w");
  std::FILE* data = std::fopen((name + ".data").c_str(), "w");
  if (desc == nullptr || data == nullptr) {
    std::fprintf(stderr, "kelbow-make-table: cannot write %s.desc or %s.data\n", name.c_str(),
                 name.c_str());
    return 1;
  }
  std::fprintf(desc, "%lld %lld\n", rows, attributes);
  for (long long a = 0; a < attributes; ++a) std::fprintf(desc, "%lld\n", domain);

  std::string line;
  for (long long r = 0; r < rows; ++r) {
    const std::vector<int>& p = prototypes[r % k];
    line.clear();
    for (long long a = 0; a < attributes; ++a) {
      const int code = random.unit() < noise ? random.below(static_cast<int>(domain)) : p[a];
      if (a > 0) line.push_back(' ');
      line += std::to_string(code);
    }
    line.push_back('\n');
    std::fputs(line.c_str(), data);
  }
  const bool ok = std::fclose(desc) == 0 && std::fclose(data) == 0;
  return ok ? 0 : 1;
}
