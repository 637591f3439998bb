#include "tool_run.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

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

StartedTool startTool(const std::string& exe, const std::vector<std::string>& args,
                      const fs::path& dir, const RunOptions& options, const std::string& argv0) {
  static int serial = 0;  // distinct capture files for processes that run at once
  ++serial;
  const fs::path outPath = dir / (".stdout." + std::to_string(serial));
  const fs::path errPath =
      options.mergeStreams ? outPath : dir / (".stderr." + std::to_string(serial));
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    if (::chdir(dir.c_str()) != 0) ::_exit(127);
    const int in = ::open("/dev/null", O_RDONLY);
    const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err =
        options.mergeStreams ? out : ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0) ::_exit(127);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    if (options.addressSpace > 0) {
      const rlimit limit{static_cast<rlim_t>(options.addressSpace),
                         static_cast<rlim_t>(options.addressSpace)};
      ::setrlimit(RLIMIT_AS, &limit);
    }
    if (options.cpuSeconds > 0) {
      const rlimit limit{static_cast<rlim_t>(options.cpuSeconds),
                         static_cast<rlim_t>(options.cpuSeconds)};
      ::setrlimit(RLIMIT_CPU, &limit);
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(argv0.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(exe.c_str(), argv.data());
    ::_exit(127);
  }
  return StartedTool(pid, outPath, errPath, options.timeLimitSeconds);
}

ToolRun StartedTool::wait() {
  ToolRun run;
  int wstatus = 0;
  if (timeLimit_ > 0) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeLimit_);
    while (::waitpid(pid_, &wstatus, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &wstatus, 0);
        run.timedOut = true;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  } else {
    ::waitpid(pid_, &wstatus, 0);
  }
  run.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  run.signal = WIFSIGNALED(wstatus) ? WTERMSIG(wstatus) : 0;
  run.out = readFile(outPath_);
  if (errPath_ != outPath_) run.err = readFile(errPath_);
  fs::remove(outPath_);
  fs::remove(errPath_);
  return run;
}

void StartedTool::kill(int sig) { ::kill(pid_, sig); }

ToolRun runTool(const std::string& exe, const std::vector<std::string>& args, const fs::path& dir,
                const RunOptions& options, const std::string& argv0) {
  return startTool(exe, args, dir, options, argv0).wait();
}

ToolRun runTool(const std::string& exe, const std::vector<std::string>& args, const fs::path& dir,
                const std::string& argv0) {
  return runTool(exe, args, dir, RunOptions{}, argv0);
}

PipeWriter::PipeWriter(const fs::path& fifo, std::string contents, int limitSeconds) {
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ != 0) return;
  ::alarm(static_cast<unsigned>(limitSeconds));  // a reader that never comes ends the writer
  const int fd = ::open(fifo.c_str(), O_WRONLY);
  if (fd < 0) ::_exit(2);
  for (std::size_t done = 0; done < contents.size();) {
    const ssize_t n = ::write(fd, contents.data() + done, contents.size() - done);
    if (n <= 0) ::_exit(3);
    done += static_cast<std::size_t>(n);
  }
  ::_exit(0);
}

bool PipeWriter::finish() {
  if (pid_ > 0) {
    // A writer that has handed over everything ends at once; give it a moment.
    int wstatus = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (::waitpid(pid_, &wstatus, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &wstatus, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    wrote_ = WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0;
    pid_ = -1;
  }
  return wrote_;
}

void copySharedSet(const fs::path& shared, const std::string& name, const fs::path& dir) {
  for (const char* ext : {".data", ".desc"})
    fs::copy_file(shared / "data" / name / (name + ext), dir / (name + ext));
}

fs::path sharedDir() {
  if (const char* env = std::getenv("KELBOW_SHARED_DIR")) return env;
  const fs::path beside = fs::path(KELBOW_SOURCE_DIR) / ".." / "shared";
  return fs::exists(beside / "data") ? fs::canonical(beside) : fs::path();
}

}  // namespace kelbow::testing
