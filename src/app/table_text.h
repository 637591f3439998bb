// The text files beside a table's data that kelbow-csv writes, read for the
// tools that show a table's values: NAME.codes (the raw value of every code),
// NAME.names (the attribute names) and NAME.missing (the missing markers).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "input/table_reader.h"

namespace kelbow {

// The lines of a text file (the last one may lack its newline); false, with
// err "PATH: cannot open (reason)" or a read error.
bool readLines(const std::string& path, std::vector<std::string>& lines, std::string& err);
// The same for a file of the table that may be absent: `lines` empty then.
bool readLinesIfThere(const std::string& path, std::optional<std::vector<std::string>>& lines,
                      std::string& err);

// values[a][code] from the lines of PATH (a codes file), checked against the
// description; the values stay escaped as the file holds them.
bool parseCodes(const std::string& path, const std::vector<std::string>& lines,
                const TableDescription& desc, std::vector<std::vector<std::string>>& values,
                std::string& err);
// The attribute names from the lines of PATH, one per attribute.
bool parseNames(const std::string& path, const std::vector<std::string>& lines,
                const TableDescription& desc, std::vector<std::string>& names, std::string& err);
// isMissing[a][code]: whether the (escaped) value is one of the escaped `markers`.
std::vector<std::vector<bool>> missingMarks(const std::vector<std::vector<std::string>>& values,
                                            const std::vector<std::string>& markers);

}  // namespace kelbow
