#include "examples/signal_cleanup.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <iterator>
#include <stdexcept>

#include "examples/host_failure.h"

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr const char* kSignalNames[] = {"SIGINT", "SIGTERM", "SIGHUP"};
// A host registers a handful at a time: a scratch folder with its files and
// a lock.
constexpr int kSlots = 8;

struct Slot {
  bool used = false;
  SignalCleanup::Kind kind = SignalCleanup::Kind::File;
  char path[PATH_MAX] = {};
  char session[PATH_MAX] = {};
};

Slot slots[kSlots];
bool handling = false;

void removeAll(SignalCleanup::Kind kind) {
  for (const Slot& slot : slots) {
    if (!slot.used || slot.kind != kind) continue;
    if (kind == SignalCleanup::Kind::File) unlink(slot.path);
    if (kind == SignalCleanup::Kind::Folder) rmdir(slot.path);
    if (kind == SignalCleanup::Kind::LockOfMissingSession && access(slot.session, F_OK) != 0 && errno == ENOENT)
      unlink(slot.path);
  }
}

// Takes the registered paths away, then ends the process as the signal
// would have: the signal comes again with its default action. The first
// process of a pid namespace ignores it then, and ends with the status a
// shell gives a process that a signal ended.
void onSignal(int signal) {
  removeAll(SignalCleanup::Kind::File);
  removeAll(SignalCleanup::Kind::Folder);
  removeAll(SignalCleanup::Kind::LockOfMissingSession);
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(signal, &fallback, nullptr);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  sigprocmask(SIG_UNBLOCK, &only, nullptr);
  raise(signal);
  _exit(128 + signal);
}

void handleSignals() {
  if (handling) return;
  handling = true;
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  for (int signal : kSignals) sigaddset(&action.sa_mask, signal);
  for (int signal : kSignals) {
    struct sigaction previous {};
    sigaction(signal, nullptr, &previous);
    if (previous.sa_handler != SIG_IGN) sigaction(signal, &action, nullptr);
  }
}

void copyPath(char (&to)[PATH_MAX], const std::string& path) {
  if (path.size() >= sizeof to) throw std::runtime_error(path + ": " + systemText(ENAMETOOLONG));
  std::memcpy(to, path.c_str(), path.size() + 1);
}

}  // namespace

SignalCleanup::Held::Held() {
  sigset_t signals;
  sigemptyset(&signals);
  for (int signal : kSignals) sigaddset(&signals, signal);
  sigprocmask(SIG_BLOCK, &signals, &previous);
}

SignalCleanup::Held::~Held() { sigprocmask(SIG_SETMASK, &previous, nullptr); }

const char* SignalCleanup::Held::pending() const {
  sigset_t waiting;
  if (sigpending(&waiting) != 0) return nullptr;
  for (size_t i = 0; i < std::size(kSignals); ++i)
    if (sigismember(&waiting, kSignals[i]) == 1) return kSignalNames[i];
  return nullptr;
}

void SignalCleanup::endOnSignals() {
  const Held held;
  handleSignals();
}

SignalCleanup::SignalCleanup(Kind kind, const std::string& path, const std::string& session) {
  const Held held;
  handleSignals();
  for (int i = 0; i < kSlots; ++i) {
    if (slots[i].used) continue;
    copyPath(slots[i].path, path);
    copyPath(slots[i].session, session);
    slots[i].kind = kind;
    slots[i].used = true;
    slot = i;
    return;
  }
  throw std::runtime_error("too many temporary files to take away on a signal");
}

SignalCleanup::~SignalCleanup() {
  const Held held;
  slots[slot].used = false;
}
