// A whole run of one companion, in process, on files made of the input
// (KELBOW_FUZZ_TOOL: 1 kelbow-csv, 2 kelbow-plot, 3 kelbow-profile, 4
// kelbow-labels, 5 kelbow-choose). After every run the promises about files are checked: the
// status is 0 or 1, no temporary is left, the inputs are untouched, a failed
// run leaves the earlier outputs byte for byte as they were, and a successful
// one leaves whole outputs of its own.
#include <dirent.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/csv_run.h"
#include "app/choose_run.h"
#include "app/labels_run.h"
#include "app/plot_run.h"
#include "app/profile_run.h"
#include "fuzz_input.h"

namespace {

void writeFile(const std::string& name, std::string_view bytes) {
  std::ofstream(name, std::ios::binary | std::ios::trunc)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string readFile(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Every file of the working directory with its contents.
std::map<std::string, std::string> directory() {
  std::map<std::string, std::string> files;
  DIR* d = ::opendir(".");
  KELBOW_FUZZ_CHECK(d != nullptr);
  while (const dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") files[name] = readFile(name);
  }
  ::closedir(d);
  return files;
}

void clearDirectory() {
  for (const auto& [name, contents] : directory()) std::remove(name.c_str());
}

// The parts of the input between NUL bytes, at least `n` of them.
[[maybe_unused]] std::vector<std::string_view> parts(const std::uint8_t* bytes, std::size_t size,
                                                     std::size_t n) {
  std::string_view all(reinterpret_cast<const char*>(bytes), size);
  std::vector<std::string_view> out;
  for (;;) {
    const std::size_t nul = all.find('\0');
    out.push_back(all.substr(0, nul));
    if (nul == std::string_view::npos) break;
    all.remove_prefix(nul + 1);
  }
  while (out.size() < n) out.emplace_back();
  return out;
}

[[maybe_unused]] long long lines(const std::string& s) {
  long long n = 0;
  for (char c : s) n += c == '\n';
  return n;
}

template <typename Tool>
int run(Tool tool, std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const int status = tool(static_cast<int>(args.size()), argv.data());
  std::fflush(stdout);
  KELBOW_FUZZ_CHECK(status == 0 || status == 1);
  return status;
}

// Checks what every run promises; `outputs` are the names a successful run
// may have written or removed.
void checkFiles(const std::map<std::string, std::string>& before, int status,
                const std::vector<std::string>& outputs) {
  const std::map<std::string, std::string> after = directory();
  for (const auto& [name, contents] : after)
    KELBOW_FUZZ_CHECK(name.find(".tmp-") == std::string::npos);
  auto isOutput = [&](const std::string& name) {
    for (const std::string& o : outputs)
      if (name == o) return true;
    return false;
  };
  if (status != 0) {
    KELBOW_FUZZ_CHECK(after == before);
    return;
  }
  for (const auto& [name, contents] : before)
    if (!isOutput(name)) KELBOW_FUZZ_CHECK(after.count(name) == 1 && after.at(name) == contents);
  for (const auto& [name, contents] : after)
    if (!isOutput(name)) KELBOW_FUZZ_CHECK(before.count(name) == 1);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char pattern[] = "/dev/shm/kelbow-fuzz-XXXXXX";
  char fallback[] = "/tmp/kelbow-fuzz-XXXXXX";
  const char* dir = ::mkdtemp(pattern);
  if (dir == nullptr) dir = ::mkdtemp(fallback);
  if (dir == nullptr || ::chdir(dir) != 0) std::abort();
  if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  clearDirectory();
  const unsigned flags = size > 0 ? bytes[0] : 0;
  if (size > 0) ++bytes, --size;
  const std::string earlier = "earlier\n";
#if KELBOW_FUZZ_TOOL == 1
  // kelbow-csv: the options from the first byte, the CSV file from the rest.
  writeFile("t.csv", std::string_view(reinterpret_cast<const char*>(bytes), size));
  const bool force = flags & 1, labels = flags & 2;
  for (const char* ext : {".data", ".desc", ".codes", ".names", ".labels", ".missing"})
    if (flags & 4) writeFile(std::string("t") + ext, earlier);
  std::vector<std::string> args = {"kelbow-csv", "-q"};
  if (force) args.push_back("--force");
  if (labels) args.insert(args.end(), {"-l", "2"});
  if (flags & 8) args.insert(args.end(), {"-m", "?,"});
  if (flags & 16) args.push_back("--trim");
  if (flags & 32) args.push_back(flags & 64 ? "--header" : "--no-header");
  if (flags & 128) args.insert(args.end(), {"-d", ";"});
  args.push_back("t.csv");
  const auto before = directory();
  const int status = run(kelbow::runCsv, args);
  if ((flags & 4) && !force) KELBOW_FUZZ_CHECK(status == 1);
  checkFiles(before, status, {"t.data", "t.desc", "t.codes", "t.names", "t.labels", "t.missing"});
  if (status == 0) {
    // One run's whole table: as many records as the description declares.
    const std::string desc = readFile("t.desc");
    KELBOW_FUZZ_CHECK(std::to_string(lines(readFile("t.data"))) == desc.substr(0, desc.find(' ')));
    KELBOW_FUZZ_CHECK((::access("t.labels", F_OK) == 0) == labels);
    KELBOW_FUZZ_CHECK((::access("t.missing", F_OK) == 0) == bool(flags & 8));
  }
#elif KELBOW_FUZZ_TOOL == 2
  // kelbow-plot: the result file from the input, an earlier chart beside it.
  writeFile("r.kelbow", std::string_view(reinterpret_cast<const char*>(bytes), size));
  if (flags & 1) writeFile("r.kelbow.svg", earlier);
  std::vector<std::string> args = {"kelbow-plot", "r.kelbow"};
  if (flags & 2) args.insert(args.end(), {"-d", "f.data"});
  const auto before = directory();
  const int status = run(kelbow::runPlot, args);
  checkFiles(before, status, {"r.kelbow.svg"});
  if (status == 0)
    KELBOW_FUZZ_CHECK(readFile("r.kelbow.svg").rfind("<svg", 0) == 0 ||
                      readFile("r.kelbow.svg").rfind("<?xml", 0) == 0);
#elif KELBOW_FUZZ_TOOL == 3
  // kelbow-profile: desc NUL data NUL codes NUL names NUL labels NUL classes;
  // an empty codes, names or classes part stands for no such file.
  const std::vector<std::string_view> p = parts(bytes, size, 6);
  writeFile("t.desc", p[0]);
  writeFile("t.data", p[1]);
  if (!p[2].empty()) writeFile("t.codes", p[2]);
  if (!p[3].empty()) writeFile("t.names", p[3]);
  writeFile("l", p[4]);
  if (flags & 1) writeFile("t.missing", "?\n\n");
  if (flags & 2) writeFile("rep", earlier);
  std::vector<std::string> args = {"kelbow-profile", "-o", "rep", "-t", std::to_string(flags % 7)};
  if (!p[5].empty()) {
    writeFile("c", p[5]);
    args.insert(args.end(), {"-c", "c"});
  }
  if (flags & 4) args.insert(args.end(), {"-f", flags & 8 ? "json" : "csv"});
  args.insert(args.end(), {"t", "l"});
  const auto before = directory();
  const int status = run(kelbow::runProfile, args);
  checkFiles(before, status, {"rep"});
  if (status == 0) KELBOW_FUZZ_CHECK(!readFile("rep").empty());
#elif KELBOW_FUZZ_TOOL == 4
  // kelbow-labels: desc NUL data; small tables only (the clustering itself is
  // fuzzed by fuzz_run_*), K from the first byte.
  const std::vector<std::string_view> p = parts(bytes, size, 2);
  const long long rows = std::strtoll(std::string(p[0].substr(0, 20)).c_str(), nullptr, 10);
  if (rows > 300) return 0;
  writeFile("t.desc", p[0]);
  writeFile("t.data", p[1]);
  const int k = 2 + static_cast<int>(flags % 4);
  if (flags & 4) writeFile("t.k", earlier);
  if (flags & 8)
    for (int level = 2; level <= 7; ++level)
      writeFile("t.dataf0nc0.hier" + std::to_string(level), earlier);
  std::vector<std::string> args = {"kelbow-labels",   "-d", "t.data", "-n", "t.desc", "-k",
                                   std::to_string(k), "-o", "t.k"};
  if (flags & 16) args.push_back("--snapshots");
  const auto before = directory();
  const int status = run(kelbow::runLabels, args);
  std::vector<std::string> outputs = {"t.k"};
  for (int level = 2; level <= 7 && (flags & 16); ++level)
    outputs.push_back("t.dataf0nc0.hier" + std::to_string(level));
  checkFiles(before, status, outputs);
  if (status == 0) {
    KELBOW_FUZZ_CHECK(lines(readFile("t.k")) == rows);
    // No level above K of an earlier run stays beside the new ones.
    if (flags & 16)
      for (int level = k + 1; level <= 7; ++level)
        KELBOW_FUZZ_CHECK(::access(("t.dataf0nc0.hier" + std::to_string(level)).c_str(), F_OK) !=
                              0 ||
                          level > rows);
  }
#elif KELBOW_FUZZ_TOOL == 5
  // kelbow-choose: desc NUL data; small tables only, few references and orders
  // (the clustering itself is fuzzed by fuzz_run_*), on one thread or two.
  const std::vector<std::string_view> p = parts(bytes, size, 2);
  const long long rows = std::strtoll(std::string(p[0].substr(0, 20)).c_str(), nullptr, 10);
  if (rows > 200) return 0;
  writeFile("t.desc", p[0]);
  writeFile("t.data", p[1]);
  if (flags & 4) writeFile("t.k", earlier);
  if (flags & 8) writeFile("t.svg", earlier);
  std::vector<std::string> args = {"kelbow-choose", "-q", "-d", "t.data", "-n", "t.desc",
                                   "-r", "2", "-s", std::to_string(flags % 3), "-j",
                                   (flags & 16) ? "2" : "1", "-o", "t.k", "-c", "t.svg"};
  if (flags & 32) args.insert(args.end(), {"-f", "json"});
  const auto before = directory();
  const int status = run(kelbow::runChoose, args);
  checkFiles(before, status, {"t.k", "t.svg"});
  if (status == 0) {
    KELBOW_FUZZ_CHECK(lines(readFile("t.k")) == rows);
    KELBOW_FUZZ_CHECK(readFile("t.svg").rfind("<?xml", 0) == 0);
  }
#else
#error "KELBOW_FUZZ_TOOL must be 1 (csv), 2 (plot), 3 (profile), 4 (labels) or 5 (choose)"
#endif
  return 0;
}
