// The text files that kelbow-csv writes beside a table (NAME.codes,
// NAME.names, NAME.missing, NAME.encoding), read back by the companions that
// show or keep a table's own values.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "input/csv_encoding.h"

namespace kelbow {

// The whole of a file. Returns false, with err, when it cannot be read
// (errno tells why).
bool readText(const std::string& path, std::string& text, std::string& err);

// The lines of a text file (the last one may lack its newline). Returns false,
// with err, when the file cannot be read (errno tells why).
bool readLines(const std::string& path, std::vector<std::string>& lines, std::string& err);

// The lines of a file of the table that may be absent: none when it is.
bool readLinesIfThere(const std::string& path, std::optional<std::vector<std::string>>& lines,
                      std::string& err);

// The values of every attribute from the lines of a codes file
// ("a<TAB>value<TAB>value ..."), as written (escaped), checked against the
// domain sizes of the description.
bool parseCodes(const std::string& path, const std::vector<std::string>& lines,
                const std::vector<int>& domainSizes, std::vector<std::vector<std::string>>& values,
                std::string& err);

// The attribute names from the lines of a names file, one per attribute.
bool parseNames(const std::string& path, const std::vector<std::string>& lines, int attributes,
                std::vector<std::string>& names, std::string& err);

// What the side files of the table BASE.data say, each only when its file
// exists; values, names and markers raw (unescaped).
struct SideFiles {
  std::optional<std::vector<std::vector<std::string>>> values;  // BASE.codes
  std::optional<std::vector<std::string>> names;                // BASE.names
  std::optional<std::vector<std::string>> missing;              // BASE.missing
  std::optional<CsvEncoding> encoding;                          // BASE.encoding
};

// Reads the side files of a table of `domainSizes`, each checked against the
// table: an encoding must make its attributes (with the names of BASE.names,
// or 1, 2, ...) and comes only with a codes file.
bool readSideFiles(const std::string& base, const std::vector<int>& domainSizes, SideFiles& files,
                   std::string& err);

}  // namespace kelbow
