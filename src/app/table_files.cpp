#include "app/table_files.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "common/value_escape.h"

namespace kelbow {

bool readLines(const std::string& path, std::vector<std::string>& lines, std::string& err) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    err = path + ": cannot open (" + std::strerror(errno) + ")";
    return false;
  }
  lines.clear();
  for (std::string line; std::getline(in, line);) lines.push_back(std::move(line));
  if (in.bad()) {
    err = path + ": read error";
    return false;
  }
  return true;
}

bool readLinesIfThere(const std::string& path, std::optional<std::vector<std::string>>& lines,
                      std::string& err) {
  lines.emplace();
  if (readLines(path, *lines, err)) return true;
  if (errno != ENOENT) return false;
  lines.reset();
  return true;
}

bool parseCodes(const std::string& path, const std::vector<std::string>& lines,
                const std::vector<int>& domainSizes, std::vector<std::vector<std::string>>& values,
                std::string& err) {
  const int attributes = static_cast<int>(domainSizes.size());
  if (static_cast<int>(lines.size()) != attributes) {
    err = path + ":" + std::to_string(std::min<size_t>(lines.size(), attributes) + 1) + ": " +
          std::to_string(lines.size()) + " lines, but the description declares " +
          std::to_string(attributes) + " attributes";
    return false;
  }
  values.assign(attributes, {});
  for (int a = 0; a < attributes; ++a) {
    const std::string& line = lines[a];
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
      const size_t tab = line.find('\t', start);
      fields.push_back(line.substr(start, tab - start));
      if (tab == std::string::npos) break;
      start = tab + 1;
    }
    const std::string where = path + ":" + std::to_string(a + 1) + ": ";
    if (fields[0] != std::to_string(a)) {
      err = where + "the line should start with the attribute number " + std::to_string(a) +
            " and a tab";
      return false;
    }
    if (static_cast<int>(fields.size()) - 1 != domainSizes[a]) {
      err = where + "attribute " + std::to_string(a) + " has " + std::to_string(fields.size() - 1) +
            " values here, but the description gives it " + std::to_string(domainSizes[a]);
      return false;
    }
    values[a].assign(fields.begin() + 1, fields.end());
  }
  return true;
}

bool parseNames(const std::string& path, const std::vector<std::string>& lines, int attributes,
                std::vector<std::string>& names, std::string& err) {
  if (static_cast<int>(lines.size()) != attributes) {
    err = path + ":" + std::to_string(std::min<size_t>(lines.size(), attributes) + 1) + ": " +
          std::to_string(lines.size()) + " names, but the description declares " +
          std::to_string(attributes) + " attributes";
    return false;
  }
  names = lines;
  return true;
}

bool readEncoding(const std::string& base, const std::vector<int>& domainSizes, Encoding& encoding,
                  std::string& err) {
  std::optional<std::vector<std::string>> codes, names, missing;
  if (!readLinesIfThere(base + ".codes", codes, err) ||
      !readLinesIfThere(base + ".names", names, err) ||
      !readLinesIfThere(base + ".missing", missing, err))
    return false;
  encoding = Encoding::ofCodes(domainSizes);
  const int attributes = static_cast<int>(domainSizes.size());
  if (codes) {
    if (!parseCodes(base + ".codes", *codes, domainSizes, encoding.values, err)) return false;
    for (auto& values : encoding.values)
      for (std::string& v : values) v = unescapeValue(v);
    encoding.valuesAreCodes = false;
    if (missing)
      for (const std::string& m : *missing) encoding.missing.push_back(unescapeValue(m));
  }
  if (names) {
    if (!parseNames(base + ".names", *names, attributes, encoding.names, err)) return false;
    for (std::string& n : encoding.names) n = unescapeValue(n);
  }
  return true;
}

}  // namespace kelbow
