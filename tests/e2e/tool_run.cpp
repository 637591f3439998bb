#include "tool_run.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace kelbow::testing {

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::string tmpl = (fs::temp_directory_path() / "kelbow-e2e-XXXXXX").string();
  if (::mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

void TempDir::write(const std::string& name, const std::string& contents) const {
  std::ofstream out(path_ / name, std::ios::binary | std::ios::trunc);
  out << contents;
}

std::string TempDir::read(const std::string& name) const { return readFile(path_ / name); }

std::string readFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

ToolRun runTool(const std::string& exe, const std::vector<std::string>& args, const fs::path& dir,
                const std::string& argv0) {
  const fs::path outPath = dir / ".stdout";
  const fs::path errPath = dir / ".stderr";
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    if (::chdir(dir.c_str()) != 0) ::_exit(127);
    const int in = ::open("/dev/null", O_RDONLY);
    const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0) ::_exit(127);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(argv0.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(exe.c_str(), argv.data());
    ::_exit(127);
  }
  int wstatus = 0;
  ::waitpid(pid, &wstatus, 0);
  ToolRun run;
  run.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  run.out = readFile(outPath);
  run.err = readFile(errPath);
  fs::remove(outPath);
  fs::remove(errPath);
  return run;
}

void copySharedSet(const fs::path& shared, const std::string& name, const fs::path& dir) {
  for (const char* ext : {".data", ".desc"}) fs::copy_file(shared / "data" / name / (name + ext), dir / (name + ext));
}

fs::path sharedDir() {
  if (const char* env = std::getenv("KELBOW_SHARED_DIR")) return env;
  const fs::path beside = fs::path(KELBOW_SOURCE_DIR) / ".." / "shared";
  return fs::exists(beside / "data") ? fs::canonical(beside) : fs::path();
}

}  // namespace kelbow::testing
