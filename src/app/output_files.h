// The one way every tool writes its output files: each file is written to a
// temporary created beside it under an unpredictable name (O_CREAT | O_EXCL |
// O_NOFOLLOW, mode from the umask), synced, and renamed to its real name only
// when every file of the run is complete. The files of one run form a set
// (a table's .data, .desc, .codes, ...): commit() puts the whole set in place
// under an exclusive lock on its directory, removes the set's stale members,
// and on any failure leaves the previous set exactly as it was. Readers of a
// set open its files under a shared lock (SetReadLock), so they never see two
// runs mixed. Temporaries that are not renamed are removed when the object goes
// away, on SIGINT, SIGTERM and SIGHUP, on running out of memory and on exit.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/temporary_files.h"

namespace kelbow {

class OutputFiles {
 public:
  OutputFiles() = default;
  ~OutputFiles() { discard(); }
  OutputFiles(const OutputFiles&) = delete;
  OutputFiles& operator=(const OutputFiles&) = delete;

  // An input of this run: no output may replace it. Nothing happens when it
  // does not exist (or is no file, such as standard input).
  void protect(const std::string& input);

  // A member of the set that this run does not write: when it exists at
  // commit, it is removed (it belongs to an earlier run).
  void removeAtCommit(const std::string& path);

  // From now on commit() refuses to replace an existing member of the set
  // (written or stale), with err "PATH: already exists; `hint`".
  void refuseToReplace(std::string hint) { refuseHint_ = std::move(hint); }

  // True when `path` is one of the inputs given to protect().
  bool isProtected(const std::string& path) const;

  // The first of `paths` that exists now (as any kind of file), or "".
  static std::string firstExisting(const std::vector<std::string>& paths);

  // Opens a fresh temporary for `path` and registers it. Returns null, with
  // err "PATH: cannot create (reason)", when that fails.
  std::FILE* open(const std::string& path, std::string& err);

  // Flushes, syncs and closes `f` (opened by open()); false with err
  // "PATH: cannot write (reason)" on a write error.
  static bool close(std::FILE* f, const std::string& path, std::string& err);

  // A name beside `path` that nobody can guess.
  static std::string temporaryName(const std::string& path);

  // Writes `text` to a new temporary for `path`, syncs and closes it.
  bool writeWhole(const std::string& path, const std::string& text, std::string& err);

  // Puts every temporary in place and removes the stale members, all under
  // the lock, with SIGINT, SIGTERM and SIGHUP held. False with err at the
  // first failure, after putting back every file as it was and removing the
  // temporaries.
  bool commit(std::string& err);

  // Removes every temporary that has not been renamed.
  void discard();

 private:
  struct Entry {
    std::string path;       // the real name
    std::string temporary;  // "" for a stale member
    TemporaryId id = 0;
  };
  struct Identity {
    dev_t dev;
    ino_t ino;
  };
  // Creates and registers a temporary for `path`; its descriptor, or -1 with err.
  int create(const std::string& path, std::string& err);

  std::vector<Entry> entries_;
  std::vector<Identity> inputs_;
  std::string refuseHint_;
};

// While alive, holds a shared lock on the directories of `paths` (those that
// are regular files), so that no set in them is replaced while a reader opens
// its files. Takes nothing when a lock cannot be had.
class SetReadLock {
 public:
  explicit SetReadLock(const std::vector<std::string>& paths);
  ~SetReadLock();
  SetReadLock(const SetReadLock&) = delete;
  SetReadLock& operator=(const SetReadLock&) = delete;

 private:
  std::vector<int> fds_;
};

}  // namespace kelbow
