#include "examples/signal_cleanup.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <iterator>
#include <stdexcept>

#include "examples/host_failure.h"
#include "platform/write_target.h"

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr const char* kSignalNames[] = {"SIGINT", "SIGTERM", "SIGHUP"};
// A host registers a handful at a time: a scratch folder with its files and
// a lock.
constexpr int kSlots = 8;

constexpr const char* kStagedEndings[] = {".tmp", ".old"};

struct Slot {
  bool used = false;
  SignalCleanup::Kind kind = SignalCleanup::Kind::File;
  // For StagedBeside, FILE.P: the names are made from it.
  char path[PATH_MAX] = {};
  char session[PATH_MAX] = {};
  // For StagedBeside: which names stood there before the write began, per
  // ending; those are not the write's.
  bool takenBefore[std::size(kStagedEndings)][kStagedNamesPerFile] = {};
};

Slot slots[kSlots];
bool handling = false;

// FILE.P.END or FILE.P.N.END into name, which has room for it: formatted
// by hand, as a signal handler may not call the formatting functions.
void stagedName(const char* stem, int number, const char* ending, char (&name)[PATH_MAX + 32]) {
  size_t length = std::strlen(stem);
  std::memcpy(name, stem, length);
  if (number > 0) {
    char digits[12];
    int count = 0;
    for (int n = number; n > 0; n /= 10) digits[count++] = static_cast<char>('0' + n % 10);
    name[length++] = '.';
    while (count > 0) name[length++] = digits[--count];
  }
  std::memcpy(name + length, ending, std::strlen(ending) + 1);
}

void removeStaged(const Slot& slot) {
  char name[PATH_MAX + 32];
  for (size_t end = 0; end < std::size(kStagedEndings); ++end)
    for (int number = 0; number < kStagedNamesPerFile; ++number) {
      if (slot.takenBefore[end][number]) continue;
      stagedName(slot.path, number, kStagedEndings[end], name);
      unlink(name);
    }
}

void removeAll(SignalCleanup::Kind kind) {
  for (const Slot& slot : slots) {
    if (!slot.used || slot.kind != kind) continue;
    if (kind == SignalCleanup::Kind::File) unlink(slot.path);
    if (kind == SignalCleanup::Kind::Folder) rmdir(slot.path);
    if (kind == SignalCleanup::Kind::LockOfMissingSession && access(slot.session, F_OK) != 0 && errno == ENOENT)
      unlink(slot.path);
    if (kind == SignalCleanup::Kind::StagedBeside) removeStaged(slot);
  }
}

// Takes the registered paths away, then ends the process as the signal
// would have: the signal comes again with its default action. The first
// process of a pid namespace ignores it then, and ends with the status a
// shell gives a process that a signal ended.
void onSignal(int signal) {
  removeAll(SignalCleanup::Kind::File);
  removeAll(SignalCleanup::Kind::StagedBeside);
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
    Slot& vacant = slots[i];
    copyPath(vacant.path, kind == Kind::StagedBeside ? path + "." + std::to_string(getpid()) : path);
    copyPath(vacant.session, session);
    if (kind == Kind::StagedBeside) {
      // A name someone else's file or link holds stays theirs: the library
      // takes the next one.
      char name[PATH_MAX + 32];
      for (size_t end = 0; end < std::size(kStagedEndings); ++end)
        for (int number = 0; number < kStagedNamesPerFile; ++number) {
          stagedName(vacant.path, number, kStagedEndings[end], name);
          struct stat status {};
          vacant.takenBefore[end][number] = lstat(name, &status) == 0 || errno != ENOENT;
        }
    }
    vacant.kind = kind;
    vacant.used = true;
    slot = i;
    return;
  }
  throw std::runtime_error("too many temporary files to take away on a signal");
}

std::unique_ptr<SignalCleanup> SignalCleanup::ofWrite(const std::string& output) {
  platform::WriteTarget target;
  // A write that cannot be resolved fails before it makes anything.
  if (!platform::resolveWriteTarget(output, target) || target.kind != platform::WriteTarget::Kind::File)
    return nullptr;
  return std::make_unique<SignalCleanup>(Kind::StagedBeside, target.path);
}

SignalCleanup::~SignalCleanup() {
  const Held held;
  slots[slot].used = false;
}
