// How a raw value is written in the line-oriented text files of a table
// (NAME.codes, NAME.names, NAME.labels, NAME.missing): TAB, CR, LF and the
// backslash become \t \r \n \\, so that every value stays on its line and in
// its TAB-separated place. kelbow-csv writes them, kelbow-profile reads them.
#pragma once

#include <string>
#include <string_view>

namespace kelbow {

std::string escapeValue(std::string_view value);

// The inverse of escapeValue; a backslash before any other byte stays as it is.
std::string unescapeValue(std::string_view text);

}  // namespace kelbow
