// A whole run of kelbow, in process, on one road (KELBOW_FUZZ_TREE_ROAD set:
// the summary tree; else the direct road), with the result file's promise
// checked after every run: a failed run leaves it byte for byte as it was, a
// successful one appends exactly one whole group.
//
// Every refusal comes back to run as an error and ends with a returned status,
// so the harness goes on in the same process; the fatal routine, which would end
// the process, is left for broken invariants, and reaching it is a finding.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "analysis/road.h"
#include "app/option_scanner.h"
#include "app/run.h"
#include "common/error.h"
#include "fuzz_input.h"
#include "input/description_text.h"

using namespace kelbow;

namespace {

// Declared sizes kept small: the point is the reading, the refusals and the
// result file, not how long huge tables take (which the benchmarks measure).
#ifndef KELBOW_FUZZ_TREE_ROAD
constexpr int kMaxDirectRows = 300;
#endif
constexpr long long kMaxValueCount = 1024;

const std::string kEarlier = "earlier.data\nkelbow\n0.000000\nearlier.data.kelbow\n";

void writeFile(const char* name, std::string_view bytes) {
  std::ofstream(name, std::ios::binary | std::ios::trunc)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string readFile(const char* name) {
  std::ifstream in(name, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool wantedOnThisRoad(std::string_view description) {
  DescriptionText text;
  text.assign("f.desc", description);
  const std::unique_ptr<ByteSource> in = text.reader();
  NumberReader numbers(*in, 4096);
  TableDescription desc;
  std::string err;
  if (!readTableSize(numbers, "f.desc", desc, err)) return true;  // refused at the head: both roads
#ifdef KELBOW_FUZZ_TREE_ROAD
  if (desc.rows < kDirectRowLimit) return false;
#else
  if (desc.rows >= kDirectRowLimit || desc.rows > kMaxDirectRows) return false;
#endif
  for (int a = 0; a < desc.attributeCount; ++a)
    if (!readDomainSize(numbers, "f.desc", a, desc, err)) return true;
  return desc.valueCount <= kMaxValueCount;
}

int countLines(const std::string& s) {
  int n = 0;
  for (char c : s) n += c == '\n';
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // One working directory for every run, on a memory file system where there is one.
  char pattern[] = "/dev/shm/kelbow-fuzz-XXXXXX";
  char fallback[] = "/tmp/kelbow-fuzz-XXXXXX";
  const char* dir = ::mkdtemp(pattern);
  if (dir == nullptr) dir = ::mkdtemp(fallback);
  if (dir == nullptr || ::chdir(dir) != 0) std::abort();
  // The progress output would only slow the search.
  if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  const fuzzing::FuzzInput input = fuzzing::splitInput(bytes, size);
  if (!wantedOnThisRoad(input.description)) return 0;
  writeFile("f.desc", input.description);
  writeFile("f.data", input.data);
  const bool earlier = size % 2 == 0;  // half the runs start without a result file
  if (earlier) {
    writeFile("f.data.kelbow", kEarlier);
  } else {
    std::remove("f.data.kelbow");
  }

  char arg0[] = "kelbow", arg1[] = "-d", arg2[] = "f.data", arg3[] = "-n", arg4[] = "f.desc";
  char* argv[] = {arg0, arg1, arg2, arg3, arg4, nullptr};
  resetOptionScanner();
  const int status = run(5, argv);
  std::fflush(stdout);

  const std::string before = earlier ? kEarlier : "";
  const bool exists = ::access("f.data.kelbow", F_OK) == 0;
  const std::string after = readFile("f.data.kelbow");
  if (status != 0) {
    KELBOW_FUZZ_CHECK(exists == earlier);
    KELBOW_FUZZ_CHECK(after == before);
  } else {
    KELBOW_FUZZ_CHECK(after.compare(0, before.size(), before) == 0);
    const std::string group = after.substr(before.size());
#ifdef KELBOW_FUZZ_TREE_ROAD
    KELBOW_FUZZ_CHECK(countLines(group) == 33 &&
                      group.rfind("f=20, nc=800\nf.data\nkelbow\n", 0) == 0);
#else
    KELBOW_FUZZ_CHECK(countLines(group) == 32 && group.rfind("f.data\nkelbow\n", 0) == 0);
#endif
    KELBOW_FUZZ_CHECK(group.size() >= 14 &&
                      group.compare(group.size() - 14, 14, "f.data.kelbow\n") == 0);
  }
  return 0;
}
