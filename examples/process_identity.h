#pragma once
// Which process a pid named, in a form that still tells it apart later: a
// pid alone names any later process of that pid too, as pids are reused
// (every run in a new pid namespace, a container's, gets the same ones), and
// they start over with every boot. The process's start time (in clock ticks
// since the boot, field 22 of /proc/PID/stat) and the boot's id
// (/proc/sys/kernel/random/boot_id) name one process of one boot.

#include <sys/types.h>

#include <optional>
#include <string>

struct ProcessIdentity {
  pid_t pid = 0;
  unsigned long long startTime = 0;
  std::string bootId;

  // This process; none where /proc cannot tell.
  static std::optional<ProcessIdentity> self();
};
