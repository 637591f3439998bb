// The text files that kelbow-csv writes beside a table (NAME.codes,
// NAME.names, NAME.missing), read back by the companions that show or keep
// a table's own values.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "assign/model.h"

namespace kelbow {

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

// How the table BASE.data was coded, from BASE.codes, BASE.names and
// BASE.missing where they exist (raw values, unescaped); without a codes
// file every code stands for itself.
bool readEncoding(const std::string& base, const std::vector<int>& domainSizes, Encoding& encoding,
                  std::string& err);

}  // namespace kelbow
