// Helpers of the end-to-end tests: run a built executable in a fresh temporary
// directory and capture its standard streams and exit status byte for byte.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace kelbow::testing {

// A fresh directory under the system's temporary directory, removed with its
// contents when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  // Writes (replaces) a file in the directory.
  void write(const std::string& name, const std::string& contents) const;
  // Contents of a file in the directory; empty when it does not exist.
  std::string read(const std::string& name) const;
  bool exists(const std::string& name) const { return std::filesystem::exists(path_ / name); }

 private:
  std::filesystem::path path_;
};

struct ToolRun {
  int status = -1;  // exit status, or -1 when the process did not exit normally
  std::string out;  // standard output
  std::string err;  // standard error
};

// Runs `exe` with `args` (argv[0] is `argv0`) in directory `dir`, with an empty
// standard input.
ToolRun runTool(const std::string& exe, const std::vector<std::string>& args, const std::filesystem::path& dir,
                const std::string& argv0 = "kelbow");

// Directory of the shared real data sets, or empty when it is not beside the
// checkout (the tests that need it then skip with a message).
std::filesystem::path sharedDir();

// Copies NAME.data and NAME.desc of the shared data set NAME into `dir`.
void copySharedSet(const std::filesystem::path& shared, const std::string& name,
                   const std::filesystem::path& dir);

// Contents of any file.
std::string readFile(const std::filesystem::path& p);

}  // namespace kelbow::testing
