// PID files with a stale-file check shared by the daemons.
#pragma once

enum class PidClaim {
    Created,        // file written with our process id
    AlreadyRunning, // the recorded process is alive: refuse to start
    CreateFailed,   // no file could be written; start goes on without one
};

// Creates or truncates path and writes our id with "%u\n"; false when it cannot be created.
bool pidfile_write(const char* path);

// True when path holds the id of a live process other than this one.
bool pidfile_owner_alive(const char* path);

// Refuses when a live process owns the file; a stale file (its process gone,
// or no readable id) is replaced. Writes our id with "%u\n".
PidClaim pidfile_claim(const char* path);
