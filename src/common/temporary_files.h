// The temporary files a run has made and not yet renamed into place, kept where
// every way out of the process can reach them: a signal handler (SIGINT,
// SIGTERM, SIGHUP, SIGPIPE), the out-of-memory ending and the exit of a fatal error all
// remove them. The list itself is safe to read from a signal handler: its slots
// are published atomically and removing them calls unlink alone.
#pragma once

#include <signal.h>

#include <string>

namespace kelbow {

// A registered temporary; 0 is none.
using TemporaryId = long;

// Adds `path` to the list; it is removed by removeTemporaries() until forgotten.
// Installs the signal handlers on first use.
TemporaryId registerTemporary(const std::string& path);

// Takes the temporary off the list (it was renamed or removed by its owner).
void forgetTemporary(TemporaryId id);

// Unlinks every temporary on the list. Async-signal-safe.
void removeTemporaries();

// SIGINT, SIGTERM, SIGHUP and SIGPIPE remove the temporaries and then end the process
// by the same signal, so that its parent sees the usual status. A signal that
// was ignored when the process started stays ignored.
void installTemporaryCleanup();

// While alive, those signals wait: the run's files are being put
// in place, which must not stop half-way. They are delivered when it ends.
class HeldSignals {
 public:
  HeldSignals();
  ~HeldSignals();
  HeldSignals(const HeldSignals&) = delete;
  HeldSignals& operator=(const HeldSignals&) = delete;

 private:
  sigset_t saved_;
};

}  // namespace kelbow
