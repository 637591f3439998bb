#include "common/temporary_files.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace kelbow {

namespace {

// Slots in chunks that are only ever added, never moved or freed, so that a
// signal handler can walk them at any moment. A slot holds the path of a
// temporary or null.
constexpr int kSlots = 64;
struct Chunk {
  std::atomic<char*> slots[kSlots] = {};
  std::atomic<Chunk*> next{nullptr};
};
Chunk gFirst;  // constant-initialised: no allocation before main

// SIGPIPE too: a reader of standard output that goes away ends the run as
// usual, without leaving its files half-made.
constexpr int kCleanedSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

void onSignal(int sig) {
  removeTemporaries();
  // The handler was installed with SA_RESETHAND and SA_NODEFER: the signal
  // now takes its default action at once.
  ::raise(sig);
}

}  // namespace

TemporaryId registerTemporary(const std::string& path) {
  installTemporaryCleanup();
  char* copy = new char[path.size() + 1];
  std::memcpy(copy, path.c_str(), path.size() + 1);
  TemporaryId id = 1;
  for (Chunk* c = &gFirst;; c = c->next.load()) {
    for (auto& slot : c->slots) {
      char* empty = nullptr;
      if (slot.compare_exchange_strong(empty, copy)) return id;
      ++id;
    }
    if (c->next.load() == nullptr) c->next.store(new Chunk);
  }
}

void forgetTemporary(TemporaryId id) {
  if (id <= 0) return;
  Chunk* c = &gFirst;
  for (--id; id >= kSlots; id -= kSlots) c = c->next.load();
  delete[] c->slots[id].exchange(nullptr);
}

void removeTemporaries() {
  for (Chunk* c = &gFirst; c != nullptr; c = c->next.load())
    for (auto& slot : c->slots)
      if (const char* path = slot.load()) ::unlink(path);
}

void installTemporaryCleanup() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  std::atexit(removeTemporaries);
  for (int sig : kCleanedSignals) {
    struct sigaction old {};
    if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    struct sigaction act {};
    act.sa_handler = onSignal;
    act.sa_flags = SA_RESETHAND | SA_NODEFER;
    sigemptyset(&act.sa_mask);
    ::sigaction(sig, &act, nullptr);
  }
}

HeldSignals::HeldSignals() {
  sigset_t held;
  sigemptyset(&held);
  for (int sig : kCleanedSignals) sigaddset(&held, sig);
  ::sigprocmask(SIG_BLOCK, &held, &saved_);
}

HeldSignals::~HeldSignals() { ::sigprocmask(SIG_SETMASK, &saved_, nullptr); }

}  // namespace kelbow
