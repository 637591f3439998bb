#include "app/output_files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "common/append_file.h"

namespace kelbow {

namespace {

// Longest part of the real name kept in a temporary's name, so that the
// temporary's name stays within the 255 bytes a directory entry may have.
constexpr std::size_t kKeptNameBytes = 200;
// A lock another process holds longer than this is given up on: a writer
// fails, a reader goes on without it.
constexpr auto kWriterLockWait = std::chrono::seconds(60);
constexpr auto kReaderLockWait = std::chrono::seconds(10);
constexpr auto kLockPoll = std::chrono::milliseconds(20);

}  // namespace

// 64 random bits.
std::string OutputFiles::temporaryName(const std::string& path) {
  unsigned long long bits = 0;
  if (::getrandom(&bits, sizeof bits, GRND_NONBLOCK) != sizeof bits) {
    // Only before the system has gathered its entropy: still unique.
    static unsigned long long serial = 0;
    bits = (static_cast<unsigned long long>(::getpid()) << 32) ^
           static_cast<unsigned long long>(
               std::chrono::steady_clock::now().time_since_epoch().count()) ^
           ++serial;
  }
  const std::size_t slash = path.rfind('/');
  const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", bits);
  return path.substr(0, start + std::min(path.size() - start, kKeptNameBytes)) + ".tmp-" + hex;
}

namespace {

// Locks the distinct directories of `paths` with `operation` (LOCK_EX or
// LOCK_SH), in the order of their identities so that two runs never wait for
// each other crosswise. Returns the open directories, locked or not; sets
// `locked` to false when one of them could not be locked in `wait`.
std::vector<int> lockDirectories(const std::vector<std::string>& paths, int operation,
                                 std::chrono::milliseconds wait, bool& locked) {
  struct Dir {
    int fd;
    dev_t dev;
    ino_t ino;
  };
  std::vector<Dir> dirs;
  for (const std::string& p : paths) {
    const int fd = ::open(directoryOf(p).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat st;
    if (fd < 0) continue;
    if (::fstat(fd, &st) != 0 || std::any_of(dirs.begin(), dirs.end(), [&](const Dir& d) {
          return d.dev == st.st_dev && d.ino == st.st_ino;
        })) {
      ::close(fd);
      continue;
    }
    dirs.push_back({fd, st.st_dev, st.st_ino});
  }
  std::sort(dirs.begin(), dirs.end(), [](const Dir& a, const Dir& b) {
    return a.dev != b.dev ? a.dev < b.dev : a.ino < b.ino;
  });
  locked = true;
  const auto until = std::chrono::steady_clock::now() + wait;
  std::vector<int> fds;
  for (const Dir& d : dirs) {
    fds.push_back(d.fd);
    while (locked && ::flock(d.fd, operation | LOCK_NB) != 0) {
      if (errno != EWOULDBLOCK && errno != EINTR) break;  // no locks here: go on without
      if (std::chrono::steady_clock::now() >= until) locked = false;
      std::this_thread::sleep_for(kLockPoll);
    }
  }
  return fds;
}

void closeAll(std::vector<int>& fds) {
  for (int fd : fds) ::close(fd);  // closing drops the lock
  fds.clear();
}

// Syncs the directories, so that the renames survive a power loss. A file
// system that cannot sync a directory (EINVAL) is taken as it is.
bool syncDirectories(const std::vector<int>& fds) {
  for (int fd : fds)
    if (::fsync(fd) != 0 && errno != EINVAL) return false;
  return true;
}

}  // namespace

void OutputFiles::protect(const std::string& input) {
  struct stat st;
  if (::stat(input.c_str(), &st) == 0 && S_ISREG(st.st_mode))
    inputs_.push_back({st.st_dev, st.st_ino});
}

bool OutputFiles::isProtected(const std::string& path) const {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  return std::any_of(inputs_.begin(), inputs_.end(),
                     [&](const Identity& i) { return i.dev == st.st_dev && i.ino == st.st_ino; });
}

void OutputFiles::removeAtCommit(const std::string& path) { entries_.push_back({path, "", 0}); }

std::string OutputFiles::firstExisting(const std::vector<std::string>& paths) {
  struct stat st;
  for (const std::string& p : paths)
    if (::lstat(p.c_str(), &st) == 0) return p;
  return "";
}

int OutputFiles::create(const std::string& path, std::string& err) {
  if (isProtected(path)) {
    err = path + ": is an input of this run and is never written over; choose another output name";
    return -1;
  }
  entries_.reserve(entries_.size() + 1);
  const HeldSignals held;  // the new file is on the list before a signal can end the run
  for (;;) {
    std::string temporary = temporaryName(path);
    const TemporaryId id = registerTemporary(temporary);
    const int fd = ::open(temporary.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd >= 0) {
      entries_.push_back({path, std::move(temporary), id});
      return fd;
    }
    const int reason = errno;
    forgetTemporary(id);
    if (reason != EEXIST) {  // a name planted by someone else: take another
      err = path + ": cannot create (" + std::strerror(reason) + ")";
      return -1;
    }
  }
}

std::FILE* OutputFiles::open(const std::string& path, std::string& err) {
  const int fd = create(path, err);
  if (fd < 0) return nullptr;
  std::FILE* f = ::fdopen(fd, "w");
  if (f == nullptr) {
    err = path + ": cannot create (" + std::strerror(errno) + ")";
    ::close(fd);
  }
  return f;
}

bool OutputFiles::close(std::FILE* f, const std::string& path, std::string& err) {
  int reason = 0;
  if (std::fflush(f) != 0 || std::ferror(f)) reason = errno != 0 ? errno : EIO;
  if (reason == 0 && ::fsync(::fileno(f)) != 0) reason = errno;
  if (std::fclose(f) != 0 && reason == 0) reason = errno;
  if (reason == 0) return true;
  err = path + ": cannot write (" + std::strerror(reason) + ")";
  return false;
}

bool OutputFiles::writeWhole(const std::string& path, const std::string& text, std::string& err) {
  std::FILE* f = open(path, err);
  if (f == nullptr) return false;
  std::fwrite(text.data(), 1, text.size(), f);
  return close(f, path, err);
}

bool OutputFiles::commit(std::string& err) {
  // Everything the changes need is made first: from the first change to the
  // last nothing allocates, so no ending (out of memory, a fatal error) can
  // cut the set in two.
  const std::size_t n = entries_.size();
  std::vector<std::string> backups, paths;
  for (const Entry& e : entries_) {
    backups.push_back(temporaryName(e.path));
    paths.push_back(e.path);
  }
  enum : unsigned char { kLinked = 1, kMovedAside = 2, kRenamedIn = 4, kExisted = 8 };
  std::vector<unsigned char> state(n, 0);
  bool locked = false;
  std::vector<int> dirs = lockDirectories(paths, LOCK_EX, kWriterLockWait, locked);
  auto fail = [&](const std::string& message) {
    err = message;
    closeAll(dirs);
    discard();
    return false;
  };
  if (!locked)
    return fail(directoryOf(paths.front()) +
                ": another process has held a lock on the directory for a minute; nothing was "
                "replaced");
  for (std::size_t i = 0; i < n; ++i) {
    struct stat st;
    if (::lstat(paths[i].c_str(), &st) != 0) continue;
    state[i] = kExisted;
    if (S_ISDIR(st.st_mode)) return fail(paths[i] + ": cannot write (Is a directory)");
    if (isProtected(paths[i]))
      return fail(paths[i] +
                  ": is an input of this run and is never written over; choose "
                  "another output name");
    if (!refuseHint_.empty()) return fail(paths[i] + ": already exists; " + refuseHint_);
  }

  const HeldSignals held;
  std::size_t failedAt = n;
  int reason = 0;
  auto step = [&](std::size_t i, bool ok) {
    if (!ok && failedAt == n) failedAt = i, reason = errno;
    return ok;
  };
  // The old members are kept under backup names until the new set is whole.
  for (std::size_t i = 0; i < n && failedAt == n; ++i) {
    if (!(state[i] & kExisted)) continue;
    if (::link(paths[i].c_str(), backups[i].c_str()) == 0) {
      state[i] |= kLinked;
    } else if (step(i, ::rename(paths[i].c_str(), backups[i].c_str()) == 0)) {
      state[i] |= kMovedAside;  // a file system without hard links
    }
  }
  for (std::size_t i = 0; i < n && failedAt == n; ++i) {
    const Entry& e = entries_[i];
    if (e.temporary.empty()) {
      if (state[i] & kLinked) step(i, ::unlink(paths[i].c_str()) == 0);  // stale
    } else if (step(i, ::rename(e.temporary.c_str(), paths[i].c_str()) == 0)) {
      state[i] |= kRenamedIn;
    }
  }
  if (failedAt == n && !syncDirectories(dirs)) failedAt = 0, reason = errno;

  if (failedAt != n) {
    for (std::size_t i = 0; i < n; ++i) {
      if (state[i] & (kLinked | kMovedAside)) {
        ::rename(backups[i].c_str(), paths[i].c_str());
      } else if (state[i] & kRenamedIn) {
        ::unlink(paths[i].c_str());
      }
    }
    syncDirectories(dirs);
    errno = reason;
    return fail(paths[failedAt] + ": cannot write (" + std::strerror(reason) + ")");
  }
  for (std::size_t i = 0; i < n; ++i) {
    if (state[i] & kLinked) ::unlink(backups[i].c_str());
    forgetTemporary(entries_[i].id);
  }
  entries_.clear();
  closeAll(dirs);
  return true;
}

void OutputFiles::discard() {
  for (const Entry& e : entries_) {
    if (e.temporary.empty()) continue;
    ::unlink(e.temporary.c_str());
    forgetTemporary(e.id);
  }
  entries_.clear();
}

SetReadLock::SetReadLock(const std::vector<std::string>& paths) {
  std::vector<std::string> files;
  struct stat st;
  for (const std::string& p : paths)
    if (::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode)) files.push_back(p);
  bool locked = false;
  fds_ = lockDirectories(files, LOCK_SH, kReaderLockWait, locked);
}

SetReadLock::~SetReadLock() { closeAll(fds_); }

}  // namespace kelbow
