// Column references that a user can paste into a shell as they are, for the
// suggestions of kelbow-csv ("--drop 'Umsatz (EUR)'").
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kelbow {

// `text` as one shell word: as it is when it holds only letters, digits and
// _ . / : @ % + = , -; else in single quotes, a quote written as '\''.
std::string shellWord(std::string_view text);

// How an option names column `col` (0-based): its name when the columns have
// names and that name is the column's alone, is not all digits and, for an
// option that takes a comma-separated list (`inList`), holds no comma; else
// its 1-based number.
std::string columnReference(size_t col, const std::vector<std::string>& names, bool named,
                            bool inList);

// The columns as a message lists them: "id, colour, 'Umsatz (EUR)'" (at most
// `most`, then "...").
std::string columnList(const std::vector<std::string>& names, size_t most);

}  // namespace kelbow
