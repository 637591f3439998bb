// A program that embeds kelbow: it builds a small table in memory (three
// groups of rows, each with its own typical values and some noise), fits it
// and prints the number of clusters and every row's cluster.
//
//   cmake --build build --target kelbow_embed_example && build/bin/kelbow_embed_example
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "api/kelbow_api.h"

int main() {
  const int rows = 60, attributes = 5;
  std::vector<std::int32_t> codes;
  std::uint32_t noise = 12345;
  for (int r = 0; r < rows; ++r) {
    const int group = r % 3;
    for (int a = 0; a < attributes; ++a) {
      noise = noise * 1664525u + 1013904223u;  // a small fixed random stream
      const bool typical = (noise >> 24) % 10 < 8;
      codes.push_back(typical ? group : static_cast<std::int32_t>((noise >> 16) % 3));
    }
  }
  kelbow::Encoding encoding;
  for (int a = 0; a < attributes; ++a) {
    encoding.names.push_back("question " + std::to_string(a + 1));
    encoding.values.push_back({"no", "maybe", "yes"});
  }

  kelbow::Table table;
  kelbow::Fit fit;
  std::string err;
  if (!kelbow::Table::make(codes.data(), rows, attributes, encoding, "survey", table, err) ||
      !kelbow::fit(table, {}, fit, err)) {
    std::fprintf(stderr, "embed: %s\n", err.c_str());
    return 1;
  }
  std::printf("k = %d\nlabels:", fit.k());
  for (int label : fit.labels()) std::printf(" %d", label);
  std::printf("\n");
  return 0;
}
