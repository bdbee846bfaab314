// The instance registry "/tmp/keepalive_running": one "%i %s\n" line per
// watchdog (process id, device name). Lines come from elsewhere; the watchdog
// only removes its own at exit.
#pragma once

#include <sys/types.h>

// Longest device name a registry line holds.
constexpr int REGISTRY_NAME_MAX = 255;

// Removes the first line whose process id is pid or whose device is name;
// the registry goes when no line is left. A missing registry is left empty.
void registry_remove_line(const char* name, pid_t pid);
// The same for this process.
void registry_remove(const char* name);
