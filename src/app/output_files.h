// Output files that appear whole or not at all, for the companions: each is
// written under a temporary name in its own directory and renamed to its real
// name only when every file of the run is complete. Temporaries that are not
// renamed are removed when the object goes away or the process exits (also
// through exit() from a fatal error deep in the analysis).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace kelbow {

class OutputFiles {
 public:
  OutputFiles();
  ~OutputFiles();
  OutputFiles(const OutputFiles&) = delete;
  OutputFiles& operator=(const OutputFiles&) = delete;

  // Opens a fresh temporary file beside `path` for writing and registers it.
  // Returns null, with err "PATH: cannot create (reason)", when that fails.
  std::FILE* open(const std::string& path, std::string& err);

  // Registers a temporary that someone else writes (a name returned by
  // temporaryName) so that it is renamed and removed like the others.
  void adopt(const std::string& temporary, const std::string& path);

  // A temporary name beside `path` that this process alone uses.
  static std::string temporaryName(const std::string& path);

  // Writes `text` to a new temporary for `path`, closes it, and registers it.
  bool writeWhole(const std::string& path, const std::string& text, std::string& err);

  // Closes `f` (opened by open()); false with err on a write error.
  static bool close(std::FILE* f, const std::string& path, std::string& err);

  // Renames every temporary to its real name; false with err at the first
  // failure, after removing the temporaries and the files already renamed.
  bool commit(std::string& err);

  // Removes every temporary that has not been renamed.
  void discard();

 private:
  struct Entry {
    std::string temporary;
    std::string path;
  };
  std::vector<Entry> entries_;
};

}  // namespace kelbow
