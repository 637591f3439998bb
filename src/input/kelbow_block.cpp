#include "input/kelbow_block.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

namespace kelbow {

void writeKelbowBlock(std::FILE* out, std::string_view dataName,
                      const std::array<double, kKelbowValueCount>& values) {
  std::fprintf(out, "%.*s\n%.*s\n", static_cast<int>(dataName.size()), dataName.data(),
               static_cast<int>(kKelbowMarker.size()), kKelbowMarker.data());
  // Each double is printed as it is, without narrowing it first.
  for (double v : values) std::fprintf(out, "%f\n", v);
}

namespace {

// A value line holds one number as printf "%f" writes it; anything else, also
// "nan" or "inf", cannot be drawn and is refused.
bool parseValue(const std::string& line, double* value) {
  const char* first = line.data();
  const char* last = first + line.size();
  auto [end, ec] = std::from_chars(first, last, *value);
  return ec == std::errc() && end == last && !line.empty() && std::isfinite(*value);
}

std::string lineRef(std::string_view fileName, size_t index) {
  return std::string(fileName) + ":" + std::to_string(index + 1) + ": ";
}

// What the scan found for one block: its values, or where and why it broke off.
struct ScannedBlock {
  size_t nameIndex = 0;
  int count = 0;
  std::array<double, kKelbowValueCount> values{};
  std::string problem;  // empty when all values were read
};

}  // namespace

bool parseKelbowBlock(std::istream& in, std::string_view fileName,
                      const std::optional<std::string>& dataName, KelbowBlock* block,
                      std::string* err) {
  std::vector<std::string> lines;
  // Every line the tool writes ends with a newline; a last line without one is
  // a write that did not finish, so it is neither a marker nor a value.
  bool unfinishedLast = false;
  for (std::string line; std::getline(in, line);) {
    unfinishedLast = in.eof();
    lines.push_back(std::move(line));
  }
  if (in.bad()) {
    *err = std::string(fileName) + ": read error";
    return false;
  }

  const size_t n = lines.size();
  auto finished = [&](size_t i) { return i < n && !(unfinishedLast && i + 1 == n); };
  auto isMarker = [&](size_t i) { return finished(i) && lines[i] == kKelbowMarker; };

  std::optional<ScannedBlock> chosen;
  size_t i = 0;
  while (i + 1 < n) {
    // A data file may itself be called "kelbow"; then its name line and the
    // marker follow each other, and the later pair is the block.
    if (!isMarker(i + 1) || isMarker(i + 2)) {
      ++i;
      continue;
    }
    ScannedBlock scanned;
    scanned.nameIndex = i;
    size_t j = i + 2;
    // A numeric line followed by a marker is the name line of the next block:
    // the block before it broke off there (a run that died mid-way).
    while (scanned.count < kKelbowValueCount && finished(j) && !isMarker(j + 1) &&
           parseValue(lines[j], &scanned.values[scanned.count])) {
      ++scanned.count;
      ++j;
    }
    if (scanned.count < kKelbowValueCount) {
      std::string where = "the kelbow block at line " + std::to_string(i + 2);
      std::string value = "value " + std::to_string(scanned.count + 1) + " of " +
                          std::to_string(kKelbowValueCount) + " of " + where;
      if (j < n && !finished(j)) {
        scanned.problem = lineRef(fileName, j) + value + " is cut off (no newline)";
      } else if (j < n && !isMarker(j + 1)) {
        scanned.problem = lineRef(fileName, j) + value + " is not a finite number";
      } else {
        scanned.problem = lineRef(fileName, j - 1) + where + " ends after " +
                          std::to_string(scanned.count) + " of " +
                          std::to_string(kKelbowValueCount) + " values";
      }
    }
    if (!dataName || lines[i] == *dataName) chosen = std::move(scanned);
    // Resume at the line that stopped the values: it may open the next group.
    i = j;
  }

  if (!chosen) {
    *err = std::string(fileName) + ": no kelbow block";
    if (dataName) *err += " for data file " + *dataName;
    return false;
  }
  if (!chosen->problem.empty()) {
    *err = chosen->problem;
    return false;
  }
  block->dataName = lines[chosen->nameIndex];
  block->markerLine = static_cast<int>(chosen->nameIndex) + 2;
  block->values = chosen->values;
  return true;
}

bool readKelbowBlock(const std::string& path, const std::optional<std::string>& dataName,
                     KelbowBlock* block, std::string* err) {
  // Reading a directory fails only at the first read, and quietly; ask first.
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    *err = path + ": cannot open result file (is a directory)";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *err = path + ": cannot open result file (" + std::strerror(errno) + ")";
    return false;
  }
  return parseKelbowBlock(in, path, dataName, block, err);
}

}  // namespace kelbow
