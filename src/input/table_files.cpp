#include "input/table_files.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include "common/value_escape.h"

namespace kelbow {

bool readText(const std::string& path, std::string& text, std::string& err) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    err = path + ": cannot open (" + std::strerror(errno) + ")";
    return false;
  }
  text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) {
    err = path + ": read error";
    return false;
  }
  return true;
}

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

bool readSideFiles(const std::string& base, const std::vector<int>& domainSizes, SideFiles& files,
                   std::string& err) {
  files = SideFiles();
  std::optional<std::vector<std::string>> codes, names, missing;
  if (!readLinesIfThere(base + ".codes", codes, err) ||
      !readLinesIfThere(base + ".names", names, err) ||
      !readLinesIfThere(base + ".missing", missing, err))
    return false;
  const int attributes = static_cast<int>(domainSizes.size());
  if (codes) {
    files.values.emplace();
    if (!parseCodes(base + ".codes", *codes, domainSizes, *files.values, err)) return false;
    for (auto& values : *files.values)
      for (std::string& v : values) v = unescapeValue(v);
  }
  if (names) {
    files.names.emplace();
    if (!parseNames(base + ".names", *names, attributes, *files.names, err)) return false;
    for (std::string& n : *files.names) n = unescapeValue(n);
  }
  if (missing) {
    files.missing.emplace();
    for (const std::string& m : *missing) files.missing->push_back(unescapeValue(m));
  }
  const std::string path = base + ".encoding";
  std::string text;
  if (!readText(path, text, err)) {
    if (errno != ENOENT) return false;
    return true;
  }
  if (!codes) {
    err = path + ": the table has no " + base + ".codes to go with it";
    return false;
  }
  std::vector<std::string> numbered;
  if (!names)
    for (int a = 1; a <= attributes; ++a) numbered.push_back(std::to_string(a));
  files.encoding.emplace();
  return parseCsvEncoding(text, path, *files.encoding, err) &&
         matchesTable(*files.encoding, names ? *files.names : numbered, domainSizes, path, err);
}

}  // namespace kelbow
