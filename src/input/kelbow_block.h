// The kelbow block of a result file, written and read back. A block is a line
// "kelbow" preceded by the data-file-name line and followed by kKelbowValueCount
// numeric lines written with "%f". kelbow appends one per run; kelbow-plot and
// kelbow-choose read back the last block of the file, or the last block of one
// data file, passing over every other line (result-file-name lines, the
// large-table "f=..., nc=..." line).
#pragma once

#include <array>
#include <cstdio>
#include <istream>
#include <optional>
#include <string>
#include <string_view>

namespace kelbow {

// Number of values in one block: the value on line t (t = 1..29) signals t + 1 clusters.
inline constexpr int kKelbowValueCount = 29;

// The line that opens a block, right after its data-file-name line.
inline constexpr std::string_view kKelbowMarker = "kelbow";

struct KelbowBlock {
  std::string dataName;  // the data-file-name line, as the run was given it
  int markerLine = 0;    // 1-based line number of the "kelbow" line
  std::array<double, kKelbowValueCount> values{};
};

// Appends one block: `dataName`, "kelbow", then each value with "%f".
void writeKelbowBlock(std::FILE* out, std::string_view dataName,
                      const std::array<double, kKelbowValueCount>& values);

// Scans `in` and stores in *block the last complete block, or with `dataName`
// the last block whose data-file-name line equals it. `fileName` only names the
// input in messages. On failure returns false and sets *err to one line without
// a newline, "<fileName>:<line>: ..." when a line is at fault. When the chosen
// block is damaged (too few values, a value that is not a finite number) that is
// a failure, even if an earlier block is intact: the caller asked for the last.
bool parseKelbowBlock(std::istream& in, std::string_view fileName,
                      const std::optional<std::string>& dataName, KelbowBlock* block,
                      std::string* err);

// Opens `path` and parses it as above; an unreadable file is a failure too.
bool readKelbowBlock(const std::string& path, const std::optional<std::string>& dataName,
                     KelbowBlock* block, std::string* err);

}  // namespace kelbow
