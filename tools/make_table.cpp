// Writes a categorical table with planted clusters in the tool's input format:
// NAME.data (one record per line) and NAME.desc (rows, attributes, domain sizes).
//
// Every cluster has a prototype record; each row copies its cluster's prototype
// and replaces each code, with the given probability, by a uniformly drawn one.
// Rows are dealt to the clusters in turn, so cluster c holds rows c, c + K, ...
// The generator is deterministic: the same arguments give the same files.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

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

int usage() {
  std::fputs("usage: kelbow-make-table NAME CLUSTERS ROWS ATTRIBUTES DOMAIN NOISE SEED\n"
             "  writes NAME.data and NAME.desc; NOISE is the probability (0..1) that a code\n"
             "  is drawn at random instead of copied from the row's cluster prototype\n",
             stderr);
  return 1;
}

bool parseInt(const char* s, long long lo, long long hi, long long& v) {
  char* end = nullptr;
  v = std::strtoll(s, &end, 10);
  return end != s && *end == '\0' && v >= lo && v <= hi;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 8) return usage();
  long long k, rows, attributes, domain, seed;
  if (!parseInt(argv[2], 1, 1000, k) || !parseInt(argv[3], 1, 100000000, rows) ||
      !parseInt(argv[4], 1, 10000, attributes) || !parseInt(argv[5], 2, 1000, domain) ||
      !parseInt(argv[7], 0, INT64_MAX, seed))
    return usage();
  char* end = nullptr;
  const double noise = std::strtod(argv[6], &end);
  if (end == argv[6] || *end != '\0' || noise < 0.0 || noise > 1.0) return usage();

  const std::string name = argv[1];
  Random random{static_cast<std::uint64_t>(seed)};
  std::vector<std::vector<int>> prototypes(k, std::vector<int>(attributes));
  for (auto& p : prototypes)
    for (int& code : p) code = random.below(static_cast<int>(domain));

  std::FILE* desc = std::fopen((name + ".desc").c_str(), "w");
  std::FILE* data = std::fopen((name + ".data").c_str(), "w");
  if (desc == nullptr || data == nullptr) {
    std::fprintf(stderr, "kelbow-make-table: cannot write %s.desc or %s.data\n", name.c_str(), name.c_str());
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
