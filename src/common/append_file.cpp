#include "common/append_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace kelbow {

namespace {

// Never waits for a reader when the name is a named pipe: an open that would
// block fails at once (ENXIO) instead.
constexpr int kAppendFlags = O_WRONLY | O_APPEND | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;

// The process file system, where /dev/fd/N lives: it holds no new files.
constexpr long kProcFileSystem = 0x9fa0;

// True when `dir` takes a new file: probed with an unnamed file that vanishes
// when closed, or, where the file system has none, by its permissions.
bool takesNewFiles(const std::string& dir) {
  struct stat st;
  if (::stat(dir.c_str(), &st) != 0) return false;
  if (!S_ISDIR(st.st_mode)) {
    errno = ENOTDIR;
    return false;
  }
  const int probe = ::open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (probe >= 0) {
    ::close(probe);
    return true;
  }
  if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return false;
  struct statfs fs;
  if (::statfs(dir.c_str(), &fs) == 0 && fs.f_type == kProcFileSystem) {
    errno = ENOENT;
    return false;
  }
  return ::access(dir.c_str(), W_OK | X_OK) == 0;
}

void closeKeepingErrno(int fd) {
  const int saved = errno;
  ::close(fd);
  errno = saved;
}

}  // namespace

std::string directoryOf(const std::string& fileName) {
  const std::size_t slash = fileName.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : fileName.substr(0, slash);
}

bool canAppendTo(const std::string& fileName) {
  const int fd = ::open(fileName.c_str(), kAppendFlags);
  if (fd >= 0) {
    ::close(fd);
    return true;
  }
  if (errno != ENOENT) return false;
  return takesNewFiles(directoryOf(fileName));
}

namespace {

// While it lives, a write past the file-size limit or into a pipe nobody reads
// fails with an error instead of ending the process, so that a part already
// written can be taken back.
class QuietWriteSignals {
 public:
  QuietWriteSignals() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGXFSZ, &ignore, &fileSize_);
    ::sigaction(SIGPIPE, &ignore, &pipe_);
  }
  ~QuietWriteSignals() {
    ::sigaction(SIGXFSZ, &fileSize_, nullptr);
    ::sigaction(SIGPIPE, &pipe_, nullptr);
  }
  QuietWriteSignals(const QuietWriteSignals&) = delete;
  QuietWriteSignals& operator=(const QuietWriteSignals&) = delete;

 private:
  struct sigaction fileSize_ {};
  struct sigaction pipe_ {};
};

}  // namespace

AppendStatus appendWhole(const std::string& fileName, std::string_view text) {
  const QuietWriteSignals quiet;
  int fd = -1;
  bool created = false;
  struct stat st;
  for (;;) {
    // A missing file is made with O_EXCL, so this run knows it made it and
    // removes it again when the group cannot be written.
    fd = ::open(fileName.c_str(), kAppendFlags);
    created = false;
    if (fd < 0 && errno == ENOENT) {
      fd = ::open(fileName.c_str(), kAppendFlags | O_CREAT | O_EXCL, 0666);
      created = fd >= 0;
      if (fd < 0 && errno == EEXIST) continue;  // another run made it first
    }
    if (fd < 0) return AppendStatus::kCannotOpen;
    // Writes wait for room again, as on any file.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);

    // Every run takes the lock for its one append, so groups never interleave.
    // A file system without locks still gets the single write.
    while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
    // A file that a failed run made and removed while this one waited for the
    // lock is left alone: the group goes to the name, made anew.
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 0) {
      ::close(fd);
      continue;
    }
    break;
  }
  const bool regular = S_ISREG(st.st_mode);
  const off_t before = regular ? st.st_size : 0;

  // Nothing of a failed group may stay: the part written is cut back, and a
  // file this run made (and no other run has appended to) goes, all still
  // under the lock.
  auto takeBack = [&](std::size_t done) {
    const int saved = errno;
    AppendStatus status = AppendStatus::kCannotWrite;
    if (created && before == 0) {  // empty but for this group: no other run wrote to it
      ::unlink(fileName.c_str());
    } else if (regular && done > 0 && ::ftruncate(fd, before) != 0) {
      status = AppendStatus::kCannotWritePartLeft;
    }
    ::close(fd);
    errno = saved;
    return status;
  };
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = EIO;
    return takeBack(done);
  }
  // The group is on the disk before the run reports success; a new file's
  // name too. A pipe or a terminal has nothing to sync.
  if (regular && ::fsync(fd) != 0) return takeBack(text.size());
  if (created) {
    const int dir = ::open(directoryOf(fileName).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
      const bool synced = ::fsync(dir) == 0 || errno == EINVAL;
      closeKeepingErrno(dir);
      if (!synced) return takeBack(text.size());
    }
  }
  // Closing drops the lock; a failing close means the data may be lost.
  if (::close(fd) != 0) return AppendStatus::kCannotWrite;
  return AppendStatus::kAppended;
}

}  // namespace kelbow
