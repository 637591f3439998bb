#include "app/output_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace kelbow {

namespace {

// Every OutputFiles alive in the process, so that an exit from anywhere
// removes their temporaries.
std::vector<OutputFiles*>& liveSets() {
  static std::vector<OutputFiles*> sets;
  return sets;
}

void discardAtExit() {
  for (OutputFiles* set : liveSets()) set->discard();
}

}  // namespace

OutputFiles::OutputFiles() {
  // The list is made before the exit handler is registered, so that it is
  // destroyed only after the handler has run.
  auto& sets = liveSets();
  static std::once_flag registered;
  std::call_once(registered, [] { std::atexit(discardAtExit); });
  sets.push_back(this);
}

OutputFiles::~OutputFiles() {
  discard();
  auto& sets = liveSets();
  for (size_t i = 0; i < sets.size(); ++i)
    if (sets[i] == this) sets.erase(sets.begin() + static_cast<long>(i));
}

std::string OutputFiles::temporaryName(const std::string& path) {
  static int serial = 0;
  return path + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(serial++);
}

std::FILE* OutputFiles::open(const std::string& path, std::string& err) {
  const std::string temporary = temporaryName(path);
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  std::FILE* f = fd < 0 ? nullptr : ::fdopen(fd, "w");
  if (f == nullptr) {
    err = path + ": cannot create (" + std::strerror(errno) + ")";
    if (fd >= 0) {
      ::close(fd);
      ::unlink(temporary.c_str());
    }
    return nullptr;
  }
  entries_.push_back({temporary, path});
  return f;
}

void OutputFiles::adopt(const std::string& temporary, const std::string& path) {
  entries_.push_back({temporary, path});
}

bool OutputFiles::close(std::FILE* f, const std::string& path, std::string& err) {
  const bool bad = std::ferror(f) != 0;
  const int saved = errno;
  if (std::fclose(f) != 0 || bad) {
    err = path + ": cannot write (" + std::strerror(bad ? saved : errno) + ")";
    return false;
  }
  return true;
}

bool OutputFiles::writeWhole(const std::string& path, const std::string& text, std::string& err) {
  std::FILE* f = open(path, err);
  if (f == nullptr) return false;
  std::fwrite(text.data(), 1, text.size(), f);
  return close(f, path, err);
}

bool OutputFiles::commit(std::string& err) {
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (std::rename(entries_[i].temporary.c_str(), entries_[i].path.c_str()) != 0) {
      err = entries_[i].path + ": cannot write (" + std::strerror(errno) + ")";
      // The files of this run already in place go too: all or nothing.
      for (size_t j = 0; j < i; ++j) ::unlink(entries_[j].path.c_str());
      entries_.erase(entries_.begin(), entries_.begin() + static_cast<long>(i));
      discard();
      return false;
    }
  }
  entries_.clear();
  return true;
}

void OutputFiles::discard() {
  for (const Entry& e : entries_) ::unlink(e.temporary.c_str());
  entries_.clear();
}

}  // namespace kelbow
